"""`orvane watch`: split every batch a scanner drops into a folder, one module job per batch, for days.

A batch is taken only once it is complete (size and modification time stable, and qpdf opens it),
moved into a staging folder of its own and split there by a new `orvaneClass`; its source then goes
to the archive (finished) or to the failed folder with a ``.reason.txt`` beside it. Every move is a
rename written to the journal first (see watchstate), so a stop at any moment loses nothing and
does nothing twice; a restart finishes or undoes what was under way.

The window (or any other front end) drives a `Watcher` with `start()` and `stop()` and learns of
each batch through its ``on_batch`` callback and of state changes through ``on_state``.
"""
import collections
import filecmp
import hashlib
import itertools
import logging
import logging.handlers
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

from . import events, frontend, settings as user_settings, splitter_line
from .i18n import _, ngettext
from .watchstate import (STATE_DIR_NAME, AlreadyWatched, InboxLock, Journal, free_name, fsync_dir,
                         move_file, write_atomic)

LOG = logging.getLogger("orvane.watch")

# Where a batch is on its way; each is written to the journal before the step it names is done.
CLAIMING = "claiming"    # about to move the source from INBOX into its staging folder
SPLITTING = "splitting"  # the source is staged; the job runs (or ran) on it
FINISHING = "finishing"  # the job's outcome is known; the source goes to its last folder
PARKED = "parked"        # in the failed folder for a refused token; back to INBOX with a new one

# What a batch came to (BatchStatus.status).
FINISHED = "finished"
FAILED = "failed"
REFUSED = "refused"
RETRY = "retry"          # sources refused under an older token went back to INBOX
RESTORED = "restored"    # an interrupted batch was undone; its source is back in INBOX

# Why a PDF file in INBOX is not taken yet (Arrivals.waiting_list).
STILL_WRITTEN = "still being written"
NOT_COMPLETE = "not a complete PDF yet"

# Each batch's events file (its job record) is kept in this folder of the watcher's state, pruned
# on its own, apart from the window's records; every such folder is listed, one a line, in
# RECORD_FOLDERS in the user's cache folder, so that the window's review finds watched batches of
# any watcher the user ran.
RECORDS_DIR_NAME = "jobs"
RECORD_FOLDERS = "watched-records.txt"
KEEP_RECORDS = 100

BatchStatus = collections.namedtuple("BatchStatus", "time name status summary documents seconds")
BatchStatus.__doc__ = """One batch's result: ``time`` (epoch seconds of its end), ``name`` (the source
file), ``status`` (one of the outcomes' watcher words in frontend.OUTCOMES, or retry), ``summary`` (one line), ``documents``
(how many the splitter wrote) and ``seconds`` (how long the job took)."""


def crash_point(name):
    """Fault injection for the restart tests: when ORVANE_WATCH_CRASH_AT names this point, end
    this process at once as a power cut would (or "POINT:SIGTERM", "POINT:SIGINT": signal it)."""
    point, _, signame = os.environ.get("ORVANE_WATCH_CRASH_AT", "").partition(":")
    if point == name:
        os.environ.pop("ORVANE_WATCH_CRASH_AT")
        os.kill(os.getpid(), getattr(signal, signame or "SIGKILL", signal.SIGTERM))


# ------------------------------------------------------------------------------------------------
# When is a file complete?


def pdf_opener(qpdf=None):
    """A test ``opens(path) -> bool`` and its description: qpdf reads the file without having to
    repair it; where no qpdf program is installed (Windows, usually), the file starts like a PDF and
    ends with its end-of-file mark."""
    program = qpdf or shutil.which("qpdf")
    if program:
        return (lambda path: _qpdf_opens(program, path)), "qpdf ({})".format(program)
    return _ends_like_a_pdf, "no qpdf program: the file's first and last bytes"


def _qpdf_opens(program, path):
    try:
        done = subprocess.run([program, "--show-npages", path], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120)
    except (OSError, subprocess.TimeoutExpired):
        return False
    # 3 means qpdf had to repair it: a file still being written looks just like that.
    return done.returncode == 0


