"""Hostile input: what a user's folders, a front end's sink, odd settings, a broken URL database, a
misbehaving service, a misbehaving splitter and rebound module names can do to a job.

What every case expects: the documented message or exception, never a crash, never a wait beyond
the time-outs, and nothing deleted from the save folder that was there before the job.

Each case runs in a forked child process (``isolated``): a crash of the module (a segfault, an
abort) then fails that one test with the signal's name instead of ending the whole run, and a hang
is cut off and reported. The child builds its own parts: folders under the test's temporary
directory, a token service on 127.0.0.1, a URL database, and the real orvaneFun.exe stand-in,
started by the module through the shell. The child works in its own temporary directory (the job
makes "database" and "logging" in the working directory).
"""
import io
import json
import os
import pickle
import select
import signal
import socket
import sqlite3
import sys
import threading
import time
import traceback

import pytest

from fixtures.standin import STANDIN_ENV, Script, StandIn
from fixtures.token_service import (
    TOKEN, CUT, Sink, SinkError, TokenServer, make_url_db, open_handles, url_db,
)

DONE = "执行完成"
UPDATED = "更新成功"
FAILED_REQUEST = "请求网页失败"
JOB_REFUSED = "程序执行报错"
STAGE_FAILED = "执行exe文件报错"
START_EXE = "执行隔页exe\n"
EXE_INFO = "执行exe信息"
SRC_MISSING = "原PDF文件路径不存在"
SAVE_MISSING = "保存文件隔页位置不存在"
SRC_QUOTE = "源文件路径包含英文的双引号"
TOO_LONG = " \n路径过长"

CHILD_TIMEOUT = 60.0


# --------------------------------------------------------------------------------------------
# Running a case in a child process


def isolated(body, *args, **kwargs):
    """Runs ``body(*args, **kwargs)`` in a forked child; returns its (picklable) result.

    A child killed by a signal or still running after ``timeout`` seconds fails the test; an
    exception in the child fails it with the child's traceback.
    """
    timeout = kwargs.pop("timeout", CHILD_TIMEOUT)
    read_end, write_end = os.pipe()
    sys.stdout.flush()
    sys.stderr.flush()
    pid = os.fork()
    if pid == 0:  # the child
        status = 1
        try:
            os.close(read_end)
            try:
                payload = pickle.dumps(("ok", body(*args, **kwargs)))
                status = 0
            except BaseException:
                payload = pickle.dumps(("error", traceback.format_exc()))
            with os.fdopen(write_end, "wb") as out:
                out.write(payload)
            sys.stdout.flush()
            sys.stderr.flush()
        finally:
            os._exit(status)
    os.close(write_end)
    chunks = []
    deadline = time.monotonic() + timeout
    hung = False
    with os.fdopen(read_end, "rb") as inp:
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                hung = True
                break
            ready, _, _ = select.select([inp], [], [], min(left, 1.0))
            if ready:
                chunk = os.read(inp.fileno(), 1 << 20)
                if not chunk:
                    break
                chunks.append(chunk)
    if hung:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        pytest.fail("the case did not end within %.0f s (a hang)" % timeout)
    _, status = os.waitpid(pid, 0)
    if os.WIFSIGNALED(status):
        sig = os.WTERMSIG(status)
        pytest.fail("the case crashed the interpreter: killed by signal %d (%s)"
                    % (sig, signal.Signals(sig).name))
    if not chunks:
        pytest.fail("the child ended (status %r) without a result" % (status,))
    kind, value = pickle.loads(b"".join(chunks))
    if kind == "error":
        pytest.fail("in the child process:\n" + value, pytrace=False)
    return value


class _Env(object):
    """What StandIn needs of monkeypatch, for use inside the child."""

    def setenv(self, name, value):
        os.environ[name] = value


class Job(object):
    """One job's parts, made inside the child: folders, markers, service, URL database, stand-in.

    The save folder is given marker folders before the job (with content, one with a hostile
    name); ``markers_intact()`` tells whether all of them and their content survived.
    """

    def __init__(self, root, exe, src_name="src", save_name="save", server=True, marker_name=None):
        self.root = str(root)
        os.chdir(self.root)
        self.src = os.path.join(self.root, src_name)
        self.save = os.path.join(self.root, save_name)
        os.makedirs(self.src, exist_ok=True)
        os.makedirs(self.save, exist_ok=True)
        self.markers = []
        for name in ["kept", "kept two", marker_name or "kept $(x) `y` \"q\""]:
            folder = os.path.join(self.save, name)
            os.makedirs(os.path.join(folder, "inner"), exist_ok=True)
            with open(os.path.join(folder, "inner", "data.bin"), "wb") as fh:
                fh.write(b"existing output")
            self.markers.append(folder)
        self.server = TokenServer() if server else None
        self.urldb = url_db(self.root, self.server.commit_url) if server else os.path.join(
            self.root, "no-url.db")
        records = os.path.join(self.root, "standin")
        os.makedirs(records, exist_ok=True)
        self.standin = StandIn(exe, records, _Env())
        self.standin.configure()
        self.sink = Sink()

    def ctl(self, **settings):
        from Orvane import orvaneClass
        return orvaneClass(settings.pop("src_pdf_path", self.src),
                           settings.pop("save_pic_path", self.save),
                           settings.pop("processors", 1),
                           settings.pop("COLOR_THRESHHOLD", 19),
                           settings.pop("LoginToken", TOKEN),
                           settings.pop("urldb", self.urldb),
                           settings.pop("PdfExePath", self.standin.exe),
                           settings.pop("communication", self.sink))

    def markers_intact(self):
        for folder in self.markers:
            path = os.path.join(folder, "inner", "data.bin")
            if not os.path.isfile(path):
                return False
            with open(path, "rb") as fh:
                if fh.read() != b"existing output":
                    return False
        return True

    def requests(self):
        return [json.loads(r.body.decode("utf-8")) for r in self.server.requests]

    def stop(self):
        if self.server is not None:
            self.server.stop()


