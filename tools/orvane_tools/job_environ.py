"""Each job's own environment for the splitter it starts.

The module starts the splitter with `os.popen(command)` on the job's thread, and `os.popen` gives the
child the whole process's environment. Two jobs of one process (the window's job and its watcher's
batch) would then share one ORVANE_EVENTS and one ORVANE_SPLITTER_OPTIONS, each overwriting the
other's. `install()` puts a thread-aware `os.popen` in place once: on a thread that runs under
`use(environ)` it starts the command with the process's environment and that thread's variables
over it; on any other thread it is the original `os.popen`."""
import os
import subprocess
import threading

_ORIGINAL = os.popen
_LOCAL = threading.local()
_INSTALL = threading.Lock()


def popen(cmd, mode="r", buffering=-1):
    """`os.popen`, with the calling thread's job environment when it has one."""
    extra = getattr(_LOCAL, "environ", None)
    if extra is None:
        return _ORIGINAL(cmd, mode, buffering)
    # os.popen's own checks and pipes; text mode decodes as it does on 3.7 to 3.13 (the default
    # text encoding, universal newlines), so the module reads the same lines either way.
    if not isinstance(cmd, str):
        raise TypeError("invalid cmd type (%s, expected string)" % type(cmd))
    if mode not in ("r", "w"):
        raise ValueError("invalid mode %r" % mode)
    if buffering == 0 or buffering is None:
        raise ValueError("popen() does not support unbuffered streams")
    env = dict(os.environ)
    env.update(extra)
    pipe = {"stdout": subprocess.PIPE} if mode == "r" else {"stdin": subprocess.PIPE}
    proc = subprocess.Popen(cmd, shell=True, universal_newlines=True, bufsize=buffering, env=env, **pipe)
    return os._wrap_close(proc.stdout if mode == "r" else proc.stdin, proc)


def install():
    """Put the thread-aware `popen` in place of `os.popen` (once; harmless again)."""
    with _INSTALL:
        if os.popen is not popen:
            os.popen = popen


class use(object):  # noqa: N801 (used as a context manager, like a function)
    """For the calling thread, while inside: the splitters it starts get ``environ`` (a dict of
    variables) over the process's environment. Installs the thread-aware `popen` first."""

    def __init__(self, environ):
        self.environ = dict(environ)
        self.before = None

    def __enter__(self):
        install()
        self.before = getattr(_LOCAL, "environ", None)
        _LOCAL.environ = self.environ or None   # nothing to set: os.popen itself
        return self

    def __exit__(self, *exc):
        _LOCAL.environ = self.before