def _ends_like_a_pdf(path):
    try:
        with open(path, "rb") as fh:
            head = fh.read(5)
            fh.seek(max(0, os.fstat(fh.fileno()).st_size - 1024))
            tail = fh.read()
    except OSError:
        return False
    return head == b"%PDF-" and b"%%EOF" in tail


class Arrivals(object):
    """Tells which PDF files of a folder are complete: unchanged in size and modification time for
    ``settle`` seconds and opened by ``opens``. A file that stays unchanged but does not open is
    taken after ``damaged_after`` seconds anyway: the splitter then says why it cannot be split."""

    def __init__(self, opens, settle=5.0, damaged_after=120.0, clock=time.monotonic):
        self.opens = opens
        self.settle = settle
        self.damaged_after = damaged_after
        self.clock = clock
        self.seen = {}   # name -> [signature, unchanged since, opened (None: not tried)]

    def ready(self, folder):
        """Names of the complete PDF files in ``folder``, oldest first."""
        now = self.clock()
        present = {}
        for entry in _scan_pdfs(folder):
            try:
                present[entry.name] = (entry.path, entry.stat())
            except FileNotFoundError:
                continue
        for gone in set(self.seen) - set(present):
            del self.seen[gone]
        complete = []
        for name, (path, stat) in present.items():
            signature = (stat.st_size, stat.st_mtime_ns)
            state = self.seen.get(name)
            if state is None or state[0] != signature:
                self.seen[name] = state = [signature, now, None]
            unchanged = now - state[1]
            if unchanged < self.settle:
                continue
            if state[2] is None:
                state[2] = self.opens(path)
            if state[2] or unchanged >= self.settle + self.damaged_after:
                complete.append((stat.st_mtime_ns, name))
        return [name for _mtime, name in sorted(complete)]

    def forget(self, name):
        self.seen.pop(name, None)

    def waiting(self):
        return len(self.seen)

    def waiting_list(self):
        """(name, reason) of each file not taken yet, by name: STILL_WRITTEN while it changes (or
        has not been unchanged long enough), NOT_COMPLETE while it does not open."""
        now = self.clock()
        return [(name, STILL_WRITTEN if state[2] is None or now - state[1] < self.settle else NOT_COMPLETE)
                for name, state in sorted(self.seen.items())]


def records_folders(listing=None):
    """The record folders of every watcher the user ran (see RECORD_FOLDERS), those still there."""
    try:
        with open(listing or os.path.join(user_settings.cache_dir(), RECORD_FOLDERS), encoding="utf-8") as fh:
            return [line.rstrip("\n") for line in fh if os.path.isdir(line.rstrip("\n"))]
    except OSError:
        return []


def register_records(folder, listing=None):
    """Adds ``folder`` to the user's list of watched batches' record folders (once)."""
    listing = listing or os.path.join(user_settings.cache_dir(), RECORD_FOLDERS)
    known = records_folders(listing)
    if folder in known:
        return
    try:
        os.makedirs(os.path.dirname(listing), exist_ok=True)
        write_atomic(listing, "".join(p + "\n" for p in known + [folder]).encode("utf-8"))
    except OSError as exc:
        LOG.warning("the review cannot find this watcher's batches: %s", exc)


def _scan_pdfs(folder):
    """The PDF files directly in ``folder``; hidden and temporary names are left to their writers."""
    with os.scandir(folder) as entries:
        for entry in entries:
            if entry.name.startswith((".", "~")) or not entry.name.lower().endswith(".pdf"):
                continue
            if entry.is_file(follow_symlinks=False):
                yield entry


# ------------------------------------------------------------------------------------------------
# One job


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


def token_fingerprint(token):
    return hashlib.sha256((token or "").encode("utf-8")).hexdigest()[:16]


