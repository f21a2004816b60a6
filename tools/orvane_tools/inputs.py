"""The checks every front end makes on a job's settings before anything is announced: the module
checks some of them only after the service has recorded the start (the worker count), and some not at
all (the threshold, which the splitter refuses with a usage text that never reaches the user)."""
import os
import sqlite3

from . import frontend, urldb

THRESHOLD_RANGE = (0, 255)   # 0: the splitter's default
MAX_SPLITTER_WORKERS = 256


class Refused(Exception):
    """An input that a job would fail on: ``status`` is the exit status of `orvane split`, the text
    says what is wrong and what to do about it."""

    def __init__(self, status, text):
        Exception.__init__(self, text)
        self.status = status


def worker_limit():
    """The most workers both the module (the processor count) and the splitter accept."""
    return min(os.cpu_count() or 1, MAX_SPLITTER_WORKERS)


def check_numbers(workers, threshold):
    limit = worker_limit()
    if not 1 <= workers <= limit:
        raise Refused(frontend.EXIT_CHECKS,
                      "the worker count {} is out of range: give 1 to {} (the processor count)"
                      .format(workers, limit))
    low, high = THRESHOLD_RANGE
    if not low <= threshold <= high:
        raise Refused(frontend.EXIT_CHECKS,
                      "the threshold {} is out of range: give {} to {}".format(threshold, low, high))


def check_splitter(path):
    if not os.path.isfile(path):
        raise Refused(frontend.EXIT_CHECKS,
                      "the splitter program does not exist: {} (give --splitter or put {} on PATH)"
                      .format(path, frontend.SPLITTER_NAME))


def check_folders(folders):
    """``folders``: (path, what) pairs that must be existing folders."""
    for path, what in folders:
        if not os.path.isdir(path):
            raise Refused(frontend.EXIT_CHECKS, "the {} does not exist: {}".format(what, path))


def check_urldb(path):
    """The URL database must exist and register the 'commit' endpoint: without it the module either
    refuses the job after its checks or runs it unannounced."""
    if not os.path.isfile(path):
        raise Refused(frontend.EXIT_REFUSED,
                      "the URL database does not exist: {} (make one with: orvane urldb {} --url URL)"
                      .format(path, path))
    try:
        endpoint = urldb.lookup(path)
    except sqlite3.Error as exc:
        raise Refused(frontend.EXIT_REFUSED, "{} is not a URL database: {}".format(path, exc))
    if not endpoint:
        raise Refused(frontend.EXIT_REFUSED,
                      "{} registers no 'commit' endpoint (orvane urldb {} --url URL)".format(path, path))


def check_job(folders, workers, threshold, splitter, urldb_path):
    """Every check, in the order a user would fix them; raises Refused for the first that fails."""
    check_folders(folders)
    check_numbers(workers, threshold)
    check_splitter(splitter)
    check_urldb(urldb_path)
