"""How true the time left is on a job that recognises text, where each page takes seconds.

    python bench/bench_time_left_ocr.py [--files 3] [--text-pages 6] [--ocr chi_sim+eng] [--workers 1,2]
                                        [--stand-in] [--work DIR]

Makes ``--files`` batches of scanned Chinese, English and mixed text (the pages of `orvane samples
--text`, 200 dpi JPEG scans), each with a coloured sheet after every third page, runs the splitter
on them with ``--ocr`` and follows its events as `orvane split` and the window do
(events.JobRecord, polled every 20 ms). When the pages recognised first reach 10 %, 25 % and 50 % of
the pages to recognise, it prints the time left shown then, the time that actually remained until
the splitter ended, and their ratio; it must be within a factor of 2.

The splitter is ORVANE_SPLITTER, else orvaneFun.exe on PATH, else built here. ``--stand-in`` runs
`ocr_stand_in.py` instead: the same events, each page recognised by the `tesseract` command (one
thread, the workers side by side), for a splitter that does not recognise yet.
"""
import argparse
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import bench_time_left  # noqa: E402  (puts bench/splitter and tools/ on sys.path)
import bench_splitter  # noqa: E402
from orvane_tools import events, samples, samples_text  # noqa: E402

KEYS = ("contract", "letter", "notice")
SHEETS = (samples.YELLOW, samples.PINK, samples.BLUE)


def make_batch(work, files, text_pages):
    """The batch's folder and the pages its documents hold (the pages to recognise); beside each
    PDF's pages, for the stand-in, their JPEG files (PAGES/NAME/NNN.jpg)."""
    src, pages_dir = os.path.join(work, "src"), os.path.join(work, "pages")
    bench_splitter.fresh(src)
    bench_splitter.fresh(pages_dir)
    for number in range(files):
        plan = []
        for page in range(text_pages):
            if page and page % 3 == 0:
                plan.append(("sep", SHEETS[number % len(SHEETS)]))
            plan.append(("text", KEYS[(number + page) % len(KEYS)]))
        name = "text-%02d" % number
        with open(os.path.join(src, name + ".pdf"), "wb") as fh:
            fh.write(samples.build_pdf(plan, scanned=True))
        os.makedirs(os.path.join(pages_dir, name))
        for index, ((kind, _value), image) in enumerate(zip(plan, samples_text.page_images(plan)), 1):
            with open(os.path.join(pages_dir, name, "%03d-%s.jpg" % (index, kind)), "wb") as fh:
                fh.write(image[0])
    return src, pages_dir, files * text_pages


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=3)
    parser.add_argument("--text-pages", type=int, default=6)
    parser.add_argument("--ocr", default=samples_text.OCR)
    parser.add_argument("--workers", default="1,2")
    parser.add_argument("--stand-in", action="store_true")
    parser.add_argument("--work", default=None)
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="orvane-time-left-ocr-")
    splitter = os.path.join(HERE, "ocr_stand_in.py") if args.stand_in else bench_splitter.find_splitter(work)
    src, pages_dir, pages = make_batch(work, args.files, args.text_pages)
    env = {"ORVANE_SPLITTER_OPTIONS": "--ocr " + args.ocr, "ORVANE_BENCH_PAGES": pages_dir}
    print("splitter: %s" % ("stand-in (tesseract command)" if args.stand_in else splitter))
    ok = True
    for workers in (int(w) for w in args.workers.split(",")):
        run = bench_time_left.follow(splitter, src, work, workers, env, events.JobRecord.pages_recognised)
        ok = bench_time_left.report(workers, pages, *run, what="pages recognised") and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