def output_folders(target, name):
    """The folders in ``target`` a job on the source ``name`` may write: the splitter names them
    after the file, ``stem`` or ``stem_N``. Only those are snapshot, and only new ones among them
    deleted when a job is undone, so the output of other jobs writing into TARGET stays."""
    stem = os.path.splitext(name)[0]
    return {folder for folder in frontend.list_subfolders(target)
            if folder == stem or (folder.startswith(stem + "_") and folder[len(stem) + 1:].isdigit())}


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
    for pid, (_parent, name) in frontend.process_table().items():
        if name != frontend.SPLITTER_NAME:
            continue
        try:
            with open("/proc/{}/cmdline".format(pid), "rb") as fh:
                argv = fh.read().decode("utf-8", "surrogateescape").split("\0")
        except OSError:
            continue
        yield pid, argv


# ------------------------------------------------------------------------------------------------
# The watcher


class Settings(object):
    """What a watcher needs. ``token`` is the login token, or a callable answering the current one
    (read before every batch, so a renewed token file takes effect without a restart)."""

    def __init__(self, inbox, target, token, urldb, splitter, archive=None, failed=None, workers=1,
                 threshold=19, settle=5.0, poll=2.0, damaged_after=120.0, qpdf=None, state_dir=None,
                 stop_wait=120.0):
        self.inbox = os.path.abspath(inbox)
        self.target = os.path.abspath(target)
        self.archive = os.path.abspath(archive or os.path.join(self.inbox, "archive"))
        self.failed = os.path.abspath(failed or os.path.join(self.inbox, "failed"))
        self.state_dir = os.path.abspath(state_dir or os.path.join(self.inbox, STATE_DIR_NAME))
        self.token = token
        self.urldb = os.path.abspath(urldb)
        self.splitter = splitter
        self.workers = workers
        self.threshold = threshold
        self.settle = settle
        self.poll = poll
        self.damaged_after = damaged_after
        self.qpdf = qpdf
        self.stop_wait = stop_wait

    def current_token(self):
        return self.token() if callable(self.token) else self.token


class TokenFile(object):
    """The login token read from a file before every batch, so that a renewed token takes effect
    without a restart; while the file cannot be read (being rewritten), the last one read."""

    def __init__(self, path, read, first):
        self.path = path
        self.read = read
        self.last = first

    def __call__(self):
        try:
            self.last = self.read(self.path) or self.last
        except OSError:
            pass
        return self.last


