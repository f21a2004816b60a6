"""Makes test PDFs by hand: vector pages and scanned-like pages (one JPEG each).

Every page carries its number as the text "PAGE nnnn": drawn with a font on
vector pages and kept in a JPEG comment segment of the page image on scanned
pages, so the pages of an output document can be told apart (page_ids()).
"""
import io
import random
import re
import zlib

from PIL import Image, ImageChops, ImageDraw

A4 = (595.0, 842.0)
LETTER = (612.0, 792.0)
A5_LANDSCAPE = (595.0, 420.0)

# Paper colours of separator sheets as a scanner sees them, and others.
YELLOW = (250, 240, 150)
PINK = (248, 200, 215)
BLUE = (175, 210, 240)
GREEN = (190, 235, 185)
ORANGE = (250, 190, 120)
WHITE = (252, 252, 250)
TINTED = (238, 234, 224)  # recycled paper: chroma 14, below the default 19

MARK = re.compile(rb"PAGE (\d{4})")


def marker(number):
    return "PAGE %04d" % number


# ---------------------------------------------------------------- pictures

def _add(img, grain):
    """img + grain - 128 on every band, clipped to 0..255."""
    offset = grain.point(lambda v: max(0, v - 128))
    minus = grain.point(lambda v: max(0, 128 - v))
    return Image.merge("RGB", [ImageChops.subtract(ImageChops.add(b, offset), minus) for b in img.split()])


