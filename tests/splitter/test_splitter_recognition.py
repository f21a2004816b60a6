"""Text recognition in the split (--ocr): the option and its checks, the
recognition phase with its events and line, and a recognition that crashes or
whose helper is killed costing that page's text only. Each recognised page
costs seconds: the batches are two text pages and a sheet."""
import json
import os
import signal
import subprocess
import time

import pytest
from PIL import Image, ImageDraw, ImageFont

from pdfgen import BLUE, JpegPage, VectorPage, jpeg_bytes, write_pdf
from splitter_helpers import Result, outputs
from test_splitter_helpers import helpers_of

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
LINE = ('a.pdf: 3 pages; separators: 2; 2 documents in "a": a_001.pdf (page 1), '
        'a_002.pdf (page 3)')


def scanned_text(number, words):
    """An A4 page of large printed words, scanned at 150 dpi."""
    img = Image.new("RGB", (1240, 1754), (252, 252, 250))
    draw = ImageDraw.Draw(img)
    font = ImageFont.truetype(FONT, 44)
    for i, line in enumerate(words):
        draw.text((150, 250 + 90 * i), line, font=font, fill=(30, 30, 30))
    return JpegPage(number, dpi=150, data=jpeg_bytes(img, number, quality=90))


@pytest.fixture
def batch(tmp_path):
    """a.pdf: a scanned page of words, a blue sheet, a page only a helper can draw."""
    src = tmp_path / "in"
    src.mkdir()
    write_pdf(src / "a.pdf", [scanned_text(1, ["HARBOUR OFFICE", "INVOICE 2291"]),
                              JpegPage(2, "sheet", BLUE), VectorPage(3)])
    return src


def run(exe, src, dst, workers, *options, **env):
    dst.mkdir()
    events = dst.parent / ("events-%s.jsonl" % dst.name)
    full = dict(os.environ, ORVANE_EVENTS=str(events), ORVANE_SPLITTER_TRACE="1", **env)
    done = subprocess.run([exe, str(src), str(dst), str(workers), "0"] + list(options),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full, timeout=600)
    return Result(done), read_events(events)


def read_events(path):
    if not os.path.exists(str(path)):
        return []
    with open(str(path), encoding="utf-8") as f:
        return [json.loads(l) for l in f]


def recognised(events):
    """{page: text kept} of the recognised events."""
    return {e["page"]: e["text"] for e in events if e["event"] == "recognised"}


def recognised_lines(err):
    """{page: (lines found, first line's box on the page in points)} from the trace."""
    found = {}
    for l in err.splitlines():
        if l.startswith("recognised a.pdf page "):
            page, rest = l[len("recognised a.pdf page "):].split(": ", 1)
            fields = dict(f.split("=") for f in rest.split())
            found[int(page)] = (int(fields["lines"]), [float(v) for v in fields["first"].split(",")])
    return found


def test_recognised_split_keeps_its_line_and_is_the_same_with_any_workers(batch, splitter_exe, tmp_path):
    docs = {}
    for workers in (1, 2):
        res, events = run(splitter_exe, batch, tmp_path / ("out%d" % workers), workers, "--ocr", "eng")
        assert res.code == 0, res.err
        assert res.line_for("a.pdf") == LINE
        # Both pages of the documents recognised, each with its words found;
        # the sheet is not recognised.
        assert [e for e in events if e["event"] == "recognising"] == [
            {"event": "recognising", "file": "a.pdf", "pages": 2}]
        assert recognised(events) == {1: True, 3: True}
        assert all(n >= 1 for n, _ in recognised_lines(res.err).values()), res.err
        assert [e["no_text"] for e in events if e["event"] == "file"] == [[]]
        # Recognised before a document is written: no folder stands half made.
        kinds = [e["event"] for e in events]
        assert kinds.index("recognising") < kinds.index("file")
        folder = tmp_path / ("out%d" % workers) / "a"
        docs[workers] = {n: (folder / n).read_bytes() for n in sorted(os.listdir(str(folder)))}
    assert docs[1] == docs[2]


def test_empty_ocr_turns_recognition_off(batch, splitter_exe, tmp_path):
    res, events = run(splitter_exe, batch, tmp_path / "out", 2, "--ocr=", ORVANE_SPLITTER_OPTIONS="--ocr eng")
    assert res.code == 0 and res.line_for("a.pdf") == LINE
    assert [e for e in events if e["event"].startswith("recognis") or "no_text" in e] == []


def turned(rotate):
    page = VectorPage(1)
    page.rotate = rotate
    return page


