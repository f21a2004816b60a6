"""Terminal front end for one split job: runs the Orvane controller on a worker thread, prints its
messages as they come, shows progress on a terminal and cancels cleanly on Ctrl-C."""
import collections
import os
import signal
import sys
import threading
import time
import traceback

from . import events, splitter_line
from .i18n import N_, _, ngettext

# Exit statuses of `orvane split`.
EXIT_OK = 0
EXIT_ERROR = 1        # the job raised: a bug or an environment fault; the traceback is printed
EXIT_USAGE = 2        # bad command line (argparse uses 2 as well)
EXIT_REFUSED = 3      # the announcement service refused the token or could not be reached
EXIT_CHECKS = 4       # the job's input was refused: folders, file names, worker count, splitter
EXIT_SPLITTER = 5     # the splitter stage failed; the module wrote an error log
EXIT_INCOMPLETE = 6   # the job ran, but the splitter named source files it could not split
EXIT_NOTHING = 7      # the source folder holds no PDF file: nothing was announced or split
EXIT_CANCELLED = 130  # stopped by Ctrl-C (128 + SIGINT), partial output deleted

# Every way a job can end, the same in each front end: the exit status of `orvane split`, the word
# of the watcher's status line and the words of the window. "finished" is said only when the
# splitter's summary line came.
Outcome = collections.namedtuple("Outcome", "status watch window")
OUTCOMES = {
    "finished": Outcome(EXIT_OK, "finished", "Done: every file split."),
    "not-split": Outcome(EXIT_INCOMPLETE, "not-split", "Finished, but some files could not be split."),
    "nothing": Outcome(EXIT_NOTHING, "empty", "Nothing to do: the source folder holds no PDF file."),
    "cancelled": Outcome(EXIT_CANCELLED, "restored",
                         "Stopped. The folders the job had made in the target folder were deleted."),
    "refused": Outcome(EXIT_REFUSED, "refused", "Job refused by the announcement service."),
    "refused-input": Outcome(EXIT_CHECKS, "refused-input", "Job refused: an input must be corrected."),
    "no-summary": Outcome(EXIT_SPLITTER, "no-summary",
                          "The splitter ended before it had finished (see the messages)."),
    "error": Outcome(EXIT_ERROR, "failed", "The job ended with an error (see the messages)."),
}

SPLITTER_NAME = "orvaneFun.exe"

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

    def __init__(self, out, src, dst, events_path=None):
        self.out = out
        self.dst = dst
        self.total = count_pdfs(src)
        self.before = list_subfolders(dst)
        self.shown = False
        self.started = time.time()
        self.tail = events.EventTail(events_path) if events_path else None
        self.record = events.JobRecord()

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
            text = _("{} of {} source PDFs begun, {} elapsed").format(
                min(made, self.total), self.total, events.clock_text(time.time() - self.started))
        self.out.write("\r\x1b[K" + _("splitting: {}").format(text))
        self.out.flush()
        self.shown = True


def count_pdfs(folder):
    total = 0
    for _parent, _dirs, files in os.walk(folder):
        total += sum(1 for name in files if name.lower().endswith(".pdf"))
    return total


def list_subfolders(folder):
    try:
        names = os.listdir(folder)
    except OSError:
        return set()
    return {n for n in names if os.path.isdir(os.path.join(folder, n))}


def process_table():
    """``{pid: (parent pid, name)}`` of the live processes (Linux /proc; elsewhere empty)."""
    table = {}
    if not os.path.isdir("/proc/self"):
        return table
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/{}/stat".format(entry), "rb") as fh:
                stat = fh.read().decode("utf-8", "replace")
        except OSError:
            continue
        # "pid (comm) state ppid ...": comm may hold blanks and parentheses.
        close = stat.rfind(")")
        fields = stat[close + 2:].split()
        if len(fields) < 2 or fields[0] == "Z":
            continue
        table[int(entry)] = (int(fields[1]), stat[stat.find("(") + 1:close])
    return table


def splitter_children(pid=None, name=SPLITTER_NAME):
    """Pids of running processes named ``name`` below process ``pid`` (Linux /proc; else empty)."""
    pid = os.getpid() if pid is None else pid
    table = process_table()
    found = []
    for child, (_parent, comm) in table.items():
        if comm != name:
            continue
        up = table[child][0]
        seen = 0
        while up and seen < 64:
            if up == pid:
                found.append(child)
                break
            up = table.get(up, (0, None))[0]
            seen += 1
    return found


class _Terminate(Exception):
    pass


def _raise_terminate(signum, frame):
    raise _Terminate()


