"""Barcodes drawn into Pillow images, for the sample batches and the test corpus.

QR codes come from `segno`; Code 39 and Code 128 are drawn here from their tables, since all the
samples need is black bars at exact module widths. Every function returns a greyscale image ("L"),
ink 0 on paper 255, quiet zone included; `stamp` prints one onto a page in ink of any colour, so
the page's own paper (cream, aged, tinted) shows between the bars.
"""
from PIL import Image

# Code 39: each character is five bars and four spaces, three of the nine wide ("w").
CODE39 = {
    "0": "nnnwwnwnn", "1": "wnnwnnnnw", "2": "nnwwnnnnw", "3": "wnwwnnnnn", "4": "nnnwwnnnw",
    "5": "wnnwwnnnn", "6": "nnwwwnnnn", "7": "nnnwnnwnw", "8": "wnnwnnwnn", "9": "nnwwnnwnn",
    "A": "wnnnnwnnw", "B": "nnwnnwnnw", "C": "wnwnnwnnn", "D": "nnnnwwnnw", "E": "wnnnwwnnn",
    "F": "nnwnwwnnn", "G": "nnnnnwwnw", "H": "wnnnnwwnn", "I": "nnwnnwwnn", "J": "nnnnwwwnn",
    "K": "wnnnnnnww", "L": "nnwnnnnww", "M": "wnwnnnnwn", "N": "nnnnwnnww", "O": "wnnnwnnwn",
    "P": "nnwnwnnwn", "Q": "nnnnnnwww", "R": "wnnnnnwwn", "S": "nnwnnnwwn", "T": "nnnnwnwwn",
    "U": "wwnnnnnnw", "V": "nwwnnnnnw", "W": "wwwnnnnnn", "X": "nwnnwnnnw", "Y": "wwnnwnnnn",
    "Z": "nwwnwnnnn", "-": "nwnnnnwnw", ".": "wwnnnnwnn", " ": "nwwnnnwnn", "$": "nwnwnwnnn",
    "/": "nwnwnnnwn", "+": "nwnnnwnwn", "%": "nnnwnwnwn", "*": "nwnnwnwnn",
}

# Code 128: the widths (bar, space, bar, ...) of symbol values 0..106; 104 starts code set B,
# 106 is the stop pattern.
CODE128 = (
    "212222 222122 222221 121223 121322 131222 122213 122312 132212 221213 221312 231212 112232 "
    "122132 122231 113222 123122 123221 223211 221132 221231 213212 223112 312131 311222 321122 "
    "321221 312212 322112 322211 212123 212321 232121 111323 131123 131321 112313 132113 132311 "
    "211313 231113 231311 112133 112331 132131 113123 113321 133121 313121 211331 231131 213113 "
    "213311 213131 311123 311321 331121 312113 312311 332111 314111 221411 431111 111224 111422 "
    "121124 121421 141122 141221 112214 112412 122114 122411 142112 142211 241211 221114 413111 "
    "241112 134111 111242 121142 121241 114212 124112 124211 411212 421112 421211 212141 214121 "
    "412121 111143 111341 131141 114113 114311 411113 411311 113141 114131 311141 411131 211412 "
    "211214 211232 2331112"
).split()
START_B, STOP = 104, 106


def _bars(widths, module, height, quiet):
    """An image of alternating bars and spaces (the first a bar), `widths` in modules."""
    total = (sum(widths) + 2 * quiet) * module
    img = Image.new("L", (total, height), 255)
    x = quiet * module
    for i, w in enumerate(widths):
        if i % 2 == 0:
            img.paste(0, (x, 0, x + w * module, height))
        x += w * module
    return img


def code39(text, module=3, height=120, wide=3):
    """Code 39 of `text` (digits, capitals, space and - . $ / + %), between its * start and stop;
    `module` the narrow element's width in pixels, `wide` the wide-to-narrow ratio."""
    bad = [ch for ch in text if ch not in CODE39 or ch == "*"]
    if bad:
        raise ValueError("Code 39 cannot hold %r" % bad[0])
    widths = []
    for ch in "*" + text + "*":
        widths += [wide if e == "w" else 1 for e in CODE39[ch]] + [1]  # a narrow gap between characters
    return _bars(widths[:-1], module, height, quiet=10)


def code128(text, module=2, height=100):
    """Code 128 (code set B: printable ASCII) of `text`, with its check symbol."""
    values = [START_B]
    for ch in text:
        if not " " <= ch <= "~":
            raise ValueError("Code 128 set B cannot hold %r" % ch)
        values.append(ord(ch) - 32)
    values.append(sum(v * max(i, 1) for i, v in enumerate(values)) % 103)
    values.append(STOP)
    widths = [int(w) for v in values for w in CODE128[v]]
    return _bars(widths, module, height, quiet=10)


def qr(text, module=6, error="m"):
    """A QR code of `text`; text beyond ASCII is written as UTF-8, announced by an ECI header so
    that every reader takes it as UTF-8."""
    import segno  # only the pages with a QR code need it

    plain = all(ord(ch) < 128 for ch in text)
    code = segno.make_qr(text, error=error, encoding="utf-8", eci=not plain)
    rows = [bytes(0 if dark else 255 for dark in row) for row in code.matrix_iter(border=4)]
    img = Image.frombytes("L", (len(rows[0]), len(rows)), b"".join(rows))
    return img.resize((img.width * module, img.height * module), Image.NEAREST)


def make(kind, text, **size):
    """The code of `kind` ("qr", "code39" or "code128")."""
    return {"qr": qr, "code39": code39, "code128": code128}[kind](text, **size)


def stamp(page, code, xy, ink=(20, 20, 22), angle=0):
    """Prints `code` onto the RGB image `page` with its top left corner at `xy`, turned `angle`
    degrees counter-clockwise; only the ink is printed, the page's paper stays."""
    mask = code.point(lambda v: 255 - v)
    if angle:
        mask = mask.rotate(angle, resample=Image.BICUBIC, expand=True)
    page.paste(ink, (int(xy[0]), int(xy[1])), mask)
    return page
