"""Terminal front end for one split job: runs the Orvane controller on a worker thread, prints its
messages as they come, shows progress on a terminal and cancels cleanly on Ctrl-C."""
import os
import signal
import sys
import threading
import time
import traceback

from . import events, splitter_line
from .i18n import N_, _, ngettext

# The exit statuses, the table of outcomes and the process table, where the front ends find them.
from .job_runner import JobRun, process_table, splitter_children  # noqa: F401
from .job_settings import SPLITTER_NAME, count_pdfs  # noqa: F401
from .outcomes import (EXIT_CANCELLED, EXIT_CHECKS, EXIT_ERROR, EXIT_INCOMPLETE, EXIT_NOTHING,  # noqa: F401
                       EXIT_OK, EXIT_REFUSED, EXIT_SPLITTER, EXIT_USAGE, OUTCOMES, classify)


# The module's own message texts that tell how a job went.
MSG_DONE = "执行完成"
MSG_SPLITTER_STARTING = "执行exe信息"
MSG_SPLITTER_FAILED = "执行exe文件报错"
MSG_EXE_MISSING = "切分隔页的exe不存在"
REFUSAL_MESSAGES = {
    "保存URl表不存在": N_("the URL database does not exist"),
    "登录信息的Token过期": N_("the announcement service refused the login token"),
    "请求网页失败": N_("the announcement service could not be reached"),
}
CHECK_MESSAGES = {
    "原PDF文件路径不存在": N_("the source folder does not exist"),
    "保存文件隔页位置不存在": N_("the target folder does not exist"),
    "源文件路径包含英文的双引号": N_("the source folder path holds a double quote"),
    "保存文件路径包含英文的双引号": N_("the target folder path holds a double quote"),
    "存在PDF文件包含空格，请修改后再次输入": N_("some PDF file names have a blank before .pdf"),
    "原路径不存在，请重新输入\n": N_("the source folder does not exist"),
    "保存文件不存在，请重新输入\n": N_("the target folder does not exist"),
}
WORKER_REFUSAL_PREFIX = "请输入1-"


HIDDEN = "<hidden>"


def hide_secrets(text, secrets):
    """``text`` with every login token in ``secrets`` replaced by a mark, wherever it stands: the
    module reports the token on its own and inside longer messages (a failed request's text)."""
    for secret in sorted((s for s in secrets if s), key=len, reverse=True):
        text = text.replace(secret, HIDDEN)
    return text


class JobSink(object):
    """The controller's message sink (`communication`): prints every message at once and notes the
    ones that tell the outcome.

    The module calls `mainPrint` on the job's thread; this must never raise, since an exception in
    the sink would abort the module's step that reported."""

    def __init__(self, out, token=None, display=None):
        self.out = out
        self.token = token
        self.display = display
        self.lock = threading.Lock()
        self.done = False
        self.splitter_started = False
        self.splitter_failed = False
        self.exe_missing = False
        self.refusal = None
        self.refused_after_done = False
        self.check_failure = None
        self.not_split = 0
        self.summary_seen = False
        self.summary_files = None
        self.documents = 0

    def __bool__(self):
        # The module tests `communication` for truth before every report.
        return True

    __nonzero__ = __bool__

    def mainPrint(self, *values):  # noqa: N802 (name fixed by the module)
        try:
            self._note(values)
            self._print(hide_secrets(self._render(values), [self.token]))
        except Exception:  # pragma: no cover - last resort, the job must go on
            traceback.print_exc()

    def _note(self, values):
        if len(values) == 2 and values[1] == MSG_EXE_MISSING:
            self.exe_missing = True
            return
        value = values[0] if values else None
        if not isinstance(value, str):
            return
        # The splitter's lines, relayed by the module. It ignores the splitter's exit status: the
        # lines of files not split are the only sign of them that reaches us, and the summary line
        # the only sign that the splitter went through its work (one ended from outside, crashed or
        # refusing its arguments prints none).
        line = splitter_line.parse(value) if self.splitter_started and not self.done else None
        if isinstance(line, splitter_line.Summary):
            self.summary_seen = True
            self.summary_files, self.documents = line.files, line.documents
        elif isinstance(line, splitter_line.NotSplitLine):
            self.not_split += 1
        elif value == MSG_DONE:
            self.done = True
        elif value == MSG_SPLITTER_STARTING:
            self.splitter_started = True
        elif value == MSG_SPLITTER_FAILED:
            self.splitter_failed = True
        elif value in REFUSAL_MESSAGES:
            if self.refusal is None:
                self.refusal = REFUSAL_MESSAGES[value]
                self.refused_after_done = self.done
        elif value in CHECK_MESSAGES:
            if self.check_failure is None:
                self.check_failure = CHECK_MESSAGES[value]
        elif value.startswith(WORKER_REFUSAL_PREFIX) and value.endswith("的整数"):
            if self.check_failure is None:
                self.check_failure = _("the worker count is out of range ({})").format(value)

    def _render(self, values):
        if len(values) == 2 and isinstance(values[0], str):
            return "{}: {}".format(values[0], values[1])
        value = values[0] if len(values) == 1 else values
        if self.token and value == self.token:
            # The module reports the login token itself; keep it off screens and logs.
            return "login token: <hidden, {} characters>".format(len(self.token))
        if isinstance(value, BaseException):
            return "{}: {}".format(type(value).__name__, value)
        if isinstance(value, (set, frozenset)):
            return "{" + ", ".join(repr(v) for v in sorted(value, key=str)) + "}"
        text = value if isinstance(value, str) else str(value)
        # Splitter lines and some messages carry their own line end.
        return text[:-1] if text.endswith("\n") else text

    def _print(self, text):
        with self.lock:
            if self.display is not None:
                self.display.clear()
            self.out.write(text + "\n")
            self.out.flush()