def tb_entries(exc):
    out = []
    tb = exc.__traceback__
    while tb is not None:
        out.append((tb.tb_frame.f_code.co_name, tb.tb_lineno))
        tb = tb.tb_next
    return out


def orvane_entries(exc):
    return [e for e in tb_entries(exc) if e[0].startswith("Orvane.")]


def quiet_stderr():
    """Tracebacks the module prints on purpose would flood the output: keep them in memory."""
    buf = io.StringIO()
    sys.stderr = buf
    return buf


# --------------------------------------------------------------------------------------------
# Folder names


SHELL_NAMES = [
    "dollar $(touch {marker})",
    "backquote `touch {marker}`",
    "var ${{HOME}} and $HOME",
    "new\nline",
    "percent 100% %PATH% %%",
    "single 'quote' it's",
    "back\\slash and trailing\\",
    "semi; amp & pipe | gt > lt <",
    "tab\tand\x01control",
]
SHELL_IDS = ["dollar-paren", "backquote", "dollar-var", "newline", "percent", "single-quote",
             "backslash", "shell-operators", "control-chars"]


def _job_with_names(root, exe, name):
    # A relative marker keeps each name one folder deep; the shell would run in the job's folder.
    marker = os.path.join(str(root), "MARKER")
    label = name.format(marker="MARKER")
    job = Job(root, exe, src_name="src " + label, save_name="save " + label,
              marker_name="old " + label)
    try:
        exe_copy = job.standin.install(os.path.join(job.root, "bin " + label))
        job.standin.configure(mkdirs=["new " + label, "new " + label + "/part"], out="made\n")
        ctl = job.ctl(PdfExePath=exe_copy)
        assert ctl.run() is None
        assert job.standin.argv() == [exe_copy, job.src, job.save, "1", "19"]
        assert job.sink.reports[-3:] == [DONE, TOKEN, UPDATED], job.sink.reports
        assert os.path.join(job.save, "old " + label) in ctl.oldDir
        created = os.path.join(job.save, "new " + label)
        assert os.path.isdir(created)
        # The stop compares the snapshots by exact path text: the new folder goes, the old stay.
        assert ctl.stopCut() is None
        assert not os.path.exists(created)
        assert job.sink.reports[-1] == {created}
        assert job.markers_intact()
        # No name was run as a command.
        assert not os.path.exists(marker)
        assert not [n for n in os.listdir(job.root) if n.startswith("MARKER")]
    finally:
        job.stop()


@pytest.mark.parametrize("name", SHELL_NAMES, ids=SHELL_IDS)
def test_shell_characters_in_every_path_through_a_job_and_a_stop(name, tmp_path, standin_exe):
    isolated(_job_with_names, tmp_path, standin_exe, name)


def _quote_only_in_the_executable_path(root, exe):
    job = Job(root, exe)
    try:
        # The job entry refuses a double quote in the two folders, not in the executable's path.
        exe_copy = job.standin.install(os.path.join(job.root, 'bin "quoted" $(x)'))
        ctl = job.ctl(PdfExePath=exe_copy)
        assert ctl.run() is None
        assert job.standin.argv() == [exe_copy, job.src, job.save, "1", "19"]
        # And a quote in a folder stops the job before anything runs or is asked.
        quoted_src = os.path.join(job.root, 'src "q"')
        os.makedirs(quoted_src)
        sink = Sink()
        requests_before = len(job.server.requests)
        job.standin.configure()
        assert job.ctl(src_pdf_path=quoted_src, communication=sink).run() is None
        assert sink.reports == [SRC_QUOTE]
        assert not job.standin.ran() and len(job.server.requests) == requests_before
        assert job.markers_intact()
    finally:
        job.stop()


def test_double_quotes(tmp_path, standin_exe):
    isolated(_quote_only_in_the_executable_path, tmp_path, standin_exe)


def _non_utf8_names(root, exe):
    if sys.getfilesystemencoding().lower() not in ("utf-8", "utf8"):
        return "skip"
    src_name = os.fsdecode(b"src-\xff\xfe-\xc3(")
    save_name = os.fsdecode(b"save-\xe9t\xe9")
    marker = os.fsdecode(b"old-\x80\x81")
    job = Job(root, exe, src_name=src_name, save_name=save_name, marker_name=marker)
    try:
        exe_copy = job.standin.install(os.path.join(job.root, os.fsdecode(b"bin-\xfa")))
        new = os.fsdecode(b"new-\xfe\xff")
        job.standin.configure(mkdirs=[new])
        with open(os.path.join(job.src, os.fsdecode(b"scan-\xb0.pdf")), "wb") as fh:
            fh.write(b"%PDF-1.4\n")
        ctl = job.ctl(PdfExePath=exe_copy)
        assert ctl.run() is None
        # The splitter receives the very bytes of the names.
        assert [os.fsencode(a) for a in job.standin.argv()] == [
            os.fsencode(exe_copy), os.fsencode(job.src), os.fsencode(job.save), b"1", b"19"]
        # The announcement reports three values, then the job driver the two folders as given.
        assert job.sink.reports[3:5] == [job.src, job.save]
        assert job.sink.reports[-3:] == [DONE, TOKEN, UPDATED]
        assert ctl.stopCut() is None
        assert not os.path.exists(os.path.join(job.save, new))
        assert job.markers_intact()

        # The name check reports a refused name that is not valid UTF-8 as it is.
        bad = os.fsdecode(b"\xff\xfe .pdf")
        with open(os.path.join(job.src, bad), "wb") as fh:
            fh.write(b"%PDF-1.4\n")
        sink = Sink()
        assert job.ctl(communication=sink).run() is None
        assert sink.reports == ["pdf文件：" + bad + "。包含空格\n", "存在PDF文件包含空格，请修改后再次输入"]
        return "ran"
    finally:
        job.stop()


