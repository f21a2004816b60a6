"""The splitter's helper processes under faults: a helper ended from outside,
the splitter itself ended, and far more workers than files."""
import os
import signal
import subprocess
import time

import pytest

import hostile
from pdfgen import BLUE, JpegPage, VectorPage, write_pdf
from splitter_helpers import Result, outputs

GOOD_LINE = ("3 pages; separators: 2; 2 documents in \"{0}\": {0}_001.pdf (page 1), "
             "{0}_002.pdf (page 3)")


def good_file(path):
    """A scan, a sheet, and a vector page that only a helper can judge."""
    write_pdf(path, [JpegPage(1), JpegPage(2, "sheet", BLUE), VectorPage(3)])


def helpers_of(pid):
    """Pids of the helper processes whose parent is `pid`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if int(fields[1]) == pid and fields[0] != "Z" and b"--orvane-helper" in argv:
            found.append(int(entry))
    return found


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_for_helpers(proc, count=1, limit=20.0):
    """The splitter's helpers once `count` of them are up (bounded wait)."""
    end = time.monotonic() + limit
    while time.monotonic() < end and proc.poll() is None:
        found = helpers_of(proc.pid)
        if len(found) >= count:
            return found
        time.sleep(0.05)
    pytest.fail("no helper process came up")


def start(exe, src, dst, workers, trace=False):
    env = dict(os.environ)
    if trace:
        env["ORVANE_SPLITTER_TRACE"] = "1"
    return subprocess.Popen([exe, str(src), str(dst), str(workers), "0"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)


def finish(proc, limit=120):
    out, err = proc.communicate(timeout=limit)
    return Result(subprocess.CompletedProcess([], proc.returncode, out, err))


@pytest.fixture
def batch(tmp_path):
    """a.pdf and z.pdf good, between them one page that takes minutes to draw."""
    src, dst = tmp_path / "in", tmp_path / "out"
    for d in (src, dst):
        d.mkdir()
    good_file(src / "a.pdf")
    (src / "slow.pdf").write_bytes(hostile.slow_pages(1))
    good_file(src / "z.pdf")
    return src, dst


@pytest.mark.parametrize("workers", [1, 2])
def test_helper_ended_mid_file_costs_only_that_file(batch, splitter_exe, workers):
    src, dst = batch
    proc = start(splitter_exe, src, dst, workers)
    # By now a helper is drawing the slow page (the good files take
    # milliseconds); it is ended as a crash or the system would end it.
    time.sleep(1.5)
    for pid in wait_for_helpers(proc):
        os.kill(pid, signal.SIGKILL)
    res = finish(proc)
    assert res.line_for("a.pdf") == "a.pdf: " + GOOD_LINE.format("a")
    assert res.line_for("z.pdf") == "z.pdf: " + GOOD_LINE.format("z")
    slow = res.line_for("slow.pdf")
    assert slow in ("slow.pdf: 1 page; separators: none; check: 1; 1 document in \"slow\": slow_001.pdf (page 1)",
                    ) or slow.startswith("slow.pdf: NOT SPLIT: "), slow
    assert sorted(outputs(dst)) == sorted(["a", "z"] + (["slow"] if "NOT SPLIT" not in slow else []))


def test_splitter_ended_leaves_no_helper(batch, splitter_exe):
    src, dst = batch
    proc = start(splitter_exe, src, dst, 2)
    time.sleep(1.0)
    helpers = wait_for_helpers(proc)
    proc.kill()
    proc.communicate()
    time.sleep(2.0)
    assert [pid for pid in helpers if alive(pid)] == []


def test_many_workers_start_no_more_helpers_than_files(tmp_path, splitter_exe):
    src, dst = tmp_path / "in", tmp_path / "out"
    for d in (src, dst):
        d.mkdir()
    names = ["a", "b", "c"]
    for n in names:
        good_file(src / (n + ".pdf"))
    res = finish(start(splitter_exe, src, dst, 256, trace=True), limit=60)
    assert res.code == 0
    assert res.lines[:-1] == ["%s.pdf: %s" % (n, GOOD_LINE.format(n)) for n in names]
    started = [l for l in res.err.splitlines() if l.startswith("helpers: ")]
    assert len(started) == 1
    print(started[0])
    assert 1 <= int(started[0].split()[1]) <= len(names)


@pytest.mark.parametrize("kinds,z_line", [
    ("colour,code", GOOD_LINE.format("z")),
    ("code", "3 pages; separators: none; 1 document in \"z\": z_001.pdf (pages 1-3)")])
def test_code_reading_that_aborts_costs_only_its_page(tmp_path, splitter_exe, kinds, z_line):
    """The barcode reader of a page judged from its JPEG runs in the helper: made to abort there (as an
    assertion of zxing-cpp would), its page is no code sheet but one to check, the file is split, and
    the next file's page is drawn by a fresh helper."""
    import sheetscans
    src, dst = tmp_path / "in", tmp_path / "out"
    for d in (src, dst):
        d.mkdir()
    sheetscans.pdf(src / "a.pdf", [sheetscans.TEXT, sheetscans.PATCHT_QR, sheetscans.TEXT])
    good_file(src / "z.pdf")
    env = dict(os.environ, ORVANE_SPLITTER_TRACE="1", ORVANE_HELPER_TEST_ABORT_CODE="1")
    proc = subprocess.Popen([splitter_exe, str(src), str(dst), "1", "0", "--sheets", kinds],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    res = finish(proc)
    assert res.line_for("a.pdf") == ("a.pdf: 3 pages; separators: none; check: 2; "
                                     "1 document in \"a\": a_001.pdf (pages 1-3)")
    assert res.line_for("z.pdf") == "z.pdf: " + z_line
    assert sorted(outputs(dst)) == ["a", "z"]
    assert res.code == 0
    crashes = [l for l in res.err.splitlines() if l.startswith("helpers: ")]
    assert crashes and int(crashes[0].split()[3]) >= 1, res.err
