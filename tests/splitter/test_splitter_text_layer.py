"""The invisible text layer (writer.*, text_layer.*, layer_font.*) over a real JPEG page, written by
tests/splitter/native/text_layer_pages.cpp and read back with poppler, mupdf and qpdf: the text reads
right in both of pdftotext's modes, without a space between Han characters, whatever the page's own
content leaves open; the page's streams and pixels stay as they were; the same input, the same bytes."""
import filecmp
import os
import random
import re
import subprocess

import pytest
from PIL import Image, ImageDraw
from pypdf import PdfReader

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(os.path.dirname(os.path.dirname(HERE)), "splitter", "src")
# How the page's own content leaves the graphics state: closed, a q left open, a Q too many, a bad token.
VARIANTS = ["balanced", "unclosed", "restoring", "damaged"]
# Each page's lines as pdftotext gives them (runs of spaces made one): page 2 was scanned sideways.
PAGES = {1: ["合同编号：HT-2024", "本合同自签订之日起生效。", "Invoice number 12345",
             "请使用OCR识别 PDF 格式签订“合同”", "𠀀𠀁字"],
         2: ["合同生效。", "Turned page"]}


def run(*args):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)


@pytest.fixture(scope="module")
def written(tmp_path_factory):
    base = tmp_path_factory.mktemp("layer")
    page = Image.new("L", (850, 1100), 245)
    rnd = random.Random(31)
    for y in range(100, 400, 60):
        ImageDraw.Draw(page).rectangle([100, y, 100 + rnd.randint(200, 500), y + 35], fill=40)
    page.save(str(base / "page.jpg"), quality=80)
    exe = str(base / "text_layer_pages")
    build = run(os.environ.get("CXX", "g++"), "-std=c++17", "-O1", "-Wall", "-Wextra", "-I", SRC,
                os.path.join(HERE, "native", "text_layer_pages.cpp"),
                *[os.path.join(SRC, s) for s in ("writer.cpp", "text_layer.cpp", "layer_font.cpp")],
                "-DPOINTERHOLDER_TRANSITION=4", "-lqpdf", "-o", exe)
    assert build.returncode == 0, build.stderr.decode("utf-8", "replace")
    for out in ("a", "b"):
        (base / out).mkdir()
        assert run(exe, str(base / "page.jpg"), "850", "1100", str(base / out)).returncode == 0
    return base / "a", base / "b"


@pytest.mark.parametrize("variant", VARIANTS)
@pytest.mark.parametrize("mode", [[], ["-layout"]])
def test_text_reads_right(written, variant, mode):
    for number, lines in PAGES.items():
        text = run("pdftotext", *mode, "-f", str(number), "-l", str(number),
                   str(written[0] / (variant + "-layer.pdf")), "-").stdout.decode("utf-8")
        # Line by line, exactly: no space between Han characters, one between words apart.
        assert [re.sub(" +", " ", line.strip()) for line in text.splitlines() if line.strip()] == lines


def words(path):
    return [line for line in run("pdftotext", "-bbox", str(path), "-").stdout.decode().splitlines() if "<word" in line]


@pytest.mark.parametrize("variant", VARIANTS)
def test_page_as_before(written, variant):
    plain, layer = (written[0] / (variant + kind) for kind in ("-plain.pdf", "-layer.pdf"))
    for before, after in zip(PdfReader(str(plain)).pages, PdfReader(str(layer)).pages):
        image = [p["/Resources"]["/XObject"]["/Im0"].get_object()._data for p in (before, after)]
        assert image[0] == image[1]
        assert before["/Contents"].get_object()._data in [c.get_object()._data for c in after["/Contents"]]
    for draw in (["pdftoppm", "-r", "40", "-gray"], ["mutool", "draw", "-r", "40", "-o"]):
        pixels = []
        for pdf in (plain, layer):
            prefix = str(pdf)[:-4] + "-" + draw[0]
            messages = run(*draw, *([prefix + "-%d.pgm", str(pdf)] if draw[0] == "mutool" else [str(pdf), prefix]))
            pixels.append([open(prefix + end, "rb").read() for end in ("-1.pgm", "-2.pgm")])
            pixels[-1].append(re.sub(re.escape(str(pdf)), "", messages.stdout.decode() + messages.stderr.decode()))
        assert pixels[0] == pixels[1]  # the same pixels, and the same complaints
    assert [run("qpdf", "--check", str(pdf)).returncode for pdf in (plain, layer)] == [3 if variant == "damaged" else 0] * 2
    # The layer is laid in the page's initial state: the words stand where they stand on a sound page.
    assert words(layer) == words(written[0] / "balanced-layer.pdf")


def test_same_bytes(written):
    names = sorted(name for name in os.listdir(str(written[0])) if name.endswith(".pdf"))
    assert filecmp.cmpfiles(str(written[0]), str(written[1]), names, shallow=False)[0] == names
    for variant in VARIANTS:  # no text for any page: the document as it was always written
        assert filecmp.cmp(str(written[0] / (variant + "-plain.pdf")), str(written[0] / (variant + "-nulls.pdf")),
                           shallow=False)
