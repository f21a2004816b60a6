"""What text recognition (--ocr chi_sim+eng) costs: CPU seconds a page against the `tesseract`
command on the same images, the wall time of a batch of 100 pages with 1 and 2 workers, and the
peak resident memory of a helper process while it recognises.

    python3 bench/splitter/bench_ocr.py [--pages 100] [--sample 7] [--work DIR]

The pages are the corpus's (tests/splitter/ocrscans.py: Chinese, English and mixed text printed
from fonts and scanned at 200 and 300 dpi, one page turned 90 degrees), over and over, with a
coloured sheet after every ninth page. The CPU figure is taken on the first `--sample` pages of
text, one file, one worker, against the command run on each of those pages' JPEG as it ships
(OpenMP threads as it chooses) and with one thread (OMP_THREAD_LIMIT=1, as the helpers run it);
the page turned 90 degrees is given --psm 1 there, which the command needs to read it. Target: the
splitter at most 1.1 times the command's CPU seconds.

The splitter is ORVANE_SPLITTER, else orvaneFun.exe on PATH, else built here; it is timed under
another name (a cancellation test elsewhere ends every orvaneFun.exe).
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "splitter"))
sys.path.insert(0, os.path.join(REPO, "scripts"))

import bench_splitter  # noqa: E402
import ocrscans  # noqa: E402
import pdfgen  # noqa: E402
from bench_splitter import fresh, log, timed  # noqa: E402
from ocr_table import LANGUAGES  # noqa: E402

TEXT_PAGES = [r for r in ocrscans.BATCH if r["text"]]
SHEET = dict(text=None, dpi=100, colour=pdfgen.YELLOW)


def batch_plan(pages):
    """The corpus's text pages over and over, a sheet after every ninth: `pages` recipes."""
    plan = []
    while len(plan) < pages:
        plan.append(SHEET if len(plan) % 10 == 9 else TEXT_PAGES[len(plan) % len(TEXT_PAGES)])
    return plan


def write_pages(path, plan):
    """The batch as one file; each distinct recipe's page made once."""
    made = {}
    for i, r in enumerate(plan):
        if id(r) not in made:
            made[id(r)] = ocrscans.jpeg_page(i + 1, r)
    pages = [made[id(r)] for r in plan]
    pdfgen.write_pdf(path, pages)
    return [(p.data, r) for p, r in zip(pages, plan)]


def helper_peak_mb(cmd):
    """Runs the splitter; the highest peak resident memory (VmHWM) seen among its child processes,
    read from /proc while they run, in MB."""
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    peak = 0
    while proc.poll() is None:
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/status" % pid) as f:
                    status = dict(line.split(":", 1) for line in f if ":" in line)
                if int(status["PPid"]) == proc.pid and "VmHWM" in status:
                    peak = max(peak, int(status["VmHWM"].split()[0]))
            except (OSError, ValueError, KeyError):
                continue
        time.sleep(0.1)
    if proc.wait() != 0:
        raise SystemExit("failed: %s\n%s" % (" ".join(cmd), proc.stderr.read().decode("utf-8", "replace")))
    return peak / 1024.0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--pages", type=int, default=100)
    ap.add_argument("--sample", type=int, default=len(TEXT_PAGES), help="text pages for the CPU comparison")
    ap.add_argument("--work", help="work folder (default: a temporary one, removed)")
    args = ap.parse_args()
    bench_splitter.in_work_folder(args.work, "orvane-bench-ocr-", lambda work: run(args, work))


def run(args, work):
    splitter = os.path.join(work, "orvane-split-bench")
    shutil.copy2(bench_splitter.find_splitter(work), splitter)

    def split(src, workers, ocr=True):
        return [splitter, src, fresh(os.path.join(work, "out")), str(workers), "19"] + (
            ["--ocr", LANGUAGES] if ocr else [])

    sample = fresh(os.path.join(work, "sample"))
    plan = [TEXT_PAGES[i % len(TEXT_PAGES)] for i in range(args.sample)]
    images = []
    for number, (data, recipe) in enumerate(write_pages(os.path.join(sample, "sample.pdf"), plan), 1):
        images.append((os.path.join(work, "page%d.jpg" % number), bool(recipe.get("turn"))))
        with open(images[-1][0], "wb") as f:
            f.write(data)

    def command(threads):
        prefix = ["env", "OMP_THREAD_LIMIT=" + threads] if threads else []
        return [prefix + ["tesseract", jpeg, "-", "-l", LANGUAGES] + (["--psm", "1"] if turned else [])
                for jpeg, turned in images]

    log("CPU seconds a page, %d pages of text (%s):" % (len(plan), ", ".join(
        "%s %d dpi" % (r["text"], r["dpi"]) for r in plan)))
    ours = timed([split(sample, 1)])
    looking = timed([split(sample, 1, ocr=False)])
    plain = timed(command(None))
    single = timed(command("1"))
    n = float(len(plan))
    for label, (wall, cpu) in (("orvaneFun.exe --ocr, 1 worker", ours), ("orvaneFun.exe without --ocr", looking),
                               ("tesseract command", plain), ("tesseract command, OMP_THREAD_LIMIT=1", single)):
        log("  %-40s %6.2f s CPU a page  %6.2f s wall a page" % (label, cpu / n, wall / n))
    for label, theirs in (("the command", plain), ("the command, one thread", single)):
        ratio = ours[1] / theirs[1]
        log("  %-40s %5.2f  (<= 1.10) %s" % ("CPU ours / " + label, ratio, "ok" if ratio <= 1.1 else "MISSED"))

    batch = fresh(os.path.join(work, "batch"))
    write_pages(os.path.join(batch, "batch.pdf"), batch_plan(args.pages))
    log("batch of %d pages (%d to recognise), one file:" % (args.pages, sum(1 for r in batch_plan(args.pages)
                                                                           if r["text"])))
    walls = {}
    for workers in (1, 2):
        walls[workers], cpu = timed([split(batch, workers)])
        log("  %d worker%s: %7.1f s wall, %7.1f s CPU" % (workers, "s" if workers > 1 else " ", walls[workers], cpu))
    log("  speed-up 2 workers over 1: %.2f" % (walls[1] / walls[2]))
    log("peak resident memory of a recognising helper (the sample, 2 workers): %.0f MB" %
        helper_peak_mb(split(sample, 2)))
    log("(wall times need an otherwise idle machine; CPU times hold on a busy one)")


if __name__ == "__main__":
    main()
