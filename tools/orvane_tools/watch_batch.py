"""The watcher's batches, one at a time: claimed from INBOX, split in a staging folder, put in the
archive or the failed folder.

A batch is taken only once it is complete (see watch_arrivals), moved into a staging folder of its
own and split there by a new `orvaneClass`; its source then goes to the archive (finished) or to the
failed folder with a ``.reason.txt`` beside it. Every move is a rename written to the journal first
(see watchstate), so a stop at any moment loses nothing and does nothing twice; a restart finishes
or undoes what was under way.

The window (or any other front end) drives a `Watcher` with `start()` and `stop()` and learns of
each batch through its ``on_batch`` callback and of state changes through ``on_state``.
"""
import collections
import filecmp
import hashlib
import itertools
import logging
import os
import shutil
import socket
import threading
import time

from . import events, frontend, settings as user_settings, splitter_line
from .i18n import _, ngettext
from .outcomes import OUTCOMES
from .watch_arrivals import Arrivals, pdf_opener
from .watch_process import WatchSink, _LogStream, crash_point, end_stray_splitters, run_batch_job
from .watchstate import AlreadyWatched, InboxLock, Journal, free_name, fsync_dir, move_file, write_atomic

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


# Each batch's events file (its job record) is kept in this folder of the watcher's state, pruned
# on its own, apart from the window's records; every such folder is listed, one a line, in
# RECORD_FOLDERS in the user's cache folder, so that the window's review finds watched batches of
# any watcher the user ran.
RECORDS_DIR_NAME = "jobs"
RECORD_FOLDERS = "watched-records.txt"
KEEP_RECORDS = 100

BatchStatus = collections.namedtuple("BatchStatus", "time name status summary documents seconds kind")
BatchStatus.__new__.__defaults__ = (None,)
BatchStatus.__doc__ = """One batch's result: ``time`` (epoch seconds of its end), ``name`` (the source
file), ``status`` (one of the outcomes' watcher words in outcomes.OUTCOMES, or retry), ``summary``
(one line), ``documents`` (how many the splitter wrote), ``seconds`` (how long the job took) and
``kind`` (why its file was not split, as the splitter's events say; None otherwise)."""


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


def token_fingerprint(token):
    return hashlib.sha256((token or "").encode("utf-8")).hexdigest()[:16]


def output_folders(target, name):
    """The folders in ``target`` a job on the source ``name`` may write: the splitter names them
    after the file, ``stem`` or ``stem_N``. Only those are snapshot, and only new ones among them
    deleted when a job is undone, so the output of other jobs writing into TARGET stays."""
    stem = os.path.splitext(name)[0]
    return {folder for folder in frontend.list_subfolders(target)
            if folder == stem or (folder.startswith(stem + "_") and folder[len(stem) + 1:].isdigit())}


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
        self._held = None          # the INBOX's lock, when `claim` took it ahead of `run`
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

    def claim(self):
        """What `run` checks first, and the INBOX's lock; raises AlreadyWatched or OSError. Called
        ahead of `run` by a front end that must refuse before it says anything else."""
        s = self.settings
        check_folders(s)
        for folder in (s.state_dir, s.archive, s.failed):
            os.makedirs(folder, exist_ok=True)
        if not os.path.isfile(s.job.splitter):
            # Every batch would go to the failed folder for it.
            raise OSError("the splitter program does not exist: {} (give --splitter)".format(s.job.splitter))
        self._held = InboxLock(s.state_dir).__enter__()

    def run(self):
        s = self.settings
        self._set_state("starting")
        if self._held is None:
            self.claim()
        lock, self._held = self._held, None
        try:
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
        finally:
            lock.__exit__(None, None, None)
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
            result = self._run_job(record, events_path)
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
        self._report(record["status"], name, record["summary"], record["documents"], started, record.get("kind"))
        self._set_state("watching")
        return 1

    def _run_job(self, record, events_path):
        """Run one module job on the staging folder; (outcome key, summary, sink), or None when a
        stop ended it."""
        token = self.token()
        sink = WatchSink(_LogStream("[{}] ".format(record["name"])), token)
        job, controller_class = self.settings.job, self.controller_class
        # A new controller per job: a refused token sets its run_code to 0 for good.
        return run_batch_job(lambda: job.controller(sink, token, record["stage_dir"], controller_class), sink,
                             record["name"], events_path, self._stop, self.settings.stop_wait, job.environ())

    def _decide(self, record, job, key, summary, sink):
        """Where the source goes and why, from how the job ended (``job``: its events' record)."""
        status = OUTCOMES[key].watch
        if key == "finished" or (key == "refused" and sink.refused_after_done and sink.summary_seen):
            # (When only the end of the job was refused, the documents are written: done.)
            return {"status": FINISHED, "summary": summary, "documents": sink.documents}
        reason = [summary] + sink.not_split_lines
        if key == "refused":
            reason.append("It goes back to INBOX by itself once the watcher has a new login token.")
        elif key == "no-summary":
            reason.append("Put the file back into INBOX to split it again.")
        reason += ["", "The job's messages:"] + sink.lines
        not_split = [name for name, outcome in job.outcomes.items() if outcome[0] == "not split"]
        reasons = [job.outcomes[name][1] for name in not_split]
        if not reasons:  # a splitter that could not write its events: its lines say the same
            reasons = [splitter_line.parse(line).reason for line in sink.not_split_lines]
        if reasons:
            summary = splitter_line.not_split_words(reasons[0])
        return {"status": status, "summary": summary, "documents": 0,
                "kind": job.kinds.get(not_split[0]) if not_split else None,
                "reason": "\n".join(reason) + "\n",
                "token": token_fingerprint(self.token()) if status == REFUSED else None}

    def _finish(self, record):
        """Put the source of a decided batch in its last folder; repeatable after a crash."""
        failed = record["status"] != FINISHED
        if failed:
            self._remove_output(record)
        if os.path.exists(record["staged"]):
            self._move(record, record["staged"], self.settings.failed if failed else self.settings.archive, "dest")
        events.note_moved(os.path.join(self.settings.state_dir, RECORDS_DIR_NAME, record["id"] + ".jsonl"),
                          record["name"], record["dest"])
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

    def _report(self, status, name, summary, documents, started, kind=None):
        now = time.time()
        batch = BatchStatus(now, name, status, summary, documents, now - started if started else 0.0, kind)
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

