"""The window's job runner: one run of the module on a worker thread, and how it ended in plain words.

The module's own messages (its fixed Chinese texts, the splitter's lines) are kept as they came for
the Details pane; what the main pane shows is ours: one line per source file and one for the job."""
from . import events, handover
from .i18n import _, ngettext
from .job_runner import JobRun
from .job_settings import REMEMBERED, JobSettings
from .outcomes import window_words
from .review_canvas import file_head


def counts_words(files, documents, checks):
    """"1 file, 2 documents written, 0 pages to check." in the user's language."""
    return _("{files}, {documents} written, {checks} to check.").format(
        files=ngettext("{} file", "{} files", files).format(files),
        documents=ngettext("{} document", "{} documents", documents).format(documents),
        checks=ngettext("{} page", "{} pages", checks).format(checks))


class Job(object):
    """One run of `orvaneClass.run` on a worker thread (a JobRun): ``values`` are the form's checked
    values, ``thread`` is started by the window, `tick` is called on the Tk thread."""

    def __init__(self, values, token, events_path):
        self.values = values
        self.sink, self.messages = handover.make_sink(token)
        self.token = token
        settings = JobSettings(**{name: values[name] for name in REMEMBERED})
        self.run = JobRun(lambda: settings.controller(self.sink, token), events_path=events_path,
                          environ=settings.environ())
        self.thread = self.run.thread
        self.finished = self.run.finished
        self.tail = events.EventTail(events_path)
        self.record = events.JobRecord(path=events_path, recognises=settings.recognises())
        self.shown = set()      # source files whose outcome line is on the main pane

    @property
    def cancelled(self):
        return self.run.stopped

    @property
    def failure(self):
        return self.run.failure

    def cancel(self):
        """Stop the job: no splitter may start from now on, a running one is ended and its partial
        output deleted (stopCut). Called on the Tk thread; `tick` repeats it for a late splitter."""
        self.run.stop()

    def tick(self):
        """Called on the Tk thread: new events folded in; a splitter started after a stop ended."""
        self.record.apply_all(self.tail.poll())
        self.run.stop_late()

    def new_file_lines(self):
        """(name, words) of the source files finished since the last call, in the splitter's order:
        ``words()`` gives the file's outcome line in the window's language of the moment."""
        lines = []
        for f in self.record.file_records():
            if f.name not in self.shown:
                self.shown.add(f.name)
                lines.append((f.name, lambda f=f: file_head(f)))
        return lines

    def outcome(self):
        """(outcome key, the job's line for the main pane as words (a function giving its text in
        the window's language), (problem, advice) when it was refused)."""
        key, _outcome, _summary = self.run.outcome(self.sink)
        refused = handover.refusal(self.sink) if key in ("refused", "refused-input") else None
        return key, lambda: self.outcome_words(key, refused), refused

    def outcome_words(self, key, refused):
        words = window_words(key)
        record = self.record
        detail = None
        if refused:
            detail = _("({})").format(_(refused[0]))
        elif key == "no-summary" and record.files:
            detail = ngettext("{} of {} file done.", "{} of {} files done.", len(record.files)).format(
                record.files_done(), len(record.files))
        elif key in ("finished", "not-split") and record.files:
            written = sum(len(f.documents) for f in record.file_records())
            checks = sum(len(f.unsure) for f in record.file_records())
            detail = counts_words(len(record.files), written, checks)
        if detail:
            words = _("{outcome} {detail}").format(outcome=words, detail=detail)
        return words
