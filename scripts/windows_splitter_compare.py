"""The Windows splitter under wine against the Linux build, on the same inputs.

Run by scripts/windows-splitter-check.sh (which prepares wine and the programs); prints Markdown
tables and exits 1 when a check fails:
  corpus     the splitter's test corpus in a folder tree with blanks, '&' and Chinese names: the
             same lines (the Windows output decoded in code page 936, as the module's os.popen
             decodes it), the same check: lists and the same documents (pages, image bytes)
  sheets     the scanned batches of every sheet kind, each with its --sheets (and documents named
             by their code: a QR code reading PATCHT:合同-7 names one in Chinese): the same lines
             and the same documents
  blank      the duplex corpus of blank pages (scripts/duplex_corpus.py) with --blank-pages drop:
             the same blank pages, the same lines and the same documents
  hostile    the pathological set: each case's line and time, within the bounds of its table
  module     the module's quoted command line through cmd.exe, and its cancellation by taskkill
  unheld     names code page 936 cannot hold (Korean): the files are still read and split, and the
             lines name them with <U+XXXX> for each such character
  killed     the splitter alone ended by SIGKILL midway: its helpers' jobs (kill-on-close) end them
  ocr        a scanned batch of Chinese, English and mixed text (one page turned 90 degrees, a colour
             separator) split with --ocr chi_sim+eng, tesseract's dot product the generic one on
             both sides: the same line, and each document's text (pdftotext, with and without
             -layout) against the known text: the batch's accuracy under wine within 0.005 of the
             Linux build's
With --native the "Windows" side is the Linux program too: a check of this script itself.
"""
import argparse
import hashlib
import io
import os
import re
import signal
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "splitter"))

import pdfgen  # noqa: E402
import hostile  # noqa: E402
import sheetscans  # noqa: E402
import duplex_corpus  # noqa: E402
import test_splitter_hostile as hostile_table  # noqa: E402
from corpus import corpus  # noqa: E402
from test_splitter_split import scanned_batch, vector_batch  # noqa: E402

CODE_PAGE = "cp936"


class Side(object):
    """How one build is started: argv prefix, and how a Linux path is given to it."""

    def __init__(self, name, prefix, windows):
        self.name, self.prefix, self.windows = name, prefix, windows

    def path(self, p):
        return "Z:" + os.path.abspath(p).replace("/", "\\") if self.windows else p

    def run(self, src, dst, limit, workers="2", options=()):
        start = time.monotonic()
        try:
            done = subprocess.run(self.prefix + [self.path(src), self.path(dst), workers, "0"] + list(options),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=limit)
            code, out = done.returncode, done.stdout
        except subprocess.TimeoutExpired as e:
            code, out = "timeout", e.stdout or b""
        return code, self.lines(out), time.monotonic() - start

    def lines(self, out):
        text = out.decode(CODE_PAGE if self.windows else "utf-8", "replace")
        return [l.rstrip("\r") for l in text.split("\n") if l.strip()]


def same_line(linux, windows):
    """'same', 'same but \\ for /' (a relative path shown with Windows separators) or ''."""
    if linux == windows:
        return "same"
    if linux == windows.replace("\\", "/"):
        return "same but \\ for /"
    return ""


def documents(folder):
    """{relative document path: (pages, sha256 of its pages' image streams)}."""
    from pypdf import PdfReader
    found = {}
    for parent, _dirs, files in os.walk(folder):
        for name in sorted(files):
            p = os.path.join(parent, name)
            reader = PdfReader(p)
            digest = hashlib.sha256()
            for page in reader.pages:
                xobjects = page.get("/Resources", {}).get("/XObject", {})
                for key in sorted(xobjects):
                    digest.update(xobjects[key].get_object()._data or b"")
            found[os.path.relpath(p, folder)] = (len(reader.pages), digest.hexdigest()[:16])
    return found


def check_part(line):
    return line.split("; check: ", 1)[1].split(";", 1)[0] if "; check: " in line else "-"