def test_names_that_are_not_utf8(tmp_path, standin_exe):
    if isolated(_non_utf8_names, tmp_path, standin_exe) == "skip":
        pytest.skip("file names are not decoded as UTF-8 here")


def _long_paths(root, exe):
    job = Job(root, exe)
    try:
        # A deep tree: the whole path far beyond 259 characters, within the system's limit.
        deep = job.src
        while len(os.fsencode(deep)) < 3500:
            deep = os.path.join(deep, "层" * 80)  # 240 bytes a component, 80 characters
        os.makedirs(deep)
        longest = os.path.join(deep, "名" * 80 + ".pdf")  # 255 bytes: the longest name allowed
        with open(longest, "wb") as fh:
            fh.write(b"%PDF-1.4\n")
        ctl = job.ctl()
        assert ctl.run() is None
        assert longest + TOO_LONG in job.sink.reports
        assert job.standin.argv() == [job.standin.exe, job.src, job.save, "1", "19"]
        assert job.sink.reports[-3:] == [DONE, TOKEN, UPDATED]

        # Folders beyond the system's path limit do not exist for the job entry.
        far = job.src + "/" + "/".join(["x" * 200] * 25)
        assert len(os.fsencode(far)) > 4096
        sink = Sink()
        requests_before = len(job.server.requests)
        assert job.ctl(src_pdf_path=far, communication=sink).run() is None
        assert sink.reports == [SRC_MISSING]
        sink = Sink()
        assert job.ctl(save_pic_path=far, communication=sink).run() is None
        assert sink.reports == [SAVE_MISSING]
        # A name beyond the limit of one component.
        sink = Sink()
        assert job.ctl(src_pdf_path=os.path.join(job.root, "n" * 300), communication=sink).run() is None
        assert sink.reports == [SRC_MISSING]
        assert len(job.server.requests) == requests_before
        assert job.markers_intact()
    finally:
        job.stop()


def test_very_long_paths(tmp_path, standin_exe):
    isolated(_long_paths, tmp_path, standin_exe)


def _nul_in_paths(root, exe):
    job = Job(root, exe, server=False)
    sink = Sink()
    outcome = []
    for setting in ("src_pdf_path", "save_pic_path"):
        ctl = job.ctl(communication=sink, **{setting: job.src + "\0tail"})
        try:
            ctl.run()
            outcome.append(("returned", list(sink.reports)))
        except ValueError as exc:
            outcome.append(("ValueError", str(exc)))
        del sink.reports[:]
    assert job.markers_intact()
    assert not job.standin.ran()
    return outcome


def test_nul_character_in_a_folder_path(tmp_path, standin_exe):
    outcome = isolated(_nul_in_paths, tmp_path, standin_exe)
    if sys.version_info >= (3, 8):
        # os.path.isdir answers False for a path the system cannot take.
        assert outcome == [("returned", [SRC_MISSING]), ("returned", [SAVE_MISSING])]
    else:
        # 3.7's os.path.isdir lets the ValueError through; run catches nothing.
        assert [kind for kind, _ in outcome] == ["ValueError", "ValueError"]
        assert all("null" in text for _, text in outcome)


# --------------------------------------------------------------------------------------------
# The message sink


class Interrupt(BaseException):
    pass


class FailingAt(Sink):
    """Fails on call number ``at`` (0-based) with ``error``; records every call."""

    def __init__(self, at, error):
        Sink.__init__(self)
        self.at = at
        self.error = error

    def mainPrint(self, *args):
        number = len(self.calls)
        self.calls.append(args)
        if number == self.at:
            raise self.error("sink failed on call %d" % number)
        self.reports.append(args[0] if len(args) == 1 else args)


def _sink_failing_at_each_report(root, exe, error):
    job = Job(root, exe)
    err = quiet_stderr()
    try:
        job.standin.configure(mkdirs=["new"], out=["one\n", "two\n"])
        clean = Sink()
        job.ctl(communication=clean).run()
        total = len(clean.calls)
        assert total >= 10, clean.reports
        outcomes = []
        for at in range(total + 1):
            job.standin.configure(mkdirs=["new-%d" % at], out=["one\n", "two\n"])
            sink = FailingAt(at, error)
            ctl = job.ctl(communication=sink)
            try:
                result = ctl.run()
                outcomes.append((at, "returned"))
                assert result is None
            except error as exc:
                outcomes.append((at, "raised"))
                # It left through the module's own code, which added its entries.
                assert orvane_entries(exc), tb_entries(exc)
            assert ctl.run_code in (0, 1)
            # The stop still works on whatever the failed job left.
            assert ctl.stopCut() is None
            assert job.markers_intact(), "call %d" % at
        # The run that fails on no call is the clean one.
        assert outcomes[-1] == (total, "returned")
        return outcomes, len(err.getvalue())
    finally:
        job.stop()


@pytest.mark.parametrize("error", [SinkError, Interrupt], ids=["Exception", "BaseException"])
def test_sink_failing_at_each_report_of_a_job(error, tmp_path, standin_exe):
    outcomes, _ = isolated(_sink_failing_at_each_report, tmp_path, standin_exe, error, timeout=120)
    # Failures in the splitter stage are logged and the job goes on; the rest reach the caller.
    assert ("returned" in [o for _, o in outcomes[:-1]]) == (error is SinkError)
    assert "raised" in [o for _, o in outcomes]


class NoisyDel(object):
    def __del__(self):
        raise RuntimeError("a result that fails when dropped")


class BadBool(object):
    def __bool__(self):
        raise RuntimeError("a result that cannot be tested")

    __nonzero__ = __bool__


