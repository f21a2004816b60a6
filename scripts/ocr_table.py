"""Text recognition on the corpus of printed and scanned pages (tests/splitter/ocrscans.py), page by
page: a Markdown table of the character accuracy of the split documents' text (pdftotext, with and
without -layout) against the known text, the same figure for the `tesseract` command on the same
image with the same data, the spaces between Han characters in the documents' text, whether the
page's images are byte for byte the source's, and whether it renders to the same pixels. A second
reader's accuracy stands beside (`mutool draw -F txt`): pdftotext without -layout gives the lines of
text that runs upwards (a page scanned turned a quarter counter-clockwise) in reverse order, in any
PDF (tesseract's own, or plain Helvetica lines written by hand), where mutool keeps their order.

    python3 scripts/ocr_table.py [--splitter EXE] [--workers N] [--work DIR]

EXE defaults to ORVANE_SPLITTER, else build/orvaneFun.exe. Exits 1 when a page misses a target
(accuracy at least the command's less 0.01, no space between Han characters, images identical,
rendering unchanged) or the batch does not split at its sheets.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "splitter"))

import ocrscans  # noqa: E402

LANGUAGES = "chi_sim+eng"
MARK = re.compile(rb"PAGE (\d{4})")
# A blank run that a reader sees between two Han characters (or a Han character and a full-width mark).
HAN_GAP = re.compile(r"(?<=%s)[^\S\n\f]+(?=%s)" % (ocrscans.HAN.pattern, ocrscans.HAN.pattern))


def distance(a, b):
    """Levenshtein distance of two strings."""
    if len(a) < len(b):
        a, b = b, a
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return row[-1]


def accuracy(found, known):
    """1 minus the edit distance over the known text's length, whitespace removed from both."""
    found, known = re.sub(r"\s+", "", found), re.sub(r"\s+", "", known)
    return max(0.0, 1.0 - distance(found, known) / float(len(known)))


def han_spaces(text):
    return len(HAN_GAP.findall(text))


def run(cmd, **kw):
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=900, **kw)
    if done.returncode != 0:
        raise RuntimeError("%s: status %d\n%s" % (" ".join(cmd), done.returncode,
                                                  done.stderr.decode("utf-8", "replace")[-2000:]))
    return done.stdout


def tesseract(jpeg, turned, env=None):
    """The command's plain text of the image. A page scanned sideways gives the command nothing
    unless it looks for the orientation (--psm 1), so it is given that there."""
    return run(["tesseract", jpeg, "-", "-l", LANGUAGES] + (["--psm", "1"] if turned else []),
               env=env).decode("utf-8")


def pdftotext(pdf, page, layout):
    return run(["pdftotext", "-enc", "UTF-8", "-f", str(page), "-l", str(page)] + (["-layout"] if layout else [])
               + [pdf, "-"]).decode("utf-8")


def mutool_text(pdf, page):
    return run(["mutool", "draw", "-q", "-F", "txt", "-o", "-", pdf, str(page)]).decode("utf-8")


def rendered(pdf, page):
    return run(["pdftoppm", "-r", "50", "-f", str(page), "-l", str(page), pdf])


def page_images(pdf):
    """The raw data of each page's images, page by page."""
    pages = json.loads(run(["qpdf", "--json", "--json-key=pages", pdf]).decode("utf-8"))["pages"]
    return [[run(["qpdf", "--show-object=" + image["object"].split()[0], "--raw-stream-data", pdf])
             for image in page["images"]] for page in pages]


def split(exe, folder, recipes, workers=2):
    """Writes the batch and splits it with recognition; (known texts and JPEG data by page,
    {source page: (document, its page)}, [source pages of each document])."""
    src, dst = os.path.join(folder, "in"), os.path.join(folder, "out")
    os.makedirs(src)
    os.makedirs(dst)
    known = ocrscans.write_batch(os.path.join(src, "ocr.pdf"), recipes)
    env = dict(os.environ)
    env.pop("ORVANE_SPLITTER_OPTIONS", None)
    run([exe, src, dst, str(workers), "19", "--ocr", LANGUAGES], env=env)
    where, documents = {}, []
    out = os.path.join(dst, "ocr")
    for name in sorted(os.listdir(out)):
        path = os.path.join(out, name)
        documents.append([])
        for number, images in enumerate(page_images(path), 1):
            page = int(MARK.search(b"".join(images)).group(1))
            where[page] = (path, number)
            documents[-1].append(page)
    return known, where, documents


