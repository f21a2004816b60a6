"""Splitting real generated PDFs: which pages land in which document."""
import os

import pytest

from pdfgen import (A5_LANDSCAPE, BLUE, GREEN, LETTER, ORANGE, PINK, YELLOW, JpegPage, VectorPage,
                    page_ids, write_pdf)
from splitter_helpers import outputs, tree_state


def scanned_batch():
    """Scanned pages: sheets of several colours and sizes at the start, the
    end and back to back (duplex), and pages that must not count as sheets."""
    return [
        JpegPage(1, "sheet", YELLOW),
        JpegPage(2, "text"),
        JpegPage(3, "logo"),
        JpegPage(4, "sheet", PINK),
        JpegPage(5, "sheet", PINK),          # back side of the same sheet
        JpegPage(6, "tinted"),
        JpegPage(7, "photo"),
        JpegPage(8, "sunset"),
        JpegPage(9, "text", grey=True),      # greyscale scan, one-component JPEG
        JpegPage(10, "grey"),                # greyscale page kept as colour JPEG
        JpegPage(11, "sheet", BLUE, size=LETTER, dpi=60),
        JpegPage(12, "text", size=A5_LANDSCAPE),
        JpegPage(13, "sheet", GREEN, size=A5_LANDSCAPE, dpi=30),
        JpegPage(14, "text", size=LETTER, dpi=72),
        JpegPage(15, "sheet", ORANGE),
        JpegPage(16, "sheet", ORANGE),
    ]


def vector_batch():
    return [
        VectorPage(1, "text"),
        VectorPage(2, "sheet", GREEN),
        VectorPage(3, "logo"),
        VectorPage(4, "tinted"),
        VectorPage(5, "sheet", BLUE, size=LETTER),
        VectorPage(6, "sheet", BLUE, size=LETTER),
        VectorPage(7, "photo"),
        VectorPage(8, "sunset"),
        VectorPage(9, "sheet", YELLOW, size=A5_LANDSCAPE),
        VectorPage(10, "text", size=A5_LANDSCAPE),
        VectorPage(11, "sheet", PINK),
    ]


def make_tree(src):
    os.makedirs(str(src / "2023" / "march"))
    write_pdf(src / "2023" / "march" / "scan.pdf", scanned_batch())
    write_pdf(src / "2023" / "vector.pdf", vector_batch())
    write_pdf(src / "single.PDF", [JpegPage(1, "text")])
    write_pdf(src / "sheets_only.pdf", [VectorPage(1, "sheet", YELLOW), JpegPage(2, "sheet", PINK)])
    (src / "notes.txt").write_text(u"not a PDF")


@pytest.mark.parametrize("workers", [1, 2])
def test_batch_is_split_at_the_sheets_and_sources_stay(tmp_path, run_splitter, workers):
    src, dst = tmp_path / "in", tmp_path / "out"
    make_tree(src)
    dst.mkdir()
    before = tree_state(src)

    res = run_splitter(src, dst, workers=workers, trace=True)

    assert res.code == 0, res.out + res.err
    assert tree_state(src) == before
    # One folder per source that has documents, directly inside DST.
    assert outputs(dst) == {
        "scan": ["scan_001.pdf", "scan_002.pdf", "scan_003.pdf", "scan_004.pdf"],
        "vector": ["vector_001.pdf", "vector_002.pdf", "vector_003.pdf", "vector_004.pdf"],
        "single": ["single_001.pdf"],
    }
    docs = lambda folder: [page_ids(dst / folder / n) for n in outputs(dst)[folder]]
    # Logo, tinted paper, photographs and greyscale scans stay in documents;
    # duplex sheets split once; sheets at either end add no empty document.
    assert docs("scan") == [[2, 3], [6, 7, 8, 9, 10], [12], [14]]
    assert docs("vector") == [[1], [3, 4], [7, 8], [10]]
    assert docs("single") == [[1]]

    scan = os.path.join("2023", "march", "scan.pdf")
    assert res.line_for(scan) == (
        scan + ": 16 pages; separators: 1, 4-5, 11, 13, 15-16; 4 documents in \"scan\": "
        "scan_001.pdf (pages 2-3), scan_002.pdf (pages 6-10), scan_003.pdf (page 12), scan_004.pdf (page 14)")
    vec = os.path.join("2023", "vector.pdf")
    assert res.line_for(vec).startswith(vec + ": 11 pages; separators: 2, 5-6, 9, 11; 4 documents in \"vector\"")
    assert res.line_for("single.PDF") == (
        "single.PDF: 1 page; separators: none; 1 document in \"single\": single_001.pdf (page 1)")
    assert res.line_for("sheets_only.pdf") == (
        "sheets_only.pdf: 2 pages; separators: 1-2; no document written (no pages between the separator sheets)")
    assert res.lines[-1] == ("Summary: 4 PDF files, 4 split, 0 not split; 30 pages, "
                             "14 separator pages, 9 documents written")
    assert len(res.lines) == 5

    # Scanned pages were judged from their JPEG data, not by rendering, and
    # the one-component scan without decoding it at all.
    trace = res.trace()
    assert {trace[(scan, p)][0] for p in range(1, 17) if p != 9} == {"jpeg"}
    assert trace[(scan, 9)][0] == "grey"
    # A white page is settled long before its bottom: decoding stops early.
    for page in (2, 6, 12, 14):
        rows, height = trace[(scan, page)][2]
        assert rows < height / 2, (page, rows, height)
    rows, height = trace[(scan, 1)][2]
    assert rows > height * 0.9
    assert {trace[(vec, p)][0] for p in range(1, 12)} == {"rendered"}


