"""The window's logic that needs no display: the sink's hand-over to the UI thread, reading the
splitter's events, and the remembered settings (never the token)."""
import json
import os
import threading

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)
from orvane_tools import events, handover, settings

TOKEN = "eyJhbGciOiJIUzI1NiJ9.secret-token-value.sig"


class TestHandover:
    def test_messages_cross_to_the_ui_thread_in_order_with_the_token_hidden(self):
        sink, messages = handover.make_sink(TOKEN)

        def job():
            sink.mainPrint("开始执行")
            sink.mainPrint(TOKEN)                                  # the module reports the token itself
            sink.mainPrint("refused: token {} expired".format(TOKEN))
            sink.mainPrint("a.pdf: 3 pages\n")
            sink.mainPrint("warning", "切分隔页的exe不存在")
            sink.mainPrint("执行完成")

        worker = threading.Thread(target=job)
        worker.start()
        worker.join(10)

        taken = messages.take()
        assert taken == ["开始执行", "login token: <hidden, {} characters>".format(len(TOKEN)),
                         "refused: token <hidden> expired", "a.pdf: 3 pages", "warning: 切分隔页的exe不存在",
                         "执行完成"]
        assert messages.take() == []         # nothing waits: the UI thread never blocks
        assert sink.done and sink.exe_missing

    @pytest.mark.parametrize("message, what, fix_names", [
        (("原PDF文件路径不存在",), "the source folder does not exist", "Source folder"),
        (("存在PDF文件包含空格，请修改后再次输入",), "some PDF file names have a blank before .pdf", ".pdf"),
        (("登录信息的Token过期",), "the announcement service refused the login token", "Login token"),
        (("请求网页失败",), "the announcement service could not be reached", "service"),
        (("保存URl表不存在",), "the URL database does not exist", "URL database"),
        (("warning", "切分隔页的exe不存在"), "the splitter program does not exist", "Splitter"),
        (("执行完成",), None, None),
    ])
    def test_refusals_name_what_to_fix(self, message, what, fix_names):
        sink, _ = handover.make_sink(TOKEN)
        sink.mainPrint(*message)
        found = handover.refusal(sink)
        assert (found is None) if what is None else (found[0] == what and fix_names in found[1])


@pytest.mark.parametrize("place", ["watch log", "window watch reports"])
@pytest.mark.parametrize("text", [TOKEN, "token {} refused".format(TOKEN), "{0}|{0}".format(TOKEN)])
def test_the_token_is_hidden_wherever_it_stands(place, text, caplog):
    from orvane_tools import watch

    caplog.set_level("INFO", logger=watch.LOG.name)
    if place == "watch log":
        watch.WatchSink(watch._LogStream("[batch.pdf] "), TOKEN).mainPrint(text)
        lines = caplog.messages
    else:
        reports = handover.WatchReports(TOKEN)
        reports.on_state(text)
        lines = [shown for _kind, shown in reports.take()]
    assert lines and all(TOKEN not in line and "<hidden" in line for line in lines), lines


def _lines(*evs):
    return "".join(json.dumps(e, ensure_ascii=False) + "\n" for e in evs).encode("utf-8")


