"""Benchmark of orvaneFun.exe on a generated batch of scanned-like pages.

Makes a batch of A4 pages scanned at 200 dpi (one JPEG per page, a coloured
separator sheet every few pages), then times, in one run and on the same
files:

  - orvaneFun.exe, a whole run (look at every page, split, write), 1 and 2 workers
  - orvaneFun.exe --blank-pages drop against keep, on the batch and on its pages scanned
    duplex (every page followed by a blank back)
  - pdftoppm -r 10      (rendering only, poppler)
  - mutool draw -r 10   (rendering only, MuPDF)
  - qpdf --split-pages  (splitting only)
  - a bare loop decoding every page's JPEG at 1/8 scale (the floor for
    looking at every page; same decoder and settings as the splitter)
  - the same loop decoding only the rows the splitter's rule read of each
    page (from its trace): the decoding no run with the same verdicts can skip

and the peak resident memory of the splitter on one file of all the pages. Then code sheets:
`--sheets colour,code` against `--sheets colour` on the same batch (which has no code sheet), the
milliseconds each code sheet costs on a batch of them (patch-T QR and Code 39 sheets), and the
reading alone on drawn code pages (tests/splitter/native/code_table.cpp).

    python3 bench/splitter/bench_splitter.py [--pages 2000] [--files 20] [--work DIR]
                                             [--against OTHER_EXE [--against-only]] [--codes-only]

With --against, another build of the splitter (say, main's before a change) is timed in the same
run: each build and qpdf alternately, so that a drifting machine moves all three alike.

The splitter is ORVANE_SPLITTER, else orvaneFun.exe on PATH, else built here.
"""
import argparse
import os
import random
import re
import statistics
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "splitter"))
sys.path.insert(0, os.path.join(REPO, "tools"))

import pdfgen  # noqa: E402

A4_PX = (1654, 2339)  # A4 at 200 dpi
COLOURS = [pdfgen.YELLOW, pdfgen.PINK, pdfgen.BLUE, pdfgen.GREEN, pdfgen.ORANGE]


def log(msg):
    print(msg)
    sys.stdout.flush()


# ------------------------------------------------------------------ making the batch

def make_pool(folder):
    """Distinct page images: text pages, a few with logos, a photo, sheets."""
    fresh(folder)
    pool = {"text": [], "sheet": [], "other": []}
    number = 0
    for i in range(12):
        number += 1
        pool["text"].append(("text", i))
    for i in range(2):
        pool["other"].append(("logo", 100 + i))
    pool["other"].append(("photo", 200))
    for i, c in enumerate(COLOURS):
        pool["sheet"].append(("sheet", i))
    files = {}
    for group, items in pool.items():
        for kind, seed in items:
            colour = COLOURS[seed] if kind == "sheet" else pdfgen.WHITE
            img = pdfgen.picture(kind, A4_PX, colour, seed)
            data = pdfgen.jpeg_bytes(img, seed, quality=75)
            path = os.path.join(folder, "%s_%d.jpg" % (kind, seed))
            with open(path, "wb") as f:
                f.write(data)
            files.setdefault(group, []).append(path)
    return files


