"""Separator sheets of every kind on scanned pages (sheetscans.py): the black and empty-page judges
page by page (scripts/sheet_looks_table.py), and the real splitter's split of each batch with the
kinds it asks for."""
import os
import re
import sys

import pytest

import sheetscans

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
from sheet_looks_table import judge_table  # noqa: E402

SPAN = re.compile(r"\(pages? (\d+)(?:-(\d+))?\)")


def test_black_and_empty_page_judges(tmp_path):
    code, table = judge_table(tmp_path)
    print("\n" + table)
    assert code == 0, table


@pytest.mark.parametrize("name,kinds,pages", sheetscans.BATCHES, ids=[b[0] for b in sheetscans.BATCHES])
def test_split_at_every_kind(tmp_path, run_splitter, name, kinds, pages):
    src, dst = tmp_path / "in", tmp_path / "out"
    src.mkdir()
    dst.mkdir()
    wants = sheetscans.pdf(src / "batch.pdf", pages)

    res = run_splitter(src, dst, args=[str(src), str(dst), "2", "19", "--sheets", kinds])

    if res.code == 2 and "--sheets" not in res.err + res.out:
        pytest.skip("this splitter does not know --sheets yet")
    assert res.code == 0, res.out + res.err
    spans = [(int(a), int(b or a)) for a, b in SPAN.findall(res.line_for("batch.pdf"))]
    assert spans == sheetscans.documents(wants, kinds), "%s\n%s" % (wants, res.line_for("batch.pdf"))
