"""ORVANE_EVENTS: the splitter's progress events agree with its output lines, arrive as whole lines,
and change nothing else."""
import json
import os
import re

from pdfgen import BLUE, PINK, YELLOW, JpegPage, VectorPage, write_pdf
from splitter_helpers import outputs, page_set


def make_batch(src):
    write_pdf(src / "scan.pdf", [JpegPage(1, "text"), JpegPage(2, "sheet", YELLOW), JpegPage(3, "logo"),
                                 JpegPage(4, "sheet", PINK), JpegPage(5, "sheet", PINK), JpegPage(6, "text")])
    # More than two chunks of pages: looked at by both workers at once.
    write_pdf(src / "long.pdf", [VectorPage(n, "sheet", BLUE) if n % 20 == 0 else VectorPage(n, "text")
                                 for n in range(1, 61)])
    (src / "合同.pdf").write_bytes(b"%PDF-1.4 this is no PDF")



def run_with_events(tmp_path, monkeypatch, run_splitter, events_path, target="dst"):
    src, dst = tmp_path / "src", tmp_path / target
    if not src.exists():
        src.mkdir()
        make_batch(src)
    dst.mkdir()
    monkeypatch.setenv("ORVANE_EVENTS", str(events_path))
    return run_splitter(src, dst, workers=2), dst


def test_events_agree_with_the_output_lines(tmp_path, monkeypatch, run_splitter):
    path = tmp_path / "events.jsonl"
    result, dst = run_with_events(tmp_path, monkeypatch, run_splitter, path)
    evs = [json.loads(line) for line in path.read_bytes().decode("utf-8").split("\n") if line]

    assert evs[0]["event"] == "start" and evs[0]["files"] == ["long.pdf", "scan.pdf", "合同.pdf"]
    assert evs[0]["target"] == str(dst)
    assert evs[-1] == {"event": "end", "status": 1}
    assert [e["pages"] for e in evs if e["event"] == "total"] == [66]
    for name in ("long.pdf", "scan.pdf"):
        line = result.line_for(name)
        mine = [e for e in evs if e.get("file") == name]
        pages = int(line.split(": ", 1)[1].split(" ")[0])
        assert sum(e["pages"] for e in mine if e["event"] == "looked") == pages
        verdicts = {e["page"]: e for e in mine if e["event"] == "page"}
        assert sorted(verdicts) == list(range(1, pages + 1))
        separators = line.split("; separators: ", 1)[1].split(";")[0]
        assert {p for p, e in verdicts.items() if e["verdict"] == "separator"} == page_set(separators)
        assert all(0.0 <= e["share"] <= 1.0 and isinstance(e["unsure"], bool) for e in verdicts.values())
        done = [e for e in mine if e["event"] == "file"]
        assert len(done) == 1 and mine[-1] is done[0]       # the verdicts come before the file's outcome
        shown = re.findall(r"(\S+) \(pages? (\d+)(?:-(\d+))?\)", line.split('in "{}": '.format(done[0]["folder"]))[1])
        assert [(d["name"], d["first"], d["last"]) for d in done[0]["documents"]] == \
            [(n, int(a), int(b or a)) for n, a, b in shown]
    broken = [e for e in evs if e.get("file") == "合同.pdf" and e["event"] == "not split"]
    assert len(broken) == 1 and result.line_for("合同.pdf").endswith("NOT SPLIT: " + broken[0]["reason"])

    # Nothing else changes: the same output, status and documents without the variable.
    monkeypatch.delenv("ORVANE_EVENTS")
    dst2 = tmp_path / "dst-plain"
    dst2.mkdir()
    plain = run_splitter(tmp_path / "src", dst2, workers=2)
    assert (result.out, result.code, result.err) == (plain.out, plain.code, "")
    assert outputs(str(dst)) == outputs(str(dst2))


def test_the_total_comes_before_any_page_is_looked_at(tmp_path, monkeypatch, run_splitter):
    path = tmp_path / "events.jsonl"
    src, dst = tmp_path / "src", tmp_path / "dst"
    src.mkdir()
    dst.mkdir()
    make_batch(src)
    monkeypatch.setenv("ORVANE_EVENTS", str(path))
    run_splitter(src, dst, workers=1)
    kinds = [json.loads(line)["event"] for line in path.read_bytes().decode("utf-8").split("\n") if line]
    # One worker looks at the 60-page file whole, and still tells its progress a chunk at a time.
    assert kinds.index("total") < kinds.index("looked") and kinds.count("looked") == 1 + 3


def test_no_events_file_inside_the_target_folder(tmp_path, monkeypatch, run_splitter):
    dst = tmp_path / "dst-in"
    result, _ = run_with_events(tmp_path, monkeypatch, run_splitter, dst / "events.jsonl", "dst-in")
    assert "inside the target folder" in result.err
    assert sorted(os.listdir(str(dst))) == ["long", "scan"]
