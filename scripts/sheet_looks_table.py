"""The black and empty-page judges (splitter/src/sheet_looks.*) on the scanned test pages of
tests/splitter/sheetscans.py, page by page: a Markdown table of what each page was found to be, what
it is, and the figures that decided (the paper, the marks that stand out, the largest of them and its
darkness, what was set aside as specks, age spots, hole shadows, edge strips or faint texture).

    python3 scripts/sheet_looks_table.py [--work DIR]

The pages are decoded as the splitter decodes them (sheet_looks_table.cpp, built here against the
splitter's sources). Exits 1 when a page that counts is judged wrong.
"""
import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(os.path.dirname(HERE), "splitter", "src")
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "splitter"))

import sheetscans  # noqa: E402


def judge_table(folder, pages=None):
    """The judges on `pages` ((name, recipe, advisory reason or None), default
    sheetscans.EMPTINESS), written as JPEG files into `folder`; (exit status, the table)."""
    exe = os.path.join(str(folder), "sheet_looks_table")
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)  # a sanitizer run's runtime is not for the compiler
    subprocess.check_call([env.get("CXX", "g++"), "-std=c++17", "-O2", "-Wall", "-Wextra", "-I", SRC,
                           os.path.join(HERE, "sheet_looks_table.cpp"), os.path.join(SRC, "sheet_looks.cpp"),
                           os.path.join(SRC, "jpeg_small.cpp"), "-ljpeg", "-o", exe], env=env)
    pages = pages or sheetscans.EMPTINESS
    listing = []
    for i, (name, recipe, advisory) in enumerate(pages):
        path = os.path.join(str(folder), "page%02d.jpg" % i)
        with open(path, "wb") as f:
            f.write(sheetscans.jpeg(recipe, i))
        listing.append("\t".join([path, recipe["want"], "0" if advisory else "1", name]))
    done = subprocess.run([exe], input="\n".join(listing).encode("utf-8"), stdout=subprocess.PIPE, env=env)
    notes = "".join("\n(advisory) %s: %s" % (name, why) for name, _, why in pages if why)
    return done.returncode, done.stdout.decode("utf-8") + notes


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--work", help="folder for the pages and the program (default: a temporary one)")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        code, table = judge_table(a.work or tmp)
    print(table)
    return 1 if code else 0


if __name__ == "__main__":
    sys.exit(main())
