"""The window's state, decided without Tk: what it is doing (ready, a job running or stopping, a job
ended, watching), how each event changes that, and what the window then shows: its title, the line
under the progress bar, the bar, the outcome pane's lines, which buttons may be pressed and the
questions it asks. The window (gui.py) draws what this decides and nothing else.

Only one thread may change the state: the one that made it, which is the Tk thread. The job, the
watcher and the thumbnails run on threads of their own and hand their news over through queues and
files that the Tk thread reads in its tick (gui_runs); an event from any other thread raises.

A dialog runs a nested event loop until it is answered, so a job may end, or a watcher stop, while
a question about it is open. Every event names the job or the watcher it is about: one about a job
or a watcher that is no longer the window's own comes too late and changes nothing."""
import functools
import threading
import time

from .i18n import N_, _, ngettext
from .gui_watch import state_words
from .outcomes import OUTCOMES, window_words

TITLE = "Orvane"

# The title's words for what the window does, translated where the title is made (the watcher's
# states that carry a name or a detail are worded by the watch panel).
TITLE_WORDS = {"splitting": N_("splitting"), "stopping": N_("stopping"), "done": N_("done"),
               "nothing to do": N_("nothing to do"), "stopped": N_("stopped"), "refused": N_("refused"),
               "incomplete": N_("incomplete"), "failed": N_("failed"), "review": N_("review"),
               "review: making thumbnails": N_("review: making thumbnails"), "watching": N_("watching"),
               "starting": N_("starting")}

READY = "ready"                    # nothing runs (the window is new, a watcher has ended)
RUNNING = "running"                # a job runs
STOPPING = "stopping"              # a job runs, and Stop has been confirmed
ENDED = "ended"                    # a job has ended: `outcome` says how
WATCHING = "watching"              # the source folder is watched
WATCH_STOPPING = "watch-stopping"  # the watcher is asked to stop and undoes its batch

# What may be pressed in each mode: Start, Stop, the Watch box.
BUTTONS = {READY: (True, False, True), ENDED: (True, False, True), RUNNING: (False, True, False),
           STOPPING: (False, True, False), WATCHING: (False, False, True), WATCH_STOPPING: (False, False, True)}

# The outcomes after which the review shows where the job's files were split.
REVIEWED = ("finished", "not-split", "no-summary")

LANGUAGE_LATER = N_("The language changes when the window is opened again.")
DELETED = N_("{}: its output was deleted when the job was stopped")
STOP_QUESTION = N_("Stop the job?\n\nThe splitter is ended and the folders it has made in the target folder "
                   "are deleted.")
CLOSE_WATCHING = N_("Watching is on. Stop watching and close the window?\n\nA batch under way is undone and "
                    "its source put back into the source folder, to be split when watching starts again.")
CLOSE_RUNNING = N_("A job is running. Stop it and close the window?\n\nThe splitter is ended and its partial "
                   "output deleted.")

# What follows the end of a job, besides what it shows.
CLOSE, REFUSED, REVIEW = "close", "refused", "review"


WANTED_SIZE = (1100, 820)          # the window's first size where the screen has room for it
SMALLEST = (720, 560)


def first_geometry(work_area, remembered=None):
    """The window's geometry ("WxH" or "WxH+X+Y") in a work area of ``work_area`` (width, height:
    the screen less its taskbars and the window's frame): the size the user last gave it, else
    WANTED_SIZE, either made small enough to fit, and its place kept only while it stays on screen."""
    size, place = WANTED_SIZE, ""
    try:
        dims, _sep, where = (remembered or "").partition("+")
        size = tuple(int(n) for n in dims.split("x")) if dims else WANTED_SIZE
        if where:
            x, y = (int(n) for n in where.split("+"))
            place = "+{}+{}".format(x, y)
    except ValueError:
        size, place = WANTED_SIZE, ""
    width, height = (max(low, min(n, room)) for n, room, low in zip(size, work_area, SMALLEST))
    if place and (x + width > work_area[0] or y + height > work_area[1]):
        place = ""
    return "{}x{}{}".format(width, height, place)


def refusal_notice(refused):
    """The notice for a job the service or the checks refused: (problem, advice)."""
    return _("The job was refused: {}.\n\n{}").format(_(refused[0]), _(refused[1]))


