"""Reading the splitter's progress events (the file named by ORVANE_EVENTS): one JSON object a line.

`EventTail` picks up the lines appended since the last look (a line still being written is left for
the next look); `JobRecord` folds the events into what a front end shows: pages done of the total,
pages per second and time left while the job runs (while text is recognised, the pages recognised
and the time left at the seconds a page has taken), and afterwards each source file's pages, their
verdicts and the documents written."""
import collections
import json
import os
import time

from .i18n import _, ngettext

ENV = "ORVANE_EVENTS"
# Writing a file's documents, a page, against looking at a page: about a quarter as long on scanned
# pages (the bench bench/bench_time_left.py shows what the time left makes of it).
WRITING = 0.25
# Looking at a page against recognising its text (seconds a page): what the bar gives each.
LOOKING = 0.02
# Not the splitter's: the watcher appends it to a batch's record once the source is put away.
MOVED = "source moved"

FileRecord = collections.namedtuple("FileRecord",
                                    "name pages verdicts unsure folder documents reason kind sheets blank dropped "
                                    "no_text")
# kind: why a file was not split, when the splitter said; sheets: {page: Sheet} of its separators;
# blank: the pages found blank (flagged or dropped), dropped: those left out of the documents;
# no_text: the pages whose text could not be recognised (timed out, failed, too large)
FileRecord.__new__.__defaults__ = (None, None, (), (), ())
# What a separator page was: its kind (colour, code, black, blank, back) and a code sheet's text.
Sheet = collections.namedtuple("Sheet", "kind code")


class Document(collections.namedtuple("Document", "name first last pages")):
    """A document written: its first and last page (counted from 1) and, when blank pages were left
    out, exactly its pages (None: every page from first to last)."""
    __slots__ = ()

    def __new__(cls, name, first, last, pages=None):
        return super(Document, cls).__new__(cls, name, first, last, pages)

    @classmethod
    def of(cls, name, pages):
        """The document ``name`` of exactly ``pages`` (a sorted list)."""
        whole = pages == list(range(pages[0], pages[-1] + 1))
        return cls(name, pages[0], pages[-1], None if whole else tuple(pages))

    def page_list(self):
        return list(self.pages) if self.pages is not None else list(range(self.first, self.last + 1))


