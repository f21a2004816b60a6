"""Inputs built to hurt the splitter. Whatever they do, one run ends in
bounded time and memory, sources stay as they were, a page that cannot be
judged within its budget stays in its document and is named for checking,
and a file that cannot be read within its budget is not split and leaves
no folder behind."""
import os
import signal
import subprocess
import time

import pytest

import hostile
from pdfgen import BLUE, JpegPage, write_pdf
from splitter_helpers import Result, outputs, tree_state

PEAK_MB = 300
# Under the sanitizers memory figures are the sanitizer's, and a child that
# reaches its memory limit makes ASan report instead of failing quietly.
SANITIZED = bool(os.environ.get("ORVANE_SANITIZER"))


def run_measured(exe, src, dst, limit):
    """Runs the splitter under /usr/bin/time: (Result, seconds, peak MB of the
    splitter or any of its child processes)."""
    mem = str(dst) + ".rss"
    start = time.monotonic()
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", mem, exe, str(src), str(dst), "2", "0"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=limit)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        pytest.fail("the splitter ran longer than %d s" % limit)
    seconds = time.monotonic() - start
    with open(mem) as f:
        report = f.read()
    if "signal" in report:
        # The splitter never ends itself by a signal (see conftest.run_splitter).
        pytest.fail("orvaneFun.exe was ended by a signal: %s" % report.strip())
    return Result(subprocess.CompletedProcess([], proc.returncode, out, err)), seconds, int(report.split()[-1]) // 1024


def split_hostile(tmp_path, exe, name, data, limit):
    src, dst = tmp_path / "in", tmp_path / "out"
    for d in (src, dst):
        d.mkdir()
    (src / (name + ".pdf")).write_bytes(data)
    before = tree_state(src)
    res, seconds, peak = run_measured(exe, src, dst, limit)
    print("\n%-32s %6.1f s %5d MB  %s" % (name, seconds, peak, res.lines[0] if res.lines else res.err[-300:]))
    assert tree_state(src) == before
    if not SANITIZED:
        assert peak < PEAK_MB
    return res, dst


# (case, builder, pages, separators, pages named for checking or None when a
# fast machine may judge it within the budget, documents' page spans)
PAGES_OVER_BUDGET = [
    ("image_100000x100000", hostile.declared_huge_image, 4, "3", "2", ["pages 1-2", "page 4"]),
    ("jpeg_header_65000x65000", hostile.jpeg_header_huge, 4, "3", "2", ["pages 1-2", "page 4"]),
    ("jpeg_sheet_5000_scans", hostile.jpeg_many_scans, 4, "3", "2", ["pages 1-2", "page 4"]),
    ("flate_image_30gb", hostile.flate_image_huge, 1, "none", None, ["page 1"]),
    ("content_flate_bomb_1gb", hostile.content_bomb, 2, "none", None, ["pages 1-2"]),
    ("forms_nested_2_pow_40", hostile.nested_forms, 2, "none", "1", ["pages 1-2"]),
    # Too deep to copy without a rehearsal, not too deep for the copy itself.
    ("form_chain_3000_deep", lambda: hostile.form_chain(3000), 2, "none", None, ["pages 1-2"]),
    ("page_taking_minutes", lambda: hostile.slow_pages(1), 1, "none", "1", ["page 1"]),
]


@pytest.mark.parametrize("case,build,pages,separators,check,spans", PAGES_OVER_BUDGET,
                         ids=[c[0] for c in PAGES_OVER_BUDGET])
def test_page_over_budget_stays_in_its_document(tmp_path, splitter_exe, case, build, pages, separators,
                                                check, spans):
    res, dst = split_hostile(tmp_path, splitter_exe, case, build(), 90)
    line = res.line_for(case + ".pdf")
    assert line.startswith("%s.pdf: %d page%s; separators: %s;" % (case, pages, "s" if pages > 1 else "", separators))
    if check is not None:
        assert "; check: %s;" % check in line
        assert res.lines[-1].endswith("; 1 page to check")
    written = outputs(dst)[case]
    assert line.endswith(", ".join("%s (%s)" % (n, s) for n, s in zip(written, spans)))
    assert res.code == 0


# (case, builder, reason in the line)
FILES_OVER_BUDGET = [
    ("page_tree_loop", hostile.tree_loop, "damaged: the page tree refers to itself"),
    ("page_tree_20000_deep", hostile.tree_deep, "over the limits: the page tree is nested more than 64 levels"),
    ("million_pages_declared", hostile.million_declared, "damaged: the page tree is broken (2 pages found, 1000000"),
    ("million_pages", hostile.million_pages, "over the limits: "),
    ("object_stream_bomb_1gb", hostile.object_stream_bomb, "over the limits: reading it needs more than 160 MB"),
    ("form_chain_20000_deep", hostile.form_chain, "damaged: qpdf crashes while reading it"),
    ("three_pages_taking_minutes", lambda: hostile.slow_pages(3), "over the limits: 3 pages take more than 10 s"),
]


@pytest.mark.parametrize("case,build,reason", FILES_OVER_BUDGET, ids=[c[0] for c in FILES_OVER_BUDGET])
def test_file_over_budget_is_not_split(tmp_path, splitter_exe, case, build, reason):
    if SANITIZED and case == "object_stream_bomb_1gb":
        pytest.skip("ASan reports a child process reaching its memory limit")
    res, dst = split_hostile(tmp_path, splitter_exe, case, build(), 120)
    assert res.line_for(case + ".pdf").startswith("%s.pdf: NOT SPLIT: %s" % (case, reason))
    assert res.code == 1
    assert outputs(dst) == {}


def test_fuzzing_finds_are_split_or_refused(tmp_path, splitter_exe):
    """The regression corpus: inputs the fuzzer found once, each answered with one line."""
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "regressions")
    names = sorted(n for n in os.listdir(src) if n.lower().endswith(".pdf"))
    dst = tmp_path / "out"
    dst.mkdir()
    res, _, _ = run_measured(splitter_exe, src, dst, 300)
    assert res.code in (0, 1), res.err[-2000:]
    assert [l.split(": ", 1)[0] for l in res.lines[:-1]] == names
    assert res.lines[-1].startswith("Summary: %d PDF files" % len(names))


# A sheet's content of `size` bytes: rendered once over 64 KiB with the line end after its stream.
@pytest.mark.parametrize("size,how", [(65535, "jpeg"), (65536, "rendered"), (70000, "rendered")])
def test_long_page_content_is_rendered(tmp_path, run_splitter, size, how):
    (tmp_path / "in").mkdir()
    pages = [JpegPage(1), JpegPage(2, "sheet", BLUE), JpegPage(3)]
    pages[1].content_size = size
    write_pdf(tmp_path / "in" / "a.pdf", pages)
    # A file not split has no trace of its pages.
    assert run_splitter(tmp_path / "in", tmp_path, trace=True).trace()[("a.pdf", 2)][:2] == (how, True)