def review_choice(found):
    """Which job the review of a target shows: the latest that still has documents in it. ``found``
    gives (time, JobRecord) of the jobs into the target, newest first, and is read only as far as
    needed. Returns (the record, a line saying which job is shown instead of the latest, and why;
    None when it is the latest); (None, None) when there is no job."""
    latest = None
    for when, record in found:
        latest = latest or (when, record)
        if record.documents_left():
            return record, None if record is latest[1] else _(
                "The latest job into this folder ({latest}) {why}. Shown instead: the last job that wrote "
                "documents, {shown}.").format(latest=job_words(*latest), why=skipped_words(latest[1]),
                                              shown=job_words(when, record))
    return (latest[1] if latest else None), None


def job_words(when, record):
    """A job in a few words: when it ran and its source files ("2026-12-08 05:07, a.pdf")."""
    files = record.files[:2] + (["…"] if len(record.files) > 2 else [])
    return _("{when}, {files}").format(when=time.strftime("%Y-%m-%d %H:%M", time.localtime(when)),
                                       files=_(", ").join(files))


def skipped_words(record):
    """Why a job into a target left no documents there."""
    if not record.ended:
        return _("was stopped, or ended, before it had finished, and its documents were deleted")
    failed = sum(1 for outcome in record.outcomes.values() if outcome[0] == "not split")
    if failed:
        return ngettext("could not split its file", "could not split its files", failed)
    return _("has no documents left in the folder")


def fixed(text):
    """Words that are already in the user's language and stay as they are."""
    return lambda: text


def event(method):
    """An event of the window's state: taken on the thread that owns the state only, and followed by
    the state's ``on_change``."""
    @functools.wraps(method)
    def take(self, *args):
        if threading.get_ident() != self.thread:
            raise RuntimeError("the window's state is changed only on the thread that made it")
        answer = method(self, *args)
        self.on_change()
        return answer
    return take


