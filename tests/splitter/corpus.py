"""The splitter's test corpus in one folder tree: the scanned conditions, the split batches and the
fuzzing finds, under names with blanks, '&' and Chinese."""
import os
import shutil

import officescans
import pdfgen
from test_splitter_split import scanned_batch, vector_batch


def corpus(src):
    """The corpus, in a tree whose names have blanks, '&' and Chinese; {path: source}."""
    made = {}

    def put(rel, write):
        p = os.path.join(src, rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        write(p)
        made[rel] = p

    for i, (name, (_, pages)) in enumerate(sorted(officescans.CONDITIONS.items())):
        put(os.path.join("办公 扫描 & scans", "%02d %s 扫描.pdf" % (i + 1, name.replace(",", ""))),
            lambda p, pages=pages: officescans.condition_pdf(p, pages))
    put(os.path.join("批次 1", "R&D 文件.pdf"), lambda p: pdfgen.write_pdf(p, scanned_batch()))
    put(os.path.join("批次 1", "vector & flate 矢量.pdf"), lambda p: pdfgen.write_pdf(p, vector_batch()))
    regressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "regressions")
    for name in sorted(os.listdir(regressions)):
        put(os.path.join("回归 regressions", name),
            lambda p, name=name: shutil.copyfile(os.path.join(regressions, name), p))
    return made