def _sink_returning_odd_values(root, exe):
    job = Job(root, exe)
    err = quiet_stderr()
    try:
        job.standin.configure(out=["one\n"])
        odd = [lambda ctl: ctl, lambda ctl: list(range(100000)), lambda ctl: NotImplemented,
               lambda ctl: NoisyDel(), lambda ctl: BadBool(), lambda ctl: (x for x in "abc"),
               lambda ctl: ctl.run, lambda ctl: sys]
        reports = []
        for make in odd:
            class OddSink(Sink):
                def mainPrint(self, *args):
                    Sink.mainPrint(self, *args)
                    return make(ctl)
            sink = OddSink()
            ctl = job.ctl(communication=sink)
            assert ctl.run() is None
            assert ctl.stopCut() is None
            reports.append(sink.reports[:-3])
        assert all(r == reports[0] for r in reports)
        assert reports[0][-3:] == [DONE, TOKEN, UPDATED]
        assert job.markers_intact()
    finally:
        job.stop()


def test_sink_returning_odd_values(tmp_path, standin_exe):
    # The result of mainPrint is dropped without a look (one that fails when dropped is only an
    # unraisable exception, not a failure of the job).
    isolated(_sink_returning_odd_values, tmp_path, standin_exe)


CONTROLLER_ATTRIBUTES = ["run_code", "src_pdf_path", "save_pic_path", "processors",
                         "COLOR_THRESHHOLD", "token", "urldb", "PdfExePath", "communication",
                         "oldDir"]


def _sink_deleting_an_attribute(root, exe, attribute):
    job = Job(root, exe)
    err = quiet_stderr()
    try:
        job.standin.configure(mkdirs=["new"], out=["one\n"])
        clean = Sink()
        job.ctl(communication=clean).run()
        total = len(clean.calls)
        seen = set()
        for at in range(total):
            job.standin.configure(mkdirs=["new-%d" % at], out=["one\n"])
            holder = {}

            class Deleting(Sink):
                def mainPrint(self, *args):
                    Sink.mainPrint(self, *args)
                    if len(self.calls) - 1 == at:
                        delattr(holder["ctl"], attribute)

            ctl = holder["ctl"] = job.ctl(communication=Deleting())
            try:
                ctl.run()
                seen.add("returned")
            except AttributeError as exc:
                seen.add("AttributeError")
                assert attribute in str(exc), str(exc)
                assert orvane_entries(exc)
            # Put it back so the stop has what it needs; the stop itself catches the rest.
            if attribute != "oldDir" and not hasattr(ctl, attribute):
                setattr(ctl, attribute, getattr(job.ctl(), attribute))
            assert ctl.stopCut() is None
            assert job.markers_intact(), "deleted at call %d" % at
        return sorted(seen)
    finally:
        job.stop()


# Read only inside the token checks, which take any failure as a failed request; or not read by
# the job at all.
ALWAYS_CAUGHT = ("token", "urldb", "oldDir")


@pytest.mark.parametrize("attribute", CONTROLLER_ATTRIBUTES)
def test_sink_deleting_a_controller_attribute_mid_job(attribute, tmp_path, standin_exe):
    seen = isolated(_sink_deleting_an_attribute, tmp_path, standin_exe, attribute, timeout=120)
    if attribute in ALWAYS_CAUGHT:
        assert seen == ["returned"]
    else:
        assert "AttributeError" in seen


def _sink_reentering(root, exe):
    job = Job(root, exe)
    err = quiet_stderr()
    try:
        # A sink that starts the job driver again from inside a report: unbounded recursion
        # must end as RecursionError, not as a stack overflow.
        holder = {}

        class Reentering(Sink):
            def mainPrint(self, *args):
                holder["ctl"].true_run()

        ctl = holder["ctl"] = job.ctl(communication=Reentering())
        try:
            ctl.true_run()
            raise AssertionError("no RecursionError")
        except RecursionError:
            pass

        # A sink that stops the job from inside a report of the job itself.
        job.standin.configure(mkdirs=["new"], out=["one\n"])

        class Stopping(Sink):
            def mainPrint(self, *args):
                Sink.mainPrint(self, *args)
                if args == ("one\n",):
                    holder["ctl"].stopCut()

        sink = Stopping()
        ctl = holder["ctl"] = job.ctl(communication=sink)
        assert ctl.run() is None
        assert sink.reports[-4:] == [{os.path.join(job.save, "new")}, DONE, TOKEN, UPDATED]
        assert not os.path.exists(os.path.join(job.save, "new"))
        assert job.markers_intact()
    finally:
        job.stop()


def test_sink_calling_back_into_the_controller(tmp_path, standin_exe):
    isolated(_sink_reentering, tmp_path, standin_exe)


# --------------------------------------------------------------------------------------------
# Settings of the wrong type


class IntRaises(object):
    def __int__(self):
        raise ArithmeticError("no integer here")


class IntHuge(object):
    def __int__(self):
        return 10 ** 100


class IntNotInt(object):
    def __int__(self):
        return "3"


class BoolRaises(object):
    def __bool__(self):
        raise LookupError("no truth value")

    __nonzero__ = __bool__

    def __int__(self):
        return 1


def _cpus():
    import multiprocessing
    return multiprocessing.cpu_count()


def refusal():
    return "请输入1-{}的整数".format(_cpus())


# value -> what becomes of it: ("ok", stored, argv text) | ("refused",) | ("unconvertible",)
# | ("raises", exception type)
PROCESSORS = [
    ("float", 1.9, ("ok", 1, "1")),
    ("float-below-one", 0.5, ("refused",)),
    ("true", True, ("ok", 1, "1")),
    ("text-with-blanks", " 1 ", ("ok", 1, "1")),
    ("list", [1], ("unconvertible",)),
    ("int-raises", IntRaises(), ("unconvertible",)),
    ("int-huge", IntHuge(), ("refused",)),
    ("int-returns-text", IntNotInt(), ("unconvertible",)),
    ("nan", float("nan"), ("unconvertible",)),
    ("inf", float("inf"), ("unconvertible",)),
    ("bool-raises", BoolRaises(), ("raises", LookupError)),
]


