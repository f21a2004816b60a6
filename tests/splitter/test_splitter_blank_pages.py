"""Blank pages of documents (--blank-pages, --keep-pages): the duplex corpus page by page
(scripts/blank_pages_table.py), and on a small duplex batch the line, the events and the documents."""
import json
import os
import sys

import pytest
from pypdf import PdfReader

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import duplex_corpus as corpus  # noqa: E402
from blank_pages_table import blank_table  # noqa: E402

TEXT, BLANK, SHEET = corpus.text(), corpus.page("blank", q=60), corpus.page("colour", corpus.pdfgen.YELLOW)
# Two documents with blank backs, a sheet whose both sides are blank, one more document; then a file
# of blank pages alone.
BATCH = [TEXT, BLANK, TEXT, BLANK, SHEET, SHEET, BLANK, BLANK, SHEET, TEXT, BLANK]
BACKS = "c.pdf: 2 pages; separators: none; blank: 1-2; no document written (every page blank)"

# (options, b.pdf's line after its separators, its documents' page counts, its file event's blank keys)
CASES = [
    ([], '3 documents in "b": b_001.pdf (pages 1-4), b_002.pdf (pages 7-8), b_003.pdf (pages 10-11)', [4, 2, 2],
     None),
    (["--blank-pages", "flag"], 'blank: 2, 4, 7-8, 11; 3 documents in "b": b_001.pdf (pages 1-4), b_002.pdf '
     "(pages 7-8), b_003.pdf (pages 10-11)", [4, 2, 2], ([2, 4, 7, 8, 11], [], [], [[1, 2, 3, 4], [7, 8], [10, 11]])),
    (["--blank-pages", "drop"], 'blank: 2, 4, 7-8, 11; 2 documents in "b": b_001.pdf (pages 1, 3), '
     "no document (every page blank), b_003.pdf (page 10)", [2, 1],
     ([2, 4, 7, 8, 11], [2, 4, 7, 8, 11], [{"number": 2, "first": 7, "last": 8}], [[1, 3], [10]])),
    (["--blank-pages", "drop", "--keep-pages", "4, 8-8"], 'blank: 2, 4, 7-8, 11; 3 documents in "b": '
     "b_001.pdf (pages 1, 3-4), b_002.pdf (page 8), b_003.pdf (page 10)", [3, 1, 1],
     ([2, 4, 7, 8, 11], [2, 7, 11], [], [[1, 3, 4], [8], [10]])),
]


def test_duplex_corpus_page_by_page(splitter_exe, tmp_path):
    wrong, table = blank_table(splitter_exe, str(tmp_path))
    print("\n" + table)
    assert wrong == 0, table


@pytest.fixture(scope="module")
def batch(tmp_path_factory):
    folder = tmp_path_factory.mktemp("batch")
    corpus.write(str(folder / "b.pdf"), [(None, p, None) for p in BATCH])
    corpus.write(str(folder / "c.pdf"), [(None, p, None) for p in (BLANK, corpus.page("blank"))])
    return folder


@pytest.mark.parametrize("options,line,pages,event", CASES, ids=["keep", "flag", "drop", "drop, put back"])
def test_blank_pages_of_a_duplex_batch(run_splitter, batch, tmp_path, monkeypatch, options, line, pages, event):
    src, dst, events = tmp_path / "in", tmp_path / "out", tmp_path / "events"
    src.mkdir()
    dst.mkdir()
    (src / "b.pdf").write_bytes((batch / "b.pdf").read_bytes())
    monkeypatch.setenv("ORVANE_EVENTS", str(events))
    res = run_splitter(src, dst, args=[str(src), str(dst), "2", "0"] + options)
    assert res.code == 0 and res.line_for("b.pdf") == "b.pdf: 11 pages; separators: 5-6, 9; " + line, res.out
    written = sorted(os.listdir(str(dst / "b")))
    assert [len(PdfReader(str(dst / "b" / name)).pages) for name in written] == pages
    objects = [json.loads(text) for text in events.read_text(encoding="utf-8").splitlines()]
    found = next(o for o in objects if o["event"] == "file")
    blank = [o["page"] for o in objects if o["event"] == "page" and o.get("blank")]
    if event is None:  # without the option no event changes
        assert blank == [] and set(found) == {"event", "file", "pages", "folder", "documents"}
    else:
        assert (blank, found["dropped"], found["unwritten"], [d["pages"] for d in found["documents"]]) == event
        assert found["blank"] == blank

    # A file of blank pages writes nothing; pages to keep name pages of one source only.
    (src / "c.pdf").write_bytes((batch / "c.pdf").read_bytes())
    res = run_splitter(src, dst, args=[str(src), str(dst), "1", "0"] + options)
    if "--keep-pages" in options:
        assert res.code == 2 and "exactly one PDF file in the source folder, found 2" in res.err
    else:
        assert res.code == 0 and (BACKS in res.out) == ("drop" in options), res.out
