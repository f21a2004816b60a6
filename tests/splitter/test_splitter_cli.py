"""The command line: four arguments, or a usage line and a non-zero exit."""
import os

import pytest

from pdfgen import JpegPage, write_pdf


@pytest.fixture
def folders(tmp_path):
    src, dst = tmp_path / "in", tmp_path / "out"
    src.mkdir()
    dst.mkdir()
    write_pdf(src / "a.pdf", [JpegPage(1)])
    return src, dst


@pytest.mark.parametrize("tail", [
    [], ["2"], ["2", "19", "extra"], ["two", "19"], ["2", "abc"], ["-1", "19"], ["2", "-5"],
    ["257", "19"], ["2", "256"], ["2", "19.5"], ["", "19"], ["2", " 19"],
])
def test_bad_arguments_get_usage_and_no_work(folders, run_splitter, tail):
    src, dst = folders
    args = [str(src), str(dst)] + tail if tail else []
    res = run_splitter(None, None, args=args)
    assert res.code != 0
    assert res.err.startswith("usage: orvaneFun.exe SRC DST WORKERS THRESHOLD")
    assert res.out == ""
    assert os.listdir(str(dst)) == []


def test_missing_folders_are_named_and_not_created(folders, run_splitter, tmp_path):
    src, dst = folders
    res = run_splitter(tmp_path / "nope", dst)
    assert res.code != 0 and "nope" in res.out
    res = run_splitter(src, tmp_path / "missing" / "deeper")
    assert res.code != 0 and "missing" in res.out
    assert not (tmp_path / "missing").exists()
    assert os.listdir(str(dst)) == []


def test_edge_values_are_accepted(folders, run_splitter):
    src, dst = folders
    res = run_splitter(src, dst, workers=256, threshold=255)
    assert res.code == 0, res.out + res.err
    assert res.lines[-1] == "Summary: 1 PDF file, 1 split, 0 not split; 1 page, 0 separator pages, 1 document written"
