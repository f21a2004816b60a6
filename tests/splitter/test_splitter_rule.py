"""The splitter's pieces on tables of their own, compiled from tests/splitter/native:
the separator rule alone (splitter/src/detect.*), page and file step together; how a
page is sorted by its content (splitter/src/page_kind.*, over qpdf's objects); and the
progress events shared by threads, under ThreadSanitizer."""
import os
import shlex
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(os.path.dirname(os.path.dirname(HERE)), "splitter", "src")


def pkg_config(package):
    done = subprocess.run(["pkg-config", "--cflags", "--libs", package], stdout=subprocess.PIPE, timeout=60)
    assert done.returncode == 0, "pkg-config knows no " + package
    return shlex.split(done.stdout.decode())


# (table, the sources it tests, the libraries it links, compiler flags)
UNITS = [
    ("rule_table", ["detect.cpp"], [], ["-O1"]),
    ("page_kind_table", ["page_kind.cpp"], ["libqpdf"], ["-O1"]),
    ("events_threads", ["events.cpp", "environment.cpp", "reasons.cpp"], ["libqpdf"],
     ["-O1", "-g", "-fsanitize=thread"]),
]


@pytest.mark.parametrize("table,sources,packages,flags", UNITS, ids=[u[0] for u in UNITS])
def test_rule_table(tmp_path, table, sources, packages, flags):
    exe = str(tmp_path / table)
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)  # a sanitizer run's runtime is not for the compiler, nor for ThreadSanitizer
    env["TSAN_OPTIONS"] = "halt_on_error=1"
    libraries = [flag for p in packages for flag in pkg_config(p)]
    build = subprocess.run([os.environ.get("CXX", "g++"), "-std=c++17", "-Wall", "-Wextra", "-I", SRC,
                            "-DPOINTERHOLDER_TRANSITION=4"] + flags + [os.path.join(HERE, "native", table + ".cpp")] +
                           [os.path.join(SRC, s) for s in sources] + libraries + ["-o", exe],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=300)
    assert build.returncode == 0, build.stdout.decode("utf-8", "replace")
    run = subprocess.run([exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=60)
    assert run.returncode == 0, run.stdout.decode("utf-8", "replace")
