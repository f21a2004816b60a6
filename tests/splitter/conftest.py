"""Locating (or building) orvaneFun.exe and running it on real folders."""
import os
import shutil
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

REPO = os.path.dirname(os.path.dirname(HERE))

from splitter_helpers import Result  # noqa: E402


@pytest.fixture(scope="session")
def splitter_exe(tmp_path_factory):
    """ORVANE_SPLITTER, else orvaneFun.exe on PATH, else a fresh CMake build."""
    exe = os.environ.get("ORVANE_SPLITTER") or shutil.which("orvaneFun.exe")
    if exe:
        return exe
    build = str(tmp_path_factory.mktemp("splitter-build"))
    for cmd in (["cmake", "-S", os.path.join(REPO, "splitter"), "-B", build, "-DCMAKE_BUILD_TYPE=Release"],
                ["cmake", "--build", build, "-j2"]):
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
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
        return Result(done)
    return run
