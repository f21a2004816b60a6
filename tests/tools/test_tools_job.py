"""A job's settings and its runner: the checks against real folders, files and URL databases, the
token's sources, and a job run on its thread that is stopped while a real splitter process runs."""
import os
import shutil
import signal
import subprocess
import threading

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)
from orvane_tools import events, job_settings as js, urldb as urls
from orvane_tools.job_runner import JobRun, splitter_children


@pytest.fixture
def good(tmp_path):
    """Settings that pass every check: real folders, a real program, a URL database with 'commit'."""
    for name in ("src", "dst"):
        (tmp_path / name).mkdir()
    splitter = tmp_path / "orvaneFun.exe"
    shutil.copy(shutil.which("sleep"), str(splitter))
    urls.write_url(str(tmp_path / "url.db"), "http://127.0.0.1:9/commit")
    return dict(source=str(tmp_path / "src"), target=str(tmp_path / "dst"), workers=1, threshold=19,
                splitter=str(splitter), urldb=str(tmp_path / "url.db"))


def _other_endpoint(path):
    os.remove(path)
    urls.write_url(path, "http://127.0.0.1:9/x", name="other")
    return path


@pytest.mark.parametrize("field, bad, status, problem", [
    ("source", lambda p: p + "-gone", 4, "the source folder does not exist: "),
    ("target", lambda p: p + "-gone", 4, "the target folder does not exist: "),
    ("workers", lambda n: 0, 4, "the worker count 0 is out of range: give 1 to "),
    ("workers", lambda n: js.worker_limit() + 1, 4, "the worker count "),
    ("threshold", lambda n: 256, 4, "the threshold 256 is out of range: give 0 to 255"),
    ("splitter", lambda p: p + ".missing", 4, "the splitter program does not exist: "),
    ("urldb", lambda p: p + ".missing", 3, "the URL database does not exist: "),
    ("urldb", lambda p: open(p, "w").write("not SQLite at all, " * 100) and p, 3, " is not a URL database: "),
    ("urldb", _other_endpoint, 3, " registers no 'commit' endpoint"),
])
def test_each_check_refuses_with_its_status(good, field, bad, status, problem):
    js.JobSettings(**good).check()
    settings = js.JobSettings(**dict(good, **{field: bad(good[field])}))
    with pytest.raises(js.Refused) as refused:
        settings.check()
    assert (refused.value.status, refused.value.field) == (status, field)
    assert problem in refused.value.problem


@pytest.mark.parametrize("written, locale_encoding, token", [
    (b"abc.def\n", "ascii", "abc.def"),
    (b"\xef\xbb\xbfabc.def\r\nsecond line\n", "ascii", "abc.def"),   # a byte-order mark (Notepad)
    ("令牌".encode("gbk") + b"\n", "gbk", "令牌"),                     # not UTF-8: the locale's encoding
])
def test_token_file_is_utf8_else_the_locales(tmp_path, monkeypatch, written, locale_encoding, token):
    monkeypatch.setattr(js.locale, "getpreferredencoding", lambda do_setlocale=True: locale_encoding)
    (tmp_path / "token").write_bytes(written)
    assert js.read_token_file(str(tmp_path / "token")) == token


@pytest.mark.parametrize("file_token, given, environ, expected", [
    ("from-file", "given", {js.TOKEN_ENV: "env"}, "from-file"),
    (None, "given", {js.TOKEN_ENV: "env"}, "given"),
    (None, "", {js.TOKEN_ENV: "env"}, "env"),
    (None, "", {}, ""),
])
def test_token_file_then_given_then_environment(tmp_path, file_token, given, environ, expected):
    path = ""
    if file_token:
        path = str(tmp_path / "token")
        (tmp_path / "token").write_text(file_token + "\n")
    assert js.JobSettings(token=given, token_file=path).current_token(environ) == expected


def test_resolved_paths_are_absolute_and_the_splitter_found(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "bin").mkdir()
    shutil.copy(shutil.which("true"), str(tmp_path / "bin" / js.SPLITTER_NAME))
    monkeypatch.setenv("PATH", str(tmp_path / "bin"))
    settings = js.JobSettings(source="s", target="t", splitter="").resolved()
    assert (settings.source, settings.target, settings.urldb) == tuple(
        str(tmp_path / name) for name in ("s", "t", js.URLDB_NAME))
    assert settings.splitter == str(tmp_path / "bin" / js.SPLITTER_NAME)
    assert js.JobSettings(splitter="./x").resolved().splitter == str(tmp_path / "x")


class SplitterController(object):
    """A controller in the module's order: it checks its flag, then (once ``go`` is set) starts the
    real splitter program (here `sleep` under its name) and waits for it."""

    def __init__(self, program, go):
        self.program, self.go, self.run_code = program, go, 1

    def run(self):
        if not self.run_code:
            return
        self.go.wait(30)
        subprocess.call([self.program, "30"])

    def stopCut(self):  # noqa: N802 (the module's name)
        for pid in splitter_children():
            os.kill(pid, signal.SIGTERM)


@pytest.mark.parametrize("stop_when, ending", [
    ("never: the controller cannot be made", "error"),
    ("before the controller is made", "cancelled"),
    ("while the splitter runs", "cancelled"),
    ("after the check, before the splitter starts", "cancelled"),
])
def test_runner_stops_a_job_and_its_late_splitter(good, stop_when, ending):
    go, made = threading.Event(), threading.Event()

    def make():
        made.wait(30)
        if stop_when.startswith("never"):
            raise OSError("no controller")
        return SplitterController(good["splitter"], go)

    with JobRun(make, events_path=True) as run:
        assert os.environ[events.ENV] == run.events_path and os.path.isfile(run.events_path)
        run.start()
        if stop_when.startswith("before"):
            run.stop()
        made.set()
        while stop_when.startswith("after") and run.controller is None:
            run.finished.wait(0.01)
        if stop_when.startswith("after"):
            run.stop()      # nothing to end yet: the splitter starts after the stop
        go.set()
        while stop_when.startswith(("while", "after")) and not splitter_children():
            assert not run.finished.wait(0.01)
        if stop_when.startswith("while"):
            run.stop()
        elif stop_when.startswith("after"):
            assert run.stop_late()
        assert run.finished.wait(10)
    assert events.ENV not in os.environ and not os.path.exists(run.events_path)
    assert run.outcome(SINK)[0] == ending and ("OSError: no controller" in (run.failure or "")) == (ending == "error")


# A sink that saw nothing: the job's end is told by how it was stopped or failed.
SINK = type("Sink", (), dict(check_failure=None, exe_missing=False, refusal=None, splitter_failed=False,
                             splitter_started=False, done=False))()