class EventTail(object):
    """The complete lines appended to an events file since the last call of `poll`."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.rest = b""

    def poll(self):
        try:
            with open(self.path, "rb") as fh:
                fh.seek(self.offset)
                data = fh.read()
        except OSError:
            return []
        self.offset += len(data)
        lines = (self.rest + data).split(b"\n")
        self.rest = lines.pop()
        return [event for event in (parse_line(line) for line in lines) if event is not None]


def parse_line(line):
    """The event of one line, or None for a blank or foreign line."""
    try:
        event = json.loads(line.decode("utf-8", "surrogateescape"))
    except ValueError:
        return None
    return event if isinstance(event, dict) and isinstance(event.get("event"), str) else None


class JobRecord(object):
    """What the events of one job tell, updated event by event."""

    def __init__(self, clock=time.monotonic, path=None, recognises=False):
        self.clock = clock
        self.path = path           # the events file it was read from, when it was
        # The job recognises text: looking at its pages is a small part of its time, so the pace of
        # the looking says nothing of the time left (told once pages have been recognised).
        self.recognises = recognises
        self.source = self.target = None
        self.files = []            # relative names, in the splitter's order
        self.total = None          # total pages, as the splitter tells it once it knows every file's count
        self.pages = {}            # file -> page count, as the files are opened
        self.looked = collections.Counter()
        self.verdicts = collections.defaultdict(dict)   # file -> {page: (verdict, share, unsure)}
        self.sheets = collections.defaultdict(dict)     # file -> {page: Sheet} of its separators
        self.outcomes = {}         # file -> ("file", folder, documents) or ("not split", reason)
        self.kinds = {}            # file not split -> what kind of fault (damaged, encrypted, ...), when told
        self.moved = {}            # file -> where its source was put after the job (a watched batch's)
        self.blank = {}            # file -> (pages found blank, pages dropped), when blank pages were judged
        self.workers = 1           # the splitter's threads, which recognise pages side by side
        self.to_recognise = {}     # file -> pages whose text is being recognised, once that begins
        self.recognised = collections.Counter()   # file -> pages recognised so far
        self.recognition_seconds = 0.0            # the pages' own seconds, summed
        self.no_text = {}          # file -> pages left without text
        self.ended = False
        self.first_pages_at = None
        self.total_at = None       # (clock, work done) when the total came

    def apply(self, event):
        kind = event.get("event")
        name = event.get("file")
        if kind == "start":
            self.source, self.target = event.get("source"), event.get("target")
            self.files = list(event.get("files") or [])
            self.workers = max(1, int(event.get("workers") or 1))
        elif kind == "pages":
            self.pages[name] = int(event.get("pages") or 0)
            if self.first_pages_at is None:
                self.first_pages_at = self.clock()
        elif kind == "total":
            self.total = int(event.get("pages") or 0)
            self.total_at = (self.clock(), self.work_done())
        elif kind == "looked":
            self.looked[name] += int(event.get("pages") or 0)
        elif kind == "page":
            self.verdicts[name][int(event["page"])] = (
                event.get("verdict"), float(event.get("share") or 0), bool(event.get("unsure")))
            if event.get("verdict") == "separator":
                code = event.get("code")
                # A splitter that names no kind knows colour sheets only.
                self.sheets[name][int(event["page"])] = Sheet(str(event.get("sheet") or "colour"),
                                                              code if isinstance(code, str) else None)
        elif kind == "file":
            docs = [_document(d) for d in event.get("documents") or []]
            if "blank" in event or "dropped" in event:
                self.blank[name] = (_numbers(event.get("blank")), _numbers(event.get("dropped")))
            self.outcomes[name] = ("file", event.get("folder") or "", docs)
            self.no_text[name] = _numbers(event.get("no_text"))
            self.pages[name] = int(event.get("pages") or 0)
        elif kind == "recognising":
            self.to_recognise[name] = int(event.get("pages") or 0)
        elif kind == "recognised":
            self.recognised[name] += 1
            self.recognition_seconds += float(event.get("seconds") or 0)
        elif kind == "not split":
            self.outcomes[name] = ("not split", event.get("reason") or "")
        elif kind == MOVED:
            self.moved[name] = event.get("path")
        if kind in ("file", "not split") and event.get("kind"):
            self.kinds[name] = event["kind"]
        elif kind == "end":
            self.ended = True

    def apply_all(self, events):
        for event in events:
            self.apply(event)
        return self

    # -- progress

    def pages_done(self):
        # A finished file counts whole, also one given up half way.
        return sum(self.pages.get(f, 0) if f in self.outcomes else min(self.looked[f], self.pages.get(f, 0))
                   for f in set(self.pages) | set(self.outcomes))

    def pages_total(self):
        """The job's total pages as the splitter tells it, else None. No guess: scaling the files
        opened so far up to all files is off many times over when the first file is a large one."""
        return self.total

    def files_done(self):
        return len(self.outcomes)

    def rate(self):
        """Pages per second since the first file was opened, or None before there is a measure."""
        if self.first_pages_at is None:
            return None
        elapsed = self.clock() - self.first_pages_at
        done = self.pages_done()
        return done / elapsed if elapsed > 0.5 and done else None

    def work_done(self):
        """The work done, in pages looked at: a finished file's documents written count WRITING a
        page more, since they are written after its pages are looked at."""
        return self.pages_done() + WRITING * sum(self.pages.get(f, 0) for f in self.outcomes)

    def seconds_left(self):
        """The work left at the pace kept since the total came (before it the splitter is opening
        the files), or None before there is a measure; while text is recognised, recognition_left."""
        if self.to_recognise or self.recognises:
            return self.recognition_left()
        if self.total_at is None:
            return None
        since, before = self.total_at
        elapsed, worked = self.clock() - since, self.work_done() - before
        if elapsed <= 0 or worked <= 0:
            return None
        return max(0.0, ((1 + WRITING) * self.total - self.work_done()) * elapsed / worked)

    # -- text recognition: seconds a page where looking takes a fraction of a second

    def recognising(self):
        """Whether pages are being recognised: begun on a file, and pages still to recognise."""
        return bool(self.to_recognise) and self.pages_recognised() < self.pages_to_recognise()

    def pages_recognised(self):
        return sum(self.recognised.values())

    def pages_to_recognise(self):
        """The pages announced for recognition, and the pages of the files not yet split as an
        estimate of theirs (a file's separator sheets and dropped pages turn out to need none)."""
        announced = sum(self.to_recognise.values())
        settled = set(self.to_recognise) | set(self.outcomes)
        if self.total is not None:
            return announced + max(0, self.total - sum(self.pages.get(f, 0) for f in settled))
        return announced + sum(n for f, n in self.pages.items() if f not in settled)

    def recognition_left(self):
        """The seconds a page has taken so far, times the pages still to recognise, shared among
        the workers; None before the first page is recognised."""
        done = self.pages_recognised()
        if not done:
            return None
        left = max(0, self.pages_to_recognise() - done)
        return self.recognition_seconds / done * (max(left / self.workers, 1.0) if left else 0.0)

    def fraction_done(self):
        """The share of the job done, for a progress bar: looking at a page counts a small part of
        recognising one once recognition has begun (None until a total of pages is known)."""
        if not self.total:
            return None
        if not self.to_recognise and not self.recognises:
            return self.pages_done() / self.total
        work = LOOKING * self.total + self.pages_to_recognise()
        return (LOOKING * self.pages_done() + self.pages_recognised()) / work if work else 1.0

    def progress_text(self):
        """Pages done (of the total once it is known), files done, pages per second and time left:
        the line of `orvane split` and the window's progress line alike; while text is recognised,
        the pages recognised of those to recognise instead."""
        if self.recognising():
            return self._recognising_text()
        done = self.pages_done()
        if self.total is not None:
            parts = [ngettext("{done} of {total} page", "{done} of {total} pages", self.total).format(
                done=done, total=self.total)]
        elif self.pages or self.outcomes:
            parts = [ngettext("{} page done", "{} pages done", done).format(done)]
        else:
            parts = [_("opening the files")]
        parts.append(ngettext("{done} of {total} file", "{done} of {total} files", len(self.files)).format(
            done=self.files_done(), total=len(self.files)))
        rate, left = self.rate(), self.seconds_left()
        if rate:
            parts.append(_("{:.0f} pages/s").format(rate))
        if left is not None and done < self.total:
            parts.append(_("{} left").format(clock_text(left)))
        return _(", ").join(parts)

    def _recognising_text(self):
        total = self.pages_to_recognise()
        parts = [_("Recognising text"), ngettext("{done} of {total} page", "{done} of {total} pages", total).format(
            done=self.pages_recognised(), total=total),
            ngettext("{done} of {total} file", "{done} of {total} files", len(self.files)).format(
                done=self.files_done(), total=len(self.files))]
        left = self.recognition_left()
        if left is not None:
            parts.append(_("{} left").format(clock_text(left)))
        return _(", ").join(parts)

    # -- review

    def documents_left(self):
        """How many of the documents this job wrote are still in its target folder."""
        return sum(os.path.isfile(os.path.join(self.target or "", outcome[1], d.name))
                   for outcome in self.outcomes.values() if outcome[0] == "file" for d in outcome[2])

    def source_path(self, name):
        """Where the source file ``name`` is now: a watched batch's source leaves its staging folder
        for the archive or failed folder once the job has ended."""
        return self.moved.get(name) or os.path.join(self.source, name)

    def file_records(self):
        """One FileRecord per source file the splitter finished with, in its order."""
        records = []
        for name in self.files:
            outcome = self.outcomes.get(name)
            if outcome is None:
                continue
            pages = self.pages.get(name, 0)
            judged = self.verdicts.get(name, {})
            verdicts = [judged.get(p, ("page", 0.0, False))[0] for p in range(1, pages + 1)]
            unsure = [p for p in range(1, pages + 1) if judged.get(p, (None, 0, False))[2]]
            sheets = dict(self.sheets.get(name, {}))
            if outcome[0] == "file":
                blank, dropped = self.blank.get(name, ((), ()))
                records.append(FileRecord(name, pages, verdicts, unsure, outcome[1], outcome[2], None, None, sheets,
                                          blank, dropped, self.no_text.get(name, ())))
            else:
                records.append(FileRecord(name, pages, verdicts, unsure, "", [], outcome[1], self.kinds.get(name),
                                          sheets))
        return records


def _numbers(listed):
    return tuple(int(n) for n in listed or ())


def _document(d):
    """The Document of a `file` event's entry: its page list, when given, is exact."""
    if d.get("pages"):
        return Document.of(d["name"], sorted(_numbers(d["pages"])))
    return Document(d["name"], int(d["first"]), int(d["last"]))


def clock_text(seconds):
    seconds = int(seconds + 0.5)
    return "{}:{:02d}".format(seconds // 60, seconds % 60) if seconds < 3600 else \
        "{}:{:02d}:{:02d}".format(seconds // 3600, seconds // 60 % 60, seconds % 60)


def note_moved(path, name, dest):
    """Adds to the job record ``path`` (when there is one) that the source file ``name`` now lies at
    ``dest``, so that its review still finds the pages. Written after the splitter has ended."""
    if not os.path.isfile(path):
        return
    line = json.dumps({"event": MOVED, "file": name, "path": dest}, ensure_ascii=False)
    with open(path, "ab") as fh:
        fh.write(line.encode("utf-8", "surrogateescape") + b"\n")


def read_record(path):
    return JobRecord(path=path).apply_all(EventTail(path).poll())


def latest_record_for(target, folder):
    """The events file in ``folder`` of the latest job into ``target`` (None if there is none)."""
    return latest_record_in(target, [folder])


def latest_record_in(target, folders):
    """The events file of the latest job into ``target`` found in any of ``folders`` (None if none)."""
    return next((path for _when, path in records_into(target, folders)), None)


def records_into(target, folders):
    """(modification time, events file) of every job into ``target`` found in ``folders``, newest first."""
    want = os.path.normcase(os.path.abspath(target))
    paths = []
    for folder in folders:
        try:
            paths.extend(os.path.join(folder, name) for name in os.listdir(folder))
        except OSError:
            continue
    found = []
    for path in paths:
        try:
            with open(path, "rb") as fh:
                first = parse_line(fh.readline())
            when = os.path.getmtime(path)
        except OSError:
            continue
        if first and first.get("event") == "start" and first.get("target") and \
                os.path.normcase(os.path.abspath(first["target"])) == want:
            found.append((when, path))
    return sorted(found, reverse=True)


def prune_records(folder, keep=100):
    """Delete all but the ``keep`` newest files of ``folder`` (the window's job records)."""
    try:
        paths = [os.path.join(folder, name) for name in os.listdir(folder)]
        paths.sort(key=os.path.getmtime, reverse=True)
    except OSError:
        return
    for path in paths[keep:]:
        try:
            os.remove(path)
        except OSError:
            pass

class EventsFile(object):
    """A job's events file: ``path``, or a new temporary file deleted afterwards. The job's splitter
    finds it in its own environment (JobRun), not in the process's: two jobs at once each keep theirs."""

    def __init__(self, path=None):
        self.temporary = path is None
        if path is None:
            import tempfile
            handle, path = tempfile.mkstemp(prefix="orvane-events-", suffix=".jsonl")
            os.close(handle)
        self.path = path

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.temporary:
            try:
                os.remove(self.path)
            except OSError:
                pass