class ProgressLine(object):
    """One self-overwriting status line on a terminal: pages looked at of the total, pages per
    second and time left from the splitter's events; from a splitter without events, source PDFs
    against output folders."""

    def __init__(self, out, src, dst, events_path=None, recognises=False):
        self.out = out
        self.dst = dst
        self.total = count_pdfs(src)
        self.before = list_subfolders(dst)
        self.shown = False
        self.started = time.time()
        self.tail = events.EventTail(events_path) if events_path else None
        self.record = events.JobRecord(recognises=recognises)

    def clear(self):
        if self.shown:
            self.out.write("\r\x1b[K")
            self.shown = False

    def draw(self):
        if self.tail is not None:
            self.record.apply_all(self.tail.poll())
        if self.record.files:
            text = self.record.progress_text()
        else:
            made = len(list_subfolders(self.dst) - self.before)
            text = ngettext("{} of {} source PDF begun, {} elapsed", "{} of {} source PDFs begun, {} elapsed",
                            self.total).format(
                min(made, self.total), self.total, events.clock_text(time.time() - self.started))
        self.out.write("\r\x1b[K" + _("splitting: {}").format(text))
        self.out.flush()
        self.shown = True


def list_subfolders(folder):
    try:
        names = os.listdir(folder)
    except OSError:
        return set()
    return {n for n in names if os.path.isdir(os.path.join(folder, n))}


class _Terminate(Exception):
    pass


def _raise_terminate(signum, frame):
    raise _Terminate()


def run_job(controller_factory, src, dst, token, out=None, err=None, progress=None, environ=None,
            recognises=False):
    """Run one job to its end and return the exit status.

    ``controller_factory(sink)`` builds the `orvaneClass` object with ``sink`` as its message sink;
    ``environ``: the job's own variables for its splitter (JobSettings.environ); ``recognises``:
    whether it recognises text (JobSettings.recognises), for the progress line's time left.
    """
    out = out or sys.stdout
    err = err or sys.stderr
    if progress is None:
        progress = _isatty(out)
    # (The controller is made on the job's thread, once the sink below exists.)
    run = JobRun(lambda: controller_factory(sink), events_path=True if progress else None, environ=environ)
    display = ProgressLine(out, src, dst, run.events_path, recognises) if progress else None
    sink = JobSink(out, token=token, display=display)

    previous_term = None
    if threading.current_thread() is threading.main_thread():
        previous_term = signal.signal(signal.SIGTERM, _raise_terminate)
    try:
        with run:
            run.start()
            while not run.finished.is_set():
                try:
                    if run.finished.wait(0.25 if not run.stopped else 0.5) or run.stop_late():
                        continue
                    if display is not None and sink.splitter_started and not sink.done:
                        with sink.lock:
                            display.draw()
                except (KeyboardInterrupt, _Terminate):
                    _cancel(run, out, err)
    finally:
        if previous_term is not None:
            signal.signal(signal.SIGTERM, previous_term)
        if display is not None:
            with sink.lock:
                display.clear()
                out.flush()

    key, ending, summary = run.outcome(sink)
    if run.failure:
        err.write(run.failure)
    err.write("orvane: {}\n".format(summary))
    err.flush()
    return ending.status


def _cancel(run, out, err):
    """Ctrl-C or SIGTERM: the first stops the job, a second leaves at once."""
    if run.stopped:
        err.write(_("orvane: stopped without waiting for the job to end\n"))
        err.flush()
        out.flush()
        # The job's thread is still inside the module; leave without tearing the interpreter
        # down under it.
        os._exit(EXIT_CANCELLED)
    err.write(_("\norvane: cancelling: ending the splitter and deleting its partial output "
                "(press Ctrl-C again to quit at once)\n"))
    err.flush()
    run.stop()


def _isatty(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False