def _processors_of_a_wrong_type(root, exe, value, fate):
    job = Job(root, exe)
    err = quiet_stderr()
    try:
        ctl = job.ctl(processors=value)
        if fate[0] == "raises":
            try:
                ctl.true_run()
                raise AssertionError("no exception")
            except fate[1] as exc:
                assert orvane_entries(exc)[-1] == ("Orvane.orvaneClass.true_run", 250)
            assert not job.standin.ran()
            return
        result = ctl.true_run()
        if fate[0] == "ok":
            assert result is None
            assert ctl.processors == fate[1] and type(ctl.processors) is int
            assert job.standin.argv()[3] == fate[2]
            assert job.sink.reports[-3:] == [DONE, TOKEN, UPDATED]
        elif fate[0] == "refused":
            assert result == refusal() and job.sink.reports[-1] == refusal()
            assert ctl.processors is value and ctl.run_code == 1
            assert not job.standin.ran() and not job.server.requests
        else:
            assert result == refusal() and job.sink.reports[-1] == refusal()
            assert ctl.processors == "" and ctl.run_code == 0
            assert not job.standin.ran() and not job.server.requests
        assert err.getvalue() == ""
        assert job.markers_intact()
    finally:
        job.stop()


@pytest.mark.parametrize("value,fate", [p[1:] for p in PROCESSORS], ids=[p[0] for p in PROCESSORS])
def test_worker_count_of_a_wrong_type(value, fate, tmp_path, standin_exe):
    isolated(_processors_of_a_wrong_type, tmp_path, standin_exe, value, fate)


LOG_LINE_CONVERSION = 271   # the settings tuple, with the threshold converted
LOG_LINE_COMMAND = 272      # the command line

THRESHOLDS = [
    ("float", 19.9, ("ok", "19")),
    ("huge", 10 ** 30, ("ok", str(10 ** 30))),
    ("list", [19], ("logged", LOG_LINE_CONVERSION)),
    ("int-raises", IntRaises(), ("logged", LOG_LINE_CONVERSION)),
    ("int-returns-text", IntNotInt(), ("logged", LOG_LINE_CONVERSION)),
    ("nan", float("nan"), ("logged", LOG_LINE_CONVERSION)),
    ("bool-raises", BoolRaises(), ("raises", LookupError)),
    # Interpreters from 3.11 refuse to write an integer of more than 4300 digits as text.
    ("thousands-of-digits", 10 ** 5000,
     ("logged", LOG_LINE_COMMAND) if hasattr(sys, "get_int_max_str_digits") else ("ok", str(10 ** 5000))),
]


def _threshold_of_a_wrong_type(root, exe, value, fate):
    job = Job(root, exe)
    try:
        ctl = job.ctl(COLOR_THRESHHOLD=value)
        if fate[0] == "raises":
            try:
                ctl.true_run()
                raise AssertionError("no exception")
            except fate[1] as exc:
                assert orvane_entries(exc)[-1] == ("Orvane.orvaneClass.true_run", 248)
            assert not job.standin.ran()
            return
        assert ctl.true_run() is None
        assert job.sink.reports[-3:] == [DONE, TOKEN, UPDATED]
        assert ctl.COLOR_THRESHHOLD is value
        if fate[0] == "ok":
            assert job.standin.argv()[4] == fate[1]
            assert STAGE_FAILED not in job.sink.reports
        else:
            assert STAGE_FAILED in job.sink.reports and not job.standin.ran()
            logs = os.listdir(os.path.join(job.root, "logging"))
            with open(os.path.join(job.root, "logging", logs[0]), encoding="utf-8",
                      errors="replace") as fh:
                assert fh.read().splitlines()[3] == "[报错源码行数]%d" % fate[1]
        assert job.markers_intact()
    finally:
        job.stop()


@pytest.mark.parametrize("value,fate", [t[1:] for t in THRESHOLDS], ids=[t[0] for t in THRESHOLDS])
def test_colour_threshold_of_a_wrong_type(value, fate, tmp_path, standin_exe):
    isolated(_threshold_of_a_wrong_type, tmp_path, standin_exe, value, fate)


def _url_database_path_of_a_wrong_type(root, exe, kind):
    import pathlib
    job = Job(root, exe)
    try:
        value = {"bytes": os.fsencode(job.urldb), "path": pathlib.Path(job.urldb), "none": None,
                 "bytearray": bytearray(os.fsencode(job.urldb))}[kind]
        ctl = job.ctl(urldb=value)
        assert ctl.run() is None
        if kind in ("bytes", "path"):
            assert job.sink.reports[-3:] == [DONE, TOKEN, UPDATED]
            assert len(job.server.requests) == 2 and ctl.run_code == 1
        else:
            # The existence test refuses the value: a failed request, no job.
            failure = job.sink.reports[-2]
            assert job.sink.reports[-3:] == [FAILED_REQUEST, failure, JOB_REFUSED], job.sink.reports
            assert isinstance(failure, TypeError)
            assert ctl.run_code == 0 and not job.server.requests and not job.standin.ran()
        assert job.markers_intact()
    finally:
        job.stop()


@pytest.mark.parametrize("kind", ["bytes", "path", "none", "bytearray"])
def test_url_database_path_of_a_wrong_type(kind, tmp_path, standin_exe):
    isolated(_url_database_path_of_a_wrong_type, tmp_path, standin_exe, kind)


# --------------------------------------------------------------------------------------------
# The URL database


