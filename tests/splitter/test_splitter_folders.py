"""Where the documents go: one new folder per source directly inside DST."""
import os

from pdfgen import PINK, JpegPage, VectorPage, page_ids, write_pdf
from splitter_helpers import outputs, tree_state


def test_same_names_and_existing_folders_get_new_folders(tmp_path, run_splitter):
    src, dst = tmp_path / "in", tmp_path / "out"
    for sub in ("a", os.path.join("b", "deep"), "c"):
        os.makedirs(str(src / sub))
    write_pdf(src / "a" / "report.pdf", [JpegPage(1), JpegPage(2, "sheet", PINK), JpegPage(3)])
    write_pdf(src / "b" / "deep" / "report.pdf", [VectorPage(11), VectorPage(12)])
    write_pdf(src / "c" / "report.pdf", [JpegPage(21)])
    write_pdf(src / "c" / "other.pdf", [JpegPage(31)])
    dst.mkdir()
    # Left over from an earlier job: never written into.
    (dst / "report").mkdir()
    (dst / "report" / "report_001.pdf").write_bytes(b"earlier result")
    (dst / "report_2").write_bytes(b"a file, not a folder")
    kept = tree_state(dst)

    res = run_splitter(src, dst)

    assert res.code == 0, res.out + res.err
    assert all(tree_state(dst)[k] == v for k, v in kept.items())
    got = outputs(dst)
    assert got["report"] == ["report_001.pdf"]
    assert sorted(got) == ["other", "report", "report_3", "report_4", "report_5"]
    # Names go by source order, whichever worker finishes first; each line
    # says which folder its source got.
    expected = {os.path.join("a", "report.pdf"): ("report_3", [[1], [3]]),
                os.path.join("b", "deep", "report.pdf"): ("report_4", [[11, 12]]),
                os.path.join("c", "report.pdf"): ("report_5", [[21]])}
    for shown, (folder, docs) in expected.items():
        assert " in \"%s\": " % folder in res.line_for(shown)
        assert [page_ids(dst / folder / n) for n in got[folder]] == docs
    # Folders sit directly in DST: nothing deeper than folder/document.
    for parent, dirs, files in os.walk(str(dst)):
        assert os.path.relpath(parent, str(dst)).count(os.sep) == 0


def test_target_inside_source_is_not_read_back(tmp_path, run_splitter):
    src = tmp_path / "in"
    src.mkdir()
    dst = src / "out"
    dst.mkdir()
    write_pdf(src / "x.pdf", [JpegPage(1), JpegPage(2, "sheet", PINK), JpegPage(3)])
    first = run_splitter(src, dst)
    second = run_splitter(src, dst)
    assert first.code == 0 and second.code == 0
    assert len(first.lines) == len(second.lines) == 2
    # The second run may not write into the first run's folder.
    assert outputs(dst) == {"x": ["x_001.pdf", "x_002.pdf"], "x_2": ["x_001.pdf", "x_002.pdf"]}


def test_empty_source_folder(tmp_path, run_splitter):
    src, dst = tmp_path / "in", tmp_path / "out"
    src.mkdir()
    dst.mkdir()
    (src / "readme.txt").write_text(u"no PDF here")
    res = run_splitter(src, dst)
    assert res.code == 0
    assert res.lines[0].startswith("No PDF file found in ")
    assert res.lines[-1].startswith("Summary: 0 PDF files")
    assert os.listdir(str(dst)) == []