class Watcher(object):
    """Watches one INBOX. ``run()`` blocks until ``stop()``; ``start()`` runs it on a thread.

    ``on_batch(BatchStatus)`` is called after every batch and ``on_state(text)`` whenever the
    watcher's state changes ("starting", "watching", "splitting NAME", "stopping", "stopped", or
    "error: ..."); both are called on the watcher's thread and must not block. ``last`` holds the
    latest BatchStatus. ``on_waiting(list)`` is told the files not taken yet with their reasons
    (Arrivals.waiting_list) whenever that list changes."""

    def __init__(self, settings, on_batch=None, on_state=None, controller_class=None, on_waiting=None):
        self.settings = settings
        self.on_batch = on_batch
        self.on_state = on_state
        self.on_waiting = on_waiting
        self.waiting = []
        self.current_events = None   # the events file of the batch under way
        self.controller_class = controller_class
        self.state = "stopped"
        self.last = None
        self.batches = 0
        self.exit_when_idle = False
        self._stop = threading.Event()
        self._thread = None
        self._token_override = None
        self._claims = itertools.count()
        opens, self.opener_text = pdf_opener(settings.qpdf)
        self.arrivals = Arrivals(opens, settings.settle, settings.damaged_after)
        self.journal = None

    # -- driving it ---------------------------------------------------------------------------

    def start(self):
        """Run the watcher on a thread of its own; False if it is still running or stopping."""
        if self._thread is not None and self._thread.is_alive():
            return False
        self._stop.clear()
        self._thread = threading.Thread(target=self._run_reporting, name="orvane-watch", daemon=True)
        self._thread.start()
        return True

    def stop(self, timeout=None):
        """Ask the watcher to stop: a running job is ended (its own splitter only), its partial
        output deleted and its source put back into INBOX. Returns True once it has stopped."""
        self._stop.set()
        if self._thread is None or self._thread is threading.current_thread():
            return True
        self._thread.join(timeout)
        return not self._thread.is_alive()

    def stopping(self):
        return self._stop.is_set()

    def running(self):
        return self._thread is not None and self._thread.is_alive()

    def set_token(self, token):
        """A new login token for the following batches; sources refused under an older one go back
        to INBOX."""
        self._token_override = token

    def token(self):
        return self._token_override or self.settings.current_token()

    def _run_reporting(self):
        try:
            self.run()
        except Exception as exc:
            LOG.error("the watcher stopped: %s", exc, exc_info=not isinstance(exc, (AlreadyWatched, OSError)))
            self._set_state("error: {}".format(exc))

    def run(self):
        s = self.settings
        self._set_state("starting")
        check_folders(s)
        for folder in (s.state_dir, s.archive, s.failed):
            os.makedirs(folder, exist_ok=True)
        if not os.path.isfile(s.splitter):
            # Every batch would go to the failed folder for it.
            raise OSError("the splitter program does not exist: {} (give --splitter)".format(s.splitter))
        with InboxLock(s.state_dir):
            self.journal = Journal(os.path.join(s.state_dir, "journal"))
            LOG.info("watching %s into %s; complete files: %s", s.inbox, s.target, self.opener_text)
            self._recover()
            self._set_state("watching")
            while not self._stop.is_set():
                self._retry_refused()
                taken = self._take_ready()
                if self.exit_when_idle and not taken and not self.arrivals.waiting():
                    break
                self._stop.wait(0 if taken else s.poll)
        self._set_state("stopped")

    def _take_ready(self):
        if not os.path.isdir(self.settings.target):
            self._set_state("waiting: " + _("the target folder is missing"))
            return 0
        try:
            ready = self.arrivals.ready(self.settings.inbox)
        except OSError as exc:  # a network folder that is away for a while
            self._set_state("waiting: " + _("INBOX cannot be read ({})").format(exc))
            return 0
        self._set_state("watching")
        waiting = [w for w in self.arrivals.waiting_list() if w[0] not in ready]
        if waiting != self.waiting:
            self.waiting = waiting
            self._call(self.on_waiting, waiting)
        taken = 0
        for name in ready:
            if self._stop.is_set():
                break
            self.arrivals.forget(name)
            taken += self._batch(name)
        return taken

    # -- one batch ----------------------------------------------------------------------------

    def _batch(self, name):
        """Claim one complete source, run its job and put the source where it belongs."""
        s = self.settings
        job_id = "{}-{}-{}".format(time.strftime("%Y%m%d%H%M%S"), os.getpid(), next(self._claims))
        stage_dir = os.path.join(s.state_dir, "staging", job_id)
        record = {"id": job_id, "name": name, "state": CLAIMING, "host": socket.gethostname(),
                  "inbox": os.path.join(s.inbox, name),
                  "stage_dir": stage_dir, "staged": os.path.join(stage_dir, name),
                  "snapshot": sorted(output_folders(s.target, name))}
        self.journal.save(record)
        crash_point("claiming")
        try:
            os.makedirs(stage_dir)
            move_file(record["inbox"], record["staged"])
        except OSError as exc:
            # Gone (another watcher took it, or it was deleted) or still held open by its writer.
            LOG.info("%s not taken: %s", name, exc)
            _remove_empty(stage_dir)
            self.journal.drop(record)
            return 0
        self.batches += 1
        record["state"] = SPLITTING
        self.journal.save(record)
        crash_point("staged")

        records = os.path.join(s.state_dir, RECORDS_DIR_NAME)
        os.makedirs(records, exist_ok=True)
        events.prune_records(records, KEEP_RECORDS - 1)
        register_records(records)
        events_path = self.current_events = os.path.join(records, job_id + ".jsonl")
        self._set_state("splitting {}".format(name))
        started = time.time()
        try:
            with events.EventsFile(events_path):
                result = self._run_job(record)
        finally:
            self.current_events = None
        if result is None:
            self._undo(record)
            self._report(RESTORED, name, _("stopped while splitting; back in INBOX"), 0, started)
            return 1
        crash_point("split")
        record.update(self._decide(record, events.read_record(events_path), *result))
        record["state"] = FINISHING
        self.journal.save(record)
        crash_point("finishing")
        self._finish(record)
        self._report(record["status"], name, record["summary"], record["documents"], started)
        self._set_state("watching")
        return 1

    def _run_job(self, record):
        """Run one module job on the staging folder; (exit status, summary, sink), or None when a
        stop ended it."""
        s = self.settings
        token = self.token()
        sink = WatchSink(_LogStream("[{}] ".format(record["name"])), token)
        controller_class = self.controller_class
        if controller_class is None:
            import Orvane
            controller_class = Orvane.orvaneClass
        # A new object per job: a refused token sets run_code to 0 for good.
        controller = controller_class(record["stage_dir"], s.target, s.workers, s.threshold, token,
                                      s.urldb, s.splitter, sink)
        finished, failure = frontend.start_job(controller, "orvane-watch-job")
        stopping_since = None
        while not finished.wait(0.1):
            if os.environ.get("ORVANE_WATCH_CRASH_AT", "").startswith("running") and \
                    frontend.splitter_children():
                crash_point("running")
            if self._stop.is_set():
                stopping_since = stopping_since or time.monotonic()
                if time.monotonic() - stopping_since > s.stop_wait:
                    return None  # still inside the module (a stalled announcement): undo anyway
                self._end_own_splitter(controller)
        if self._stop.is_set() and stopping_since is not None:
            return None
        for text in failure:
            LOG.error("[%s] %s", record["name"], text.rstrip())
        key, summary = frontend.classify(sink, controller, failure, False)
        return key, summary, sink

    @staticmethod
    def _end_own_splitter(controller):
        # No splitter may start after this: the job checks the flag before starting it.
        controller.run_code = 0
        if os.path.isdir("/proc/self"):
            for pid in frontend.splitter_children():
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
        else:
            controller.stopCut()  # no process table to find our own child in: the module's way

    def _decide(self, record, job, key, summary, sink):
        """Where the source goes and why, from how the job ended (``job``: its events' record)."""
        status = frontend.OUTCOMES[key].watch
        if key == "finished" or (key == "refused" and sink.refused_after_done and sink.summary_seen):
            # (When only the end of the job was refused, the documents are written: done.)
            return {"status": FINISHED, "summary": summary, "documents": sink.documents}
        reason = [summary] + sink.not_split_lines
        if key == "refused":
            reason.append("It goes back to INBOX by itself once the watcher has a new login token.")
        elif key == "no-summary":
            reason.append("Put the file back into INBOX to split it again.")
        reason += ["", "The job's messages:"] + sink.lines
        reasons = [outcome[1] for outcome in job.outcomes.values() if outcome[0] == "not split"]
        if not reasons:  # a splitter that could not write its events: its lines say the same
            reasons = [splitter_line.parse(line).reason for line in sink.not_split_lines]
        if reasons:
            summary = splitter_line.not_split_words(reasons[0])
        return {"status": status, "summary": summary, "documents": 0,
                "reason": "\n".join(reason) + "\n",
                "token": token_fingerprint(self.token()) if status == REFUSED else None}

    def _finish(self, record):
        """Put the source of a decided batch in its last folder; repeatable after a crash."""
        failed = record["status"] != FINISHED
        if failed:
            self._remove_output(record)
        if os.path.exists(record["staged"]):
            self._move(record, record["staged"], self.settings.failed if failed else self.settings.archive, "dest")
        if failed:
            write_atomic(record["dest"] + ".reason.txt", record["reason"].encode("utf-8"))
        crash_point("moved")
        _remove_empty(record["stage_dir"])
        if record["status"] == REFUSED:
            record["state"] = PARKED
            self.journal.save(record)
        else:
            self.journal.drop(record)

    def _undo(self, record):
        """Take an interrupted batch back: its splitter ended, its partial output deleted, its source
        back in INBOX, where it is taken again like a new one."""
        end_stray_splitters(record["stage_dir"])
        self._remove_output(record)
        if os.path.exists(record["staged"]):
            self._move(record, record["staged"], self.settings.inbox, "back")
        _remove_empty(record["stage_dir"])
        self.journal.drop(record)

    def _move(self, record, src, folder, key):
        """Move ``src`` into ``folder`` under a free name that is written to the journal first, so
        that a repeat after a crash finds a copy to another file system already made (and only
        removes the source) instead of making a second one."""
        dst = record.get(key)
        if dst and os.path.isfile(dst) and filecmp.cmp(src, dst, shallow=False):
            os.remove(src)
            fsync_dir(os.path.dirname(src))
            return
        if not dst or os.path.lexists(dst):
            record[key] = dst = os.path.join(folder, free_name(folder, record["name"]))
            self.journal.save(record)
        move_file(src, dst)

    def _remove_output(self, record):
        for name in sorted(output_folders(self.settings.target, record["name"]) - set(record["snapshot"])):
            LOG.info("[%s] deleting partial output %s", record["name"], name)
            shutil.rmtree(os.path.join(self.settings.target, name))
        fsync_dir(self.settings.target)

    def _recover(self):
        """Finish or undo what a stopped watcher left under way."""
        for record in self.journal.records():
            if record["state"] == PARKED:
                continue
            if record.get("host") != socket.gethostname():
                # Its watcher may still be at work there: the lock need not reach across machines.
                LOG.warning("[%s] left %s by the watcher on %s: start that one to finish it",
                            record["name"], record["state"], record.get("host"))
                continue
            LOG.info("[%s] picking up a batch left %s", record["name"], record["state"])
            if record["state"] == FINISHING:
                self._finish(record)
            elif os.path.exists(record["staged"]):
                self._undo(record)
                self._report(RESTORED, record["name"], _("interrupted batch undone; back in INBOX"), 0, None)
            else:  # never left INBOX
                _remove_empty(record["stage_dir"])
                self.journal.drop(record)

    def _retry_refused(self):
        """Sources refused under an older token go back to INBOX once the token has changed."""
        current = token_fingerprint(self.token())
        for record in self.journal.records():
            if record["state"] != PARKED or record["token"] == current:
                continue
            if os.path.exists(record["dest"]):
                self._move(record, record["dest"], self.settings.inbox, "back")
                self._report(RETRY, os.path.basename(record["back"]), _("new login token: back in INBOX"), 0, None)
            try:
                os.remove(record["dest"] + ".reason.txt")
            except FileNotFoundError:
                pass
            self.journal.drop(record)

    # -- telling ------------------------------------------------------------------------------

    def _report(self, status, name, summary, documents, started):
        now = time.time()
        batch = BatchStatus(now, name, status, summary, documents, now - started if started else 0.0)
        self.last = batch
        LOG.info("%s", format_status(batch))
        write_atomic(os.path.join(self.settings.state_dir, "last-batch.txt"),
                     (format_status(batch) + "\n").encode("utf-8"))
        self._call(self.on_batch, batch)

    def _set_state(self, state):
        if state == self.state:
            return
        self.state = state
        self._call(self.on_state, state)

    @staticmethod
    def _call(callback, value):
        # A fault in the window's callback must not stop the watching.
        if callback is not None:
            try:
                callback(value)
            except Exception:
                LOG.exception("a status callback failed")


