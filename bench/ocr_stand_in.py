#!/usr/bin/env python3
"""A splitter's events on a recognising job, with recognition's real cost: for the time-left bench
while the splitter itself does not recognise yet.

    ocr_stand_in.py SOURCE TARGET WORKERS THRESHOLD    (ORVANE_SPLITTER_OPTIONS="--ocr LANGS")

Reads the pages the bench left beside the batch (ORVANE_BENCH_PAGES/NAME/NNN-KIND.jpg), looks at each
file in a moment, then recognises its text pages with `tesseract IMAGE - -l LANGS` (one thread each,
WORKERS side by side) and writes the events a recognising splitter writes: start, pages, total,
looked, recognising, recognised (each page's own seconds), file, end. Writes no documents."""
import concurrent.futures
import json
import os
import subprocess
import sys
import time


def main():
    source, _target, workers = sys.argv[1], sys.argv[2], int(sys.argv[3])
    languages = os.environ["ORVANE_SPLITTER_OPTIONS"].split()[1]
    pages_dir = os.environ["ORVANE_BENCH_PAGES"]
    out = open(os.environ["ORVANE_EVENTS"], "a")

    def event(**fields):
        out.write(json.dumps(fields) + "\n")
        out.flush()

    names = sorted(name for name in os.listdir(source) if name.endswith(".pdf"))
    pages = {name: sorted(os.listdir(os.path.join(pages_dir, name[:-4]))) for name in names}
    event(event="start", source=source, target=_target, workers=workers, files=names)
    for name in names:
        event(event="pages", file=name, pages=len(pages[name]))
    event(event="total", pages=sum(len(p) for p in pages.values()))
    env = dict(os.environ, OMP_THREAD_LIMIT="1")

    def recognise(name, number, image):
        began = time.monotonic()
        subprocess.run(["tesseract", image, "-", "-l", languages], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        return name, number, time.monotonic() - began

    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        for name in names:
            time.sleep(0.05 * len(pages[name]))   # looking at the pages: a fraction of a second each
            event(event="looked", file=name, pages=len(pages[name]))
            text = [(number, os.path.join(pages_dir, name[:-4], page)) for number, page in enumerate(pages[name], 1)
                    if page.endswith("-text.jpg")]
            event(event="recognising", file=name, pages=len(text))
            for done in concurrent.futures.as_completed([pool.submit(recognise, name, n, p) for n, p in text]):
                _name, number, seconds = done.result()
                event(event="recognised", file=name, page=number, seconds=round(seconds, 2), text=True)
            event(event="file", file=name, pages=len(pages[name]), folder=name[:-4], documents=[], no_text=[])
    event(event="end", status=0)
    print("Summary: %d PDF files, %d split, 0 not split" % (len(names), len(names)))


if __name__ == "__main__":
    main()