def test_large_file_gives_the_same_split_with_any_worker_count(tmp_path, run_splitter):
    """Big files are looked at in chunks by several workers; the result must
    not depend on it."""
    pages, expected, current = [], [], []
    sheet_at = {1, 30, 31, 49, 50, 51, 77, 100, 118, 130}
    colours = [YELLOW, PINK, BLUE, GREEN, ORANGE]
    for n in range(1, 131):
        if n in sheet_at:
            pages.append(JpegPage(n, "sheet", colours[n % 5], dpi=16))
            if current:
                expected.append(current)
            current = []
        else:
            pages.append(JpegPage(n, "text", dpi=16) if n % 3 else VectorPage(n, "text"))
            current.append(n)
    if current:
        expected.append(current)
    src = tmp_path / "in"
    src.mkdir()
    write_pdf(src / "big.pdf", pages)
    for i in range(3):  # small files beside it, handled in parallel
        write_pdf(src / ("small%d.pdf" % i), [JpegPage(1), JpegPage(2, "sheet", BLUE), JpegPage(3)])

    results = []
    for workers in (1, 2, 0):
        dst = tmp_path / ("out%d" % workers)
        dst.mkdir()
        res = run_splitter(src, dst, workers=workers)
        assert res.code == 0, res.out + res.err
        names = outputs(dst)["big"]
        results.append(([page_ids(dst / "big" / n) for n in names], res.lines))
        assert outputs(dst)["small1"] == ["small1_001.pdf", "small1_002.pdf"]
    assert results[0][0] == expected
    assert results[1] == results[0] and results[2] == results[0]


def test_threshold_decides_what_counts_as_colour(tmp_path, run_splitter):
    """A pale cream sheet (chroma 30) is a sheet at the default 19, plain
    paper at 40; 0 stands for the default."""
    cream = (240, 232, 210)
    src = tmp_path / "in"
    src.mkdir()
    write_pdf(src / "a.pdf", [JpegPage(1), JpegPage(2, "sheet", cream), JpegPage(3),
                              VectorPage(4, "sheet", cream), VectorPage(5)])
    got = {}
    for threshold in (19, 40, 0):
        dst = tmp_path / ("out%d" % threshold)
        dst.mkdir()
        res = run_splitter(src, dst, threshold=threshold)
        assert res.code == 0, res.out + res.err
        got[threshold] = [page_ids(dst / "a" / n) for n in outputs(dst)["a"]]
    assert got[19] == [[1], [3], [5]]
    assert got[40] == [[1, 2, 3, 4, 5]]
    assert got[0] == got[19]


def test_margins_printed_paper_and_part_coloured_pages(tmp_path, run_splitter):
    """A white page with a wide coloured frame is not a sheet, nor is a form
    printed on pink paper, nor a page coloured down to two thirds (the rule
    must look below the top); a sheet with a dark scanner edge and punch
    holes still is, and so is a sheet scanned so large that its picture is
    thinned out, white lid showing along its left edge."""
    from PIL import ImageDraw
    from pdfgen import jpeg_bytes, picture
    px = (330, 468)
    framed = picture("text", px, seed=3)
    d = ImageDraw.Draw(framed)
    m = 30
    for box in ([0, 0, px[0], m], [0, px[1] - m, px[0], px[1]], [0, 0, m, px[1]], [px[0] - m, 0, px[0], px[1]]):
        d.rectangle(box, fill=BLUE)
    top_coloured = picture("text", px, seed=6)
    ImageDraw.Draw(top_coloured).rectangle([0, 0, px[0], int(px[1] * 0.66)], fill=YELLOW)
    huge = picture("sheet", (8400, 1400), PINK, seed=7)
    ImageDraw.Draw(huge).rectangle([0, 0, 2100, 1400], fill=(250, 250, 248))
    src = tmp_path / "in"
    src.mkdir()
    write_pdf(src / "m.pdf", [JpegPage(1), JpegPage(2, data=jpeg_bytes(framed, 2)), JpegPage(3, "sheet", GREEN),
                              JpegPage(4), JpegPage(5, "text", colour=PINK, dpi=100),
                              JpegPage(6, data=jpeg_bytes(top_coloured, 6)),
                              JpegPage(7, size=(1512.0, 252.0), data=jpeg_bytes(huge, 7)), JpegPage(8)])
    dst = tmp_path / "out"
    dst.mkdir()
    res = run_splitter(src, dst)
    assert res.code == 0, res.out + res.err
    assert [page_ids(dst / "m" / n) for n in outputs(dst)["m"]] == [[1, 2], [4, 5, 6], [8]]


def test_documents_are_the_same_bytes_whatever_the_workers(tmp_path, run_splitter):
    """Archives and checksums rely on it: nothing of the run (time, threads)
    goes into a document."""
    src = tmp_path / "in"
    make_tree(src)
    written = []
    for i, workers in enumerate([1, 2, 2]):
        dst = tmp_path / ("out%d" % i)
        dst.mkdir()
        assert run_splitter(src, dst, workers=workers).code == 0
        written.append({name: state[0] for name, state in tree_state(dst).items()})
    assert len(written[0]) == 9
    assert written[1] == written[0] and written[2] == written[0]
