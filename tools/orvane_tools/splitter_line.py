"""The lines orvaneFun.exe prints, read back: the one place in the tools that knows their words.

The splitter prints one line per source file, in the order of their paths, then a summary line
(splitter/README.md, "What it prints", states the line; this module is its reader):

    scan.pdf: 16 pages; separators: 1, 4-5; check: 7; 2 documents in "scan": scan_001.pdf (pages 2-3), ...
    duplex.pdf: 9 pages; separators: 4; blank: 3, 8-9; 2 documents in "duplex": duplex_001.pdf (pages 1-2), ...
    locked.pdf: NOT SPLIT: encrypted: it needs a password to open
    Summary: 4 PDF files, 3 split, 1 not split; 19 pages, 7 separator pages, 4 documents written

Counts of one may be worded in the singular or the plural ("1 page" or "1 pages"): both are read.
With blank pages flagged or dropped, ``blank:`` names them, a document's span lists exactly its pages
(``(pages 2-3, 5)``) and a run of pages that were all dropped stands at its place in the list as
``no document (every page blank)``, keeping its number. With text recognised, ``no text:`` after
them names the pages of written documents that were left without text. A document name that holds ``,``, ``(``, ``)``, ``"`` or a line break is listed in double quotes,
with a ``"`` inside doubled: ``"a, b (c).pdf" (pages 2-3)``.
The line is for people and for the module, which ignores the splitter's exit status; a front end
that needs a file's documents or verdicts reads them from the events file, which carries them whole.
"""
import collections
import re

from .events import Document
from .i18n import _

FileLine = collections.namedtuple("FileLine",
                                  "name pages separators check folder documents repaired blank unwritten no_text")
FileLine.__new__.__defaults__ = ((), (), ())
FileLine.__doc__ = """A file that was split: ``separators``, ``check`` and ``blank`` are page numbers
(from 1), ``documents`` a list of `events.Document`, ``folder`` None when no document was written,
``unwritten`` the numbers of the documents left out because every page of theirs was blank,
``no_text`` the pages whose text recognition timed out, failed or was refused."""
NotSplitLine = collections.namedtuple("NotSplitLine", "name reason")
Summary = collections.namedtuple("Summary", "files split not_split pages separators documents check")

_PAGES = r"\d+(?:-\d+)?(?:, \d+(?:-\d+)?)*"
_NOT_SPLIT = "NOT SPLIT: "   # after the file's name and ": "
_SPLIT = re.compile(
    r"(?P<pages>\d+) pages?; separators: (?P<separators>none|" + _PAGES + r")"
    r"(?:; check: (?P<check>" + _PAGES + r"))?"
    r"(?:; blank: (?P<blank>" + _PAGES + r"))?"
    r"(?:; no text: (?P<no_text>" + _PAGES + r"))?"
    r"; (?:no document written \((?:no pages between the separator sheets|every page blank)\)"
    r"|(?P<count>\d+) documents? in \"(?P<folder>.*?)\": (?P<documents>.+?))"
    r"(?P<repaired>; note: the file is damaged and was repaired while reading, please check the documents)?$",
    re.DOTALL)
UNWRITTEN = "no document (every page blank)"
_DOCUMENT = re.compile(r'(?:(?P<unwritten>' + re.escape(UNWRITTEN) + r')|(?:"((?:[^"]|"")*)"|(.+?)) '
                       r'\((?:page (\d+)|pages (' + _PAGES + r'))\))(?:, |$)', re.DOTALL)
_SUMMARY = re.compile(
    r"^Summary: (\d+) PDF files?, (\d+) split, (\d+) not split; (\d+) pages?, (\d+) separator pages?, "
    r"(\d+) documents? written(?:; (\d+) pages? to check)?$")


def parse(line, names=()):
    """The `FileLine`, `NotSplitLine` or `Summary` a line states, or None for any other text.

    ``names`` are the source files as the lines name them (the events' ``start``), when known: a
    name that itself holds words of a line (": NOT SPLIT: ", ": 2 pages; separators: ") is then
    read whole; without them, a line's name ends at the first ": " after which the line reads."""
    line = line.rstrip("\r\n")
    summary = _SUMMARY.match(line)
    if summary:
        return Summary(*(int(n) if n is not None else 0 for n in summary.groups()))
    for name, rest in _heads(line, names):
        if rest.startswith(_NOT_SPLIT):
            return NotSplitLine(name, rest[len(_NOT_SPLIT):])
        split = _SPLIT.match(rest)
        if split:
            return _file_line(name, split)
    return None


def _heads(line, names):
    """(name, what follows its ": ") for each way the line may begin with a file's name, the names
    known first (longest first), then every ": " in the line from the left."""
    for name in sorted(names, key=len, reverse=True):
        if line.startswith(name + ": "):
            yield name, line[len(name) + 2:]
    at = line.find(": ")
    while at > 0:
        yield line[:at], line[at + 2:]
        at = line.find(": ", at + 2)


def _file_line(name, m):
    documents = []
    listed = m.group("documents")
    if listed is not None:
        found = list(_DOCUMENT.finditer(listed))
        # Every character of the list belongs to one entry, and the count of documents agrees.
        unwritten = [number for number, d in enumerate(found, 1) if d.group("unwritten")]
        if sum(len(d.group(0)) for d in found) != len(listed) or \
                len(found) - len(unwritten) != int(m.group("count")):
            return None
        documents = [Document.of(_listed_name(d), page_numbers(d.group(4) or d.group(5)))
                     for d in found if not d.group("unwritten")]
    return FileLine(name, int(m.group("pages")), page_numbers(m.group("separators")),
                    page_numbers(m.group("check") or "none"), m.group("folder"), documents,
                    m.group("repaired") is not None, page_numbers(m.group("blank") or "none"),
                    unwritten if listed is not None else [], page_numbers(m.group("no_text") or "none"))


def _listed_name(match):
    """A document's name as the line lists it, its quotes taken off."""
    quoted = match.group(2)
    return quoted.replace('""', '"') if quoted is not None else match.group(3)


def page_numbers(listing):
    """[1, 4, 5] for a page list "1, 4-5"; [] for "none"."""
    pages = []
    for part in listing.split(", ") if listing != "none" else []:
        first, _dash, last = part.partition("-")
        pages.extend(range(int(first), int(last or first) + 1))
    return pages


def page_listing(pages, separator=", "):
    """"1, 4-5" for the page numbers [1, 4, 5] (any order), as the line lists pages."""
    runs = []
    for page in sorted(set(pages)):
        if runs and runs[-1][1] == page - 1:
            runs[-1][1] = page
        else:
            runs.append([page, page])
    return separator.join(str(a) if a == b else "{}-{}".format(a, b) for a, b in runs)


def not_split_words(reason):
    """What a file's line says after its name when the file was not split: for a status line that
    quotes it, in the splitter's own words in every language (scripts read it)."""
    return _NOT_SPLIT + reason


def not_split_head(name, reason):
    """A file that was not split, as the window heads it (in the user's language)."""
    return _("{name}: NOT SPLIT: {reason}").format(name=name, reason=reason)
