"""The window's watch panel: the source folder watched by a `watch.Watcher` on its own thread.

The watcher reports through `handover.WatchReports`; the panel takes its reports on the Tk thread
(`tick`) and shows the state, the batch under way with its progress (from the batch's own events
file, which the watcher keeps beside its state in the inbox), the last batch and the files waiting."""
import os
import time

from . import events, handover, splitter_line, watch
from .i18n import N_, _, ngettext
from .job_settings import option_values
from .reasons import reason_words

WATCH_CLOSE_WAIT = 150         # seconds closing the window waits for the watcher to undo its batch

# The watcher's states (English in its log) in the window's words; "splitting NAME" and "waiting:
# …" carry their own detail.
STATES = {"starting": N_("starting"), "watching": N_("watching"), "stopped": N_("stopped"),
          "stopping": N_("stopping: a batch under way is undone and its source put back")}
WAITING_REASONS = {watch.STILL_WRITTEN: N_("still being written"),
                   watch.NOT_COMPLETE: N_("incomplete or damaged: set aside at {time} if it does not change")}


MISSING = {"source": N_("the source folder does not exist"), "target": N_("the target folder does not exist")}
# A batch's status word (English in the log and the status file, which scripts read) in the window.
STATUS_WORDS = {"finished": N_("finished"), "not-split": N_("not split"), "restored": N_("put back"),
                "retry": N_("split again"), "refused": N_("refused"), "refused-input": N_("input refused"),
                "no-summary": N_("incomplete"), "failed": N_("failed"), "empty": N_("nothing to do")}
# The watcher's texts that name the command line's INBOX, in the window's folder words.
FOLDER_WORDS = (
    (N_("stopped while splitting; back in INBOX"), N_("stopped while splitting; back in the source folder")),
    (N_("interrupted batch undone; back in INBOX"), N_("interrupted batch undone; back in the source folder")),
    (N_("new login token: back in INBOX"), N_("new login token: back in the source folder")),
    (N_("INBOX cannot be read ({})"), N_("the source folder cannot be read ({})")))


def folder_words(text):
    """A text of the watcher (in the user's language already) with the window's folder words."""
    for cli, window in FOLDER_WORDS:
        head, brace, tail = _(cli).partition("{}")
        if text == head or (brace and text.startswith(head) and text.endswith(tail)):
            return _(window).format(text[len(head):len(text) - len(tail)])
    return text


def batch_words(batch):
    """A batch's status line as the window shows it: the status word and the reason in the user's
    language, the folders in the window's words."""
    summary = folder_words(batch.summary)
    if batch.kind and batch.summary.startswith(splitter_line.not_split_words("")):
        summary = _("NOT SPLIT: {}").format(reason_words(batch.kind, summary))
    return "{}  {}  {}  {}, {:.1f} s  {}".format(
        time.strftime("%H:%M:%S", time.localtime(batch.time)), _(STATUS_WORDS.get(batch.status, batch.status)),
        batch.name, ngettext("{} document", "{} documents", batch.documents).format(batch.documents),
        batch.seconds, summary)


def state_words(state):
    if state.startswith("splitting "):
        return _("splitting {}").format(state[len("splitting "):])
    if state.startswith("error: "):
        return _("ended with an error: {}").format(state[len("error: "):])
    if state.startswith("waiting: "):
        return _("waiting: {}").format(folder_words(state[len("waiting: "):]))
    return _(STATES[state]) if state in STATES else state


def waiting_words(waiting):
    """The inbox files not yet taken, each with why: "a.pdf (still being written)"."""
    if not waiting:
        return ""
    listed = _(", ").join(_("{name} ({reason})").format(name=name, reason=_(WAITING_REASONS[reason]).format(
        time=time.strftime("%H:%M", time.localtime(at)) if at else "")) for name, reason, at in waiting)
    return ngettext("Waiting: {}", "Waiting: {}", len(waiting)).format(listed)


