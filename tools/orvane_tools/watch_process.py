"""The processes of a watched batch: its module job on a thread of its own, the splitter it starts,
and the splitters a killed watcher left behind.

A stop must end the batch's own splitter only: other jobs (another watcher, the window, `orvane
split`) may be running splitters of the same user at the same time."""
import logging
import os
import signal
import subprocess
import time

from . import frontend, splitter_line
from .job_runner import JobRun, process_table, splitter_children
from .job_settings import SPLITTER_NAME

LOG = logging.getLogger("orvane.watch")


def crash_point(name):
    """Fault injection for the restart tests: when ORVANE_WATCH_CRASH_AT names this point, end
    this process at once as a power cut would (or "POINT:SIGTERM", "POINT:SIGINT": signal it)."""
    point, _, signame = os.environ.get("ORVANE_WATCH_CRASH_AT", "").partition(":")
    if point == name:
        os.environ.pop("ORVANE_WATCH_CRASH_AT")
        os.kill(os.getpid(), getattr(signal, signame or "SIGKILL", signal.SIGTERM))


class WatchSink(frontend.JobSink):
    """The job's message sink: every message to the log, and the lines that tell the outcome kept
    for the batch's status and its reason file."""

    def __init__(self, out, token):
        frontend.JobSink.__init__(self, out, token=token)
        self.lines = []
        self.not_split_lines = []

    def _print(self, text):
        self.lines.append(text)
        if isinstance(splitter_line.parse(text), splitter_line.NotSplitLine):
            self.not_split_lines.append(text)
        frontend.JobSink._print(self, text)


class _LogStream(object):
    """A writable stream that logs each line of the job's messages."""

    def __init__(self, prefix):
        self.prefix = prefix

    def write(self, text):
        for line in text.splitlines():
            LOG.info("%s%s", self.prefix, line)

    def flush(self):
        pass


def end_stray_splitters(stage_dir):
    """End splitter processes left running on ``stage_dir`` by a watcher that was killed, and wait
    until they are gone: they would write into TARGET while its partial output is removed."""
    if os.path.isdir("/proc/self"):
        for _attempt in range(100):
            pids = [pid for pid, argv in _splitter_processes() if len(argv) > 1 and argv[1] == stage_dir]
            if not pids:
                return
            for pid in pids:
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            time.sleep(0.05)
    elif os.name == "nt":
        script = ("Get-CimInstance Win32_Process -Filter \"Name='orvaneFun.exe'\" | Where-Object "
                  "{ $_.CommandLine -and $_.CommandLine.Contains('%s') } | "
                  "Invoke-CimMethod -MethodName Terminate" % stage_dir.replace("'", "''"))
        subprocess.call(["powershell", "-NoProfile", "-Command", script],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def _splitter_processes():
    for pid, (_parent, name) in process_table().items():
        if name != SPLITTER_NAME:
            continue
        try:
            with open("/proc/{}/cmdline".format(pid), "rb") as fh:
                argv = fh.read().decode("utf-8", "surrogateescape").split("\0")
        except OSError:
            continue
        yield pid, argv


def run_batch_job(make_controller, sink, name, events_path, stop, stop_wait, environ=None):
    """Run one batch's job to its end with its events in ``events_path``: (outcome key, summary,
    sink), or None when ``stop`` (an event) was set meanwhile. A stop ends the job's own splitter
    only; a job still inside the module ``stop_wait`` seconds later (a stalled announcement) is
    given up. ``environ``: the job's own variables for its splitter (JobSettings.environ)."""
    stopping_since = None
    with JobRun(make_controller, events_path, "orvane-watch-job", environ) as run:
        run.start()
        while not run.finished.wait(0.1):
            if os.environ.get("ORVANE_WATCH_CRASH_AT", "").startswith("running") and splitter_children():
                crash_point("running")
            if stop.is_set():
                stopping_since = stopping_since or time.monotonic()
                if time.monotonic() - stopping_since > stop_wait:
                    return None
                run.end_own_splitter()
    if stopping_since is not None:
        return None
    if run.failure:
        LOG.error("[%s] %s", name, run.failure.rstrip())
    key, _outcome, summary = run.outcome(sink, cancelled=False)
    return key, summary, sink
