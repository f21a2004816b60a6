"""The tools' reader of the splitter's lines (orvane_tools.splitter_line) against the real splitter:
every line a corpus run prints is read, and what it reads agrees with the events of the same run."""
import os
import shutil
import subprocess
import sys

import pytest

import officescans
from pdfgen import BLUE, YELLOW, BrokenJpegPage, JpegPage, VectorPage, build_pdf, write_pdf
from test_splitter_failures import without_xref
from test_splitter_split import scanned_batch, vector_batch

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))

from orvane_tools import events, splitter_line  # noqa: E402


def corpus(src):
    """The scanned conditions, the split batches, the fuzzing finds and every kind of file that is not
    split, under names with blanks, '&', ": " and Chinese."""
    def put(rel, write):
        path = os.path.join(str(src), rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path)

    for n, (name, (_, pages)) in enumerate(sorted(officescans.CONDITIONS.items())):
        put(os.path.join("办公 scans", "%02d %s.pdf" % (n, name.replace(",", ""))),
            lambda p, pages=pages: officescans.condition_pdf(p, pages))
    put("批次 1/R&D 文件.pdf", lambda p: write_pdf(p, scanned_batch()))
    put("批次 1/会议: 记录.pdf", lambda p: write_pdf(p, vector_batch()))
    put("single.pdf", lambda p: write_pdf(p, [JpegPage(1, "text")]))
    put("sheets only.pdf", lambda p: write_pdf(p, [VectorPage(1, "sheet", YELLOW), JpegPage(2, "sheet", BLUE)]))
    data = build_pdf([JpegPage(1), JpegPage(2, "sheet", BLUE), VectorPage(3), JpegPage(4)])
    put("bad/repaired.pdf", lambda p: open(p, "wb").write(without_xref(data)))
    put("bad/truncated.pdf", lambda p: open(p, "wb").write(data[: len(data) * 2 // 3]))
    put("bad/bad image.pdf", lambda p: write_pdf(p, [JpegPage(1), BrokenJpegPage(2)]))
    put("bad/locked.pdf", lambda p: subprocess.run(
        ["qpdf", "--encrypt", "secret", "owner", "256", "--", os.path.join(str(src), "single.pdf"), p], check=True))
    regressions = os.path.join(HERE, "regressions")
    for name in sorted(os.listdir(regressions)):
        put(os.path.join("regressions", name), lambda p, name=name: shutil.copyfile(os.path.join(regressions, name), p))


def test_every_line_of_a_corpus_run_is_read_as_its_events_tell(tmp_path, monkeypatch, run_splitter):
    if not shutil.which("qpdf"):
        pytest.fail("the qpdf command (Debian package qpdf) is needed to encrypt a test file")
    src, dst, path = tmp_path / "src", tmp_path / "dst", tmp_path / "events.jsonl"
    corpus(src)
    dst.mkdir()
    monkeypatch.setenv("ORVANE_EVENTS", str(path))
    result = run_splitter(src, dst, workers=2)
    job = events.read_record(str(path))

    read = [splitter_line.parse(line, job.files) for line in result.lines]
    assert [line for line, got in zip(result.lines, read) if got is None] == []
    *files, summary = read
    assert [f.name for f in files] == job.files
    kinds = {type(f) for f in files}
    assert kinds == {splitter_line.FileLine, splitter_line.NotSplitLine}
    for f in files:
        if isinstance(f, splitter_line.NotSplitLine):
            assert job.outcomes[f.name] == ("not split", f.reason)
            continue
        verdicts = job.verdicts[f.name]
        assert (f.pages, f.separators, f.check) == (
            job.pages[f.name], [p for p, v in sorted(verdicts.items()) if v[0] == "separator"],
            [p for p, v in sorted(verdicts.items()) if v[2]]), f
        assert job.outcomes[f.name][2] == f.documents and (f.folder is None) == (not f.documents)
        assert f.folder in (None, job.outcomes[f.name][1])
    assert any(f.repaired for f in files if isinstance(f, splitter_line.FileLine))
    split = [f for f in files if isinstance(f, splitter_line.FileLine)]
    assert summary == splitter_line.Summary(
        len(files), len(split), len(files) - len(split), sum(f.pages for f in split),
        sum(len(f.separators) for f in split), sum(len(f.documents) for f in split),
        sum(len(f.check) for f in split))


@pytest.mark.parametrize("line,names,expected", [
    # The summary, with counts of one in either number.
    ("Summary: 1 PDF file, 1 split, 0 not split; 1 page, 0 separator pages, 1 document written",
     (), splitter_line.Summary(1, 1, 0, 1, 0, 1, 0)),
    ("Summary: 1 PDF file, 1 split, 0 not split; 1 pages, 1 separator pages, 1 documents written; 1 page to check\n",
     (), splitter_line.Summary(1, 1, 0, 1, 1, 1, 1)),
    # A name that holds a file line's own words is read whole when the names are known.
    ("a: 1 page; separators: none; x.pdf: 1 page; separators: none; 1 document in \"x\": x_001.pdf (page 1)",
     ("a: 1 page; separators: none; x.pdf",),
     splitter_line.FileLine("a: 1 page; separators: none; x.pdf", 1, [], [], "x",
                            [events.Document("x_001.pdf", 1, 1)], False)),
    ("dir/a: b.pdf: NOT SPLIT: damaged: page 2 cannot be read", ("dir/a: b.pdf",),
     splitter_line.NotSplitLine("dir/a: b.pdf", "damaged: page 2 cannot be read")),
    # The module's own messages, and lines cut short, are no splitter lines.
    ("执行完成", (), None),
    ("scan.pdf: 3 pages; separators: 2; 2 documents in \"scan\": scan_001.pdf (page 1)", (), None),
    ("Summary: 3 PDF files, 3 split", (), None),
])
def test_lines_are_read_in_either_number_and_by_their_known_names(line, names, expected):
    assert splitter_line.parse(line, names) == expected