class WindowState(object):
    """The window's state. ``on_change()`` is called after each event (the window redraws then)."""

    def __init__(self, on_change=None):
        self.on_change = on_change or (lambda: None)
        self.thread = threading.get_ident()
        self.mode = READY
        self.outcome = None         # how the last job ended (an outcome key), in ENDED
        self.job = None             # the running job, and the running watcher: opaque to this class
        self.watcher = None
        self.closing = False        # the window closes once the job or the watcher has ended
        self.word = None            # the title's word for what the window does
        # The line under the progress bar and the outcome pane's lines (oldest first) are kept as
        # words to be said again, in whatever language the window then speaks: each a function
        # giving its text, and a line of a job's file also names that job and file.
        self.words = lambda: _("Ready.")
        self.bar = 0.0              # the progress bar, in per cent
        self.said = []              # (job or None, file name or None, words)

    # -- what the window shows

    @property
    def status(self):
        return self.words()

    @property
    def lines(self):
        return [words() for _job, _name, words in self.said]

    @property
    def title(self):
        if self.word is None:
            return TITLE
        words = _(TITLE_WORDS[self.word]) if self.word in TITLE_WORDS else state_words(self.word)
        return _("{title} – {state}").format(title=TITLE, state=words)

    @property
    def buttons(self):
        """Whether Start, Stop and the Watch box may be pressed."""
        return dict(zip(("start", "stop", "watch"), BUTTONS[self.mode]))

    @property
    def watch_box(self):
        """Whether the Watch box is ticked."""
        return self.mode == WATCHING

    @property
    def idle(self):
        return self.job is None and self.watcher is None

    def _own(self, subject):
        return subject is not None and (subject is self.job or subject is self.watcher)

    @event
    def say(self, line):
        """A line for the outcome pane: its text, or a function that gives it in the window's language."""
        self.said.append((None, None, line if callable(line) else fixed(line)))

    @event
    def file_said(self, job, name, words):
        """The outcome line of the file ``name`` of ``job``: ``words()`` gives its text."""
        self.said.append((job, name, words))

    @event
    def file_redone(self, name, words):
        """The documents of the file ``name`` were written again: its outcome line says ``words()``
        now (a new line when the pane has none for it, as after a review of an earlier job)."""
        redone = [(job, said, words if said == name else w) for job, said, w in self.said]
        self.said = redone if redone != self.said else self.said + [(None, name, words)]

    @event
    def progress(self, record):
        """A job's (or a watched batch's) events record as it grows; None: no batch under way, the bar
        and its line cleared."""
        self._show(record)

    def _show(self, record):
        if record is None:
            self.bar, self.words = 0.0, fixed("")
            return
        done = record.fraction_done()
        if done is not None:
            self.bar = 100.0 * done
        if record.files:
            self.words = record.progress_text

    # -- a job

    @event
    def job_started(self, job, source, target):
        self.job, self.mode, self.outcome = job, RUNNING, None
        self.said.append((None, None, lambda: _("Job: {} → {}").format(source, target)))
        self.bar, self.words, self.word = 0.0, lambda: _("Checking the job and announcing it…"), "splitting"

    @event
    def nothing_to_do(self, source, target):
        """Start found no PDF file in the source folder: the job ends as "nothing" before it starts,
        with nothing announced or run (as the command line does)."""
        if not self.idle:
            return
        self.mode, self.outcome, self.bar = ENDED, "nothing", 0.0
        self.word, self.words = OUTCOMES["nothing"].title, lambda: window_words("nothing")
        self.said += [(None, None, lambda: _("Job: {} → {}").format(source, target)), (None, None, self.words)]

    @event
    def job_progress(self, job, record):
        """The job's record at a tick; once a stop is confirmed, the bar stays where it is."""
        if self.mode == RUNNING and job is self.job:
            self._show(record)

    def stop_question(self):
        """What Stop asks, or None when there is no job to stop."""
        return _(STOP_QUESTION) if self.mode == RUNNING else None

    @event
    def stop_confirmed(self, job):
        """Stop answered Yes: True when ``job`` is to be cancelled now."""
        if self.mode != RUNNING or job is not self.job:
            return False
        self.mode, self.word = STOPPING, "stopping"
        self.words = lambda: _("Stopping: ending the splitter and deleting its partial output…")
        return True

    @event
    def job_ended(self, job, key, words, refused, has_files):
        """The job has ended as ``key`` (an outcome key) with ``words`` for the user (its text, or a
        function giving it); ``refused``: (problem, advice) when it was refused. Returns what
        follows: CLOSE the window, a REFUSED notice, a REVIEW of its files, or None."""
        if job is None or job is not self.job:
            return None
        words = words if callable(words) else fixed(words)
        self.job, self.mode, self.outcome = None, ENDED, key
        self.word, self.words = OUTCOMES[key].title, words
        self.said.append((None, None, words))
        follows = None
        if key == "cancelled":
            # Stopping deletes every folder the job made: its files' lines no longer tell of
            # documents that are there.
            self.said = [(j, name, (lambda name=name: _(DELETED).format(name)) if j is job and name else w)
                         for j, name, w in self.said]
            self.bar = 0.0
            follows = CLOSE if self.closing else None
        elif refused:
            follows = REFUSED
        else:
            if key in ("finished", "not-split"):
                self.bar = 100.0
            follows = REVIEW if has_files and key in REVIEWED else None
        return follows

    # -- watching the source folder

    @event
    def watch_started(self, watcher):
        self.watcher, self.mode, self.words = watcher, WATCHING, fixed("")

    @event
    def watch_state(self, word):
        """The watcher's state, as its log words it ("watching", "splitting a.pdf" ...)."""
        self.word = word

    @event
    def watch_stop_asked(self, watcher):
        if self.mode == WATCHING and watcher is self.watcher:
            self.mode = WATCH_STOPPING

    @event
    def watch_ended(self, watcher):
        """The watcher has ended: True when the window is to close now."""
        if watcher is None or watcher is not self.watcher:
            return False
        self.watcher, self.mode = None, READY
        return self.closing

    # -- the review, the language, closing

    @event
    def review_state(self, word):
        """The review's state ("review: making thumbnails", "review")."""
        self.word = word

    @event
    def language_may_change(self):
        """Whether the window may be built again in another language now; during a job or while
        watching it may not, and the user is told when it will."""
        if self.idle:
            return True
        self.said.append((None, None, lambda: _(LANGUAGE_LATER)))
        return False

    @event
    def language_changed(self):
        """The window has been built again in another language: all it showed stays, said again in
        that language (the status line and the outcome lines are words, not texts)."""

    def question_stands(self, subject):
        """Whether a question about ``subject`` (Stop's, closing's) still has something to ask about:
        an open question closes itself once the job has ended or the watcher stopped."""
        return self._own(subject) and self.mode in (RUNNING, WATCHING)

    def close_question(self):
        """(What closing asks, the job or watcher it is about); (None, None) when nothing runs or the
        window is closing already."""
        if self.closing or self.idle:
            return None, None
        if self.watcher is not None:
            return _(CLOSE_WATCHING), self.watcher
        return _(CLOSE_RUNNING), self.job

    @event
    def close_confirmed(self, subject):
        """Closing answered Yes: True when ``subject`` still runs, and is to be stopped before the
        window closes."""
        if not self._own(subject):
            return False
        self.closing = True
        return True
