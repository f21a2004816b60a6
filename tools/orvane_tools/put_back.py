"""Putting dropped pages back: one source file split again with chosen pages kept, its documents
swapped into place.

The source is split again, with the job's own options and `--keep-pages PAGES`, into a new folder
inside the target (so that the swap is a rename on one disk); only once that run has written every
document do they replace the old ones. A document keeps its number when a page comes back, so the
new documents take the old ones' names and nothing else in the target is renamed or removed; a
run that fails leaves the old documents as they were. Sources are only read: a watched batch's is
read where the watcher put it (its archive folder)."""
import os
import shutil
import tempfile

from . import splitter_options
from .i18n import _
from .job_settings import JobSettings
from .splitter_line import page_listing

FOLDER_PREFIX = ".orvane-put-back-"


def parse_request(text):
    """(file, pages) of ``FILE:PAGES``, split at the last colon (a Windows path holds colons);
    BadValue when either is missing or the pages are no page list."""
    name, colon, pages = text.rpartition(":")
    if not colon or not name:
        raise splitter_options.BadValue(splitter_options.KEEP_PAGES, text, _("give FILE:PAGES, such as scan.pdf:4,9-10"))
    return name, splitter_options.check(splitter_options.KEEP_PAGES, pages)


def source_name(source, path):
    """``path`` (a source file, given absolute or relative to the folder ``source``) as the splitter
    names it: relative to ``source`` when it lies there, else its own name."""
    full = os.path.abspath(os.path.join(source, path))
    inside = os.path.relpath(full, source)
    return full, (os.path.basename(full) if inside.startswith(os.pardir) else inside)


def page_text(pages):
    """"4,9-10" of the page numbers ``pages``, as --keep-pages takes them."""
    return page_listing(pages, ",")


class PutBack(object):
    """One put-back of ``pages`` ("4,9-10") into the documents of the source file ``name`` (as the
    splitter names it) of ``job``, read from ``path``. `settings` and `environ` are the run's; after
    a run that succeeded `swap` puts its documents in place; `close` removes the run's folder."""

    def __init__(self, job, name, path, pages):
        self.job, self.name, self.path, self.pages = job, name, path, pages
        self.folder = tempfile.mkdtemp(prefix=FOLDER_PREFIX, dir=job.target)
        self.source = os.path.join(self.folder, "source")
        self.target = os.path.join(self.folder, "documents")
        staged = os.path.join(self.source, name)
        os.makedirs(os.path.dirname(staged))
        os.makedirs(self.target)
        try:
            os.link(path, staged)
        except OSError:
            shutil.copyfile(path, staged)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def settings(self):
        return JobSettings(**dict(self.job.values(), source=self.source, target=self.target))

    def environ(self):
        return self.job.environ({splitter_options.KEEP_PAGES: self.pages})

    def swap(self):
        """Move the new documents over the old ones; the paths written, relative to the target."""
        moved = []
        for parent, _dirs, files in os.walk(self.target):
            for file_name in files:
                relative = os.path.relpath(os.path.join(parent, file_name), self.target)
                dest = os.path.join(self.job.target, relative)
                os.makedirs(os.path.dirname(dest), exist_ok=True)
                os.replace(os.path.join(parent, file_name), dest)
                moved.append(relative)
        return sorted(moved)

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)