def check_folders(settings):
    """INBOX and TARGET must exist before anything is made in them: a mistyped INBOX, or a network
    folder not mounted, must not become a new empty folder that is watched in vain."""
    for folder, what in ((settings.inbox, "INBOX"), (settings.target, "TARGET")):
        if not os.path.isdir(folder):
            raise OSError("{} folder does not exist: {}".format(what, folder))


def format_status(batch):
    """The one status line of a batch."""
    # (The status word stays as it is in every language: scripts and the table of endings read it.)
    return "{}  {:<8}  {}  {}, {:.1f} s  {}".format(
        time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(batch.time)), batch.status, batch.name,
        ngettext("{} document", "{} documents", batch.documents).format(batch.documents), batch.seconds,
        batch.summary)


def _remove_empty(folder):
    try:
        os.rmdir(folder)
    except FileNotFoundError:
        return
    except OSError:
        # Not empty: a source or a splitter's left-over lies there; leave it to be seen.
        return
    fsync_dir(os.path.dirname(folder))


# ------------------------------------------------------------------------------------------------
# The command


def add_arguments(p):
    """`orvane watch`'s own options (the job options are those of `orvane split`)."""
    p.add_argument("--archive", metavar="DIR", help=_("where finished sources go (default: INBOX/archive)"))
    p.add_argument("--failed", metavar="DIR",
                   help=_("where sources that could not be split go, with NAME.reason.txt beside "
                          "(default: INBOX/failed)"))
    p.add_argument("--settle", type=float, default=5.0, metavar="SECONDS",
                   help=_("a file is complete once its size and time have not changed for this long "
                          "and qpdf opens it (default: %(default)s)"))
    p.add_argument("--poll", type=float, default=2.0, metavar="SECONDS",
                   help=_("how often INBOX is looked at (default: %(default)s)"))
    p.add_argument("--damaged-after", type=float, default=120.0, metavar="SECONDS",
                   help=_("a file that stays unchanged but does not open is split anyway after this "
                          "long, so that it fails with its reason (default: %(default)s)"))
    p.add_argument("--log", metavar="FILE",
                   help=_("log file, rotated at 1 MB, five kept (default: INBOX/{}/watch.log)")
                   .format(STATE_DIR_NAME))
    p.add_argument("--exit-when-idle", action="store_true",
                   help=_("end once INBOX holds nothing more to split (for a scheduled task)"))


