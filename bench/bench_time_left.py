"""How true the time left is: the estimate a front end shows against the time that actually remained.

    python bench/bench_time_left.py [--big 800] [--small 40] [--small-pages 8] [--workers 1,2] [--work DIR]

Makes one large scanned file and many small ones (by default one of 800 pages and 40 of 8: the
large one first in the splitter's order), runs orvaneFun.exe on them with ORVANE_EVENTS set, and
follows the events as `orvane split` and the window do (events.JobRecord, polled every 20 ms). When
the pages done first reach 10 %, 25 % and 50 % of the job's pages, it prints the time left shown then,
the time that actually remained until the splitter ended, and their ratio. The estimate must be
within a factor of 2 from 10 % on; "none" means nothing was shown (no total known yet).

The splitter is ORVANE_SPLITTER, else orvaneFun.exe on PATH, else built here.
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "splitter"))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tools"))

import bench_splitter  # noqa: E402
from orvane_tools import events  # noqa: E402

MARKS = (0.10, 0.25, 0.50)


def make_batch(work, big, small, small_pages):
    pool = bench_splitter.make_pool(os.path.join(work, "pool"))
    src = os.path.join(work, "src")
    bench_splitter.fresh(src)
    rnd = random.Random(28)
    bench_splitter.write_scan_pdf(os.path.join(src, "batch-000.pdf"), bench_splitter.page_plan(big, pool, rnd))
    for i in range(1, small + 1):
        plan = bench_splitter.page_plan(small_pages, pool, rnd)
        bench_splitter.write_scan_pdf(os.path.join(src, "batch-%03d.pdf" % i), plan)
    return src, big + small * small_pages


def follow(splitter, src, work, workers, env=None, done=None):
    """(seconds, work done, seconds left shown or None) at each poll, and the run's length. ``env``:
    more variables for the splitter; ``done(record)``: the work done (default: the pages done)."""
    done = done or events.JobRecord.pages_done
    out = os.path.join(work, "out-%d" % workers)
    bench_splitter.fresh(out)
    path = os.path.join(work, "events-%d.jsonl" % workers)
    open(path, "wb").close()
    env = dict(os.environ, **dict(env or {}, **{events.ENV: path}))
    tail, record = events.EventTail(path), events.JobRecord()
    samples = []
    began = time.monotonic()
    proc = subprocess.Popen([splitter, src, out, str(workers), "19"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while proc.poll() is None:
        record.apply_all(tail.poll())
        samples.append((time.monotonic() - began, done(record), record.seconds_left()))
        time.sleep(0.02)
    return samples, time.monotonic() - began


def report(workers, pages, samples, length, what="pages"):
    """The table of one run (``pages``: the work of the whole job); whether it stayed within 2."""
    print("%d worker%s: %s %s in %.2f s" % (workers, "" if workers == 1 else "s", pages, what, length))
    print("  %-6s %-10s %-12s %-12s %s" % ("done", "at", "shown left", "real left", "ratio"))
    worst = 1.0
    for mark in MARKS:
        hit = next((s for s in samples if s[1] >= mark * pages), None)
        if hit is None:
            print("  %3d %%   (never seen between two polls)" % (mark * 100))
            continue
        at, _done, shown = hit
        real = length - at
        if shown is None:
            print("  %3d %%   %7.2f s   %-12s %7.2f s    -" % (mark * 100, at, "none", real))
            worst = float("inf")
            continue
        ratio = shown / real if real > 0 else float("inf")
        worst = max(worst, ratio, 1 / ratio if ratio else float("inf"))
        print("  %3d %%   %7.2f s   %7.2f s    %7.2f s    %.2f" % (mark * 100, at, shown, real, ratio))
    print("  worst factor: %s (%s)" % ("%.2f" % worst if worst != float("inf") else "none shown",
                                      "within 2" if worst <= 2 else "OUT OF 2"))
    return worst <= 2


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--big", type=int, default=800)
    parser.add_argument("--small", type=int, default=40)
    parser.add_argument("--small-pages", type=int, default=8)
    parser.add_argument("--workers", default="1,2")
    parser.add_argument("--work", default=None)
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="orvane-time-left-")
    splitter = bench_splitter.find_splitter(work)
    src, pages = make_batch(work, args.big, args.small, args.small_pages)
    ok = True
    for workers in (int(w) for w in args.workers.split(",")):
        ok = report(workers, pages, *follow(splitter, src, work, workers)) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