class WatchPanel(object):
    """Starts and stops the watcher and shows what it reports. ``labels``: the window's status
    labels (state, batch, last, waiting); ``say`` adds a line to the main pane, ``details`` one to
    the Details pane, ``announce`` sets the window's title state, ``progress`` shows a batch's
    record (None: no batch under way)."""

    def __init__(self, labels, say, details, announce, progress):
        self.labels = labels
        self.say = say
        self.details = details
        self.announce = announce
        self.progress = progress
        self.watcher = None
        self.recognises = False      # whether its batches' splitter recognises text
        self.reports = None
        self.log = None
        self.token = None
        self.batch = None            # (events path, EventTail, JobRecord) of the batch under way
        self.close_by = None

    def start(self, v, token_source, token):
        """Start watching with the form's values; an error text when it cannot start, else None."""
        s = watch.Settings(v["source"], v["target"], token_source, v["urldb"], v["splitter"],
                           archive=v["archive"] or None, failed=v["failed"] or None, workers=v["workers"],
                           threshold=v["threshold"], **option_values(v))
        try:
            watch.check_folders(s)  # before its log file is made in the source folder
        except OSError:
            missing = "source" if not os.path.isdir(s.inbox) else "target"
            return _("Watching cannot start: {}.").format(_(MISSING[missing]))
        self.recognises = s.job.recognises()
        self.reports = handover.WatchReports(token)
        self.token = token
        log_path = os.path.join(s.state_dir, "watch.log")
        self.log = watch.open_log(log_path)
        self.watcher = watch.Watcher(s, on_batch=self.reports.on_batch, on_state=self.reports.on_state,
                                     on_waiting=self.reports.on_waiting)
        self.watcher.start()
        self.say(_("Watching {inbox} → {target}: finished sources go to {archive}, the others to {failed}.")
                 .format(inbox=s.inbox, target=s.target, archive=s.archive, failed=s.failed))
        self.details(_("Watcher's log: {}").format(log_path))
        self.show_state("starting")
        return None

    def stop(self, closing=False):
        if closing:
            self.close_by = time.monotonic() + WATCH_CLOSE_WAIT
        self.watcher.stop(timeout=0)
        self.show_state("stopping")

    def show_state(self, state):
        self.labels["state"]["text"] = _("Watching: {}").format(state_words(state))
        self.announce(state)
        if state.startswith("splitting ") and self.watcher is not None:
            path = self.watcher.current_events
            if path:
                self.batch = (path, events.EventTail(path), events.JobRecord(recognises=self.recognises))
        elif self.batch is not None or state == "stopped":
            self.batch = None
            self.progress(None)

    def tick(self):
        """Takes the watcher's reports; True once the watcher has ended (or closing waited long enough)."""
        ended = not self.watcher.running()  # before taking, so that its last reports are taken too
        for kind, text in self.reports.take():
            if kind == "batch":
                text = batch_words(text)
                self.labels["last"]["text"] = _("Last batch: {}").format(text)
                self.say(text)
            elif kind == "waiting":
                self.labels["waiting"]["text"] = waiting_words(text)
            else:
                self.show_state(text)
                if text.startswith("error: "):
                    self.say(state_words(text))
        if self.batch is not None:
            _path, tail, record = self.batch
            record.apply_all(tail.poll())
            self.progress(record)
        # (Past the wait, the next start undoes the batch left under way.)
        return ended or (self.close_by is not None and time.monotonic() > self.close_by)

    def ended(self):
        watch.LOG.removeHandler(self.log)
        self.log.close()
        self.watcher = self.batch = self.close_by = None
        self.labels["waiting"]["text"] = ""
        self.progress(None)

    def token_entered(self, token):
        """A token entered while watching is used from the next batch on."""
        if self.watcher is None or not token or token == self.token:
            return
        self.reports.hide(token)
        self.token = token
        self.watcher.set_token(token)
        self.say(_("The new login token is used from the next batch on."))
