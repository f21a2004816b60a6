"""Benchmark of the window's review of one large scanned file.

Makes one PDF of 2,000 A4 pages scanned at 200 dpi (one JPEG per page, a coloured sheet every few
pages, as bench/splitter makes them), splits it with orvaneFun.exe writing its events, and then times,
in one run and on the same file:

  - opening the review: reading the job's events and laying out all pages in the review's canvas
    (a real Tk window: needs a display; under Xvfb when there is none and Xvfb is installed)
  - thumbnails, one thread, empty cache: pages/s of orvane_tools.thumbs (libjpeg's DCT scaling at 1/8
    through Pillow's draft mode)
  - the peer: pdftoppm -r 10 of the same pages (poppler rendering each page small), pages/s

    python3 bench/bench_review.py [--pages 2000] [--work DIR]

The splitter is ORVANE_SPLITTER, else orvaneFun.exe on PATH. Needs Pillow and pypdf.
"""
import argparse
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(HERE, "splitter"))
sys.path.insert(0, os.path.join(REPO, "tools"))

import bench_splitter  # noqa: E402  (page pool and scan PDF writer)
from orvane_tools import events, thumbs  # noqa: E402


def log(text):
    print(text)
    sys.stdout.flush()


def make_job(work, pages):
    """A one-file job of ``pages`` scanned pages, split with events; returns the events file."""
    pool = bench_splitter.make_pool(os.path.join(work, "pool"))
    src, dst = os.path.join(work, "src"), os.path.join(work, "dst")
    os.makedirs(src)
    os.makedirs(dst)
    bench_splitter.write_scan_pdf(os.path.join(src, "scan.pdf"),
                                  bench_splitter.page_plan(pages, pool, random.Random(7)))
    exe = os.environ.get("ORVANE_SPLITTER") or shutil.which("orvaneFun.exe")
    if not exe:
        sys.exit("no splitter: set ORVANE_SPLITTER or put orvaneFun.exe on PATH")
    path = os.path.join(work, "events.jsonl")
    env = dict(os.environ, ORVANE_EVENTS=path)
    subprocess.run([exe, src, dst, "2", "0"], check=True, stdout=subprocess.DEVNULL, env=env)
    return path


def with_display():
    """A display for Tk: the one we have, else a private Xvfb (returned to be ended), else None."""
    if os.environ.get("DISPLAY") or sys.platform.startswith("win") or sys.platform == "darwin":
        return True, None
    if not shutil.which("Xvfb"):
        return False, None
    server = subprocess.Popen(["Xvfb", ":93", "-screen", "0", "1280x900x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = ":93"
    time.sleep(1.0)
    return True, server


def time_open(path, cache):
    """Seconds from reading the events file to the laid-out review on the screen."""
    import tkinter as tk
    from orvane_tools import review_canvas

    root = tk.Tk()
    root.geometry("1200x800")
    view = review_canvas.ReviewView(root, cache, lambda text: None)
    view.pack(fill="both", expand=True)
    root.update()
    started = time.perf_counter()
    view.show(events.read_record(path))
    root.update()
    took = time.perf_counter() - started
    view.stop_thumbs.set()
    root.destroy()
    return took


def cpu_seconds():
    own = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def rates(pages, work):
    """(pages per wall second, pages per CPU second) of ``work()``."""
    wall, cpu = time.perf_counter(), cpu_seconds()
    work()
    return pages / (time.perf_counter() - wall), pages / (cpu_seconds() - cpu)


def time_thumbnails(pdf, pages, cache):
    made = []
    found = rates(pages, lambda: thumbs.Thumbnailer(pdf, cache).make(range(1, pages + 1),
                                                                     lambda page, path: made.append(page)))
    assert len(made) == pages, len(made)
    return found


def time_pdftoppm(pdf, pages, work):
    out = os.path.join(work, "ppm")
    os.makedirs(out)
    return rates(pages, lambda: subprocess.run(
        ["pdftoppm", "-r", "10", "-f", "1", "-l", str(pages), pdf, os.path.join(out, "p")], check=True))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--work", help="working folder (default: a new temporary one, deleted)")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="orvane-bench-review-")
    try:
        log("making a {}-page scanned file and splitting it ...".format(args.pages))
        path = make_job(work, args.pages)
        pdf = os.path.join(work, "src", "scan.pdf")
        cache = os.path.join(work, "cache")
        shown, server = with_display()
        try:
            opened = time_open(path, cache) if shown else None
        finally:
            if server is not None:
                server.terminate()
                server.wait()
        ours = time_thumbnails(pdf, args.pages, os.path.join(work, "cache"))
        peer = time_pdftoppm(pdf, args.pages, work)
        log("review of a {}-page file: opened in {}".format(
            args.pages, "{:.2f} s".format(opened) if opened is not None else "? (no display, no Xvfb)"))
        log("| pages/s, one thread | wall | CPU |\n|---|---|---|")
        log("| thumbnails (orvane_tools.thumbs) | {:.0f} | {:.0f} |".format(*ours))
        log("| pdftoppm -r 10 | {:.0f} | {:.0f} |".format(*peer))
        log("| ratio thumbnails / pdftoppm | {:.1f} | {:.1f} |".format(ours[0] / peer[0], ours[1] / peer[1]))
        if opened is not None:
            log("review opened in {:.1f} % of the time its thumbnails take (one thread, wall)".format(
                100.0 * opened * ours[0] / args.pages))
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
