"""Text recognition in the split (--ocr): its checks, the recognised batch's line, events and text,
where the lines lie, and a failed recognition costing that page's text only. A page costs seconds."""
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

FONT = ImageFont.truetype("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", 44)  # Han and Latin
LINE = 'a.pdf: 3 pages; separators: 2; 2 documents in "a": a_001.pdf (page 1), a_002.pdf (page 3)'


def scanned_text(words):
    """An A4 page of printed lines scanned at 150 dpi, and its first line's ink on the page in points."""
    img = Image.new("RGB", (1240, 1754), (252, 252, 250))
    for i, line in enumerate(words):
        ImageDraw.Draw(img).text((150, 250 + 90 * i), line, font=FONT, fill=(30, 30, 30))
    left, top, right, bottom = FONT.getbbox(words[0])
    box = [(150 + left) * 0.48, 842 - (250 + bottom) * 0.48, (150 + right) * 0.48, 842 - (250 + top) * 0.48]
    return JpegPage(1, dpi=150, data=jpeg_bytes(img, 1, quality=90)), box


def run(exe, tmp_path, pages, workers, options, during=None, **env):
    """The splitter over a.pdf of `pages`: its result, its events, its documents' text."""
    src, dst, events = tmp_path / "in", tmp_path / "out", tmp_path / "events.jsonl"
    [d.mkdir(parents=True) for d in (src, dst)]
    write_pdf(src / "a.pdf", pages)
    env = dict(os.environ, ORVANE_EVENTS=str(events), ORVANE_SPLITTER_TRACE="1", **env)
    proc = subprocess.Popen([exe, str(src), str(dst), str(workers), "0"] + options, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    if during:
        during(proc, lambda: read_events(events))
    out, err = proc.communicate(timeout=300)
    res = Result(subprocess.CompletedProcess([], proc.returncode, out, err))
    texts = {n: subprocess.run(["pdftotext", str(dst / "a" / n), "-"], stdout=subprocess.PIPE).stdout.decode()
             for n in outputs(dst).get("a", [])}
    return res, read_events(events), texts


def read_events(path):
    return [json.loads(l) for l in open(str(path), encoding="utf-8")] if os.path.exists(str(path)) else []


def told(events):  # {page: text kept} of the recognised events, and the file events' no_text
    return ({e["page"]: e["text"] for e in events if e["event"] == "recognised"},
            [e["no_text"] for e in events if e["event"] == "file"])


def batch():
    """A scanned page of Chinese and English, a blue sheet, a page only a helper can draw."""
    return [scanned_text(["HARBOUR OFFICE 合同", "合同编号 2291 的发票"])[0], JpegPage(2, "sheet", BLUE), VectorPage(3)]


def test_recognised_batch_splits_the_same_and_reads_its_words(splitter_exe, tmp_path):
    docs = []
    for workers in (1, 2):
        res, events, texts = run(splitter_exe, tmp_path / str(workers), batch(), workers, ["--ocr", "chi_sim+eng"])
        assert res.code == 0 and res.line_for("a.pdf") == LINE, res.err
        assert [(e["event"], e.get("pages")) for e in events if e["event"] in ("recognising", "file")] == [
            ("recognising", 2), ("file", 3)]
        assert told(events) == ({1: True, 3: True}, [[]])
        # The plain scan's words and the rendered page's; Han characters without a space between them.
        assert "HARBOUR OFFICE 合同\n合同编号 2291 的发票" in texts["a_001.pdf"] and "PAGE 0003" in texts["a_002.pdf"]
        docs.append({n: (tmp_path / str(workers) / "out" / "a" / n).read_bytes() for n in texts})
    assert docs[0] == docs[1]


@pytest.mark.parametrize("page,box", [
    scanned_text(["HARBOUR OFFICE"]),
    # The marker PAGE 0001 at (71.4, 757.8) in 18 pt, upright and turned; upside down the lowest bar is first.
    (VectorPage(1), (71.4, 757.8, 165, 771)),
    (VectorPage(1, rotate=90), (71.4, 757.8, 165, 771)),
    (VectorPage(1, rotate=180), (71.4, 85.6, 464.4, 88.6)),
])
def test_recognised_lines_lie_where_the_page_shows_them(splitter_exe, tmp_path, page, box):
    res = run(splitter_exe, tmp_path, [page], 1, ["--ocr", "eng"])[0]
    traced = [l for l in res.err.splitlines() if l.startswith("recognised a.pdf page 1: ")]
    first = [float(v) for v in traced[0].split(" first=")[1].split(",")]
    assert all(abs(a - b) <= 4 for a, b in zip(first, box)), (first, box)


@pytest.mark.parametrize("options,env,message", [
    (["--ocr", "eng+osd"], {}, "the command line: --ocr eng+osd: osd is no language"),
    ([], {"ORVANE_SPLITTER_OPTIONS": "--ocr=../eng"}, 'ORVANE_SPLITTER_OPTIONS: --ocr ../eng: "../eng" is no'),
    (["--ocr", "eng"], {"TESSDATA_PREFIX": "EMPTY"}, "--ocr: language eng is not installed (no eng.traineddata in EMPTY)"),
])
def test_ocr_option_refused_before_any_work(splitter_exe, tmp_path, options, env, message):
    (tmp_path / "empty").mkdir()
    env = {k: v.replace("EMPTY", str(tmp_path / "empty")) for k, v in env.items()}
    res, events, texts = run(splitter_exe, tmp_path, batch(), 1, options, **env)
    assert res.code == 2 and res.out == "" and events == [] and texts == {}
    assert res.err.startswith("orvaneFun.exe: " + message.replace("EMPTY", str(tmp_path / "empty"))), res.err


def kill_helpers_until_page_1(proc, events):  # this run's helpers only, from its recognition's start
    end = time.monotonic() + 120
    while proc.poll() is None and time.monotonic() < end and 1 not in told(events())[0]:
        if any(e["event"] == "recognising" for e in events()):
            for pid in helpers_of(proc.pid):
                os.kill(pid, signal.SIGKILL)
        time.sleep(0.1)


@pytest.mark.parametrize("during,env", [
    (None, {"ORVANE_HELPER_TEST_OCR": "abort:HARBOUR"}),  # aborts in every helper it is tried in
    (None, {"ORVANE_HELPER_TEST_OCR": "hang:HARBOUR", "ORVANE_HELPER_TEST_OCR_SECONDS": "3"}),  # times out
    (kill_helpers_until_page_1, {}),
])
def test_failed_recognition_costs_that_pages_text_only(splitter_exe, tmp_path, during, env):
    res, events, texts = run(splitter_exe, tmp_path, batch(), 1, ["--ocr", "eng"], during, **env)
    assert res.code == 0 and res.line_for("a.pdf") == LINE.replace("; 2 documents", "; no text: 1; 2 documents")
    assert told(events) == ({1: False, 3: True}, [[1]])
    assert texts["a_001.pdf"].strip() == "" and "PAGE 0003" in texts["a_002.pdf"]
