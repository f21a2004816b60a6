"""The message rule, seen through the token checks: a true `communication` gets every value on
its mainPrint, anything false (None, 0, "", False, a falsy object) sends the value to standard
output, and the attribute is tested afresh for every report, so a sink swapped or cleared while a
call runs takes effect at the next report. The failure path makes one truth test for its two
reports.
"""
import os
import subprocess
import sys
import textwrap

import pytest

from fixtures.token_service import OMIT, TOKEN, FalsySink, Sink, make_url_db, url_db

METHODS = ["checkToken", "checkToken1"]
FAILED = "请求网页失败"
EXPIRED = "登录信息的Token过期"
UPDATED = "更新成功"
NO_DB = "保存URl表不存在"
REPLY = "回复正文 ok"


def check(ctrl, method):
    return getattr(ctrl, method)(3, "获取隔页")


def lines(text):
    return text.split("\n")[:-1] if text.endswith("\n") else text.split("\n")


class _Out(object):
    """A stand-in standard output that can act when a given text is written."""

    def __init__(self, trigger=None, action=None):
        self.parts = []
        self.trigger = trigger
        self.action = action

    def write(self, text):
        self.parts.append(text)
        if self.action is not None and text == self.trigger:
            action, self.action = self.action, None
            action()
        return len(text)

    def flush(self):
        pass

    @property
    def text(self):
        return "".join(self.parts)


@pytest.mark.parametrize("method", METHODS)
class TestRecordingSink:
    def test_each_value_is_one_positional_argument(self, method, make_ctrl, token_server, commit_db, pauses):
        token_server.reply_text = REPLY
        token = "".join(["tok-", "one-object"])  # a token object of its own, to check identity
        sink = Sink()
        ctrl = make_ctrl(urldb=commit_db, token=token, communication=sink)
        check(ctrl, method)
        assert all(len(args) == 1 for args in sink.calls)
        assert sink.reports[0] is token
        expected = [token, REPLY, UPDATED] if method == "checkToken" else [token, UPDATED]
        assert sink.reports == expected

    def test_nothing_is_printed_while_a_sink_is_set(self, method, make_ctrl, token_server, commit_db, tmp_path,
                                                    pauses, capsys):
        ctrl = make_ctrl(urldb=commit_db)
        token_server.script([500] * 4)
        check(ctrl, method)
        ctrl.urldb = str(tmp_path / "absent.db")
        check(ctrl, method)
        ctrl.urldb = make_url_db(tmp_path / "bad.db", None, table=None)
        check(ctrl, method)
        out, err = capsys.readouterr()
        assert out == "" and err == ""
        assert EXPIRED in ctrl.communication.reports
        assert NO_DB in ctrl.communication.reports
        assert ctrl.communication.reports[-2] == FAILED


FALSY = {
    "None": lambda: None,
    "zero": lambda: 0,
    "empty text": lambda: "",
    "False": lambda: False,
    "falsy sink": FalsySink,
    "constructor default": lambda: OMIT,
}


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("kind", sorted(FALSY))
class TestPrintFallback:
    def _ctrl(self, make_ctrl, kind, **settings):
        communication = FALSY[kind]()
        ctrl = make_ctrl(communication=communication, **settings)
        return ctrl, communication

    def _untouched(self, communication):
        if isinstance(communication, FalsySink):
            assert communication.calls == []

    def test_accepted(self, method, kind, make_ctrl, token_server, commit_db, pauses, capsys):
        token_server.reply_text = REPLY
        ctrl, comm = self._ctrl(make_ctrl, kind, urldb=commit_db)
        assert check(ctrl, method) is None
        out, err = capsys.readouterr()
        expected = [TOKEN, REPLY, UPDATED] if method == "checkToken" else [TOKEN, UPDATED]
        assert lines(out) == expected
        assert err == ""
        self._untouched(comm)

    def test_expired(self, method, kind, make_ctrl, token_server, commit_db, pauses, capsys):
        token_server.script([(500, "refused")] * 4)
        ctrl, comm = self._ctrl(make_ctrl, kind, urldb=commit_db)
        check(ctrl, method)
        out, _ = capsys.readouterr()
        expected = [TOKEN, "refused", EXPIRED] if method == "checkToken" else [TOKEN, EXPIRED]
        assert lines(out) == expected
        assert ctrl.run_code == 0
        self._untouched(comm)

    def test_missing_database(self, method, kind, make_ctrl, tmp_path, pauses, capsys):
        ctrl, comm = self._ctrl(make_ctrl, kind, urldb=str(tmp_path / "absent.db"))
        assert check(ctrl, method) is False
        out, _ = capsys.readouterr()
        assert out == NO_DB + "\n"
        self._untouched(comm)

    def test_failure_prints_the_exception_text(self, method, kind, make_ctrl, tmp_path, pauses, capsys):
        ctrl, comm = self._ctrl(make_ctrl, kind, urldb=make_url_db(tmp_path / "url.db", None, table=None))
        assert check(ctrl, method) is None
        out, _ = capsys.readouterr()
        assert lines(out) == [TOKEN, FAILED, "no such table: urldb"]
        assert ctrl.run_code == 0
        self._untouched(comm)


