"""Separator sheets of every kind and the pages that must not pass for one, scanned the way offices
scan them (150 to 300 dpi A4, JPEG, grain), with ground truth.

A page is a recipe: what it is (`want`: content, colour, code, black, blank, or back for the blank
back of a code or black sheet), its paper, what is on it, and the scan (dpi, JPEG quality, turned,
skewed, edge strips). BATCHES groups pages into the files that the splitter must split right with
the kinds asked for; EMPTINESS lists the pages for the black and empty-page judges
(scripts/sheet_looks_table.py prints their verdicts page by page).
"""
import io
import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))

import pdfgen  # noqa: E402
from orvane_tools import barcodes  # noqa: E402

A4_MM = (210.0, 297.0)
WHITE, CREAM, AGED = (250, 250, 247), (247, 239, 217), (236, 224, 190)
GREYWHITE, BLUETINT, PINKTINT = (230, 231, 228), (226, 236, 246), (247, 229, 232)
YELLOW = pdfgen.YELLOW
INK, BLUE_INK = (28, 28, 34), (35, 55, 165)
EPC = "BCD\n002\n1\nSCT\nBANKDEFFXXX\nOrvane Office Supplies\nDE89370400440532013000\nEUR123.40\n\n\nInvoice 4711"


def page(want, paper=WHITE, on=(), dpi=200, q=85, **scan):
    return dict(want=want, paper=paper, on=list(on), dpi=dpi, q=q, **scan)