def _text_lines(draw, w, h, ink=(40, 40, 40), top=0.18):
    """Grey bars where a page of text would have its lines."""
    y = int(h * top)
    line = max(2, h // 70)
    rnd = random.Random(w * 7 + h)
    while y < h * 0.9:
        x1 = int(w * (0.75 + 0.12 * rnd.random()))
        draw.rectangle([int(w * 0.12), y, x1, y + line], fill=ink)
        y += line * 3


def _scanner_edges(draw, w, h):
    """Dark scanner edge and punch holes: things that live in the margin."""
    edge = max(2, w // 60)
    draw.rectangle([0, 0, edge, h], fill=(30, 30, 30))
    draw.rectangle([0, 0, w, edge], fill=(50, 50, 50))
    r = max(3, w // 45)
    for cy in (h * 0.35, h * 0.65):
        cx = w * 0.04
        draw.ellipse([cx - r, cy - r, cx + r, cy + r], fill=(20, 20, 20))
    draw.rectangle([int(w * 0.02), int(h * 0.02), int(w * 0.06), int(h * 0.025)], fill=(90, 90, 95))


def picture(kind, px, colour=WHITE, seed=0):
    """A page picture of `px` (width, height) pixels.

    kind: "text" (white page of text), "sheet" (blank coloured separator
    sheet), "logo" (text page with a colour logo and stamp), "tinted"
    (recycled paper with text), "photo" (colour landscape photograph),
    "sunset" (one-hue photograph: orange sky shading into dark),
    "grey" (greyscale scan of a text page, kept as RGB).
    """
    w, h = px
    if kind in ("text", "logo", "tinted", "grey"):
        base = TINTED if kind == "tinted" else colour
        img = Image.new("RGB", px, base)
        d = ImageDraw.Draw(img)
        _text_lines(d, w, h)
        d.rectangle([int(w * 0.12), int(h * 0.08), int(w * 0.5), int(h * 0.12)], fill=(20, 20, 20))
        if kind == "logo":
            d.ellipse([int(w * 0.62), int(h * 0.05), int(w * 0.85), int(h * 0.2)], fill=(220, 30, 40))
            d.rectangle([int(w * 0.55), int(h * 0.55), int(w * 0.85), int(h * 0.7)], outline=(30, 60, 200),
                        width=max(2, w // 100))
            d.rectangle([int(w * 0.35), int(h * 0.4), int(w * 0.6), int(h * 0.5)], fill=(30, 150, 60))
        _scanner_edges(d, w, h)
        img = _add(img, _grain(px, seed))
        if kind == "grey":
            img = img.convert("L").convert("RGB")
        return img
    if kind == "sheet":
        img = Image.new("RGB", px, colour)
        d = ImageDraw.Draw(img)
        _scanner_edges(d, w, h)
        return _add(img, _grain(px, seed))
    if kind == "photo":
        img = Image.new("RGB", px)
        d = ImageDraw.Draw(img)
        for y in range(h):  # sky: deep blue to pale near the horizon
            t = y / (h * 0.55)
            d.line([0, y, w, y], fill=(int(60 + 140 * t), int(110 + 110 * t), int(200 + 45 * t)))
        d.ellipse([int(w * 0.7), int(h * 0.08), int(w * 0.85), int(h * 0.19)], fill=(255, 230, 90))
        d.polygon([(0, h * 0.55), (w * 0.4, h * 0.42), (w, h * 0.58), (w, h), (0, h)], fill=(70, 140, 50))
        d.polygon([(0, h * 0.75), (w * 0.6, h * 0.65), (w, h * 0.8), (w, h), (0, h)], fill=(110, 170, 60))
        d.rectangle([int(w * 0.2), int(h * 0.5), int(w * 0.45), int(h * 0.68)], fill=(190, 60, 40))
        d.polygon([(w * 0.18, h * 0.5), (w * 0.325, h * 0.4), (w * 0.47, h * 0.5)], fill=(120, 40, 30))
        for i in range(7):
            x = w * (0.55 + 0.06 * i)
            d.ellipse([x, h * 0.52, x + w * 0.07, h * 0.66], fill=(30, 90, 35))
        return _add(img, _grain(px, seed, 10))
    if kind == "sunset":
        img = Image.new("RGB", px)
        d = ImageDraw.Draw(img)
        for y in range(h):
            t = y / float(h)
            d.line([0, y, w, y], fill=(int(255 - 150 * t), int(190 - 150 * t), int(110 - 95 * t)))
        d.ellipse([int(w * 0.35), int(h * 0.45), int(w * 0.65), int(h * 0.62)], fill=(255, 235, 170))
        return _add(img, _grain(px, seed, 10))
    raise ValueError(kind)


def _grain(px, seed, amount=6):
    rnd = random.Random(seed)
    w, h = px
    # A small random tile, repeated: cheap and still irregular.
    tw, th = 61, 53
    tile = Image.new("L", (tw, th))
    tile.putdata([128 + rnd.randint(-amount, amount) for _ in range(tw * th)])
    grain = Image.new("L", px)
    for y in range(0, h, th):
        for x in range(0, w, tw):
            grain.paste(tile, (x, y))
    return grain


def jpeg_bytes(img, number, quality=80, grey=False):
    """JPEG data of `img` with the page marker in a COM segment."""
    buf = io.BytesIO()
    (img.convert("L") if grey else img).save(buf, "JPEG", quality=quality)
    data = buf.getvalue()
    text = marker(number).encode("ascii")
    com = b"\xff\xfe" + (len(text) + 2).to_bytes(2, "big") + text
    assert data[:2] == b"\xff\xd8"
    return data[:2] + com + data[2:]


# ---------------------------------------------------------------- PDF pages

class JpegPage(object):
    """A scanned-like page: one full-page JPEG image and nothing else."""

    def __init__(self, number, kind="text", colour=WHITE, size=A4, dpi=40, grey=False, seed=None,
                 data=None):
        self.number = number
        self.size = size
        self.grey = grey
        px = (int(round(size[0] / 72.0 * dpi)), int(round(size[1] / 72.0 * dpi)))
        self.px = px
        if data is None:
            img = picture(kind, px, colour, seed if seed is not None else number)
            data = jpeg_bytes(img, number, grey=grey)
        self.data = data


class VectorPage(object):
    """A page drawn with PDF operators: text, filled areas, an RGB image."""

    def __init__(self, number, kind="text", colour=WHITE, size=A4, rotate=0):
        self.number = number
        self.kind = kind
        self.colour = colour
        self.size = size
        self.rotate = rotate  # the page's /Rotate


class BrokenJpegPage(JpegPage):
    """A scanned page whose image data is not a JPEG at all."""

    def __init__(self, number, size=A4):
        JpegPage.__init__(self, number, size=size, data=b"\xff\xd8\xff\xfe\x00\x0bPAGE %04d" % number
                          + b"\x00garbage" * 50)


def _rgb(c):
    return "%.3f %.3f %.3f" % (c[0] / 255.0, c[1] / 255.0, c[2] / 255.0)


def _vector_content(page):
    w, h = page.size
    out = []
    k = page.kind
    if k in ("sheet", "tinted"):
        fill = TINTED if k == "tinted" else page.colour
        out.append("%s rg 0 0 %.1f %.1f re f" % (_rgb(fill), w, h))
    if k in ("text", "logo", "tinted"):
        out.append("0.15 0.15 0.15 rg")
        y = h * 0.8
        while y > h * 0.1:
            out.append("%.1f %.1f %.1f 3 re f" % (w * 0.12, y, w * 0.66))
            y -= 14
    if k == "logo":
        out.append("0.85 0.1 0.15 rg %.1f %.1f 90 60 re f" % (w * 0.65, h * 0.85))
        out.append("0.1 0.6 0.25 rg %.1f %.1f 120 50 re f" % (w * 0.4, h * 0.45))
        out.append("0.1 0.2 0.8 RG 3 w %.1f %.1f 150 80 re S" % (w * 0.5, h * 0.2))
    out.append("0 0 0 rg BT /F1 18 Tf %.1f %.1f Td (%s) Tj ET" % (w * 0.12, h * 0.9, marker(page.number)))
    return "\n".join(out).encode("ascii")


class _Writer(object):
    def __init__(self):
        self.objects = []

    def reserve(self):
        self.objects.append(None)
        return len(self.objects)

    def set(self, num, body):
        self.objects[num - 1] = body

    def add(self, body):
        self.objects.append(body)
        return len(self.objects)

    def stream(self, entries, data):
        return self.add(b"<< " + entries + b" /Length %d >>\nstream\n" % len(data) + data + b"\nendstream")

    def output(self, root):
        out = io.BytesIO()
        out.write(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
        offsets = []
        for i, body in enumerate(self.objects):
            offsets.append(out.tell())
            out.write(b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n")
        xref = out.tell()
        out.write(b"xref\n0 %d\n0000000000 65535 f \n" % (len(self.objects) + 1))
        for off in offsets:
            out.write(b"%010d 00000 n \n" % off)
        out.write(b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n"
                  % (len(self.objects) + 1, root, xref))
        return out.getvalue()


def build_pdf(pages):
    """The bytes of a PDF holding `pages` in order."""
    wr = _Writer()
    catalog = wr.reserve()
    tree = wr.reserve()
    font = wr.add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    kids = []
    for p in pages:
        w, h = p.size
        if isinstance(p, JpegPage):
            cs = getattr(p, "colour_space", None) or (b"/DeviceGray" if p.grey else b"/DeviceRGB")
            img = wr.stream(b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace %s "
                            b"/BitsPerComponent 8 /Filter /DCTDecode" % (p.px[0], p.px[1], cs), p.data)
            draw = b"q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q" % (w, h)
            # content_size: the drawing padded with spaces to that many bytes
            content = wr.stream(b"", draw.ljust(getattr(p, "content_size", 0), b" "))
            res = b"<< /XObject << /Im0 %d 0 R >> >>" % img
        elif p.kind in ("photo", "sunset"):
            # A photograph placed as a plain (Flate) RGB image plus its
            # caption: the splitter has to render this page.
            pw, ph = 150, 210
            pic = picture(p.kind, (pw, ph), seed=p.number).tobytes()
            img = wr.stream(b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB "
                            b"/BitsPerComponent 8 /Filter /FlateDecode" % (pw, ph), zlib.compress(pic))
            text = "q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q\n0 0 0 rg BT /F1 10 Tf 20 20 Td (%s) Tj ET" % (
                w, h, marker(p.number))
            content = wr.stream(b"", text.encode("ascii"))
            res = b"<< /XObject << /Im0 %d 0 R >> /Font << /F1 %d 0 R >> >>" % (img, font)
        else:
            content = wr.stream(b"", _vector_content(p))
            res = b"<< /Font << /F1 %d 0 R >> >>" % font
        turn = b" /Rotate %d" % p.rotate if getattr(p, "rotate", 0) else b""
        kids.append(wr.add(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %.2f %.2f] /Resources %s "
                           b"/Contents %d 0 R%s >>" % (tree, w, h, res, content, turn)))
    wr.set(tree, b"<< /Type /Pages /Kids [%s] /Count %d >>"
           % (b" ".join(b"%d 0 R" % k for k in kids), len(kids)))
    wr.set(catalog, b"<< /Type /Catalog /Pages %d 0 R >>" % tree)
    return wr.output(catalog)


def write_pdf(path, pages):
    data = build_pdf(pages)
    with open(str(path), "wb") as f:
        f.write(data)
    return path


# ---------------------------------------------------------------- reading

def page_ids(path):
    """The page numbers found on each page of the PDF at `path`, in order."""
    from pypdf import PdfReader
    reader = PdfReader(str(path))
    ids = []
    for page in reader.pages:
        blobs = []
        contents = page.get_contents()
        if contents is not None:
            blobs.append(contents.get_data())
        res = page.get("/Resources")
        res = res.get_object() if res is not None else {}
        xobjects = res.get("/XObject")
        if xobjects is not None:
            xobjects = xobjects.get_object()
            for name in xobjects:
                obj = xobjects[name].get_object()
                raw = getattr(obj, "_data", None)
                blobs.append(raw if raw is not None else obj.get_data())
        found = set()
        for blob in blobs:
            found.update(int(m) for m in MARK.findall(blob))
        ids.append(found.pop() if len(found) == 1 else tuple(sorted(found)))
    return ids