def _broken_url_database(root, exe, kind):
    import Orvane
    job = Job(root, exe)
    holder = None
    try:
        path = os.path.join(job.root, "broken.db")
        if kind == "not-sqlite":
            with open(path, "wb") as fh:
                fh.write(os.urandom(4096))
        elif kind == "empty-file":
            open(path, "wb").close()
        elif kind == "locked":
            url_db(job.root, job.server.commit_url, filename="broken.db")
            holder = sqlite3.connect(path, isolation_level=None)
            holder.execute("begin exclusive")
            # The module opens the database with sqlite3's default five-second busy wait; a
            # shorter one keeps the test quick and changes nothing else.
            real = Orvane.sqlite3

            class QuickBusy(object):
                def __getattr__(self, name):
                    return getattr(real, name)

                def connect(self, database):
                    return real.connect(database, timeout=0.2)
            Orvane.sqlite3 = QuickBusy()
        elif kind == "null-url":
            make_url_db(path, [("commit", None)])
        elif kind == "blob-url":
            make_url_db(path, [("commit", b"http://127.0.0.1:9/\xff\xfe")])
        elif kind == "number-url":
            make_url_db(path, [("commit", 12345)])
        ctl = job.ctl(urldb=path)
        assert ctl.run() is None
        r = job.sink.reports
        assert r[-3] == FAILED_REQUEST and r[-1] == JOB_REFUSED, r
        assert isinstance(r[-2], Exception)
        assert ctl.run_code == 0 and not job.server.requests and not job.standin.ran()
        # The module's connection is closed again, failure or not. (SQLite keeps a closed
        # connection's file open while another connection of the process holds a lock on it.)
        if holder is not None:
            holder.close()
            holder = None
        assert open_handles(path) == 0
        assert job.markers_intact()
        return type(r[-2]).__name__, str(r[-2])
    finally:
        if holder is not None:
            holder.close()
        job.stop()


@pytest.mark.parametrize("kind", ["not-sqlite", "empty-file", "locked", "null-url", "blob-url",
                                  "number-url"])
def test_url_database_that_does_not_serve(kind, tmp_path, standin_exe):
    name, text = isolated(_broken_url_database, tmp_path, standin_exe, kind)
    if kind == "not-sqlite":
        assert name == "DatabaseError"
    if kind in ("empty-file",):
        assert "no such table" in text
    if kind == "locked":
        assert "locked" in text


# --------------------------------------------------------------------------------------------
# The service


class RawServer(object):
    """A TCP service on 127.0.0.1 whose every connection is handed to ``handler(conn, stop)``."""

    def __init__(self, handler):
        self.stop_event = threading.Event()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.sock.settimeout(0.1)
        self.url = "http://127.0.0.1:%d/api/commit" % self.sock.getsockname()[1]
        self.handler = handler
        self.connections = 0
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while not self.stop_event.is_set():
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.connections += 1
            threading.Thread(target=self._one, args=(conn,), daemon=True).start()

    def _one(self, conn):
        try:
            conn.settimeout(5.0)
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                data += chunk
            head, _, body = data.partition(b"\r\n\r\n")
            length = 0
            for line in head.split(b"\r\n"):
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":")[1])
            while len(body) < length:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                body += chunk
            self.handler(conn, self.stop_event)
        except OSError:
            pass
        finally:
            conn.close()

    def stop(self):
        self.stop_event.set()
        self.sock.close()
        self.thread.join(5)


def reply_then_close(conn, stop):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly a part")


def close_at_once(conn, stop):
    pass


def not_http(conn, stop):
    conn.sendall(b"SSH-2.0-OpenSSH_9.0\r\n\r\n")


def endless_body(conn, stop):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n")
    block = b"x" * (1 << 20)
    while not stop.is_set():
        conn.sendall(block)


def dripping_body(conn, stop):
    # Every byte comes well within any read time-out, but the reply never ends.
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100000\r\n\r\n")
    while not stop.wait(1.0):
        conn.sendall(b"x")


def dripping_head(conn, stop):
    # The same, a step earlier: the status line and headers never end.
    conn.sendall(b"HTTP/1.1 200 OK\r\n")
    while not stop.wait(1.0):
        conn.sendall(b"X")


