"""The window's job runner: one run of the module on a worker thread, and how it ended in plain words.

The module's own messages (its fixed Chinese texts, the splitter's lines) are kept as they came for
the Details pane; what the main pane shows is ours: one line per source file and one for the job."""
import threading
import traceback

from . import events, frontend, handover
from .i18n import N_, _
from .review_canvas import file_head

# The outcome table's words for the window, marked for the catalogues (the same texts as
# frontend.OUTCOMES[key].window, which the command line and the tests read in English; the window's
# title word for each is in gui_state).
WORDS = {
    "finished": N_("Done: every file split."),
    "not-split": N_("Finished, but some files could not be split."),
    "nothing": N_("Nothing to do: the source folder holds no PDF file."),
    "cancelled": N_("Stopped. The folders the job had made in the target folder were deleted."),
    "refused": N_("Job refused by the announcement service."),
    "refused-input": N_("Job refused: an input must be corrected."),
    "no-summary": N_("The splitter ended before it had finished (see Details)."),
    "error": N_("The job ended with an error (see Details)."),
}


def outcome_words(key):
    return _(WORDS[key])


class Job(object):
    """One run of `orvaneClass.run` on a worker thread."""

    def __init__(self, values, token, events_path):
        self.values = values
        self.sink, self.messages = handover.make_sink(token)
        self.token = token
        self.controller = None
        self.failure = None
        self.finished = threading.Event()
        self.cancelled = False
        self.tail = events.EventTail(events_path)
        self.record = events.JobRecord()
        self.shown = set()      # source files whose outcome line is on the main pane
        self.thread = threading.Thread(target=self._run, name="orvane-job", daemon=True)

    def _run(self):
        try:
            import Orvane
            v = self.values
            controller = Orvane.orvaneClass(v["source"], v["target"], v["workers"], v["threshold"], self.token,
                                            v["urldb"], v["splitter"], self.sink)
            self.controller = controller
            if self.cancelled:
                controller.run_code = 0
            controller.run()
        except BaseException:
            self.failure = traceback.format_exc()
        finally:
            self.finished.set()

    def cancel(self):
        """Stop the job: no splitter may start from now on, a running one is ended and its partial
        output deleted (stopCut). Called on the Tk thread; `tick` repeats it for a late splitter."""
        self.cancelled = True
        controller = self.controller
        if controller is not None:
            controller.run_code = 0
            controller.stopCut()

    def tick(self):
        """Called on the Tk thread: new events folded in; a splitter started after a stop ended."""
        self.record.apply_all(self.tail.poll())
        if self.cancelled and not self.finished.is_set() and frontend.splitter_children():
            self.cancel()

    def new_file_lines(self):
        """The outcome lines of the source files finished since the last call, in the splitter's order."""
        lines = []
        for f in self.record.file_records():
            if f.name not in self.shown:
                self.shown.add(f.name)
                lines.append(file_head(f))
        return lines

    def outcome(self):
        """(outcome key, the job's line for the main pane, (problem, advice) when it was refused)."""
        key, _summary = frontend.classify(self.sink, self.controller, self.failure, self.cancelled)
        words = outcome_words(key)
        refused = handover.refusal(self.sink) if key in ("refused", "refused-input") else None
        record = self.record
        detail = None
        if refused:
            detail = _("({})").format(_(refused[0]))
        elif key == "no-summary" and record.files:
            detail = _("{} of {} files done.").format(record.files_done(), len(record.files))
        elif key in ("finished", "not-split") and record.files:
            written = sum(len(f.documents) for f in record.file_records())
            checks = sum(len(f.unsure) for f in record.file_records())
            detail = _("{files} files, {documents} documents written, {checks} pages to check.").format(
                files=len(record.files), documents=written, checks=checks)
        if detail:
            words = _("{outcome} {detail}").format(outcome=words, detail=detail)
        return key, words, refused
