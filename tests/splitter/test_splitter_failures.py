"""Files that cannot be split are named with the reason; the others go on."""
import json
import os
import re
import shutil
import subprocess

import pytest

from pdfgen import BLUE, BrokenJpegPage, JpegPage, VectorPage, build_pdf, page_ids, write_pdf
from splitter_helpers import outputs, tree_state


def good_pages():
    return [JpegPage(1), JpegPage(2, "sheet", BLUE), VectorPage(3)]


@pytest.fixture
def bad_tree(tmp_path):
    if not shutil.which("qpdf"):
        pytest.fail("the qpdf command (Debian package qpdf) is needed to encrypt test files")
    src = tmp_path / "in"
    (src / "sub").mkdir(parents=True)
    write_pdf(src / "a_good.pdf", good_pages())
    data = build_pdf(good_pages() + [JpegPage(n) for n in range(4, 12)])
    (src / "truncated.pdf").write_bytes(data[: len(data) * 2 // 3])
    (src / "sub" / "garbage.pdf").write_bytes(b"%PDF-1.4\n" + b"\x00\x17 not really a PDF\n" * 200)
    (src / "empty.pdf").write_bytes(b"")
    write_pdf(src / "bad_image.pdf", [JpegPage(1), BrokenJpegPage(2), JpegPage(3)])
    plain = str(tmp_path / "plain.pdf")
    write_pdf(plain, good_pages())
    for name, user in (("locked.pdf", "secret"), ("restricted.pdf", "")):
        done = subprocess.run(["qpdf", "--encrypt", user, "owner-pw", "256", "--", plain, str(src / name)],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        assert done.returncode == 0, done.stdout
    subprocess.run(["qpdf", "--empty", str(src / "no_pages.pdf")], check=True)
    write_pdf(src / "z_good.pdf", good_pages())
    return src


def without_xref(data):
    """The PDF with its cross-reference table pointing nowhere."""
    i = data.rindex(b"startxref\n")
    return data[:i] + b"startxref\n999999\n%%EOF\n"


def test_repairable_damage_is_split_with_a_note_lost_pages_are_not(tmp_path, run_splitter):
    src = tmp_path / "in"
    src.mkdir()
    pages = [JpegPage(1), JpegPage(2, "sheet", BLUE), VectorPage(3), JpegPage(4)]
    data = build_pdf(pages)
    (src / "no_xref.pdf").write_bytes(without_xref(data))
    # The third page object is gone (its header is destroyed).
    third = list(re.finditer(rb"\n(\d+) 0 obj\n<< /Type /Page /", data))[2]
    (src / "lost_page.pdf").write_bytes(without_xref(data[:third.start() + 1] + b"XX" + data[third.start() + 3:]))
    dst = tmp_path / "out"
    dst.mkdir()

    res = run_splitter(src, dst)

    assert res.code != 0
    line = res.line_for("no_xref.pdf")
    assert line.startswith("no_xref.pdf: 4 pages; separators: 2; 2 documents")
    assert "repaired" in line
    assert [page_ids(dst / "no_xref" / n) for n in outputs(dst)["no_xref"]] == [[1], [3, 4]]
    assert res.line_for("lost_page.pdf") == "lost_page.pdf: NOT SPLIT: damaged: page 3 is missing from the file"
    assert sorted(outputs(dst)) == ["no_xref"]


def test_unreadable_files_are_reported_and_the_rest_is_split(tmp_path, bad_tree, run_splitter, monkeypatch):
    dst = tmp_path / "out"
    dst.mkdir()
    before = tree_state(bad_tree)
    monkeypatch.setenv("ORVANE_EVENTS", str(tmp_path / "events.jsonl"))

    res = run_splitter(bad_tree, dst)

    assert res.code != 0
    assert tree_state(bad_tree) == before
    # Only the good files got folders; nothing half-written is left behind.
    assert outputs(dst) == {"a_good": ["a_good_001.pdf", "a_good_002.pdf"],
                            "z_good": ["z_good_001.pdf", "z_good_002.pdf"]}
    reasons = {  # file: (words of its line, the kind in its event)
        "truncated.pdf": ("damaged", "damaged"),
        os.path.join("sub", "garbage.pdf"): ("damaged", "damaged"),
        "empty.pdf": ("damaged", "damaged"),
        "bad_image.pdf": ("page 2", "damaged"),
        "locked.pdf": ("encrypted", "encrypted"),
        "restricted.pdf": ("encrypted", "encrypted"),
        "no_pages.pdf": ("it has no pages", "no-pages"),
    }
    events = map(json.loads, (tmp_path / "events.jsonl").read_text(encoding="utf-8").splitlines())
    kinds = {e["file"]: (e["kind"], e["reason"]) for e in events if e["event"] == "not split"}
    for shown, (why, kind) in reasons.items():
        line = res.line_for(shown)
        assert line.startswith(shown + ": NOT SPLIT: "), line
        assert why in line, line
        assert kinds[shown] == (kind, line.split(": NOT SPLIT: ", 1)[1])
    assert "password" in res.line_for("locked.pdf")
    assert res.line_for("a_good.pdf").endswith("a_good_002.pdf (page 3)")
    assert res.lines[-1] == ("Summary: 9 PDF files, 2 split, 7 not split; 6 pages, "
                             "2 separator pages, 4 documents written")


def test_all_good_files_exit_zero_and_a_bad_one_alone_not(tmp_path, bad_tree, run_splitter):
    only_bad = tmp_path / "bad"
    only_bad.mkdir()
    shutil.copy(str(bad_tree / "truncated.pdf"), str(only_bad / "t.pdf"))
    dst = tmp_path / "out"
    dst.mkdir()
    res = run_splitter(only_bad, dst)
    assert res.code != 0
    assert res.lines[0].startswith("t.pdf: NOT SPLIT: damaged")
    assert outputs(dst) == {}