def code_pages(folder, count):
    """JPEG pages of patch-T sheets: a QR code or a Code 39 reading PATCHT on white paper, in
    turn, at a few places on the page."""
    from orvane_tools import barcodes  # needs segno for the QR codes

    fresh(folder)
    paths = []
    for i in range(min(count, 8)):
        img = pdfgen.picture("sheet", A4_PX, pdfgen.WHITE, i)
        code = barcodes.make("qr", "PATCHT:%d" % i, module=10) if i % 2 else barcodes.make("code39", "PATCHT", module=5, height=200)
        barcodes.stamp(img, code, (A4_PX[0] // 4 + 40 * i, A4_PX[1] // 3 + 60 * i))
        paths.append(os.path.join(folder, "code_%d.jpg" % i))
        with open(paths[-1], "wb") as f:
            f.write(pdfgen.jpeg_bytes(img, i, quality=75))
    return [paths[i % len(paths)] for i in range(count)]


def page_plan(count, pool, rnd):
    """JPEG file for each page: a sheet every 5 to 15 pages."""
    plan, gap = [], rnd.randint(5, 15)
    for i in range(count):
        if gap == 0:
            plan.append(rnd.choice(pool["sheet"]))
            gap = rnd.randint(5, 15)
        else:
            plan.append(rnd.choice(pool["other"]) if rnd.random() < 0.1 else rnd.choice(pool["text"]))
            gap -= 1
    return plan


def write_scan_pdf(path, jpegs):
    """A PDF of full-page JPEG images, written straight to disk."""
    w, h = 595.28, 841.89
    offsets = []
    with open(path, "wb") as f:
        f.write(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")

        def obj(num, body, data=None):
            while len(offsets) < num:
                offsets.append(0)
            offsets[num - 1] = f.tell()
            f.write(b"%d 0 obj\n" % num + body)
            if data is not None:
                f.write(b"\nstream\n" + data + b"\nendstream")
            f.write(b"\nendobj\n")

        n = len(jpegs)
        kids = []
        content = b"q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q" % (w, h)
        for i, jpg in enumerate(jpegs):
            with open(jpg, "rb") as j:
                data = j.read()
            base = 3 + 3 * i
            obj(base, b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB "
                      b"/BitsPerComponent 8 /Filter /DCTDecode /Length %d >>" % (A4_PX[0], A4_PX[1], len(data)),
                data)
            obj(base + 1, b"<< /Length %d >>" % len(content), content)
            obj(base + 2, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.2f %.2f] /Resources << /XObject "
                          b"<< /Im0 %d 0 R >> >> /Contents %d 0 R >>" % (w, h, base, base + 1))
            kids.append(base + 2)
        obj(2, b"<< /Type /Pages /Count %d /Kids [%s] >>" % (n, b" ".join(b"%d 0 R" % k for k in kids)))
        obj(1, b"<< /Type /Catalog /Pages 2 0 R >>")
        xref = f.tell()
        f.write(b"xref\n0 %d\n0000000000 65535 f \n" % (len(offsets) + 1))
        for off in offsets:
            f.write(b"%010d 00000 n \n" % off)
        f.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(offsets) + 1, xref))


# ------------------------------------------------------------------ tools

def find_splitter(work):
    exe = os.environ.get("ORVANE_SPLITTER") or shutil.which("orvaneFun.exe")
    if exe:
        return exe
    build = os.path.join(work, "splitter-build")
    subprocess.check_call(["cmake", "-S", os.path.join(REPO, "splitter"), "-B", build,
                           "-DCMAKE_BUILD_TYPE=Release"], stdout=subprocess.DEVNULL)
    subprocess.check_call(["cmake", "--build", build, "-j2"], stdout=subprocess.DEVNULL)
    return os.path.join(build, "orvaneFun.exe")


def build_code_table(work):
    """The native table of drawn code pages, which times readSheetCode when given a count."""
    exe = os.path.join(work, "code_table")
    src = os.path.join(REPO, "splitter", "src")
    subprocess.check_call(["g++", "-O2", "-std=c++17", "-I", src, os.path.join(REPO, "tests", "splitter", "native",
                                                                                "code_table.cpp")] +
                          [os.path.join(src, f) for f in ("sheet_codes.cpp", "code_pieces.cpp", "code_reader.cpp", "detect.cpp")] +
                          ["-lZXing", "-o", exe])
    return exe


def build_floor(work):
    exe = os.path.join(work, "jpeg_floor")
    subprocess.check_call(["g++", "-O2", "-std=c++17", "-I", os.path.join(REPO, "splitter", "src"),
                           os.path.join(HERE, "jpeg_floor.cpp"), os.path.join(REPO, "splitter", "src", "jpeg_small.cpp"),
                           "-ljpeg", "-o", exe])
    return exe


