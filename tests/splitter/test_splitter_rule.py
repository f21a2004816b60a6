"""The splitter's pieces alone, each on a program of tests/splitter/native: the separator
rule (detect.*, page and file step together), how a page is sorted (page_kind.*), the
progress events shared by threads (events.*, under ThreadSanitizer), the process layer against
real children (process_posix.cpp: how a read ends, ending a child within its grace), document
names from untrusted code texts (names.*, document_names.*: written into a real folder), and the
sheet kinds settled with the file (sheets.*: the duplex rule, each document's code, the line and
events)."""
import os
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(os.path.dirname(os.path.dirname(HERE)), "splitter", "src")
QPDF = ["-DPOINTERHOLDER_TRANSITION=4", "-lqpdf"]
# (program, the sources it tests, further flags)
UNITS = [("rule_table", ["detect.cpp"], []), ("page_kind_table", ["page_kind.cpp"], QPDF),
         ("events_threads", ["events.cpp", "environment.cpp", "reasons.cpp"], QPDF + ["-fsanitize=thread"]),
         ("process_table", ["process_posix.cpp"], []),
         ("names_table", ["names.cpp", "document_names.cpp"], []),
         ("sheets_table", ["sheets.cpp", "split_plan.cpp", "events.cpp", "report.cpp", "ansi_line.cpp",
                           "environment.cpp", "reasons.cpp"], QPDF)]

# Code sheets (sheet_codes.*, code_reader.cpp): drawn codes read, candidates let through, text pages
# given up early.
UNITS.append(("code_table", ["sheet_codes.cpp", "code_pieces.cpp", "code_reader.cpp", "detect.cpp"], ["-lZXing"]))


@pytest.mark.parametrize("table,sources,flags", UNITS)
def test_rule_table(tmp_path, table, sources, flags):
    exe = str(tmp_path / table)
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)  # a sanitizer run's runtime is not for the compiler
    build = subprocess.run([os.environ.get("CXX", "g++"), "-std=c++17", "-O1", "-Wall", "-Wextra", "-I", SRC,
                            os.path.join(HERE, "native", table + ".cpp")] +
                           [os.path.join(SRC, s) for s in sources] + flags + ["-o", exe],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=300)
    assert build.returncode == 0, build.stdout.decode("utf-8", "replace")
    run = subprocess.run([exe, str(tmp_path)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=60)
    assert run.returncode == 0, run.stdout.decode("utf-8", "replace")
