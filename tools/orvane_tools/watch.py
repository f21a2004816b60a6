"""`orvane watch`: split every batch a scanner drops into a folder, one module job per batch, for days.

This module is the command: its options, its log file, its settings and its foreground run. The
batches are handled by `watch_batch.Watcher`, the files that arrive told apart by `watch_arrivals`
and the processes of a batch by `watch_process`; their names are also reachable from here, for the
window and the scripts that drive a watcher.
"""
import logging.handlers
import os
import signal
import sys

from .i18n import _
from .job_settings import JobSettings, read_token_file
from .outcomes import EXIT_CANCELLED, EXIT_CHECKS, EXIT_OK
from .watch_arrivals import NOT_COMPLETE, STILL_WRITTEN, Arrivals  # noqa: F401
from .watch_batch import (FINISHED, LOG, RECORDS_DIR_NAME, BatchStatus, Watcher,  # noqa: F401
                          check_folders, format_status, records_folders)
from .watch_process import WatchSink, _LogStream  # noqa: F401
from .watchstate import STATE_DIR_NAME, AlreadyWatched


class Settings(object):
    """What a watcher needs: ``job``, the job settings of every batch (`job_settings.JobSettings`,
    its source INBOX), made from the job's fields given here (``options``: the splitter's options,
    by field name), each None for its default; and the
    watcher's own options. ``token`` is the login token, or a callable answering the current one
    (read before every batch, so a renewed token file takes effect without a restart)."""

    def __init__(self, inbox, target, token, urldb=None, splitter=None, archive=None, failed=None, workers=None,
                 threshold=None, settle=5.0, poll=2.0, damaged_after=120.0, qpdf=None, state_dir=None,
                 stop_wait=120.0, **options):
        self.job = JobSettings(source=inbox, target=target, urldb=urldb, splitter=splitter, workers=workers,
                               threshold=threshold, **options).resolved()
        self.inbox, self.target = self.job.source, self.job.target
        self.archive = os.path.abspath(archive or os.path.join(self.inbox, "archive"))
        self.failed = os.path.abspath(failed or os.path.join(self.inbox, "failed"))
        self.state_dir = os.path.abspath(state_dir or os.path.join(self.inbox, STATE_DIR_NAME))
        self.token = token
        self.settle = settle
        self.poll = poll
        self.damaged_after = damaged_after
        self.qpdf = qpdf
        self.stop_wait = stop_wait

    def current_token(self):
        return self.token() if callable(self.token) else self.token


class TokenFile(object):
    """The login token read from a file before every batch, so that a renewed token takes effect
    without a restart; while the file cannot be read or decoded (being rewritten), the last one read."""

    def __init__(self, path, read=read_token_file, first=""):
        self.path = path
        self.read = read
        self.last = first

    def __call__(self):
        try:
            self.last = self.read(self.path) or self.last
        except (OSError, ValueError):
            pass
        return self.last


def add_arguments(p):
    """`orvane watch`'s own options (the job options are those of `orvane split`)."""
    p.add_argument("--archive", metavar="DIR", help=_("where finished sources go (default: INBOX/archive)"))
    p.add_argument("--failed", metavar="DIR",
                   help=_("where sources that could not be split go, with NAME.reason.txt beside "
                          "(default: INBOX/failed)"))
    p.add_argument("--settle", type=float, default=5.0, metavar="SECONDS",
                   help=_("a file is complete once its size and time have not changed for this long "
                          "and qpdf opens it (default: %(default)s)"))
    p.add_argument("--poll", type=float, default=2.0, metavar="SECONDS",
                   help=_("how often INBOX is looked at (default: %(default)s)"))
    p.add_argument("--damaged-after", type=float, default=120.0, metavar="SECONDS",
                   help=_("a file that stays unchanged but does not open is split anyway after this "
                          "long, so that it fails with its reason (default: %(default)s)"))
    p.add_argument("--log", metavar="FILE",
                   help=_("log file, rotated at 1 MB, five kept (default: INBOX/{}/watch.log)")
                   .format(STATE_DIR_NAME))
    p.add_argument("--exit-when-idle", action="store_true",
                   help=_("end once INBOX holds nothing more to split (for a scheduled task)"))


def open_log(path):
    """Send the watcher's log to ``path``, rotated at 1 MB with five old files kept; returns the
    handler (remove it from LOG and close it to stop)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    handler = logging.handlers.RotatingFileHandler(path, maxBytes=1 << 20, backupCount=5, encoding="utf-8")
    handler.setFormatter(logging.Formatter("%(asctime)s %(levelname)s %(message)s"))
    LOG.addHandler(handler)
    LOG.setLevel(logging.INFO)
    return handler


def run_command(settings, log_file=None, exit_when_idle=False, out=None):
    """`orvane watch` in the foreground: a status line per batch on ``out``, the log in a rotating
    file, Ctrl-C or SIGTERM to stop. Returns the exit status."""
    out = out or sys.stdout

    def show(batch):
        out.write(format_status(batch) + "\n")
        out.flush()

    watcher = Watcher(settings, on_batch=show)
    watcher.exit_when_idle = exit_when_idle
    try:
        # The folders before the log file is made inside INBOX, and INBOX's lock before a word is
        # said: a second watcher refuses first.
        watcher.claim()
    except (AlreadyWatched, OSError) as exc:
        sys.stderr.write("orvane: {}\n".format(exc))
        return EXIT_CHECKS
    handler = open_log(log_file or os.path.join(settings.state_dir, "watch.log"))

    def stop(signum, frame):
        if watcher.stopping():
            sys.stderr.write(_("orvane: stopped at once; the next start takes the batch back\n"))
            os._exit(EXIT_CANCELLED)
        sys.stderr.write(_("orvane: stopping: the batch under way is undone and its source put back\n"))
        watcher.stop(timeout=0)

    previous = [(sig, signal.signal(sig, stop)) for sig in (signal.SIGINT, signal.SIGTERM)]
    sys.stderr.write(_("orvane: watching {} (Ctrl-C stops)\n").format(settings.inbox))
    try:
        watcher.run()
    except (AlreadyWatched, OSError) as exc:
        sys.stderr.write("orvane: {}\n".format(exc))
        return EXIT_CHECKS
    finally:
        for sig, handler_before in previous:
            signal.signal(sig, handler_before)
        LOG.removeHandler(handler)
        handler.close()
    return EXIT_OK