def compare_corpus(linux, win, work):
    src = os.path.join(work, "源 文件 & R&D")
    corpus(src)
    outs = {}
    for side in (linux, win):
        dst = os.path.join(work, "目标 %s" % side.name)
        os.makedirs(dst)
        code, lines, seconds = side.run(src, dst, 900)
        outs[side.name] = (code, lines, dst, seconds)
    (lcode, llines, ldst, ls), (wcode, wlines, wdst, ws) = outs[linux.name], outs[win.name]
    ldocs, wdocs = documents(ldst), documents(wdst)
    print("\n### Corpus: %d lines on Linux (%.1f s, status %s), %d under wine (%.1f s, status %s)\n"
          % (len(llines), ls, lcode, len(wlines), ws, wcode))
    print("| file | line | check: | documents (pages, image bytes) |")
    print("|---|---|---|---|")
    failed = lcode != wcode or len(llines) != len(wlines)
    for i, lline in enumerate(llines):
        wline = wlines[i] if i < len(wlines) else ""
        name = lline.split(": ", 1)[0]
        line_verdict = same_line(lline, wline) or "DIFFERS: " + wline
        check = "same (%s)" % check_part(lline) if check_part(lline) == check_part(wline) else \
            "DIFFERS: %s / %s" % (check_part(lline), check_part(wline))
        named = re.search(r' documents? in "([^"]*)"', lline)
        folder = named.group(1) if named else None
        if folder is None:
            docs = "none written" if not [k for k in wdocs if k.startswith(name)] else "-"
        else:
            mine = {k: v for k, v in ldocs.items() if k.split(os.sep)[0] == folder}
            theirs = {k: v for k, v in wdocs.items() if k.split(os.sep)[0] == folder}
            docs = ("same: %d, %s pages" % (len(mine), "+".join(str(v[0]) for _, v in sorted(mine.items())))
                    if mine == theirs else "DIFFERS: %s / %s" % (sorted(mine.items()), sorted(theirs.items())))
        failed |= "DIFFERS" in line_verdict + check + docs
        print("| %s | %s | %s | %s |" % (name, line_verdict, check, docs))
    failed |= ldocs != wdocs
    return not failed


def compare_runs(linux, win, work, part, runs):
    """Each run (batch name, options, writer of its PDF file) on both sides: the same line, the same
    documents."""
    print("| batch | options | wine's line | against Linux | documents |")
    print("|---|---|---|---|---|")
    ok = True
    for i, (name, options, write) in enumerate(runs):
        src = os.path.join(work, "分隔页 %s" % part, "批次 %02d" % i)
        os.makedirs(src)
        write(os.path.join(src, "批次 %02d.pdf" % i))
        row = []
        for side in (linux, win):
            dst = os.path.join(work, "分隔页 %s out %s" % (part, side.name), "批次 %02d" % i)
            os.makedirs(dst)
            code, lines, _ = side.run(src, dst, 600, options=options)
            row.append((lines[0] if lines else "(no line, status %s)" % code, documents(dst)))
        verdict, docs = same_line(row[0][0], row[1][0]), row[0][1] == row[1][1]
        ok &= bool(verdict) and docs
        print("| %s | %s | %s | %s | %s |" % (name, " ".join(options), row[1][0].split(": ", 1)[-1],
                                            verdict or "DIFFERS", "same" if docs else "DIFFER"))
    return ok


def compare_sheets(linux, win, work):
    print("\n### Sheets of every kind, documents named by their code\n")
    return compare_runs(linux, win, work, "sheets", [
        (name, ["--sheets", kinds] + (["--names", "{code}"] if "code" in kinds else []),
         lambda path, pages=pages: sheetscans.pdf(path, pages)) for name, kinds, pages in sheetscans.BATCHES])


def compare_blank(linux, win, work):
    print("\n### Blank pages dropped from the duplex corpus\n")
    return compare_runs(linux, win, work, "blank", [
        (name, ["--sheets", sheets, "--blank-pages", "drop"], lambda path, pages=pages: duplex_corpus.write(path, pages))
        for name, sheets, pages in duplex_corpus.CORPUS])


def compare_hostile(linux, win, work):
    print("\n### Pathological set (2 workers)\n")
    print("| case | bound | Linux s | wine s | wine's line | against Linux | result |")
    print("|---|---|---|---|---|---|---|")
    cases = [(c[0], c[1], 90, lambda c=c: "%s.pdf: %d page%s; separators: %s;" % (
                  c[0], c[2], "s" if c[2] > 1 else "", c[3])) for c in hostile_table.PAGES_OVER_BUDGET]
    cases += [(c[0], c[1], 120, lambda c=c: "%s.pdf: NOT SPLIT: %s" % (c[0], c[2]))
              for c in hostile_table.FILES_OVER_BUDGET]
    ok = True
    for name, build, bound, expected in cases:
        src = os.path.join(work, "恶意 hostile", name)
        os.makedirs(src)
        with open(os.path.join(src, name + ".pdf"), "wb") as f:
            f.write(build())
        row = []
        for side in (linux, win):
            dst = os.path.join(work, "恶意 out %s" % side.name, name)
            os.makedirs(dst)
            code, lines, seconds = side.run(src, dst, bound + 60)
            first = lines[0] if lines else "(no line, status %s)" % code
            row.append((first, seconds))
        good = row[1][0].startswith(expected()) and row[1][1] <= bound
        ok &= good
        print("| %s | %d s | %.1f | %.1f | %s | %s | %s |" % (
            name, bound, row[0][1], row[1][1], row[1][0][len(name) + 6:][:80],
            same_line(row[0][0], row[1][0]) or "differs", "within" if good else "FAILED"))
    return ok