@pytest.mark.parametrize("page,box", [
    # The words drawn at 150 dpi from pixel (150, 250) down: 72 pt in, 120 pt below the top.
    (scanned_text(1, ["HARBOUR OFFICE"]), (72, 700, 260, 722)),
    # Rendered pages: the marker PAGE 0001 at (71.4, 757.8) in 18 pt, upright
    # and turned a quarter; turned upside down, the lowest bar comes first.
    (turned(0), (71.4, 757.8, 165, 771)),
    (turned(90), (71.4, 757.8, 165, 771)),
    (turned(180), (71.4, 85.6, 464.4, 88.6)),
])
def test_recognised_lines_lie_where_the_page_shows_them(tmp_path, splitter_exe, page, box):
    src = tmp_path / "in"
    src.mkdir()
    write_pdf(src / "a.pdf", [page])
    res, _ = run(splitter_exe, src, tmp_path / "out", 1, "--ocr", "eng")
    lines, first = recognised_lines(res.err)[1]
    assert lines >= 1 and all(abs(a - b) <= 4 for a, b in zip(first, box)), (first, box)


@pytest.mark.parametrize("options,env,message", [
    (["--ocr", "eng+osd"], {}, "the command line: --ocr eng+osd: osd is no language"),
    (["--ocr", "eng+eng"], {}, 'the command line: --ocr eng+eng: "eng" is listed twice'),
    (["--ocr", "../eng"], {}, 'the command line: --ocr ../eng: "../eng" is no language name'),
    (["--ocr", "chi_sim+"], {}, "the command line: --ocr chi_sim+: a language is missing"),
    ([], {"ORVANE_SPLITTER_OPTIONS": "--ocr=eng+"}, "ORVANE_SPLITTER_OPTIONS: --ocr eng+: a language is missing"),
    (["--ocr", "xx_none"], {}, "--ocr: language xx_none is not installed (no xx_none.traineddata in "),
    (["--ocr", "eng"], {"TESSDATA_PREFIX": "{empty}"}, "--ocr: language eng is not installed "
                                                        "(no eng.traineddata in {empty})"),
])
def test_ocr_option_refused_before_any_work(batch, splitter_exe, tmp_path, options, env, message):
    empty = tmp_path / "tessdata"
    empty.mkdir()
    env = {k: v.replace("{empty}", str(empty)) for k, v in env.items()}
    res, events = run(splitter_exe, batch, tmp_path / "out", 1, *options, **env)
    assert res.code == 2
    assert res.out == ""
    assert res.err.startswith("orvaneFun.exe: " + message.replace("{empty}", str(empty))), res.err
    assert outputs(tmp_path / "out") == {} and events == []


def kill_helpers_until(proc, events_path, page):
    """Ends every helper of `proc` (and only those) from the moment its
    recognition begins until page `page` is told recognised."""
    end = time.monotonic() + 120
    while proc.poll() is None and time.monotonic() < end:
        events = read_events(events_path)
        if page in recognised(events):
            return
        if any(e["event"] == "recognising" for e in events):
            for pid in helpers_of(proc.pid):
                os.kill(pid, signal.SIGKILL)
        time.sleep(0.1)


@pytest.mark.parametrize("fault", ["abort", "killed"])
def test_failed_recognition_costs_that_pages_text_only(batch, splitter_exe, tmp_path, fault):
    dst, events_path = tmp_path / "out", tmp_path / "events.jsonl"
    dst.mkdir()
    env = dict(os.environ, ORVANE_EVENTS=str(events_path))
    if fault == "abort":
        # The recognition of the page that reads HARBOUR aborts, in every helper it is tried in.
        env["ORVANE_HELPER_TEST_OCR"] = "abort:HARBOUR"
    proc = subprocess.Popen([splitter_exe, str(batch), str(dst), "1", "0", "--ocr", "eng"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    if fault == "killed":
        kill_helpers_until(proc, events_path, 1)
    out, err = proc.communicate(timeout=300)
    res = Result(subprocess.CompletedProcess([], proc.returncode, out, err))
    events = read_events(events_path)
    assert res.code == 0, res.err
    assert res.line_for("a.pdf") == LINE.replace("; 2 documents", "; no text: 1; 2 documents")
    assert recognised(events) == {1: False, 3: True}
    assert [e["no_text"] for e in events if e["event"] == "file"] == [[1]]
    assert outputs(dst) == {"a": ["a_001.pdf", "a_002.pdf"]}
