"""The tools' reader of the splitter's lines against the real splitter: every line of a corpus run is
read, and agrees with the events of the same run; also with names the line quotes."""
import os
import sys

import pytest

from corpus import corpus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "tools"))
from orvane_tools import events, splitter_line as sl  # noqa: E402


@pytest.mark.parametrize("options", [None, '--names "{batch}, \\"{n}\\" (of {batch})"'], ids=["names", "quoted names"])
def test_every_line_of_a_corpus_run_agrees_with_its_events(tmp_path, monkeypatch, run_splitter, options):
    if options:
        monkeypatch.setenv("ORVANE_SPLITTER_OPTIONS", options)
    (tmp_path / "dst").mkdir()
    corpus(str(tmp_path / "src"))
    monkeypatch.setenv("ORVANE_EVENTS", str(tmp_path / "events.jsonl"))
    lines = run_splitter(tmp_path / "src", tmp_path / "dst").lines
    job = events.read_record(str(tmp_path / "events.jsonl"))
    *files, summary = read = [sl.parse(line, job.files) for line in lines]
    assert None not in read and [f.name for f in files] == job.files, lines
    for f in files:
        outcome, seen = job.outcomes[f.name], sorted(job.verdicts[f.name].items())
        assert isinstance(f, sl.FileLine) or outcome == ("not split", f.reason)
        assert isinstance(f, sl.NotSplitLine) or (f.pages, f.separators, f.check, f.folder, f.documents) == (
            job.pages[f.name], [p for p, v in seen if v[0] == "separator"], [p for p, v in seen if v[2]],
            outcome[1] if f.documents else None, outcome[2]), f
    split = [f for f in files if isinstance(f, sl.FileLine)]
    assert summary == sl.Summary(len(files), len(split), len(files) - len(split), sum(f.pages for f in split),
                                 sum(len(f.separators) for f in split), sum(len(f.documents) for f in split),
                                 sum(len(f.check) for f in split))



@pytest.mark.parametrize("line, event, documents, unwritten", [
    # Dropped backs: exact spans, a run of blank pages left out keeps its number.
    ('d.pdf: 9 pages; separators: 4; check: 2; blank: 3, 6, 8-9; 2 documents in "d": d_001.pdf (pages 1-2), '
     'no document (every page blank), d_003.pdf (pages 5, 7)',
     {"blank": [3, 6, 8, 9], "dropped": [3, 6, 8, 9], "unwritten": [{"number": 2, "first": 3, "last": 3}],
      "documents": [{"name": "d_001.pdf", "first": 1, "last": 2, "pages": [1, 2]},
                    {"name": "d_003.pdf", "first": 5, "last": 7, "pages": [5, 7]}]},
     [("d_001.pdf", [1, 2]), ("d_003.pdf", [5, 7])], [2]),
    # Flagged: every page kept, the blank ones named.
    ('f.pdf: 3 pages; separators: none; blank: 2; 1 document in "f": "f, (1).pdf" (pages 1-3)',
     {"blank": [2], "dropped": [], "documents": [{"name": "f, (1).pdf", "first": 1, "last": 3, "pages": [1, 2, 3]}]},
     [("f, (1).pdf", [1, 2, 3])], []),
    ('e.pdf: 2 pages; separators: none; blank: 1-2; no document written (every page blank)',
     {"blank": [1, 2], "dropped": [1, 2], "documents": [], "unwritten": [{"number": 1, "first": 1, "last": 2}]},
     [], []),
])
def test_blank_pages_are_read_alike_from_the_line_and_the_events(line, event, documents, unwritten):
    read = sl.parse(line)
    name = read.name
    job = events.JobRecord().apply_all([{"event": "start", "files": [name]}, {"event": "pages", "file": name,
                                        "pages": read.pages}, dict(event, event="file", file=name, folder="x")])
    record, = job.file_records()
    for docs in (read.documents, record.documents):
        assert [(d.name, d.page_list()) for d in docs] == documents
    assert (read.blank, read.unwritten) == (event["blank"], unwritten)
    assert (list(record.blank), list(record.dropped)) == (event["blank"], event["dropped"])
