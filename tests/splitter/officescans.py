"""Pages scanned the way offices scan them, with ground truth: a table of
conditions, each one PDF file whose pages say whether they are separators.

A page is a recipe: paper colour, things on it, then what the scanner does
to it (cast, uneven light, skew on a backing, grain, JPEG quality 30 to 95
with Pillow's default 4:2:0 chroma subsampling). 150 dpi A4; the splitter
sees it at 1/8 scale.
"""
from PIL import Image, ImageChops, ImageDraw

import pdfgen
from pdfgen import BLUE, GREEN, ORANGE, PINK, YELLOW, JpegPage

PX = (1240, 1754)  # A4 at 150 dpi
WHITE = (252, 252, 250)
AGED = (238, 228, 198)
STRONG = [(255, 215, 0), (235, 80, 150), (40, 120, 200), (60, 170, 80), (250, 130, 20)]
QUALITIES = [30, 50, 75, 95]
INK = (25, 25, 30)


def _box(x0, y0, x1, y1):
    return [int(PX[0] * x0), int(PX[1] * y0), int(PX[0] * x1), int(PX[1] * y1)]


def _scribble(d, x0, y0, x1, y1, width):
    """Handwriting: zigzag strokes filling the box."""
    pts = [(PX[0] * (x0 + (x1 - x0) * i / 14.0), PX[1] * (y0 if i % 2 else y1)) for i in range(15)]
    d.line(pts, fill=INK, width=max(2, int(PX[0] * width)))


def draw(page):
    """The unscanned page: paper and what is printed or stuck on it."""
    img = Image.new("RGB", PX, page.get("paper", WHITE))
    d = ImageDraw.Draw(img)
    for what in page.get("on", ()):
        if what == "text":
            pdfgen._text_lines(d, PX[0], PX[1])
        elif what == "signature":
            d.line(_box(0.55, 0.8, 0.85, 0.8), fill=INK, width=3)
            _scribble(d, 0.58, 0.76, 0.8, 0.79, 0.003)
        elif what == "label":      # the next document's name, in dark marker
            _scribble(d, 0.25, 0.42, 0.75, 0.54, 0.036)
        elif what == "sticky":     # a yellow note with a few words
            d.rectangle(_box(0.55, 0.12, 0.9, 0.37), fill=(255, 238, 110))
            _scribble(d, 0.6, 0.18, 0.82, 0.22, 0.004)
        elif what == "stamp":
            d.ellipse(_box(0.58, 0.67, 0.82, 0.83), outline=(200, 30, 40), width=10)
            d.rectangle(_box(0.63, 0.74, 0.77, 0.76), fill=(200, 30, 40))
        elif what == "address":    # a white address label
            d.rectangle(_box(0.3, 0.3, 0.65, 0.42), fill=WHITE)
            for y in (0.33, 0.36, 0.39):
                d.rectangle(_box(0.33, y, 0.58, y + 0.01), fill=INK)
        elif what == "highlight":  # yellow marker over three text lines
            band = Image.new("RGB", PX, (255, 255, 255))
            ImageDraw.Draw(band).rectangle(_box(0.1, 0.3, 0.8, 0.36), fill=(250, 245, 90))
            img = ImageChops.multiply(img, band)
            d = ImageDraw.Draw(img)
        elif what == "form":       # boxes with printed captions and handwriting
            for r in range(14):
                for c in range(3):
                    x0, y0 = 0.1 + 0.27 * c, 0.15 + 0.055 * r
                    d.rectangle(_box(x0, y0, x0 + 0.27, y0 + 0.055), outline=(60, 40, 50), width=2)
                    d.rectangle(_box(x0 + 0.01, y0 + 0.008, x0 + 0.12, y0 + 0.016), fill=(60, 40, 50))
                    _scribble(d, x0 + 0.03, y0 + 0.025, x0 + 0.2, y0 + 0.045, 0.002)
            d.rectangle(_box(0.1, 0.06, 0.6, 0.1), fill=(40, 30, 40))
        elif what == "title":      # big title of a printed cover
            d.rectangle(_box(0.12, 0.1, 0.88, 0.2), fill=WHITE)
            d.rectangle(_box(0.12, 0.24, 0.6, 0.27), fill=WHITE)
        elif what == "sky":        # evenly lit: a clear sky over a strip of land
            for y in range(PX[1]):
                t = y / float(PX[1])
                d.line([0, y, PX[0], y], fill=(int(105 + 60 * t), int(160 + 40 * t), int(228 + 12 * t)))
            d.rectangle(_box(0, 0.9, 1, 1), fill=(70, 110, 50))
        elif what in ("photo", "sunset"):
            box = page.get("box", [0, 0, PX[0], PX[1]])
            img.paste(pdfgen.picture(what, (box[2] - box[0], box[3] - box[1]), seed=5), box[:2])
    return img


