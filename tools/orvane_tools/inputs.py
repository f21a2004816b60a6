"""The checks every front end makes on a job's settings before anything is announced: the module
checks some of them only after the service has recorded the start (the worker count), and some not at
all (the threshold, which the splitter refuses with a usage text that never reaches the user)."""
import os
import sqlite3

from . import frontend, urldb
from .i18n import _

THRESHOLD_RANGE = (0, 255)   # 0: the splitter's default
MAX_SPLITTER_WORKERS = 256


class Refused(Exception):
    """An input that a job would fail on: ``status`` is the exit status of `orvane split`, ``problem``
    says what is wrong, ``hint`` what to do about it on the command line and ``field`` the window's
    field to correct (each front end says it in its own terms)."""

    def __init__(self, status, problem, hint=None, field=None):
        Exception.__init__(self, "{} ({})".format(problem, hint) if hint else problem)
        self.status = status
        self.problem = problem
        self.field = field


def worker_limit():
    """The most workers both the module (the processor count) and the splitter accept."""
    return min(os.cpu_count() or 1, MAX_SPLITTER_WORKERS)


def check_numbers(workers, threshold):
    limit = worker_limit()
    if not 1 <= workers <= limit:
        raise Refused(frontend.EXIT_CHECKS,
                      _("the worker count {} is out of range: give 1 to {} (the processor count)")
                      .format(workers, limit), field="workers")
    low, high = THRESHOLD_RANGE
    if not low <= threshold <= high:
        raise Refused(frontend.EXIT_CHECKS,
                      _("the threshold {} is out of range: give {} to {}").format(threshold, low, high),
                      field="threshold")


def check_splitter(path):
    if not os.path.isfile(path):
        raise Refused(frontend.EXIT_CHECKS,
                      _("the splitter program does not exist: {}").format(path),
                      _("give --splitter or put {} on PATH").format(frontend.SPLITTER_NAME), field="splitter")


def check_folders(folders):
    """``folders``: (path, what) pairs that must be existing folders."""
    for path, what in folders:
        if not os.path.isdir(path):
            raise Refused(frontend.EXIT_CHECKS, _("the {} does not exist: {}").format(_(what), path),
                          field=what)


def check_urldb(path):
    """The URL database must exist and register the 'commit' endpoint: without it the module either
    refuses the job after its checks or runs it unannounced."""
    if not os.path.isfile(path):
        raise Refused(frontend.EXIT_REFUSED,
                      _("the URL database does not exist: {}").format(path),
                      _("make one with: orvane urldb {} --url URL").format(path), field="urldb")
    try:
        endpoint = urldb.lookup(path)
    except sqlite3.Error as exc:
        raise Refused(frontend.EXIT_REFUSED, _("{} is not a URL database: {}").format(path, exc),
                      field="urldb")
    if not endpoint:
        raise Refused(frontend.EXIT_REFUSED,
                      _("{} registers no 'commit' endpoint").format(path),
                      _("add it with: {}").format("orvane urldb {} --url URL".format(path)), field="urldb")


def check_job(folders, workers, threshold, splitter, urldb_path):
    """Every check, in the order a user would fix them; raises Refused for the first that fails."""
    check_folders(folders)
    check_numbers(workers, threshold)
    check_splitter(splitter)
    check_urldb(urldb_path)
