"""Crash-safe files for `orvane watch`: the journal of batches, the lock on an INBOX and moves that
are claims.

Every step that changes where a source file lies is written to the journal first and done by a
rename on one file system, so that after a stop at any moment (a power cut included) each source is
in exactly one place and the journal says what was under way."""
import errno
import json
import os
import shutil

STATE_DIR_NAME = ".orvane-watch"


def fsync_dir(folder):
    """Make a rename or removal inside ``folder`` durable (POSIX; Windows and many network file
    systems cannot open a folder for this, and do not need it)."""
    if os.name != "posix":
        return
    try:
        fd = os.open(folder, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError as exc:
        if exc.errno not in (errno.EINVAL, errno.ENOTSUP, errno.EBADF):
            raise
    finally:
        os.close(fd)


def write_atomic(path, data):
    """Replace ``path`` with ``data`` (bytes) so that a reader sees the old or the new whole file."""
    temporary = "{}.tmp-{}".format(path, os.getpid())
    with open(temporary, "wb") as fh:
        fh.write(data)
        fh.flush()
        os.fsync(fh.fileno())
    os.replace(temporary, path)
    fsync_dir(os.path.dirname(path) or ".")


def move_file(src, dst):
    """Move one file to a path that does not exist yet: a rename where both lie on one file system,
    else a copy under a temporary name that is renamed into place before the source goes.

    Raises FileNotFoundError when ``src`` is gone (someone else took it) and FileExistsError when
    ``dst`` is taken; both leave everything as it was."""
    if os.path.lexists(dst):
        raise FileExistsError(errno.EEXIST, "already there", dst)
    try:
        if os.name == "nt":
            os.rename(src, dst)      # refuses an existing destination by itself
        else:
            os.replace(src, dst)
    except OSError as exc:
        if exc.errno != errno.EXDEV:
            raise
        partial = dst + ".part"
        shutil.copyfile(src, partial)
        with open(partial, "rb+") as fh:
            os.fsync(fh.fileno())
        os.replace(partial, dst)
        fsync_dir(os.path.dirname(dst))
        os.remove(src)
    fsync_dir(os.path.dirname(dst))
    fsync_dir(os.path.dirname(src))


def free_name(folder, name):
    """``name`` in ``folder``, or ``stem_2.ext``, ``stem_3.ext`` ... when it is taken. (No blank is
    added: the module refuses a file name with a blank before ".pdf".)"""
    stem, ext = os.path.splitext(name)
    candidate, number = name, 1
    while os.path.lexists(os.path.join(folder, candidate)) or \
            os.path.lexists(os.path.join(folder, candidate + ".reason.txt")):
        number += 1
        candidate = "{}_{}{}".format(stem, number, ext)
    return candidate


class Journal(object):
    """One small JSON record per batch under way (or parked), each replaced atomically."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)

    def save(self, record):
        data = json.dumps(record, ensure_ascii=False, sort_keys=True, indent=1).encode("utf-8")
        write_atomic(self._path(record["id"]), data)

    def drop(self, record):
        try:
            os.remove(self._path(record["id"]))
        except FileNotFoundError:
            pass
        fsync_dir(self.folder)

    def records(self):
        """Every record, oldest first. Left-over temporary files of an interrupted save are removed:
        the record they were to replace is still whole."""
        found = []
        for entry in sorted(os.listdir(self.folder)):
            path = os.path.join(self.folder, entry)
            if ".tmp-" in entry:
                os.remove(path)
            elif entry.endswith(".json"):
                with open(path, "rb") as fh:
                    found.append(json.loads(fh.read().decode("utf-8")))
        return found

    def _path(self, job_id):
        return os.path.join(self.folder, job_id + ".json")


class AlreadyWatched(Exception):
    """Another watcher holds the lock of this INBOX."""


class InboxLock(object):
    """An exclusive lock on ``state_dir/lock``, held while a watcher runs: a second watcher on the
    same INBOX refuses to start instead of taking files the first one is working on."""

    def __init__(self, state_dir):
        self.path = os.path.join(state_dir, "lock")
        self.fh = None

    def __enter__(self):
        fh = open(self.path, "a+")
        try:
            _lock_file(fh)
        except OSError:
            try:
                fh.seek(0)
                holder = fh.read().strip() or "unknown"
            except OSError:  # Windows: the locked byte cannot be read either
                holder = "unknown"
            fh.close()
            raise AlreadyWatched("another watcher already watches this folder (lock {}, held by {})"
                                 .format(self.path, holder))
        fh.seek(0)
        fh.truncate()
        fh.write("pid {} on {}\n".format(os.getpid(), _host()))
        fh.flush()
        self.fh = fh
        return self

    def __exit__(self, *exc):
        fh, self.fh = self.fh, None
        if fh is not None:
            _unlock_file(fh)
            fh.close()


def _host():
    import socket

    return socket.gethostname()


if os.name == "nt":
    import msvcrt

    def _lock_file(fh):
        fh.seek(0)
        msvcrt.locking(fh.fileno(), msvcrt.LK_NBLCK, 1)

    def _unlock_file(fh):
        fh.seek(0)
        try:
            msvcrt.locking(fh.fileno(), msvcrt.LK_UNLCK, 1)
        except OSError:
            pass
else:
    import fcntl

    def _lock_file(fh):
        fcntl.flock(fh.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)

    def _unlock_file(fh):
        fcntl.flock(fh.fileno(), fcntl.LOCK_UN)
