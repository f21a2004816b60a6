"""One job on a thread of its own: the module's controller run, stopped, and its splitter ended.

`JobRun` builds the controller and calls its `run()` on the job's thread, where the splitter the
module starts gets the job's own environment (job_environ): ORVANE_EVENTS naming the job's events
file and the options the user chose, never another job's. As a context manager it owns the events
file. `stop` ends a job, `stop_late` ends a splitter that was started after the stop, and `outcome`
gives how the job went from the one table of outcomes."""
import os
import signal
import threading
import traceback

from . import events, job_environ
from .job_settings import SPLITTER_NAME
from .outcomes import OUTCOMES, classify


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


class JobRun(object):
    """One run of a controller's `run()`. ``make_controller()`` builds the controller on the job's
    thread (so that a fault there ends the job as any other does); ``events_path``: the job's events
    file, kept afterwards; True: a temporary one, made now and deleted afterwards; None: none (the
    environment's ORVANE_EVENTS, if any, stays). ``environ``: more variables for the job's splitter
    (JobSettings.environ)."""

    def __init__(self, make_controller, events_path=None, name="orvane-job", environ=None):
        self.make_controller = make_controller
        self.controller = None
        self.failure = None         # the traceback text of an exception that ended the job
        self.stopped = False
        # Waited on rather than Thread.join: a Ctrl-C that interrupts join() can leave the thread
        # marked as ended while it still runs (CPython bpo-45274 fallout).
        self.finished = threading.Event()
        self.thread = threading.Thread(target=self._run, name=name, daemon=True)
        self.events_file = None if events_path is None else events.EventsFile(
            None if events_path is True else events_path)
        self.events_path = self.events_file.path if self.events_file is not None else None
        self.environ = dict(environ or {})
        if self.events_path is not None:
            self.environ[events.ENV] = self.events_path

    def __enter__(self):
        if self.events_file is not None:
            self.events_file.__enter__()
        return self

    def __exit__(self, *exc):
        if self.events_file is not None:
            self.events_file.__exit__(*exc)

    def start(self):
        self.thread.start()
        return self

    def _run(self):
        try:
            controller = self.make_controller()
            self.controller = controller
            # `stop` sets the flag before it reads the controller, and this reads the flag after
            # the controller is set: a stop at any moment reaches the job one way or the other.
            if self.stopped:
                controller.run_code = 0
            with job_environ.use(self.environ):
                controller.run()
        except BaseException:
            self.failure = traceback.format_exc()
        finally:
            self.finished.set()

    def stop(self):
        """End the job: no splitter may start from now on (the job checks the flag before starting
        it), a running one is ended and its partial output deleted. The module's `stopCut` ends
        every splitter of the user."""
        self.stopped = True
        controller = self.controller
        if controller is not None:
            controller.run_code = 0
            controller.stopCut()

    def stop_late(self):
        """After a stop: end again a splitter started after it (the job was between its checks and
        the start when the stop came). True when there was one."""
        if self.stopped and not self.finished.is_set() and splitter_children():
            self.stop()
            return True
        return False

    def end_own_splitter(self):
        """Like `stop`, but end only this process's splitter, at once and without the module's
        clean-up: for a caller that undoes the job's output itself."""
        self.stopped = True
        controller = self.controller
        if controller is None:
            return
        controller.run_code = 0
        if not os.path.isdir("/proc/self"):
            controller.stopCut()  # no process table to find our own child in: the module's way
            return
        for pid in splitter_children():
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass

    def outcome(self, sink, cancelled=None):
        """(key of OUTCOMES, its Outcome, the one-line summary) of the ended job; ``cancelled``
        overrides whether the stop counts as a cancel (a watcher undoes its stopped batches)."""
        stopped = self.stopped if cancelled is None else cancelled
        key, summary = classify(sink, self.controller, self.failure, stopped)
        return key, OUTCOMES[key], summary
