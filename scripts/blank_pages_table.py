"""The blank pages of the duplex corpus (scripts/duplex_corpus.py), page by page: a Markdown
table of what the real splitter found with --blank-pages flag (blank or not, and whether it named the
page for a check), what the page is, and the figures that decided, as the blank judge reports them
(scripts/sheet_looks_table.py: the paper, the marks that stand out, the largest of them and its
darkness, what was set aside).

    python3 scripts/blank_pages_table.py [--splitter EXE] [--work DIR]

EXE defaults to ORVANE_SPLITTER, else build/orvaneFun.exe. Exits 1 when a page that counts is found
wrong, or when a coloured sheet does not split.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "splitter"))
sys.path.insert(0, HERE)

import duplex_corpus  # noqa: E402
from sheet_looks_table import judge_table  # noqa: E402


def splitter_verdicts(exe, folder, name, sheets, pages, mode="flag"):
    """Splits one corpus file with --blank-pages `mode`; (its line, its page events by number,
    its file event)."""
    src, dst = os.path.join(folder, "in-" + name), os.path.join(folder, "out-" + name)
    os.makedirs(src)
    os.makedirs(dst)
    duplex_corpus.write(os.path.join(src, name), pages)
    events = os.path.join(folder, name + ".events")
    env = dict(os.environ, ORVANE_EVENTS=events)
    env.pop("ORVANE_SPLITTER_OPTIONS", None)
    done = subprocess.run([exe, src, dst, "2", "0", "--sheets", sheets, "--blank-pages", mode],
                          stdout=subprocess.PIPE, env=env, timeout=600)
    with open(events, encoding="utf-8") as f:
        objects = [json.loads(line) for line in f]
    return (done.stdout.decode("utf-8").splitlines()[0], {e["page"]: e for e in objects if e["event"] == "page"},
            next(e for e in objects if e["event"] == "file"))


def blank_table(exe, folder):
    """(number of counted pages found wrong, the table)."""
    rows, wrong, judged = [], 0, []
    for name, sheets, pages in duplex_corpus.CORPUS:
        line, verdicts, _ = splitter_verdicts(exe, folder, name, sheets, pages)
        for number, (what, recipe, advisory) in enumerate(pages, 1):
            event = verdicts[number]
            label = "%s p%d: %s" % (name, number, what)
            if recipe["want"] == "colour":
                found, ok = "separator" if event["verdict"] == "separator" else "page", event["verdict"] == "separator"
            else:
                found = "blank" if event.get("blank") else "content"
                ok = found == recipe["want"]
                judged.append((label, recipe, advisory))
            wrong += 0 if ok or advisory else 1
            rows.append((label, found + ("" if ok else " WRONG"), recipe["want"] + (" (advisory)" if advisory else ""),
                         "?" if event["unsure"] else ""))
    # The judge's own figures for each judged page, decoded as the splitter decodes it.
    os.makedirs(os.path.join(folder, "judge"))
    _, figures = judge_table(os.path.join(folder, "judge"), judged)
    by_name = {}
    for row in figures.splitlines():
        cells = [c.strip() for c in row.strip().strip("|").split("|")]
        if len(cells) >= 11:
            by_name[cells[0]] = cells[3:10]
    out = ["| page | found | expected | check | small ink % | paper | marks | largest mark mm | its darkness | set aside "
           "| photo share |", "|" + "---|" * 11]
    for label, found, want, check in rows:
        out.append("| " + " | ".join([label, found, want, check] + by_name.get(label, [""] * 7)) + " |")
    notes = "".join("\n(advisory) %s: %s" % (label, why) for label, _, why in judged if why)
    return wrong, "\n".join(out) + "\n%d wrong" % wrong + notes


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--splitter", default=os.environ.get("ORVANE_SPLITTER") or
                    os.path.join(os.path.dirname(HERE), "build", "orvaneFun.exe"))
    ap.add_argument("--work", help="folder for the batches and the judge (default: a temporary one)")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        wrong, table = blank_table(a.splitter, a.work or tmp)
    print(table)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