@pytest.mark.parametrize("method", METHODS)
class TestSinkChangedDuringACall:
    def test_replaced_while_the_request_is_served(self, method, make_ctrl, token_server, commit_db, pauses):
        token_server.reply_text = REPLY
        first, second = Sink(), Sink()
        ctrl = make_ctrl(urldb=commit_db, communication=first)
        token_server.on_request = lambda rec: setattr(ctrl, "communication", second)
        check(ctrl, method)
        assert first.reports == [TOKEN]
        assert second.reports == ([REPLY, UPDATED] if method == "checkToken" else [UPDATED])
        assert token_server.hook_errors == []

    def test_cleared_while_the_request_is_served(self, method, make_ctrl, token_server, commit_db, pauses,
                                                 capsys):
        token_server.reply_text = REPLY
        first = Sink()
        ctrl = make_ctrl(urldb=commit_db, communication=first)
        token_server.on_request = lambda rec: setattr(ctrl, "communication", None)
        check(ctrl, method)
        assert first.reports == [TOKEN]
        out, _ = capsys.readouterr()
        assert lines(out) == ([REPLY, UPDATED] if method == "checkToken" else [UPDATED])

    def test_set_while_the_request_is_served(self, method, make_ctrl, token_server, commit_db, pauses, capsys):
        token_server.reply_text = REPLY
        sink = Sink()
        ctrl = make_ctrl(urldb=commit_db, communication=None)
        token_server.on_request = lambda rec: setattr(ctrl, "communication", sink)
        check(ctrl, method)
        out, _ = capsys.readouterr()
        assert lines(out) == [TOKEN]
        assert sink.reports == ([REPLY, UPDATED] if method == "checkToken" else [UPDATED])

    def test_replaced_during_a_pause(self, method, make_ctrl, token_server, commit_db, pauses):
        token_server.script([(500, "refused")] * 4)
        first, second = Sink(), Sink()
        ctrl = make_ctrl(urldb=commit_db, communication=first)

        def swap(seconds):
            if len(pauses.sleeps) == 3:
                ctrl.communication = second

        pauses.on_sleep = swap
        check(ctrl, method)
        assert first.reports == ([TOKEN, "refused"] if method == "checkToken" else [TOKEN])
        assert second.reports == [EXPIRED]

    def test_sink_hands_over_to_another_sink(self, method, make_ctrl, token_server, commit_db, pauses):
        second = Sink()
        ctrl = make_ctrl(urldb=commit_db)
        first = ctrl.communication
        first.on_report = lambda value: setattr(ctrl, "communication", second)
        check(ctrl, method)
        assert first.reports == [TOKEN]
        assert second.reports[-1] == UPDATED
        assert len(second.reports) == (2 if method == "checkToken" else 1)

    def test_failure_reports_share_one_truth_test(self, method, make_ctrl, tmp_path, closed_port_url, pauses,
                                                  monkeypatch):
        # Standard output was chosen for the failure message, so the exception text follows it
        # there, even though a sink appears in between.
        sink = Sink()
        ctrl = make_ctrl(urldb=url_db(tmp_path, closed_port_url), communication=None)
        out = _Out(trigger=FAILED, action=lambda: setattr(ctrl, "communication", sink))
        monkeypatch.setattr(sys, "stdout", out)
        check(ctrl, method)
        monkeypatch.undo()
        printed = lines(out.text)
        assert printed[:2] == [TOKEN, FAILED]
        assert len(printed) == 3
        assert closed_port_url.split(":")[2].split("/")[0] in printed[2]
        assert sink.calls == []
        assert ctrl.run_code == 0

    def test_ordinary_reports_test_afresh(self, method, make_ctrl, token_server, commit_db, pauses, monkeypatch):
        # The same hand-over outside the failure path takes effect at the very next report.
        sink = Sink()
        ctrl = make_ctrl(urldb=commit_db, communication=None)
        out = _Out(trigger=TOKEN, action=lambda: setattr(ctrl, "communication", sink))
        monkeypatch.setattr(sys, "stdout", out)
        check(ctrl, method)
        monkeypatch.undo()
        assert lines(out.text) == [TOKEN]
        assert sink.reports[-1] == UPDATED


@pytest.mark.parametrize("method", METHODS)
def test_true_communication_without_mainprint(method, make_ctrl, token_server, commit_db, pauses, capsys):
    # A true value is taken for a sink: its missing mainPrint fails the token report, and the
    # failure report through the same object fails again and reaches the caller.
    ctrl = make_ctrl(urldb=commit_db, communication="not a sink")
    with pytest.raises(AttributeError):
        check(ctrl, method)
    out, _ = capsys.readouterr()
    assert out == ""
    assert token_server.requests == []


PRINT_KEPT = textwrap.dedent("""
    import builtins, json, sys
    import Orvane

    got = []
    real_print = builtins.print
    def first_print(*args, **kwargs):
        got.append(("first", args))
    def later_print(*args, **kwargs):
        got.append(("later", args))
    Orvane.print = lambda *a, **k: got.append(("namespace", a))

    ctrl = Orvane.orvaneClass("s", "d", 1, 19, "tok", sys.argv[1], "exe")
    builtins.print = first_print
    ctrl.checkToken(3, "x")
    builtins.print = later_print
    ctrl.checkToken1(3, "x")
    builtins.print = real_print
    ctrl.checkToken(3, "x")
    sys.stdout.write(json.dumps(got))
""")


def test_print_is_taken_from_builtins_at_first_use_and_kept(tmp_path):
    # Needs a fresh interpreter: the first print report of the process is the one that counts.
    script = tmp_path / "print_kept.py"
    script.write_text(PRINT_KEPT)
    proc = subprocess.run([sys.executable, str(script), str(tmp_path / "absent.db")],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60,
                          cwd=str(tmp_path))
    assert proc.returncode == 0, proc.stderr.decode("utf-8", "replace")
    import json
    got = json.loads(proc.stdout.decode("utf-8"))
    assert got == [["first", [NO_DB]]] * 3