def timed(cmds, stdin=None):
    """(wall seconds, CPU seconds) of running the commands one after another."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    for cmd in cmds:
        done = subprocess.run(cmd, input=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode != 0:
            raise SystemExit("failed (status %d): %s\n%s" % (done.returncode, " ".join(cmd),
                                                             done.stderr.decode("utf-8", "replace")[-2000:]))
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def rows_read(splitter, src, work):
    """Rows of its small picture the rule read of each page, from the
    splitter's trace: the least any decoder must decode for the same verdicts."""
    out = fresh(os.path.join(work, "out"))
    done = subprocess.run([splitter, src, out, "1", "19"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          env=dict(os.environ, ORVANE_SPLITTER_TRACE="1"))
    rows = {}
    for line in done.stderr.decode("utf-8", "replace").splitlines():
        m = re.search(r" page (\d+): jpeg .* rows=(\d+)/", line)
        if m:
            rows[int(m.group(1))] = int(m.group(2))
    if done.returncode != 0 or not rows:
        raise SystemExit("the splitter's trace gave no rows:\n" + done.stderr.decode("utf-8", "replace")[-2000:])
    return [rows.get(i + 1, 0) for i in range(max(rows))]


def peak_rss_mb(cmd):
    """Peak resident memory of a command, measured by GNU time so that the
    benchmark's own memory (inherited across fork) does not count."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise SystemExit("failed: %s\n%s" % (" ".join(cmd), done.stderr.decode("utf-8", "replace")))
    return int(done.stderr.decode().strip().splitlines()[-1]) / 1024.0


def fresh(path):
    if os.path.exists(path):
        shutil.rmtree(path)
    os.makedirs(path)
    return path


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--pages", type=int, default=2000)
    ap.add_argument("--files", type=int, default=20)
    ap.add_argument("--work", default=None, help="work folder (default: a temporary one, removed)")
    ap.add_argument("--repeat", type=int, default=2, help="take the best of this many timings")
    ap.add_argument("--pairs", type=int, default=5,
                    help="the close ratios (against qpdf, 2 workers over 1) are the median of this many "
                         "runs of the two side by side")
    ap.add_argument("--against", metavar="EXE",
                    help="another build of the splitter, timed beside this one and qpdf in the same run")
    ap.add_argument("--against-only", action="store_true",
                    help="with --against: only the side-by-side ratios of the two builds")
    ap.add_argument("--codes-only", action="store_true", help="only the figures of code sheets")
    args = ap.parse_args()
    if args.against_only and not args.against:
        ap.error("--against-only needs --against")

    for tool in ("pdftoppm", "mutool", "qpdf", "g++", "/usr/bin/time"):
        if not shutil.which(tool):
            raise SystemExit("needs %s (Debian packages poppler-utils, mupdf-tools, qpdf, g++, time)" % tool)
    in_work_folder(args.work, "orvane-bench-", lambda work: run(args, work))


def in_work_folder(folder, prefix, body):
    """body(work) in `folder`, else in a temporary folder removed afterwards."""
    work = folder or tempfile.mkdtemp(prefix=prefix)
    os.makedirs(work, exist_ok=True)
    try:
        body(work)
    finally:
        if not folder:
            shutil.rmtree(work, ignore_errors=True)


def run(args, work):
    rnd = random.Random(7)
    # Timed under another file name: a cancellation test running elsewhere on
    # the machine ends every process named orvaneFun.exe.
    splitter = os.path.join(work, "orvane-split-bench")
    shutil.copy2(find_splitter(work), splitter)
    floor = build_floor(work)
    log("splitter: %s" % splitter)

    t0 = time.perf_counter()
    pool = make_pool(os.path.join(work, "pool"))
    batch = fresh(os.path.join(work, "batch"))
    single = fresh(os.path.join(work, "single"))
    per_file = args.pages // args.files
    all_pages = []
    for i in range(args.files):
        plan = page_plan(per_file, pool, rnd)
        write_scan_pdf(os.path.join(batch, "scan_%03d.pdf" % i), plan)
        all_pages.extend(plan)
    write_scan_pdf(os.path.join(single, "all.pdf"), all_pages)
    pages = len(all_pages)
    size = sum(os.path.getsize(os.path.join(batch, f)) for f in os.listdir(batch))
    log("batch: %d files, %d pages, %.0f MB (A4 200 dpi JPEG pages), made in %.0f s"
        % (args.files, pages, size / 1e6, time.perf_counter() - t0))
    pdfs = sorted(os.path.join(batch, f) for f in os.listdir(batch))
    jpeg_list = ("\n".join(all_pages) + "\n").encode()

    def best(name, make_cmds, stdin=None):
        """Best wall time and best CPU time of args.repeat runs."""
        walls, cpus = [], []
        for _ in range(args.repeat):
            wall, cpu = timed(make_cmds(), stdin)
            walls.append(wall)
            cpus.append(cpu)
        wall, cpu = min(walls), min(cpus)
        log("  %-30s %7.2f s wall %7.0f pages/s   %7.2f s CPU %7.0f pages/CPU-s"
            % (name, wall, pages / wall, cpu, pages / cpu))
        return wall, cpu

    def paired(make_a, make_b, stdin_a=None):
        """Median (wall, CPU) ratio a/b over runs made alternately: a machine
        whose speed drifts (a shared virtual machine) moves both alike."""
        walls, cpus = [], []
        for _ in range(args.pairs):
            a, b = timed(make_a(), stdin_a), timed(make_b())
            walls.append(a[0] / b[0])
            cpus.append(a[1] / b[1])
        return statistics.median(walls), statistics.median(cpus)

    def splitter_run(workers, src, sheets=None):
        def cmds():
            out = fresh(os.path.join(work, "out"))
            return [[splitter, src, out, str(workers), "19"] + (["--sheets", sheets] if sheets else [])]
        return cmds

    def per_pdf(make):
        def cmds():
            out = fresh(os.path.join(work, "out"))
            return [make(p, out, i) for i, p in enumerate(pdfs)]
        return cmds

    qpdf_batch = per_pdf(lambda p, out, i: ["qpdf", "--split-pages", p, os.path.join(out, "q%d-%%d.pdf" % i)])
    qpdf_single = lambda: [["qpdf", "--split-pages", os.path.join(single, "all.pdf"),  # noqa: E731
                            os.path.join(fresh(os.path.join(work, "out")), "q-%d.pdf")]]
    subprocess.check_call("cat %s > /dev/null" % " ".join(pdfs), shell=True)  # warm the page cache
    if args.codes_only:
        return code_sheets(args, work, splitter, splitter_run, best, paired)
    if args.against:
        other = os.path.join(work, "orvane-split-other")
        shutil.copy2(args.against, other)
        against(args, [("this", splitter), ("other", other)], {"batch": (batch, qpdf_batch),
                                                               "one file": (single, qpdf_single)}, work)
        if args.against_only:
            return

    log("timings (best of %d), %d pages:" % (args.repeat, pages))
    whole1 = best("orvaneFun.exe, 1 worker", splitter_run(1, batch))
    best("orvaneFun.exe, 2 workers", splitter_run(2, batch))
    floor_t = best("bare 1/8 JPEG decode loop", lambda: [[floor]], stdin=jpeg_list)
    ppm = best("pdftoppm -r 10", per_pdf(lambda p, out, i: ["pdftoppm", "-r", "10", p, os.path.join(out, "p%d" % i)]))
    mu = best("mutool draw -r 10", per_pdf(lambda p, out, i: ["mutool", "draw", "-q", "-r", "10", "-o",
                                                               os.path.join(out, "m%d-%%d.pnm" % i), p]))
    best("qpdf --split-pages", qpdf_batch)

    log("single file of %d pages:" % pages)
    needed = ("".join("%s\t%d\n" % (all_pages[i], n) for i, n in enumerate(rows_read(splitter, single, work)))).encode()
    best("bare decode of the rows read", lambda: [[floor]], stdin=needed)
    best("orvaneFun.exe, 1 worker", splitter_run(1, single))
    best("orvaneFun.exe, 2 workers", splitter_run(2, single))
    best("qpdf --split-pages", qpdf_single)
    rss1 = peak_rss_mb(splitter_run(1, single)()[0])
    rss2 = peak_rss_mb(splitter_run(2, single)()[0])
    shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)

    def check(ok):
        return "ok" if ok else "MISSED"

    def ratio(label, a, b, limit=None, most=True):
        parts = []
        for kind, x, y in (("wall", a[0], b[0]), ("CPU", a[1], b[1])):
            r = x / y
            mark = ""
            if limit is not None:
                mark = " " + check(r <= limit if most else r >= limit)
            parts.append("%s %5.2f%s" % (kind, r, mark))
        target = "" if limit is None else "  (%s %.2f)" % ("<=" if most else ">=", limit)
        log("  %-40s %s%s" % (label, "   ".join(parts), target))

    log("close ratios, median of %d runs side by side:" % args.pairs)
    close_batch = paired(splitter_run(1, batch), qpdf_batch)
    close_single = paired(splitter_run(1, single), qpdf_single)
    speedup = paired(splitter_run(1, batch), splitter_run(2, batch))
    speedup_single = paired(splitter_run(1, single), splitter_run(2, single))
    floor_single = paired(lambda: [[floor]], qpdf_single, stdin_a=needed)

    log("ratios:")
    ratio("whole run 1 worker / pdftoppm -r 10", whole1, ppm, 0.5)
    ratio("whole run 1 worker / mutool draw -r 10", whole1, mu, 1.0)
    ratio("whole run 1 worker / bare decode loop", whole1, floor_t, 1.3)
    ratio("whole run 1 worker / qpdf --split-pages, batch", close_batch, (1, 1), 1.3)
    ratio("whole run 1 worker / qpdf --split-pages, one file", close_single, (1, 1), 1.3)
    ratio("rows the rule reads, decoding alone / qpdf, one file", floor_single, (1, 1))
    for label, (wall, cpu) in (("batch", speedup), ("one file", speedup_single)):
        log("  %-40s wall %5.2f  (>= 1.70) %s   (CPU time 1 worker / 2: %.2f)"
            % ("speed-up 2 workers over 1, " + label, wall, check(wall >= 1.7), cpu))
    log("  peak RSS, one %d-page file: 1 worker %.0f MB, 2 workers %.0f MB  (< 300 MB) %s"
        % (pages, rss1, rss2, check(max(rss1, rss2) < 300)))
    code_sheets(args, work, splitter, splitter_run, best, paired)
    blank_pages_ratios(work, batch, [all_pages[i:i + per_file] for i in range(0, pages, per_file)], splitter,
                       paired, ratio)
    log("(wall times need an otherwise idle machine; CPU times hold on a busy one)")


def code_sheets(args, work, splitter, splitter_run, best, paired):
    """What looking for code sheets costs: on the batch without any, and per code sheet."""
    batch = os.path.join(work, "batch")
    log("code sheets:")
    probe = subprocess.run(splitter_run(1, batch, "colour")()[0], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if probe.returncode != 0:
        log("  this splitter does not take --sheets (status %d): %s"
            % (probe.returncode, probe.stderr.decode("utf-8", "replace").strip()[:200]))
    else:
        wall, cpu = paired(splitter_run(1, batch, "colour,code"), splitter_run(1, batch, "colour"))
        log("  %-40s wall %5.2f   CPU %5.2f %s  (<= 1.15)" % ("--sheets colour,code / --sheets colour", wall, cpu,
                                                             "ok" if cpu <= 1.15 else "MISSED"))
        codes = fresh(os.path.join(work, "codes"))
        count = 200
        write_scan_pdf(os.path.join(codes, "codes.pdf"), code_pages(os.path.join(work, "code-pool"), count))
        out = fresh(os.path.join(work, "out"))
        done = subprocess.run([splitter, codes, out, "1", "19", "--sheets", "code"], stdout=subprocess.PIPE)
        found = re.search(rb"(\d+) separator pages", done.stdout)
        log("  %d code sheets, found: %s" % (count, found.group(1).decode() if found else "none"))
        with_codes = best("code sheets, --sheets code", splitter_run(1, codes, "code"))
        without = best("code sheets, --sheets colour", splitter_run(1, codes, "colour"))
        ms = (with_codes[1] - without[1]) * 1000.0 / count
        log("  %-40s %5.1f ms CPU %s  (<= 60)" % ("each code sheet looked at closer", ms, "ok" if ms <= 60 else "MISSED"))
    table = subprocess.run([build_code_table(work), "5"], stdout=subprocess.PIPE)
    for line in table.stdout.decode().splitlines():
        if line.startswith("readSheetCode"):
            log("  reading alone, drawn pages at the closer look's resolution: " + line.split(": ", 1)[1])


def blank_pages_ratios(work, batch, plans, splitter, paired, ratio):
    """--blank-pages drop against keep: on the batch, which has no blank pages, and on the same
    pages scanned duplex, where every page brings a blank back (half the pages blank)."""
    duplex = fresh(os.path.join(work, "duplex"))
    backs = []
    for seed in range(3):
        backs.append(os.path.join(work, "pool", "back_%d.jpg" % seed))
        with open(backs[-1], "wb") as f:
            f.write(pdfgen.jpeg_bytes(pdfgen.picture("sheet", A4_PX, pdfgen.WHITE, 300 + seed), seed, quality=75))
    for number, plan in enumerate(plans):
        write_scan_pdf(os.path.join(duplex, "scan_%03d.pdf" % number),
                       [p for i, front in enumerate(plan[:len(plan) // 2]) for p in (front, backs[i % len(backs)])])

    def run_with(src, *options):
        return lambda: [[splitter, src, fresh(os.path.join(work, "out")), "1", "19"] + list(options)]

    on_batch = paired(run_with(batch, "--blank-pages", "drop"), run_with(batch))
    on_duplex = paired(run_with(duplex, "--blank-pages", "drop"), run_with(duplex))
    ratio("--blank-pages drop / keep, batch", on_batch, (1, 1), 1.1)
    ratio("--blank-pages drop / keep, duplex, half blank", on_duplex, (1, 1))


def against(args, builds, layouts, work):
    """Each build's ratio to qpdf, 1 and 2 workers, on each layout: the median of --pairs rounds in
    which both builds and qpdf run one after another, so that the builds' ratios can be compared."""
    log("two builds side by side, median of %d rounds of qpdf, this build and the other (%s):"
        % (args.pairs, args.against))
    for layout, (src, qpdf) in layouts.items():
        for workers in (1, 2):
            ratios = {name: ([], []) for name, _ in builds}
            for _ in range(args.pairs):
                q = timed(qpdf())
                for name, exe in builds:
                    wall, cpu = timed([[exe, src, fresh(os.path.join(work, "out")), str(workers), "19"]])
                    ratios[name][0].append(wall / q[0])
                    ratios[name][1].append(cpu / q[1])
            med = {name: (statistics.median(w), statistics.median(c)) for name, (w, c) in ratios.items()}
            (a, b) = [med[name] for name, _ in builds]
            log("  %-9s %d worker%s / qpdf:  %s  wall %5.2f CPU %5.2f   %s  wall %5.2f CPU %5.2f   "
                "this over other: wall %5.3f" % (layout, workers, "s" if workers > 1 else " ", builds[0][0],
                                                 a[0], a[1], builds[1][0], b[0], b[1], a[0] / b[0]))


if __name__ == "__main__":
    main()