def scan(img, page, seed):
    """What the scanner makes of the page."""
    w, h = img.size
    light = page.get("light")
    if light:  # darker towards the left: a lid not quite shut, a book's spine
        ramp = Image.linear_gradient("L").rotate(90).resize(img.size)
        ramp = ramp.point(lambda v: int(255 * (light + (1 - light) * (255 - v) / 255.0)))
        img = ImageChops.multiply(img, Image.merge("RGB", [ramp] * 3))
    skew = page.get("skew")
    if skew:  # fed crooked: the backing shows in wedges along the edges
        angle, shift, backing = skew
        bed = Image.new("RGB", (w, h), backing)
        turned = img.rotate(angle, resample=Image.BICUBIC, center=(0, 0), fillcolor=backing)
        bed.paste(turned, (int(w * shift), int(h * shift)))
        img = bed
    cast = page.get("cast")
    if cast:  # the scanner's white balance: white paper comes out as `cast`
        img = Image.merge("RGB", [b.point(lambda v, f=c / 252.0: int(v * f)) for b, c in zip(img.split(), cast)])
    if page.get("slip"):  # an A5 slip on the A4 bed, under the lid
        bed = Image.new("RGB", (w, h), page["slip"])
        bed.paste(img.resize((w, h // 2)), (0, 0))
        img = bed
    return pdfgen._add(img, pdfgen._grain(img.size, seed))


def jpeg_page(number, page):
    img, grey = scan(draw(page), page, number), page.get("grey", False)
    data = pdfgen.jpeg_bytes(img.convert("CMYK") if page.get("cmyk") else img, number, QUALITIES[number % 4], grey)
    made = JpegPage(number, data=data, grey=grey, dpi=PX[0] * 72.0 / pdfgen.A4[0])
    if page.get("cmyk"):  # as Adobe writes it: inverted
        made.colour_space = b"/DeviceCMYK /Decode [1 0 1 0 1 0 1 0]"
    return made


def sheets(colours, **scanned):
    return [dict(sheet=True, paper=c, **scanned) for c in colours]


def text(n=2, **scanned):
    return [dict(on=("text",), **scanned) for _ in range(n)]


PALE = [YELLOW, PINK, BLUE, GREEN, ORANGE]
CAST = (250, 242, 226)
DARK, LID = (35, 35, 38), (245, 245, 243)

# name: (clear to a careful person, pages)
CONDITIONS = {
    "pale sheets, JPEG 30-95": (True, text(1) + sheets(PALE[:3]) + text(1) + sheets(PALE[3:]) + text(1)),
    "strong sheets": (True, sheets(STRONG[:2]) + text(1) + sheets(STRONG[2:]) + text(1)),
    "warm cast": (True, text(2, cast=CAST) + [dict(cast=CAST)] + sheets(PALE, cast=CAST) + text(1, cast=CAST)),
    "aged paper": (True, [dict(paper=AGED, on=("text",)), dict(paper=AGED, on=("signature",)),
                          dict(paper=AGED)] + sheets([YELLOW, PINK, BLUE]) + text(2, paper=AGED)),
    "uneven light": (True, text(1, light=0.75) + sheets(PALE, light=0.75) + text(1, light=0.8)),
    "skew, dark backing": (True, text(1, skew=(5, 0.02, DARK)) + sheets([GREEN, YELLOW], skew=(5, 0.07, DARK))
                           + sheets([YELLOW, PINK], skew=(8, 0.12, DARK)) + text(1, skew=(8, 0.05, DARK))),
    "skew, white backing": (True, text(1, skew=(5, 0.02, LID)) + sheets([GREEN, BLUE], skew=(5, 0.02, LID))
                            + sheets([YELLOW], skew=(8, 0.06, LID)) + text(1, skew=(8, 0.06, LID))),
    "labels, notes, stamps on sheets": (True, text(1) + sheets([GREEN], on=("label",))
                                        + sheets([GREEN], on=("label", "sticky")) + sheets([BLUE], on=("stamp",))
                                        + sheets([PINK], on=("address",)) + text(1)),
    "highlighter, notes on white pages": (True, [dict(on=("text", "highlight")), dict(on=("text", "sticky")),
                                                 dict(on=("text", "stamp"))]),
    "printed covers": (True, [dict(paper=(25, 40, 90), on=("title",)),
                              dict(paper=(170, 205, 235), on=("title", "photo"), box=[124, 700, 1116, 1500]),
                              dict(paper=(200, 40, 50), on=("title", "photo"), box=[0, 800, 1240, 1754])] + text(1)),
    "forms on coloured paper": (True, text(1) + [dict(paper=c, on=("form",)) for c in (PINK, YELLOW, GREEN)]),
    "photographs": (True, text(1) + [dict(on=(k,)) for k in ("photo", "sunset", "sky")]),
    "sheets first, last, back to back": (True, sheets([PINK, PINK]) + text(1) + [{}] + sheets([BLUE, BLUE])
                                         + text(1) + sheets([YELLOW])),
    "CMYK images": (True, text(1, cmyk=True) + sheets([PINK, BLUE], cmyk=True) + text(1, cmyk=True)),
    "A5 slip on A4 bed": (False, text(1) + sheets([YELLOW, PINK], slip=LID) + sheets([GREEN], slip=DARK)
                          + text(1)),
    "sheet in greyscale mode": (False, text(1) + sheets([YELLOW, PINK], grey=True) + text(1)),
}


def condition_pdf(path, pages):
    """Writes the condition's PDF; returns the truth: separator or not, per page."""
    pdfgen.write_pdf(path, [jpeg_page(i + 1, p) for i, p in enumerate(pages)])
    return [bool(p.get("sheet")) for p in pages]