def module_runs(linux, win, module_run, work):
    """The module's command line through cmd.exe; then a run ended by the module's taskkill."""
    src = os.path.join(work, "模块 源 & 文件")
    os.makedirs(src)
    pdfgen.write_pdf(os.path.join(src, "扫描 文件.pdf"), scanned_batch())
    dst_l, dst_w = os.path.join(work, "模块 Linux"), os.path.join(work, "模块 目标 & 输出")
    os.makedirs(dst_l)
    os.makedirs(dst_w)
    _, llines, _ = linux.run(src, dst_l, 300)
    done = subprocess.run(win.prefix[:-1] + [module_run, "run", win.path(win.prefix[-1]), win.path(src), win.path(dst_w)],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    wlines = win.lines(done.stdout)
    print("\n### Through cmd.exe /c with the module's command line\n")
    print("| Linux line | wine line (decoded in code page %s) | result |" % CODE_PAGE[2:])
    print("|---|---|---|")
    ok = len(llines) == len(wlines) and documents(dst_l) == documents(dst_w)
    for lline, wline in zip(llines, wlines):
        verdict = same_line(lline, wline)
        ok &= bool(verdict)
        print("| %s | %s | %s |" % (lline, wline, verdict or "DIFFERS"))

    # Cancellation: a batch large enough to be under way when the first line arrives.
    src = os.path.join(work, "取消 源")
    os.makedirs(src)
    for i in range(8):
        pdfgen.write_pdf(os.path.join(src, "批次 %02d.pdf" % i), scanned_batch() * 4)
    dst = os.path.join(work, "取消 目标")
    os.makedirs(os.path.join(dst, "已有 earlier"))
    with open(os.path.join(dst, "keep.txt"), "w") as f:
        f.write("kept")
    before = set(os.listdir(dst))
    done = subprocess.run(win.prefix[:-1] + [module_run, "cancel", win.path(win.prefix[-1]), win.path(src), win.path(dst)],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    report = done.stdout.decode(CODE_PAGE, "replace")
    added = set(os.listdir(dst)) - before
    only_folders = all(os.path.isdir(os.path.join(dst, n)) for n in added)
    kept = before <= set(os.listdir(dst)) and open(os.path.join(dst, "keep.txt")).read() == "kept"
    print("\n### Cancelled by `taskkill -f -im orvaneFun.exe`\n")
    print("```\n%s```" % report)
    print("new entries in the target: %d, all folders: %s; earlier entries kept: %s"
          % (len(added), only_folders, kept))
    return ok and done.returncode == 0 and only_folders and kept


def in_code_page(text):
    """The line as the Windows build writes it: <U+XXXX> for what the code page cannot hold."""
    out = []
    for c in text:
        try:
            c.encode(CODE_PAGE)
            out.append(c)
        except UnicodeEncodeError:
            out.append("<U+%04X>" % ord(c))
    return "".join(out)


def unheld_names(linux, win, work):
    src = os.path.join(work, "한국 폴더")
    os.makedirs(os.path.join(src, "하위"))
    pdfgen.write_pdf(os.path.join(src, "하위", "한 문서.pdf"), vector_batch())
    pdfgen.write_pdf(os.path.join(src, "扫描 한.pdf"), scanned_batch())
    outs = []
    for side in (linux, win):
        dst = os.path.join(work, "한국 목표 %s" % side.name)
        os.makedirs(dst)
        _, lines, _ = side.run(src, dst, 300)
        outs.append((lines, documents(dst)))
    print("\n### Names code page %s cannot hold\n" % CODE_PAGE[2:])
    print("| Linux line | wine line (decoded in code page %s) | result |" % CODE_PAGE[2:])
    print("|---|---|---|")
    ok = len(outs[0][0]) == len(outs[1][0]) and outs[0][1] == outs[1][1]
    for lline, wline in zip(outs[0][0], outs[1][0]):
        verdict = same_line(in_code_page(lline), wline)
        ok &= bool(verdict)
        print("| %s | %s | %s |" % (lline[:90], wline[:120], verdict or "DIFFERS"))
    print("documents: %s" % ("the same" if outs[0][1] == outs[1][1] else "DIFFER"))
    return ok


OCR_LINES = {
    "zh": ["本合同由甲乙双方在平等自愿的基础上签订，", "双方应当遵守国家法律法规。", "付款方式：银行转账，",
           "合同金额为人民币伍万元整。", "本合同一式两份，双方各执一份。"],
    "en": ["This agreement is made between the parties", "named below on the date of signing.",
           "Payment is due within thirty days", "of the invoice date."],
    "mixed": ["订单号 Order No. 4711", "客户 Customer: Orvane Office", "交货日期 Delivery: 2026年12月8日",
              "请在 PDF 文件中搜索合同。"],
}
OCR_FONTS = {"zh": "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
             "latin": "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"}


def ocr_page(number, lines, dpi=300, turned=False):
    """A scanned A4 page at `dpi` with `lines` of text at 14 pt, a little grain, JPEG."""
    from PIL import Image, ImageDraw, ImageFont
    w, h = int(8.27 * dpi), int(11.69 * dpi)
    img = Image.new("L", (w, h), 250)
    draw = ImageDraw.Draw(img)
    size = int(14 / 72.0 * dpi)
    latin = all(ord(c) < 0x2000 for c in "".join(lines))
    font = ImageFont.truetype(OCR_FONTS["latin" if latin else "zh"], size)
    for i, line in enumerate(lines):
        draw.text((int(0.12 * w), int(0.1 * h) + i * 2 * size), line, fill=25, font=font)
    # Seeded grain: the same pages on every run, whatever ran before.
    img = pdfgen._add(img.convert("RGB"), pdfgen._grain((w, h), number, 8)).convert("L")
    if turned:
        img = img.rotate(90, expand=True)
    buf = io.BytesIO()
    img.save(buf, "JPEG", quality=80)
    page = pdfgen.JpegPage(number, data=buf.getvalue(), dpi=dpi, grey=True,
                           size=(pdfgen.A4[1], pdfgen.A4[0]) if turned else pdfgen.A4)
    page.px = img.size
    return page


def ocr_batch(path):
    """Two documents split at a yellow sheet; returns each document's known text."""
    z, e, m = OCR_LINES["zh"], OCR_LINES["en"], OCR_LINES["mixed"]
    pages = [ocr_page(1, z), ocr_page(2, e, dpi=200),
             pdfgen.JpegPage(3, kind="sheet", colour=pdfgen.YELLOW),
             ocr_page(4, m), ocr_page(5, z[:3], turned=True)]
    pdfgen.write_pdf(path, pages)
    return ["".join(z + e), "".join(m + z[:3])]


def accuracy(text, known):
    """1 - edit distance over the known text's length, whitespace removed on both sides."""
    a, b = "".join(text.split()), "".join(known.split())
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return 1.0 - row[len(b)] / float(max(len(b), 1))


def pdftotext(path, layout):
    return subprocess.run(["pdftotext"] + (["-layout"] if layout else []) + [path, "-"],
                          stdout=subprocess.PIPE, check=True).stdout.decode("utf-8")


def compare_ocr(linux, win, work):
    src = os.path.join(work, "文字 ocr", "批次")
    os.makedirs(src)
    known = ocr_batch(os.path.join(src, "扫描 合同.pdf"))
    outs = []
    # tesseract picks its dot product by the processor's SIMD and its build: one plain path on both
    # sides (tesseract's own DOTPRODUCT variable), so that what remains is the builds' arithmetic.
    os.environ["DOTPRODUCT"] = "generic"
    for side in (linux, win):
        dst = os.path.join(work, "文字 ocr out %s" % side.name)
        os.makedirs(dst)
        code, lines, seconds = side.run(src, dst, 900, options=["--ocr", "chi_sim+eng"])
        docs = sorted(os.path.join(p, n) for p, _, names in os.walk(dst) for n in names)
        outs.append((lines[0] if lines else "(no line, status %s)" % code, docs, seconds))
    print("\n### Text recognised (--ocr chi_sim+eng): %.1f s on Linux, %.1f s under wine\n"
          % (outs[0][2], outs[1][2]))
    print("wine's line: %s (%s)" % (outs[1][0], same_line(outs[0][0], outs[1][0]) or "DIFFERS"))
    del os.environ["DOTPRODUCT"]
    print("\n| document | pdftotext | text | Linux accuracy | wine accuracy |")
    print("|---|---|---|---|---|")
    ok = bool(same_line(outs[0][0], outs[1][0])) and len(outs[0][1]) == len(outs[1][1]) == len(known)
    size = sum(len("".join(k.split())) for k in known)
    for layout in (False, True):
        batch = [0.0, 0.0]
        for i, (ldoc, wdoc) in enumerate(zip(outs[0][1], outs[1][1])):
            ltext, wtext = pdftotext(ldoc, layout), pdftotext(wdoc, layout)
            la, wa = accuracy(ltext, known[i]), accuracy(wtext, known[i])
            weight = len("".join(known[i].split())) / float(size)
            batch = [batch[0] + la * weight, batch[1] + wa * weight]
            print("| %s | %s | %s | %.3f | %.3f |" % (os.path.basename(ldoc), "-layout" if layout else "raw",
                                                      "same" if ltext == wtext else "differs", la, wa))
        # Documents without a text layer would compare the same: the Linux text must be there.
        ok &= batch[0] >= 0.8 and abs(batch[0] - batch[1]) <= 0.005
        print("| the batch | %s | | %.4f | %.4f |" % ("-layout" if layout else "raw", batch[0], batch[1]))
    return ok


def splitter_processes(exe):
    """{pid: is a helper} of this user's processes running `exe` under wine."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.stat("/proc/" + pid).st_uid != os.getuid():
                continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv = f.read().decode("utf-8", "replace").split("\0")
        except OSError:
            continue
        # wine shows a Windows program's own path as its first argument (start.exe, which launched
        # it, names the Unix path further on).
        if argv[0].replace("\\", "/").endswith(exe.replace("\\", "/")):
            found[int(pid)] = "--orvane-helper" in argv
    return found


def parent_killed(win, work):
    """Pages that take minutes to render: a helper is busy with one, and would go on for minutes
    without the job that ends it with the splitter (it reads its pipe only between steps)."""
    src, dst = os.path.join(work, "强杀 源"), os.path.join(work, "强杀 目标")
    os.makedirs(src)
    os.makedirs(dst)
    with open(os.path.join(src, "慢 页.pdf"), "wb") as f:
        f.write(hostile.slow_pages(3))
    run = subprocess.Popen(win.prefix + [win.path(src), win.path(dst), "2", "0"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    exe = win.path(win.prefix[-1])[2:]
    running, deadline = {}, time.monotonic() + 60
    while not any(running.values()) and time.monotonic() < deadline:
        time.sleep(0.5)
        running = splitter_processes(exe)
    time.sleep(3)  # the helper is rendering now
    running = splitter_processes(exe)
    parents = [pid for pid, helper in running.items() if not helper]
    for pid in parents:
        os.kill(pid, signal.SIGKILL)
    time.sleep(2)
    left = splitter_processes(exe)
    run.wait(timeout=60)
    print("\n### The splitter alone ended by SIGKILL while a helper renders a slow page\n")
    print("helpers running when it was killed: %d; processes left 2 s later: %d"
          % (len(running) - len(parents), len(left)))
    return len(parents) == 1 and len(running) > 1 and not left


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--linux", required=True, help="the Linux orvaneFun.exe")
    ap.add_argument("--windows", help="the Windows orvaneFun.exe (unpacked from the zip)")
    ap.add_argument("--wine", help="the wine binary")
    ap.add_argument("--module-run", help="module_run.exe (tests/windows/module_run.cpp)")
    ap.add_argument("--native", action="store_true", help="the Linux program on both sides")
    ap.add_argument("--work", required=True)
    ap.add_argument("--only", default="corpus,sheets,blank,hostile,module,unheld,killed,ocr")
    a = ap.parse_args()
    linux = Side("linux", [a.linux], False)
    win = Side("native", [a.linux], False) if a.native else Side("wine", [a.wine, a.windows], True)
    ok = True
    parts = a.only.split(",")
    if "corpus" in parts:
        ok &= compare_corpus(linux, win, a.work)
    if "sheets" in parts:
        ok &= compare_sheets(linux, win, a.work)
    if "blank" in parts:
        ok &= compare_blank(linux, win, a.work)
    if "hostile" in parts:
        ok &= compare_hostile(linux, win, a.work)
    if "module" in parts and not a.native:
        ok &= module_runs(linux, win, a.module_run, a.work)
    if "unheld" in parts and not a.native:
        ok &= unheld_names(linux, win, a.work)
    if "killed" in parts and not a.native:
        ok &= parent_killed(win, a.work)
    if "ocr" in parts:
        ok &= compare_ocr(linux, win, a.work)
    print("\nwindows splitter check: %s" % ("ok" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
