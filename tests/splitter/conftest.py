"""Locating (or building) orvaneFun.exe and running it on real folders."""
import os
import shutil
import subprocess
import sys
import sysconfig

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

REPO = os.path.dirname(os.path.dirname(HERE))

from splitter_helpers import Result  # noqa: E402


def installed_splitter():
    """ORVANE_SPLITTER, else the one `pip install .` put beside this
    interpreter, else orvaneFun.exe on PATH; None if there is none."""
    exe = os.environ.get("ORVANE_SPLITTER")
    if exe:
        return exe
    beside = os.path.join(sysconfig.get_path("scripts"), "orvaneFun.exe")
    if os.path.isfile(beside) and os.access(beside, os.X_OK):
        return beside
    return shutil.which("orvaneFun.exe")


@pytest.fixture(scope="session")
def splitter_exe(tmp_path_factory):
    """The installed splitter, else a fresh CMake build of splitter/."""
    exe = installed_splitter()
    if exe:
        return exe
    build = str(tmp_path_factory.mktemp("splitter-build"))
    # A sanitizer run preloads its runtime into every process; the compiler
    # must not inherit it.
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    env["ASAN_OPTIONS"] = "detect_leaks=0"
    for cmd in (["cmake", "-S", os.path.join(REPO, "splitter"), "-B", build, "-DCMAKE_BUILD_TYPE=Release"],
                ["cmake", "--build", build, "-j2"]):
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600, env=env)
        assert done.returncode == 0, done.stdout.decode("utf-8", "replace")[-4000:]
    exe = os.path.join(build, "orvaneFun.exe")
    assert os.path.isfile(exe)
    return exe


@pytest.fixture
def run_splitter(splitter_exe):
    def run(src, dst, workers=2, threshold=19, args=None, trace=False):
        argv = [splitter_exe] + (list(args) if args is not None else
                                 [str(src), str(dst), str(workers), str(threshold)])
        env = dict(os.environ)
        if trace:
            env["ORVANE_SPLITTER_TRACE"] = "1"
        done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300, env=env)
        if done.returncode < 0:
            # The splitter never ends itself by a signal; something else did
            # (on a shared machine: another suite's "end every orvaneFun.exe").
            pytest.fail("orvaneFun.exe was ended by signal %d" % -done.returncode)
        return Result(done)
    return run