def run_job(controller_factory, src, dst, token, out=None, err=None, progress=None):
    """Run one job to its end and return the exit status.

    ``controller_factory(sink)`` builds the `orvaneClass` object with ``sink`` as its message sink.
    """
    out = out or sys.stdout
    err = err or sys.stderr
    if progress is None:
        progress = _isatty(out)
    events_file = events.EventsFile() if progress else None
    display = ProgressLine(out, src, dst, events_file.path) if progress else None
    sink = JobSink(out, token=token, display=display)
    controller = controller_factory(sink)

    cancelled = False
    previous_term = None
    if threading.current_thread() is threading.main_thread():
        previous_term = signal.signal(signal.SIGTERM, _raise_terminate)
    if events_file is not None:
        events_file.__enter__()
    try:
        finished, failure = start_job(controller)
        while not finished.is_set():
            try:
                if finished.wait(0.25 if not cancelled else 0.5):
                    break
                if cancelled and splitter_children():
                    # The splitter was started after the first stop: the job was between its
                    # checks and the start when the stop came. End it again.
                    controller.stopCut()
                elif display is not None and sink.splitter_started and not sink.done:
                    with sink.lock:
                        display.draw()
            except (KeyboardInterrupt, _Terminate):
                if cancelled:
                    err.write(_("orvane: stopped without waiting for the job to end\n"))
                    err.flush()
                    out.flush()
                    # The job's thread is still inside the module; leave without tearing the
                    # interpreter down under it.
                    os._exit(EXIT_CANCELLED)
                cancelled = True
                err.write(_("\norvane: cancelling: ending the splitter and deleting its partial output "
                            "(press Ctrl-C again to quit at once)\n"))
                err.flush()
                # No splitter may start after this: the job checks the flag before starting it.
                controller.run_code = 0
                controller.stopCut()
    finally:
        if previous_term is not None:
            signal.signal(signal.SIGTERM, previous_term)
        if events_file is not None:
            events_file.__exit__(None, None, None)
        if display is not None:
            with sink.lock:
                display.clear()
                out.flush()

    status, summary = outcome(sink, controller, failure, cancelled)
    if failure:
        err.write(failure[0])
    err.write("orvane: {}\n".format(summary))
    err.flush()
    return status


def start_job(controller, name="orvane-job"):
    """Run ``controller.run()`` on a thread of its own; returns the event set when it has ended
    and the list that then holds the traceback text of an exception that ended it."""
    failure = []
    # The caller waits on this event rather than on Thread.join: a Ctrl-C that interrupts join()
    # can leave the thread marked as ended while it still runs (CPython bpo-45274 fallout).
    finished = threading.Event()

    def job():
        try:
            controller.run()
        except BaseException:
            failure.append(traceback.format_exc())
        finally:
            finished.set()

    threading.Thread(target=job, name=name, daemon=True).start()
    return finished, failure


def classify(sink, controller, failure, cancelled):
    """How a job that has ended went: (a key of OUTCOMES, the one-line summary)."""
    if cancelled:
        return "cancelled", _("job cancelled; folders it had made in the target folder were deleted")
    if failure:
        return "error", _("the job stopped with an error")
    if sink.check_failure:
        return "refused-input", _("job refused: {}").format(_(sink.check_failure))
    if sink.exe_missing:
        return "refused-input", _("job refused: the splitter program does not exist "
                                  "(give --splitter or put orvaneFun.exe on PATH)")
    if sink.refusal and not sink.refused_after_done:
        return "refused", _("job refused: {}").format(_(sink.refusal))
    if sink.splitter_failed:
        return "no-summary", _("the splitter stage failed; see the error log named above")
    if sink.splitter_started and not sink.summary_seen:
        return "no-summary", _("the splitter ended without its summary line (it was ended from outside, "
                               "crashed or refused its arguments); nothing is known to be split")
    if sink.refusal:
        return "refused", _("the split ran, but the end of the job was not recorded: {}").format(_(sink.refusal))
    if not (sink.done and getattr(controller, "run_code", 0)):
        return "error", _("the job ended without finishing (see the messages above)")
    if sink.summary_files == 0:
        return "nothing", _("nothing to do: the source folder holds no PDF file")
    if sink.not_split:
        return "not-split", ngettext("job finished, but {} source file could not be split (see above)",
                                     "job finished, but {} source files could not be split (see above)",
                                     sink.not_split).format(sink.not_split)
    return "finished", _("job finished")


def outcome(sink, controller, failure, cancelled):
    """The exit status and a one-line summary for a job that has ended."""
    key, summary = classify(sink, controller, failure, cancelled)
    return OUTCOMES[key].status, summary


def _isatty(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False