class Sheet(object):
    """Draws on one page in millimetres."""

    def __init__(self, recipe, seed):
        self.dpi, self.rnd = recipe["dpi"], random.Random(seed)
        self.img = Image.new("RGB", (self.px(A4_MM[0]), self.px(A4_MM[1])), recipe["paper"])
        self.d = ImageDraw.Draw(self.img)
        self.paper = recipe["paper"]

    def px(self, mm):
        return int(round(mm * self.dpi / 25.4))

    def darker(self, by):
        return tuple(max(0, c - by) for c in self.paper)

    def stroke(self, points, ink, width_mm):
        self.d.line([(self.px(x), self.px(y)) for x, y in points], fill=ink, width=max(1, self.px(width_mm)),
                    joint="curve")

    def scrawl(self, x, y, length, height, ink, width_mm=0.5):
        """Handwriting: loops along a line, `length` mm long."""
        pts = [(x + t * 0.8, y - height * abs(math.sin(t * 1.3)) + self.rnd.uniform(-0.6, 0.6))
               for t in range(int(length / 0.8))]
        self.stroke(pts, ink, width_mm)

    def code(self, kind, text, width_mm, at, angle=0):
        code = barcodes.make(kind, text)
        scale = self.px(width_mm) / float(code.width)
        code = code.resize((self.px(width_mm), max(1, int(code.height * scale))), Image.NEAREST)
        barcodes.stamp(self.img, code, (self.px(at[0]), self.px(at[1])), angle=angle)

    def text(self, top=30, bottom=270, left=25, right=185):
        """Printed lines of text, as grey bars at the 10-point line pitch."""
        y = top
        while y < bottom:
            self.d.rectangle([self.px(left), self.px(y), self.px(right - self.rnd.uniform(0, 40)), self.px(y + 1.6)],
                             fill=(45, 45, 50))
            y += 4.5

    def letters(self, x, y, count, ink, height=2.6, width_mm=0.35):
        """A word of printed capitals, `height` mm tall, drawn as strokes (no font needed)."""
        for i in range(count):
            left = x + i * height * 0.75
            self.stroke([(left, y + height), (left + height * 0.3, y), (left + height * 0.6, y + height)], ink,
                        width_mm)

    def overlay(self, layer, by):
        """Darkens the page by up to `by` levels where the L image `layer` is white."""
        self.img = ImageChops.subtract(self.img, Image.merge("RGB", [layer.point(lambda v: v * by // 255)] * 3))
        self.d = ImageDraw.Draw(self.img)


def _photo(s, box, sky_share, dark=False):
    """A photograph in `box` (mm): a sky over land, or a night scene with lit windows and a moon."""
    x0, y0, x1, y1 = [s.px(v) for v in box]
    horizon = y0 + int((y1 - y0) * sky_share)
    for y in range(y0, y1):
        t = (y - y0) / float(max(1, horizon - y0))
        sky = (12, 14, 30 + int(20 * t)) if dark else (int(110 + 70 * t), int(165 + 45 * t), int(232 + 15 * t))
        s.d.line([x0, y, x1, y], fill=sky if y < horizon else ((20, 20, 24) if dark else (70, 110, 50)))
    if dark:
        s.d.ellipse([x0 + (x1 - x0) // 8, y0 + (y1 - y0) // 10, x0 + (x1 - x0) // 4, y0 + (y1 - y0) // 5],
                    fill=(245, 240, 215))
        for i in range(40):
            wx, wy = s.rnd.randint(x0, x1 - 40), s.rnd.randint(horizon, y1 - 40)
            s.d.rectangle([wx, wy, wx + s.px(6), wy + s.px(8)], fill=(250, 215, 120))


def _draw(s, what):
    name, args = what[0], what[1:]
    if name == "text":
        s.text(*args)
    elif name == "code":                     # (kind, text, width mm, (x, y) mm[, angle])
        s.code(*args)
    elif name == "signature":                # short, in blue ink
        s.stroke([(120, 252), (175, 252)], BLUE_INK, 0.3)
        s.scrawl(125, 250, 40, 7, BLUE_INK, 0.45)
    elif name == "handwriting":              # one short line, ballpoint
        s.scrawl(40, 140, 70, 4, INK)
    elif name == "pencil":                   # 0.3 mm wide, 40 levels darker than the paper (or `args[0]`)
        s.stroke([(40, 160), (150, 172)], s.darker(args[0] if args else 40), 0.3)
    elif name == "stamp":                    # light grey office stamp
        grey = s.darker(70)
        x, y, r = s.px(150), s.px(230), s.px(16)
        s.d.ellipse([x - r, y - r, x + r, y + r], outline=grey, width=s.px(0.9))
        s.letters(140, 224, 8, grey)
        s.letters(141, 232, 7, grey, 2.2)
    elif name == "page number":
        s.stroke([(101, 284), (102.2, 284)], INK, 0.3)
        s.stroke([(104, 282.7), (106, 282.7), (104.8, 285.3)], INK, 0.35)
        s.stroke([(107.8, 284), (109, 284)], INK, 0.3)
    elif name in ("photo", "dark photo"):      # (box mm, sky share)
        _photo(s, args[0], args[1], dark=name == "dark photo")
    elif name == "bleed":                    # the other side's print, mirrored, faint and soft
        layer = Image.new("L", s.img.size, 0)
        back = Sheet(dict(dpi=s.dpi, paper=(0, 0, 0)), 7)
        back.d.rectangle([0, 0, back.img.width, back.img.height], fill=(0, 0, 0))
        back.text()
        layer.paste(back.img.convert("L").point(lambda v: 255 if v else 0).transpose(Image.FLIP_LEFT_RIGHT))
        s.overlay(layer.filter(ImageFilter.GaussianBlur(s.px(0.4))), args[0])
    elif name == "shadow":                   # a soft shadow along the binding edge, `args[0]` mm wide
        ramp = Image.linear_gradient("L").rotate(-90).resize((s.px(args[0]), s.img.height))
        layer = Image.new("L", s.img.size, 0)
        layer.paste(ramp.point(lambda v: v * v // 255))
        s.overlay(layer, 120)
    elif name == "foxing":                   # brown age spots, about 0.15 % of the page
        for _ in range(70):
            x, y, r = s.rnd.uniform(10, 200), s.rnd.uniform(10, 287), s.rnd.uniform(0.35, 1.0)
            c = s.darker(0)
            s.d.ellipse([s.px(x - r), s.px(y - r), s.px(x + r), s.px(y + r)],
                        fill=(c[0] - 30, c[1] - 48, c[2] - 62))
    elif name == "dust":
        for _ in range(5):
            x, y, r = s.rnd.uniform(20, 190), s.rnd.uniform(20, 277), s.rnd.uniform(0.12, 0.3)
            s.d.ellipse([s.px(x - r), s.px(y - r), s.px(x + r), s.px(y + r)], fill=(40, 40, 40))
    elif name == "holes":                    # two punched holes showing the dark backing, shadowed
        for y in (108.5, 188.5):
            r = s.px(3)
            cx, cy = s.px(12), s.px(y)
            s.d.ellipse([cx - r - s.px(0.8), cy - r, cx + r, cy + r + s.px(0.8)], fill=s.darker(60))
            s.d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=(55, 55, 58))
    elif name == "black":
        s.d.rectangle([0, 0, s.img.width, s.img.height], fill=(20, 20, 23))
    else:
        raise ValueError(name)


def scanned(recipe, seed):
    """The page as the scanner delivers it: an RGB image at the recipe's dpi."""
    s = Sheet(recipe, seed)
    for what in recipe["on"]:
        _draw(s, what)
    img = s.img
    if recipe.get("turned"):
        img = img.rotate(180)
    if recipe.get("skew"):               # fed crooked over the dark backing
        img = img.rotate(recipe["skew"], resample=Image.BICUBIC, fillcolor=(40, 40, 42))
    d = ImageDraw.Draw(img)
    for edge, colour, *mm in recipe.get("edges", ()):  # strips along the scanned edges, 3.5 mm or `mm`
        w = s.px(mm[0] if mm else 3.5)
        box = {"left": [0, 0, w, img.height], "top": [0, 0, img.width, w], "right": [img.width - w, 0, img.width,
               img.height], "bottom": [0, img.height - w, img.width, img.height]}[edge]
        d.rectangle(box, fill=colour)
    return pdfgen._add(img, Image.effect_noise(img.size, 3.0))


def jpeg(recipe, seed):
    buf = io.BytesIO()
    scanned(recipe, seed).save(buf, "JPEG", quality=recipe["q"])
    return buf.getvalue()


def pdf(path, pages):
    """Writes the pages as one scanned PDF file; returns what each page is."""
    pdfgen.write_pdf(path, [pdfgen.JpegPage(i + 1, data=jpeg(p, i + 1), dpi=p["dpi"])
                            for i, p in enumerate(pages)])
    return [p["want"] for p in pages]


DARK_EDGE, LIGHT_EDGE = (35, 35, 38), (246, 246, 244)
TEXT = page("content", on=[("text",)], q=75)
PATCHT_39 = page("code", on=[("code", "code39", "PATCHT", 110, (50, 130))])
PATCHT_QR = page("code", on=[("code", "qr", "PATCHT", 45, (82, 125))], dpi=150)

# Pages for the empty-page judge: (name, recipe, advisory reason or None)
EMPTINESS = [
    ("blank, white", page("blank"), None),
    ("blank, cream, JPEG 60", page("blank", CREAM, q=60), None),
    ("blank, aged with foxing", page("blank", AGED, [("foxing",)]), None),
    ("blank, grey-white, 150 dpi", page("blank", GREYWHITE, dpi=150), None),
    ("blank, blue tint, 300 dpi", page("blank", BLUETINT, dpi=300), None),
    ("blank, pink tint, dust", page("blank", PINKTINT, [("dust",)]), None),
    ("blank, bleed-through 15", page("blank", WHITE, [("bleed", 15)], q=60), None),
    ("blank, cream, bleed-through 12", page("blank", CREAM, [("bleed", 12)]), None),
    ("blank, punched holes", page("blank", WHITE, [("holes",)]), None),
    ("blank, dark edge strips", page("blank", CREAM, edges=[("left", DARK_EDGE), ("top", DARK_EDGE)]), None),
    ("blank, edge shadow", page("blank", BLUETINT, [("shadow", 12)], q=70), None),
    ("blank, holes, bleed, edge, JPEG 60", page("blank", AGED, [("holes",), ("bleed", 10), ("dust",)], q=60,
                                                 edges=[("left", DARK_EDGE)]), None),
    ("content, blue signature", page("content", CREAM, [("signature",)]), None),
    ("content, handwritten line, holes", page("content", WHITE, [("holes",), ("handwriting",)]), None),
    ("content, pencil line", page("content", WHITE, [("pencil",)], q=75), None),
    ("content, pencil line on aged paper", page("content", AGED, [("pencil",)], dpi=150), None),
    ("pencil line only 20 levels darker", page("content", WHITE, [("pencil", 20)]),
     "between bleed-through (at most 15 levels, blank) and the pencil line that must count (40): either "
     "verdict is fair, and the page is named under check:"),
    ("content, light grey stamp", page("content", GREYWHITE, [("stamp",)]), None),
    ("content, page number alone", page("content", WHITE, [("page number",)]), None),
    ("content, sky photograph", page("content", WHITE, [("photo", (30, 60, 180, 180), 0.8)]), None),
    ("content, text", TEXT, None),
    ("black, light edge strips", page("black", on=[("black",)], edges=[("left", LIGHT_EDGE), ("top", LIGHT_EDGE)]),
     None),
    ("black, JPEG 60, 300 dpi", page("black", on=[("black",)], q=60, dpi=300), None),
    ("black, letter size on the A4 bed", page("black", on=[("black",)], edges=[("right", LIGHT_EDGE, 6),
                                                                            ("bottom", LIGHT_EDGE, 18)]), None),
    ("dark photograph with light areas", page("content", on=[("dark photo", (0, 0, 210, 297), 0.7)]), None),
]

# Files: (name, --sheets, pages)
BATCHES = [
    ("patch-T sheets", "code", [
        TEXT, PATCHT_39, TEXT, TEXT, PATCHT_QR, TEXT,
        page("code", on=[("code", "qr", "PATCHT:Contract 7", 40, (85, 130))], turned=True, q=70), TEXT,
        page("code", on=[("code", "code39", "PATCHT", 100, (55, 140))], skew=3, dpi=300), TEXT]),
    ("a corner code and a blank back", "code", [
        TEXT, page("code", on=[("code", "qr", "PATCHT", 16, (185, 8))]), page("back", CREAM), TEXT, TEXT,
        PATCHT_39, page("back", q=60), TEXT]),
    ("colour and code sheets", "colour,code", [
        TEXT, page("colour", YELLOW), TEXT, PATCHT_QR, TEXT, page("colour", pdfgen.PINK), TEXT]),
    ("code sheets alone: a coloured sheet is a page", "code", [
        TEXT, page("colour", YELLOW), TEXT, PATCHT_QR, TEXT]),
    ("codes that are content", "code", [
        page("content", on=[("text", 30, 150), ("code", "qr", EPC, 35, (150, 200))]),
        page("content", on=[("text", 30, 60, 30, 120), ("code", "code128", "1Z999AA10123456784", 90, (60, 100))]),
        page("content", on=[("code", "qr", "PATCHTX", 45, (82, 125))]),
        page("content", on=[("code", "code39", "PATCHTX", 110, (50, 130))]), TEXT]),
    ("black sheets and dark photographs", "black", [
        TEXT, page("black", on=[("black",)], edges=[("left", LIGHT_EDGE), ("top", LIGHT_EDGE)]), TEXT,
        page("content", on=[("dark photo", (0, 0, 210, 297), 0.7)]), TEXT,
        page("black", on=[("black",)], q=60), page("back"), TEXT]),
    ("blank sheets", "blank", [
        TEXT, page("blank", on=[("holes",)]), TEXT, page("content", on=[("holes",), ("handwriting",)]),
        page("blank"), page("blank", q=60), TEXT]),
    ("a code that names its document", "code", [
        TEXT, page("code", on=[("code", "qr", "PATCHT:合同-7", 40, (85, 130))]), TEXT, TEXT]),
    ("blank backs on every paper", "blank",
     [p for _, p, _ in EMPTINESS[:7] for p in (p, TEXT)]),
]


def documents(wants, kinds):
    """The pages of each document, as (first, last), when the sheets of `kinds` are separators;
    the blank back of a code or black sheet goes with it, two blank pages in a row are one sheet."""
    docs, start, before = [], None, None
    for i, want in enumerate(wants, 1):
        blank = want in ("blank", "back")
        sheet = want in kinds or blank and ("blank" in kinds or before in ("code", "black"))
        before = want if sheet else None
        if sheet and start:
            docs.append((start, i - 1))
            start = None
        elif not sheet and start is None:
            start = i
    return docs + ([(start, len(wants))] if start else [])