def _service_misbehaving(root, exe, handler, memory_limit=None):
    import Orvane
    job = Job(root, exe, server=False)
    server = RawServer(handler)
    try:
        path = url_db(job.root, server.url)
        if memory_limit:
            import resource
            with open("/proc/self/statm") as fh:
                size = int(fh.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
            resource.setrlimit(resource.RLIMIT_AS, (size + memory_limit, resource.RLIM_INFINITY))
        ctl = job.ctl(urldb=path)
        assert ctl.checkToken(3, "获取隔页") is None
        r = job.sink.reports
        assert r[0] == TOKEN and r[-2] == FAILED_REQUEST, r[:1] + r[-2:]
        assert ctl.run_code == 0
        assert job.markers_intact()
        return type(r[-1]).__name__, server.connections
    finally:
        server.stop()
        job.stop()


@pytest.mark.parametrize("handler", [reply_then_close, close_at_once, not_http],
                         ids=["closes-mid-reply", "closes-before-replying", "not-http"])
def test_service_that_breaks_the_reply(handler, tmp_path, standin_exe):
    name, connections = isolated(_service_misbehaving, tmp_path, standin_exe, handler)
    # A broken reply is a failed request: reported, no retry.
    assert connections == 1
    assert name in ("ConnectionError", "ChunkedEncodingError"), name


@pytest.mark.skipif(bool(os.environ.get("ORVANE_SANITIZER")),
                    reason="an address-space limit cannot hold under the sanitizers' shadow memory")
def test_service_sending_an_endless_body(tmp_path, standin_exe):
    # The reply is read whole into memory; with memory limited, the read ends in MemoryError,
    # which the token check takes as a failed request. Nothing may crash on the way.
    name, _ = isolated(_service_misbehaving, tmp_path, standin_exe, endless_body, 400 << 20)
    assert name == "MemoryError"


@pytest.mark.parametrize("handler", [dripping_body, dripping_head], ids=["body", "head"])
def test_service_dripping_its_reply(handler, tmp_path, standin_exe):
    # A reply that trickles in a byte a second never trips the read time-out of 30 s; the request
    # still ends at its deadline (5 s to connect plus 30 s to read) as a failed request.
    started = time.monotonic()
    name, connections = isolated(_service_misbehaving, tmp_path, standin_exe, handler,
                                 timeout=5 + 30 + 10)
    assert time.monotonic() - started < 5 + 30 + 5
    assert connections == 1
    assert name == "ReadTimeout", name


def _huge_reply(root, exe):
    job = Job(root, exe)
    try:
        text = "巨" * (24 << 20)  # 72 MB of UTF-8
        job.server.script([(200, text)])
        ctl = job.ctl()
        assert ctl.checkToken(3, "获取隔页") is None
        assert job.sink.reports == [TOKEN, text, UPDATED]
        assert ctl.run_code == 1
    finally:
        job.stop()


def test_service_sending_a_huge_reply(tmp_path, standin_exe):
    isolated(_huge_reply, tmp_path, standin_exe)


# --------------------------------------------------------------------------------------------
# The splitter's output


def _splitter_output(root, exe, kind):
    job = Job(root, exe)
    try:
        os.makedirs(os.path.join(job.root, "logging"))
        if kind == "invalid-utf8":
            script = job.standin.configure(mkdirs=["new"], out=[b"ok\n", b"bad \xff\xfe\xfd\n", b"more\n"])
        elif kind == "long-line-no-end":
            script = job.standin.configure()
            script.repeat(16 << 20, "y")
        elif kind == "million-lines":
            script = job.standin.configure(lines=1000000)
        elif kind == "odd-bytes":
            data = b"nul\x00inside\nlone cr\rcrlf\r\nff\x0cvt\x0b\xe2\x80\xa8sep\n\n\x1b[31mansi\n"
            script = job.standin.configure(out=data)
        # A copy under another image name: a stop from anywhere else on this machine (which ends
        # every orvaneFun.exe of the user) cannot cut this output short.
        exe_copy = job.standin.install(os.path.join(job.root, "bin"), name="splitter-under-test")
        ctl = job.ctl(PdfExePath=exe_copy)
        assert ctl.run() is None
        r = job.sink.reports
        assert r[-3:] == [DONE, TOKEN, UPDATED]
        start = r.index(EXE_INFO) + 2
        relayed = r[start:-3]
        if kind == "invalid-utf8":
            # A decoding failure fails the splitter stage: logged, then the job goes on.
            assert relayed[0] == STAGE_FAILED
            logs = os.listdir(os.path.join(job.root, "logging"))
            with open(os.path.join(job.root, "logging", logs[0]), encoding="utf-8") as fh:
                lines = fh.read().splitlines()
            assert "can't decode" in lines[1] and lines[3] == "[报错源码行数]274"
        elif kind == "long-line-no-end":
            assert len(relayed) == 1 and relayed[0] == "y" * (16 << 20)
        elif kind == "million-lines":
            assert len(relayed) == 1000000
            assert relayed[0] == "line 1\n" and relayed[-1] == "line 1000000\n"
        elif kind == "odd-bytes":
            expected = io.TextIOWrapper(io.BytesIO(data), encoding="utf-8").readlines()
            assert relayed == expected
        assert ctl.stopCut() is None
        assert job.markers_intact()
    finally:
        job.stop()


@pytest.mark.parametrize("kind", ["invalid-utf8", "long-line-no-end", "million-lines", "odd-bytes"])
def test_splitter_printing(kind, tmp_path, standin_exe):
    isolated(_splitter_output, tmp_path, standin_exe, kind, timeout=120)


# --------------------------------------------------------------------------------------------
# Module-level names rebound to objects that raise


class Boom(Exception):
    pass


class QuickPause(object):
    def sleep(self, seconds):
        pass

    def __getattr__(self, name):
        return getattr(time, name)


class Raiser(object):
    """Whatever is asked of it, it raises."""

    def __init__(self, name):
        object.__setattr__(self, "_name", name)

    def __getattr__(self, attr):
        raise Boom("%s.%s" % (self._name, attr))

    def __call__(self, *args, **kwargs):
        raise Boom("%s()" % self._name)


# name -> (outcome of the run, whether the stop after it deleted the late folder,
#          outcome of a stop on a controller that never ran)
# A run: the service refuses the first announcement (so the retry pause happens), the colour
# threshold cannot be converted (so the splitter stage fails and is logged).
REBOUND = {
    "os": ("raises", False, "returns"),
    "time": ("refused", True, "returns"),
    "random": ("refused", True, "returns"),
    "json": ("refused", True, "returns"),
    "requests": ("refused", True, "returns"),
    "sqlite3": ("refused", True, "returns"),
    "cpu_count": ("no-splitter", True, "returns"),
    "get_now": ("raises", True, "returns"),
    "shutil": ("logged", False, "returns"),
    "traceback": ("logged", True, "raises"),
}


def _rebound_name(root, exe, name, how):
    import Orvane
    job = Job(root, exe)
    err = quiet_stderr()
    saved = vars(Orvane)[name]
    try:
        job.server.script([500, 200])
        if name not in ("time", "random"):
            Orvane.time = QuickPause()  # the retry pause, without the wait
        if how == "raises":
            setattr(Orvane, name, Raiser(name))
            expected_error = Boom
        else:
            delattr(Orvane, name)
            expected_error = NameError
        ctl = job.ctl(COLOR_THRESHHOLD="abc")
        outcome, deleted, never_ran = REBOUND[name]
        try:
            ctl.run()
            r = job.sink.reports
            if outcome == "refused":
                assert r[-3] == FAILED_REQUEST and r[-1] == JOB_REFUSED, r
                assert isinstance(r[-2], expected_error)
                assert not job.standin.ran()
            elif outcome == "no-splitter":
                # The worker-count check fails, and so does its refusal: the traceback is printed
                # and the job goes on without the splitter to the completion report.
                assert r[-2:] == [TOKEN, UPDATED] and DONE not in r, r
                assert ctl.run_code == 0 and ctl.processors == "" and not job.standin.ran()
                assert "Traceback" in err.getvalue()
            elif outcome == "logged":
                assert STAGE_FAILED in r and r[-3:] == [DONE, TOKEN, UPDATED], r
            else:
                raise AssertionError("the run returned; expected %s" % expected_error.__name__)
        except expected_error as exc:
            assert outcome == "raises", "run raised %r" % exc
            assert orvane_entries(exc)
        late = os.path.join(job.save, "late")
        os.makedirs(late)
        assert ctl.stopCut() is None
        assert os.path.exists(late) != deleted
        never = job.ctl()
        try:
            assert never.stopCut() is None
            assert never_ran == "returns"
        except expected_error:
            assert never_ran == "raises"
        assert job.markers_intact()
    finally:
        setattr(Orvane, name, saved)
        job.stop()


@pytest.mark.parametrize("how", ["raises", "deleted"])
@pytest.mark.parametrize("name", sorted(REBOUND))
def test_module_name_rebound_to_a_failing_object(name, how, tmp_path, standin_exe):
    isolated(_rebound_name, tmp_path, standin_exe, name, how)


# --------------------------------------------------------------------------------------------
# Arguments whose owner lets go of them during the call


def _caller_dict_emptied_during_the_call(root, exe, case):
    import Orvane
    job = Job(root, exe)
    try:
        d = {}
        if case == "checkToken":
            # The sink empties the very dict the caller unpacked into the call; the call must
            # still use the values it was given.
            class Clearing(Sink):
                def mainPrint(self, *args):
                    Sink.mainPrint(self, *args)
                    d.clear()
            ctl = job.ctl(communication=Clearing())
            d.update(id=[7, 8, 9], comments="".join(["com", "ments"]) * 3)
            ctl.checkToken(**d)
            assert job.requests()[0] == {"id": [7, 8, 9], "comments": "【开始执行：】  " + "comments" * 3,
                                         "pid": 0}
        elif case == "self-by-keyword":
            # The dict holds the only reference to the controller itself.
            class Clearing(Sink):
                def mainPrint(self, *args):
                    Sink.mainPrint(self, *args)
                    d.clear()
            sink = Clearing()
            d.update(self=job.ctl(communication=sink), id=3, comments="x")
            Orvane.orvaneClass.checkToken(**d)
            assert sink.reports[-1] == UPDATED
        elif case == "constructor":
            class Clearing(Orvane.orvaneClass):
                def __setattr__(self, name, value):
                    d.clear()
                    object.__setattr__(self, name, value)
            d.update(src_pdf_path="".join(["s"] * 40), save_pic_path=["fresh", "list"],
                     processors=[1, 2, 3], COLOR_THRESHHOLD={"a": 1}, LoginToken="t" * 33,
                     urldb=bytearray(b"u"), PdfExePath=("p", "q"))
            obj = Clearing(**d)
            assert (obj.src_pdf_path, obj.save_pic_path, obj.processors, obj.COLOR_THRESHHOLD,
                    obj.token, obj.urldb, obj.PdfExePath) == (
                "s" * 40, ["fresh", "list"], [1, 2, 3], {"a": 1}, "t" * 33, bytearray(b"u"), ("p", "q"))
    finally:
        job.stop()


@pytest.mark.parametrize("case", ["checkToken", "self-by-keyword", "constructor"])
def test_keyword_arguments_whose_dict_is_emptied_during_the_call(case, tmp_path, standin_exe):
    isolated(_caller_dict_emptied_during_the_call, tmp_path, standin_exe, case)


# --------------------------------------------------------------------------------------------
# Attributes of the interpreter modules changed between two uses


def _module_attributes_changed(root, exe):
    import shutil
    import Orvane
    job = Job(root, exe)
    try:
        # get_now: the module's time.strftime, replaced after a first use, is used at the next.
        first = Orvane.get_now()
        real_strftime = time.strftime
        time.strftime = lambda pattern, t=None: "patched " + pattern
        try:
            assert Orvane.get_now() == "patched %Y_%m_%d_%H_%M_%S"
        finally:
            time.strftime = real_strftime
        assert Orvane.get_now() != "patched %Y_%m_%d_%H_%M_%S" and len(first) == 19

        # stopCut: shutil.rmtree, replaced after a stop that used it, is used by the next stop.
        ctl = job.ctl()
        ctl.oldDir = set(job.markers)
        os.makedirs(os.path.join(job.save, "first"))
        assert ctl.stopCut() is None and not os.path.exists(os.path.join(job.save, "first"))
        removed = []
        real_rmtree = shutil.rmtree
        shutil.rmtree = removed.append
        try:
            os.makedirs(os.path.join(job.save, "second"))
            assert ctl.stopCut() is None
        finally:
            shutil.rmtree = real_rmtree
        assert removed == [os.path.join(job.save, "second")]
        assert os.path.isdir(os.path.join(job.save, "second"))

        # A job: os.path.isfile replaced by the sink in the middle of a job, after a whole job
        # has used the real one, decides the executable check.
        assert job.ctl(communication=Sink()).run() is None and job.standin.ran()
        job.standin.configure()
        real_isfile = os.path.isfile

        class Patching(Sink):
            def mainPrint(self, *args):
                Sink.mainPrint(self, *args)
                if args == (job.save,):  # the job driver's second report
                    os.path.isfile = lambda path: False

        sink = Patching()
        try:
            assert job.ctl(communication=sink).run() is None
        finally:
            os.path.isfile = real_isfile
        assert sink.reports[-1] == ("warning", "切分隔页的exe不存在"), sink.reports
        assert not job.standin.ran()
        # And back: the real one answers again.
        sink = Sink()
        assert job.ctl(communication=sink).run() is None
        assert job.standin.ran() and sink.reports[-3:] == [DONE, TOKEN, UPDATED]
        assert job.markers_intact()
    finally:
        job.stop()


def test_attributes_of_interpreter_modules_changed_between_uses(tmp_path, standin_exe):
    isolated(_module_attributes_changed, tmp_path, standin_exe)
