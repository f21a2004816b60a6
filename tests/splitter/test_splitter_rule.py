"""The separator rule alone (splitter/src/detect.*), page and file step
together, on the table of tests/splitter/native/rule_table.cpp."""
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(os.path.dirname(os.path.dirname(HERE)), "splitter", "src")


def test_rule_table(tmp_path):
    exe = str(tmp_path / "rule_table")
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)  # a sanitizer run's runtime is not for the compiler
    build = subprocess.run([os.environ.get("CXX", "g++"), "-std=c++17", "-O1", "-Wall", "-Wextra", "-I", SRC,
                            os.path.join(HERE, "native", "rule_table.cpp"), os.path.join(SRC, "detect.cpp"),
                            "-o", exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=300)
    assert build.returncode == 0, build.stdout.decode("utf-8", "replace")
    run = subprocess.run([exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=60)
    assert run.returncode == 0, run.stdout.decode("utf-8", "replace")
