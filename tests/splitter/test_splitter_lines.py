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