def expected_documents(recipes):
    """The source pages of each document: the runs between separator sheets."""
    runs = [[]]
    for number, recipe in enumerate(recipes, 1):
        if recipe["text"] is None:
            runs.append([])
        else:
            runs[-1].append(number)
    return [r for r in runs if r]


def measure(exe, folder, recipes, workers=2):
    """(documents as split, one row of figures for each text page)."""
    known, where, documents = split(exe, folder, recipes, workers)
    source = os.path.join(folder, "in", "ocr.pdf")
    source_images = page_images(source)
    rows = []
    for number, recipe in enumerate(recipes, 1):
        data, text = known[number - 1]
        if text is None:
            continue
        row = dict(page=number, what="%s, %d dpi%s" % (recipe["text"], recipe["dpi"],
                                                         ", turned %d°" % recipe["turn"] if recipe.get("turn") else ""))
        jpeg = os.path.join(folder, "page%d.jpg" % number)
        with open(jpeg, "wb") as f:
            f.write(data)
        row["tesseract"] = accuracy(tesseract(jpeg, bool(recipe.get("turn"))), text)
        if number not in where:
            row.update(ours=0.0, ours_layout=0.0, mutool=0.0, spaces=None, spaces_layout=None, images=False, rendering=False)
            rows.append(row)
            continue
        doc, page = where[number]
        for key, layout in (("", False), ("_layout", True)):
            found = pdftotext(doc, page, layout)
            row["ours" + key], row["spaces" + key] = accuracy(found, text), han_spaces(found)
        row["mutool"] = accuracy(mutool_text(doc, page), text)
        row["images"] = page_images(doc)[page - 1] == source_images[number - 1]
        row["rendering"] = rendered(doc, page) == rendered(source, number)
        rows.append(row)
    return documents, rows


def misses(row):
    """The targets the page misses."""
    missed = ["accuracy%s %.3f < %.3f" % (k.replace("_", " -"), row["ours" + k], row["tesseract"] - 0.01)
              for k in ("", "_layout") if row["ours" + k] < row["tesseract"] - 0.01]
    missed += ["%d Han spaces%s" % (row["spaces" + k] or 0, k.replace("_", " -")) for k in ("", "_layout")
               if row["spaces" + k] != 0]
    missed += [what for what in ("images", "rendering") if not row[what]]
    return missed


def table(documents, expected, rows):
    out = ["| page | what | ours | ours -layout | ours, mutool | tesseract | Han spaces | Han spaces -layout "
           "| images identical | rendering unchanged | targets |", "|" + "---|" * 11]
    for r in rows:
        out.append("| %d | %s | %.3f | %.3f | %.3f | %.3f | %s | %s | %s | %s | %s |" % (
            r["page"], r["what"], r["ours"], r["ours_layout"], r["mutool"], r["tesseract"], r["spaces"],
            r["spaces_layout"], "yes" if r["images"] else "NO", "yes" if r["rendering"] else "NO", "; ".join(misses(r)) or "met"))
    out.append("\nsplit: %s (expected %s): %s" % (documents, expected, "right" if documents == expected else "WRONG"))
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--splitter", default=os.environ.get("ORVANE_SPLITTER") or
                    os.path.join(os.path.dirname(HERE), "build", "orvaneFun.exe"))
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--work", help="folder for the batch and the documents (default: a temporary one)")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        folder = a.work or tmp
        os.makedirs(folder, exist_ok=True)
        documents, rows = measure(a.splitter, folder, ocrscans.BATCH, a.workers)
    expected = expected_documents(ocrscans.BATCH)
    print(table(documents, expected, rows))
    return 1 if documents != expected or any(misses(r) for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
