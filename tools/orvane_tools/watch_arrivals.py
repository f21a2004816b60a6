"""Arrivals in a watched folder: which PDF files a scanner has finished writing.

A file is complete once its size and modification time have stayed the same for a while and qpdf
opens it without repairing it (a file still being written looks just like a damaged one)."""
import os
import shutil
import subprocess
import time

# Why a PDF file in INBOX is not taken yet (Arrivals.waiting_list).
STILL_WRITTEN = "still being written"
NOT_COMPLETE = "incomplete or damaged"


def pdf_opener(qpdf=None):
    """A test ``opens(path) -> bool`` and its description: qpdf reads the file without having to
    repair it; where no qpdf program is installed (Windows, usually), the file starts like a PDF and
    ends with its end-of-file mark."""
    program = qpdf or shutil.which("qpdf")
    if program:
        return (lambda path: _qpdf_opens(program, path)), "qpdf ({})".format(program)
    return _ends_like_a_pdf, "no qpdf program: the file's first and last bytes"


def _qpdf_opens(program, path):
    try:
        done = subprocess.run([program, "--show-npages", path], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120)
    except (OSError, subprocess.TimeoutExpired):
        return False
    # 3 means qpdf had to repair it: a file still being written looks just like that.
    return done.returncode == 0


def _ends_like_a_pdf(path):
    try:
        with open(path, "rb") as fh:
            head = fh.read(5)
            fh.seek(max(0, os.fstat(fh.fileno()).st_size - 1024))
            tail = fh.read()
    except OSError:
        return False
    return head == b"%PDF-" and b"%%EOF" in tail


class Arrivals(object):
    """Tells which PDF files of a folder are complete: unchanged in size and modification time for
    ``settle`` seconds and opened by ``opens``. A file that stays unchanged but does not open is
    taken after ``damaged_after`` seconds anyway: the splitter then says why it cannot be split."""

    def __init__(self, opens, settle=5.0, damaged_after=120.0, clock=time.monotonic, wall=time.time):
        self.opens = opens
        self.wall = wall
        self.settle = settle
        self.damaged_after = damaged_after
        self.clock = clock
        # name -> [signature, unchanged since, opened (None: not tried), unchanged since by the wall clock]
        self.seen = {}

    def ready(self, folder):
        """Names of the complete PDF files in ``folder``, oldest first."""
        now = self.clock()
        present = {}
        for entry in _scan_pdfs(folder):
            try:
                present[entry.name] = (entry.path, entry.stat())
            except FileNotFoundError:
                continue
        for gone in set(self.seen) - set(present):
            del self.seen[gone]
        complete = []
        for name, (path, stat) in present.items():
            signature = (stat.st_size, stat.st_mtime_ns)
            state = self.seen.get(name)
            if state is None or state[0] != signature:
                self.seen[name] = state = [signature, now, None, self.wall()]
            unchanged = now - state[1]
            if unchanged < self.settle:
                continue
            if state[2] is None:
                state[2] = self.opens(path)
            if state[2] or unchanged >= self.settle + self.damaged_after:
                complete.append((stat.st_mtime_ns, name))
        return [name for _mtime, name in sorted(complete)]

    def forget(self, name):
        self.seen.pop(name, None)

    def waiting(self):
        return len(self.seen)

    def waiting_list(self):
        """(name, reason, set aside at) of each file not taken yet, by name: STILL_WRITTEN while it
        changes (or has not been unchanged long enough); NOT_COMPLETE while it does not open, with
        the wall-clock time (seconds since the epoch) at which it is taken anyway, to be set aside
        by the splitter if it is damaged. (A file that stays incomplete may be a damaged one: the
        user is told both, and when, rather than left to wonder.)"""
        now = self.clock()
        return [(name, STILL_WRITTEN, None) if state[2] is None or now - state[1] < self.settle else
                (name, NOT_COMPLETE, state[3] + self.settle + self.damaged_after)
                for name, state in sorted(self.seen.items())]


def _scan_pdfs(folder):
    """The PDF files directly in ``folder``; hidden and temporary names are left to their writers."""
    with os.scandir(folder) as entries:
        for entry in entries:
            if entry.name.startswith((".", "~")) or not entry.name.lower().endswith(".pdf"):
                continue
            if entry.is_file(follow_symlinks=False):
                yield entry