def open_log(path):
    """Send the watcher's log to ``path``, rotated at 1 MB with five old files kept; returns the
    handler (remove it from LOG and close it to stop)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    handler = logging.handlers.RotatingFileHandler(path, maxBytes=1 << 20, backupCount=5, encoding="utf-8")
    handler.setFormatter(logging.Formatter("%(asctime)s %(levelname)s %(message)s"))
    LOG.addHandler(handler)
    LOG.setLevel(logging.INFO)
    return handler


def run_command(settings, log_file=None, exit_when_idle=False, out=None):
    """`orvane watch` in the foreground: a status line per batch on ``out``, the log in a rotating
    file, Ctrl-C or SIGTERM to stop. Returns the exit status."""
    out = out or sys.stdout
    try:
        check_folders(settings)  # before the log file is made inside INBOX
    except OSError as exc:
        sys.stderr.write("orvane: {}\n".format(exc))
        return frontend.EXIT_CHECKS
    handler = open_log(log_file or os.path.join(settings.state_dir, "watch.log"))

    def show(batch):
        out.write(format_status(batch) + "\n")
        out.flush()

    watcher = Watcher(settings, on_batch=show)
    watcher.exit_when_idle = exit_when_idle

    def stop(signum, frame):
        if watcher.stopping():
            sys.stderr.write(_("orvane: stopped at once; the next start takes the batch back\n"))
            os._exit(frontend.EXIT_CANCELLED)
        sys.stderr.write(_("orvane: stopping: the batch under way is undone and its source put back\n"))
        watcher.stop(timeout=0)

    previous = [(sig, signal.signal(sig, stop)) for sig in (signal.SIGINT, signal.SIGTERM)]
    sys.stderr.write(_("orvane: watching {} (Ctrl-C stops)\n").format(settings.inbox))
    try:
        watcher.run()
    except (AlreadyWatched, OSError) as exc:
        sys.stderr.write("orvane: {}\n".format(exc))
        return frontend.EXIT_CHECKS
    finally:
        for sig, handler_before in previous:
            signal.signal(sig, handler_before)
        LOG.removeHandler(handler)
        handler.close()
    return frontend.EXIT_OK
