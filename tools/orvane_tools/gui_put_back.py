"""A page put back from the window's review: that file split again on a job's thread (put_back, the
same way as `orvane split --keep-pages`), then, on the Tk thread, its documents swapped into place
and the review's record told what the new run wrote.

The pages kept are the one chosen and the blank pages that were kept already (flagged, near the bar,
or put back before), so that putting back one page never leaves out another again. The new run's
events for that file are added to the job's record file, so that a later review (Ctrl+R) shows the
file as it now is."""
import json

from . import events, handover
from .job_runner import JobRun
from .job_settings import REMEMBERED, JobSettings
from .put_back import PutBack, page_text

# What the new run tells about the file; its start, total and end belong to the run, not to the job.
FILE_EVENTS = ("pages", "page", "looked", "file", "not split")


class PutBackJob(object):
    """Putting ``page`` of the file record ``f`` of ``record`` (a JobRecord) back, with the job's
    other settings from ``values`` (the form's) and the login ``token``: started at once."""

    def __init__(self, record, f, page, values, token):
        self.record, self.name, self.page = record, f.name, page
        fields = dict({name: values[name] for name in REMEMBERED}, source=record.source or "", target=record.target)
        self.put = PutBack(JobSettings(**fields), f.name, record.source_path(f.name),
                           page_text(set(f.blank) - set(f.dropped) | {page}))
        settings = self.put.settings()
        self.sink, self.messages = handover.make_sink(token)
        self.run = JobRun(lambda: settings.controller(self.sink, token), events_path=True, name="orvane-put-back",
                          environ=self.put.environ())
        self.run.__enter__()
        self.run.start()

    @property
    def finished(self):
        return self.run.finished.is_set()

    def end(self):
        """Once finished, on the Tk thread: the outcome key; when the run finished, the new documents
        are in place and the record (and its file) tells of them."""
        try:
            key = self.run.outcome(self.sink)[0]
            if key == "finished":
                told = [e for e in events.EventTail(self.run.events_path).poll()
                        if e.get("event") in FILE_EVENTS and e.get("file") == self.name]
                self.put.swap()
                self.record.apply_all(told)
                if self.record.path:
                    with open(self.record.path, "ab") as fh:
                        for event in told:
                            fh.write(json.dumps(event, ensure_ascii=False).encode("utf-8", "surrogateescape") + b"\n")
            return key
        finally:
            self.run.__exit__(None, None, None)
            self.put.close()
