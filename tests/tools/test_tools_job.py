"""A job's settings and its runner: where the login token comes from, and a job run on its thread
that is stopped before and after a real splitter process starts."""
import os
import shutil
import signal
import subprocess
import threading

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)
from orvane_tools import events, job_settings as js
from orvane_tools.job_runner import JobRun, splitter_children


@pytest.mark.parametrize("written, given, environ, token", [
    (b"abc.def\n", "given", {js.TOKEN_ENV: "env"}, "abc.def"),            # the file first
    (b"\xef\xbb\xbfabc.def\r\nmore\n", "", {}, "abc.def"),             # a byte-order mark (Notepad)
    ("令牌".encode("gbk") + b"\n", "", {}, "令牌"),                         # not UTF-8: the locale's encoding
    (None, "given", {js.TOKEN_ENV: "env"}, "given"),
    (None, "", {js.TOKEN_ENV: "env"}, "env"),
])
def test_token_from_file_then_given_then_environment(tmp_path, monkeypatch, written, given, environ, token):
    monkeypatch.setattr(js.locale, "getpreferredencoding", lambda do_setlocale=True: "gbk")
    if written:
        (tmp_path / "token").write_bytes(written)
    settings = js.JobSettings(token=given, token_file=str(tmp_path / "token") if written else "")
    assert settings.current_token(environ) == token


class SplitterController(object):
    """The module's order: its flag checked, then (on ``go``) the splitter started (`sleep` renamed)."""

    def __init__(self, program):
        self.program, self.run_code = program, 1
        self.checked, self.go = threading.Event(), threading.Event()

    def run(self):
        if self.run_code:
            self.checked.set()
            self.go.wait(30)
            subprocess.call([self.program, "30"])

    def stopCut(self):  # noqa: N802 (the module's name)
        for pid in splitter_children():
            os.kill(pid, signal.SIGTERM)


@pytest.mark.parametrize("stop, ending", [
    (None, "error"),                    # the controller cannot be made
    ("before it is made", "cancelled"),
    ("after its check", "cancelled"),   # the splitter starts after the stop: ended late
])
def test_runner_stops_a_job_and_its_late_splitter(tmp_path, stop, ending):
    program, made = str(tmp_path / js.SPLITTER_NAME), threading.Event()
    shutil.copy(shutil.which("sleep"), program)
    controller = SplitterController(program)

    def make():
        made.wait(30)
        return controller if stop else open(program + ".gone")

    with JobRun(make, events_path=True) as run:
        assert run.environ[events.ENV] == run.events_path and os.path.isfile(run.events_path)
        run.start()
        if stop == "before it is made":
            run.stop()
        made.set()
        if stop == "after its check":
            assert controller.checked.wait(10)
            run.stop()  # nothing to end yet
            controller.go.set()
            while not splitter_children():
                assert not run.finished.wait(0.01)
        assert run.stop_late() == (stop == "after its check")
        assert run.finished.wait(10)
    assert events.ENV not in os.environ and not os.path.exists(run.events_path)
    # (A stopped or failed job's ending needs nothing its sink noted.)
    assert run.outcome(None)[0] == ending and ("FileNotFoundError" in (run.failure or "")) == (stop is None)
