"""The job's messages on their way to the window.

The module calls the sink's `mainPrint` on the job's thread; Tk widgets may only be touched by the
thread running the Tk main loop. So the sink (the terminal front end's `JobSink`, which also notes
how the job went) writes into a `MessageQueue`, and the window takes the lines out on its own thread
in its periodic `after` callback. Nothing here knows about Tk."""
import queue

from . import frontend
from .i18n import N_

HIDDEN = frontend.HIDDEN


class MessageQueue(object):
    """A write-only text stream whose lines wait in a queue for the UI thread; the login token
    never passes it, not even inside a longer message."""

    def __init__(self, token=None):
        self.token = token
        self.lines = queue.Queue()
        self.partial = ""

    def write(self, text):
        text = frontend.hide_secrets(text, [self.token])
        *whole, self.partial = (self.partial + text).split("\n")
        for line in whole:
            self.lines.put(line)

    def flush(self):
        pass

    def take(self, limit=500):
        """The lines waiting now (at most ``limit``), oldest first; never blocks."""
        return drain(self.lines, limit)


def drain(waiting, limit):
    """What ``waiting`` (a queue) holds now, at most ``limit`` items, oldest first; never blocks."""
    taken = []
    while len(taken) < limit:
        try:
            taken.append(waiting.get_nowait())
        except queue.Empty:
            break
    return taken


class WatchReports(object):
    """What a folder watcher tells the window. Its ``on_state`` and ``on_batch`` run on the watcher's
    thread and only queue ("state", text) and ("batch", BatchStatus) for the UI thread; every login
    token given to the watcher (``hide``) is kept out of the texts."""

    def __init__(self, token=None):
        self.items = queue.Queue()
        self.secrets = set()
        self.hide(token)

    def hide(self, token):
        if token:
            self.secrets = self.secrets | {token}

    def _put(self, kind, text):
        text = frontend.hide_secrets(text, self.secrets)
        self.items.put((kind, text))

    def on_state(self, state):
        self._put("state", state)

    def on_waiting(self, waiting):
        self.items.put(("waiting", list(waiting)))

    def on_batch(self, batch):
        # The window words the batch itself (gui_watch.batch_words): its status word translated.
        self.items.put(("batch", batch._replace(summary=frontend.hide_secrets(batch.summary, self.secrets))))

    def take(self, limit=500):
        return drain(self.items, limit)


def make_sink(token):
    """The sink for one job and the queue its messages arrive in."""
    messages = MessageQueue(token)
    return frontend.JobSink(messages, token=token), messages


# What the user must do in the window, for each way a job can be refused (keys: the notes of
# JobSink); translated where they are shown.
ADVICE = {
    "the source folder does not exist": N_("Choose an existing folder under Source folder."),
    "the target folder does not exist": N_("Choose an existing folder under Target folder (it is not created for you)."),
    "the source folder path holds a double quote": N_("Move the scans to a folder whose path has no \" in it."),
    "the target folder path holds a double quote": N_("Choose a target folder whose path has no \" in it."),
    "some PDF file names have a blank before .pdf":
        N_("Rename the files listed in Details so that no blank stands before \".pdf\", then start again."),
    "the URL database does not exist": N_("Choose the URL database (url.db) under Advanced settings."),
    "the announcement service refused the login token":
        N_("The login token was refused (expired or not valid): get a new one and paste it under Login token."),
    "the announcement service could not be reached":
        N_("Start the announcement service, or ask for a URL database with its right address, and check the network."),
}
WORKERS_ADVICE = N_("Correct Workers under Advanced settings (1 to the processor count).")


def refusal(sink):
    """(what happened, what to fix) for a job that was refused or failed; None for one that finished."""
    if sink.check_failure:
        return sink.check_failure, ADVICE.get(sink.check_failure, WORKERS_ADVICE)
    if sink.exe_missing:
        return N_("the splitter program does not exist"), N_("Choose orvaneFun.exe under Advanced settings, Splitter program.")
    if sink.refusal:
        return sink.refusal, ADVICE.get(sink.refusal, "")
    if sink.splitter_failed:
        return N_("the splitter stage failed"), N_("Read the error log named in Details (folder logging).")
    return None