class TestEvents:
    def test_tail_takes_whole_lines_only(self, tmp_path):
        path = tmp_path / "ev.jsonl"
        path.write_bytes(b"")
        tail = events.EventTail(str(path))
        whole = _lines({"event": "start", "files": ["合同.pdf"], "source": "/s", "target": "/t"})
        with open(str(path), "ab") as fh:
            fh.write(whole + b'{"event":"pages","file":"\xe5\x90')   # a line still being written
        assert [e["event"] for e in tail.poll()] == ["start"]
        with open(str(path), "ab") as fh:
            fh.write(b'\x88\xe5\x90\x8c.pdf","pages":4}\nnot json\n')
        assert tail.poll() == [{"event": "pages", "file": "合同.pdf", "pages": 4}]
        assert tail.poll() == []

    THREE = {"event": "start", "files": ["a.pdf", "b.pdf", "c.pdf"]}
    BIG_FIRST = [(100.0, THREE), (100.0, {"event": "pages", "file": "a.pdf", "pages": 800}),
                 (102.0, {"event": "looked", "file": "a.pdf", "pages": 24}),
                 (102.0, {"event": "looked", "file": "a.pdf", "pages": 24})]
    TOLD = [(102.0, {"event": "pages", "file": "b.pdf", "pages": 40}),
            (102.0, {"event": "not split", "file": "b.pdf", "reason": "encrypted"}),
            (102.0, {"event": "pages", "file": "c.pdf", "pages": 60}),
            (102.0, {"event": "total", "pages": 900})]

    @pytest.mark.parametrize("timed, total, text", [
        ([(100.0, THREE)], None, "opening the files, 0 of 3 files"),
        # A large first file says nothing of the others: pages done, no total, no time left.
        (BIG_FIRST, None, "48 pages done, 0 of 3 files, 24 pages/s"),
        # A file given up counts whole (it needs no more work); the total comes from the splitter.
        (BIG_FIRST + TOLD, 900, "88 of 900 pages, 1 of 3 files, 44 pages/s"),
        # Time left: the work left (looking, then writing a quarter as long again) at the pace kept
        # since the total came: (1.25 * 900 - 146) / (48 / 2 s).
        (BIG_FIRST + TOLD + [(104.0, {"event": "looked", "file": "a.pdf", "pages": 48})],
         900, "136 of 900 pages, 1 of 3 files, 34 pages/s, 0:41 left"),
        ([(0.0, {"event": "start", "files": ["a.pdf"]}), (0.0, {"event": "pages", "file": "a.pdf", "pages": 1}),
          (0.0, {"event": "total", "pages": 1}), (1.0, {"event": "looked", "file": "a.pdf", "pages": 1})],
         1, "1 of 1 page, 0 of 1 file, 1 pages/s"),
    ])
    def test_progress_from_events(self, timed, total, text):
        now = [0.0]
        record = events.JobRecord(clock=lambda: now[0])
        for now[0], event in timed:
            record.apply(event)
        assert record.pages_total() == total
        assert record.progress_text() == text

    def test_review_records(self):
        record = events.JobRecord().apply_all([
            {"event": "start", "files": ["a.pdf", "b.pdf", "c.pdf"], "source": "/s", "target": "/t"},
            {"event": "page", "file": "a.pdf", "page": 1, "verdict": "page", "share": 0.0, "unsure": False},
            {"event": "page", "file": "a.pdf", "page": 2, "verdict": "separator", "share": 0.97,
             "unsure": False},
            {"event": "page", "file": "a.pdf", "page": 3, "verdict": "page", "share": 0.88, "unsure": True},
            {"event": "file", "file": "a.pdf", "pages": 3, "folder": "a",
             "documents": [{"name": "a_001.pdf", "first": 1, "last": 1},
                           {"name": "a_002.pdf", "first": 3, "last": 3}]},
            {"event": "not split", "file": "b.pdf", "reason": "damaged"},
        ])
        a, b = record.file_records()     # c.pdf never finished: not shown
        assert (a.pages, a.verdicts, a.unsure, a.folder) == (3, ["page", "separator", "page"], [3], "a")
        assert [tuple(d)[:3] for d in a.documents] == [("a_001.pdf", 1, 1), ("a_002.pdf", 3, 3)]
        assert (b.reason, b.documents) == ("damaged", [])

    def test_latest_record_for_a_target_folder(self, tmp_path):
        jobs = tmp_path / "jobs"
        jobs.mkdir()
        for name, target, when in (("1", "/t/one", 10), ("2", "/t/two", 20), ("3", "/t/one", 30), ("4", "/t/one", 5)):
            (jobs / name).write_bytes(_lines({"event": "start", "target": target, "files": []}))
            os.utime(str(jobs / name), (when, when))
        assert events.latest_record_for("/t/one", str(jobs)) == str(jobs / "3")
        assert events.latest_record_for("/t/none", str(jobs)) is None


class TestSettings:
    def test_token_never_stored(self, tmp_path):
        path = str(tmp_path / "cfg" / "gui.json")
        settings.save({"source": "/扫描/in", "target": "/out", "workers": 3, "token": TOKEN,
                       "login_token": TOKEN}, path)
        text = open(path, encoding="utf-8").read()
        assert TOKEN not in text
        assert settings.load(path) == {"source": "/扫描/in", "target": "/out", "workers": 3}

    def test_unknown_keys_and_broken_files_are_ignored(self, tmp_path):
        path = tmp_path / "gui.json"
        path.write_text(json.dumps({"target": "/t", "token": TOKEN}))
        assert settings.load(str(path)) == {"target": "/t"}
        path.write_text("{not json")
        assert settings.load(str(path)) == {}
