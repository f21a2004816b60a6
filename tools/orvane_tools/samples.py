"""Sample scan batches for the demo: small PDF files whose documents are divided by coloured sheets.

    python -m orvane_tools.samples FOLDER [--codes]

Each page is vector drawing (no fonts to embed beyond the standard Helvetica): document pages carry a
large label such as "Letter 2 - page 1" and a few grey text lines; separator sheets fill the page
with one saturated paper colour. One batch also holds the pages that must not count as separators: a
page with a small colour logo and a faintly tinted page, and a duplex-scanned sheet (two coloured
pages back to back) that must split once.

With ``--codes`` one more batch holds code sheets, split with ``--sheets colour,code``: a patch-T
sheet (Code 39 reading PATCHT), a QR sheet reading PATCHT:Order-2026-0042 (the next document's
{code}) beside a coloured sheet, and an invoice whose payment QR code is content. The codes are
drawn by `barcodes` and put on the page as images.

With ``--duplex`` one more batch is scanned two-sided, split with ``--blank-pages drop``: each
one-sided page brings its blank back (white, cream or grey-white paper, one with the other side's
print faintly showing through), and the yellow separator sheet is scanned front and back.

With ``--text`` one more batch holds scans of Chinese, English and mixed text between coloured
sheets (`samples_text`), to split with ``--ocr chi_sim+eng``: its documents can then be searched.
"""
import os
import sys
import zlib

from .i18n import _, ngettext

A4 = (595, 842)

# Paper colours of separator sheets, RGB 0..1.
YELLOW = (0.98, 0.92, 0.45)
PINK = (0.97, 0.62, 0.78)
BLUE = (0.55, 0.75, 0.97)
GREEN = (0.60, 0.90, 0.60)

# What each sample file holds, page by page: ("doc", label) or ("sep", colour) or special pages; a
# code sheet is ("code", (barcode kind, text)), a page with a payment QR code ("paid", (label, text)).
BATCHES = {
    "batch-01.pdf": [
        ("doc", "Invoice 1 - page 1"), ("doc", "Invoice 1 - page 2"),
        ("sep", YELLOW),
        ("doc", "Invoice 2 - page 1"),
        ("sep", PINK),
        ("doc", "Invoice 3 - page 1"), ("doc", "Invoice 3 - page 2"), ("doc", "Invoice 3 - page 3"),
    ],
    "batch-02.pdf": [
        ("sep", BLUE),
        ("doc", "Letter 1 - page 1"), ("logo", "Letter 1 - page 2 (colour logo)"),
        ("sep", GREEN), ("sep", GREEN),
        ("tinted", "Letter 2 - page 1 (recycled paper)"),
        ("doc", "Letter 2 - page 2"),
        ("sep", YELLOW),
    ],
    "contracts/batch-03.pdf": [
        ("doc", "Contract 1 - page 1"),
        ("sep", PINK),
        ("doc", "Contract 2 - page 1"),
    ],
}


# Sheets that need the code kind: split with --sheets colour,code.
CODE_BATCHES = {
    "codes/batch-04.pdf": [
        ("doc", "Order 1 - page 1"), ("doc", "Order 1 - page 2"),
        ("code", ("code39", "PATCHT")),
        ("doc", "Order 2 - page 1"),
        ("code", ("qr", "PATCHT:Order-2026-0042")),
        ("doc", "Order 3 - page 1"), ("paid", ("Order 3 - page 2 (payment QR)", "PAY EUR 12.50 INVOICE 2026-0042")),
        ("sep", BLUE),
        ("doc", "Order 4 - page 1"),
    ],
}
CODE_SHEETS = "colour,code"

# Scanned two-sided: blank backs ("blank", paper colour or None for white; "bleed": the other side's
# print faintly through the paper), to split with --blank-pages drop.
CREAM = (0.99, 0.975, 0.935)
GREY_WHITE = (0.95, 0.95, 0.94)
DUPLEX_BATCHES = {
    "duplex/batch-05.pdf": [
        ("doc", "Report 1 - page 1"), ("blank", None),
        ("doc", "Report 1 - page 2"), ("blank", CREAM),
        ("sep", YELLOW), ("sep", YELLOW),
        ("doc", "Report 2 - page 1"), ("bleed", "Report 2 - page 1"),
        ("doc", "Report 2 - page 2"), ("blank", GREY_WHITE),
    ],
}
DUPLEX_OPTIONS = "--blank-pages drop"

# Scans of Chinese, English and mixed text (samples_text), to split with text recognition.
TEXT_BATCHES = {
    "text/batch-06.pdf": [
        ("text", "contract"), ("sep", YELLOW), ("text", "letter"), ("sep", PINK), ("text", "notice"),
    ],
}
TEXT_OPTIONS = "--ocr chi_sim+eng"
BLANK_KINDS = ("blank", "bleed")
SEPARATORS = ("sep", "code")
# Where a code is put on its page, in points: (left, bottom, width); its height follows its image.
CODE_PLACES = {"code": (147, 420, 300), "paid": (470, 60, 80)}


def _rgb(colour):
    return "{:.3f} {:.3f} {:.3f}".format(*colour)


def _text(x, y, size, text):
    safe = text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")
    return "BT /F1 {} Tf {} {} Td ({}) Tj ET".format(size, x, y, safe)


def page_content(kind, value):
    width, height = A4
    if kind == "sep" or (kind == "blank" and value):
        return "{} rg 0 0 {} {} re f".format(_rgb(value), width, height)
    if kind == "blank":
        return ""
    if kind == "bleed":
        # The front's label and lines, mirrored and about 12 levels darker than the paper.
        mirrored = ["BT /F1 {} Tf -1 0 0 1 {} {} Tm ({}) Tj ET".format(size, width - 60, y, text)
                    for size, y, text in [(28, 760, value)] + [(12, 700 - n * 30, "Sample text line") for n in range(18)]]
        return "0.953 0.953 0.953 rg\n" + "\n".join(mirrored)
    ops = []
    if kind == "tinted":
        ops.append("0.985 0.975 0.94 rg 0 0 {} {} re f".format(width, height))
    if kind == "code":
        return "0 0 0 rg " + _text(60, 760, 28, "Separator sheet") + "\n" + _text(147, 380, 16, value[1]) + \
            "\n" + _image_ops(kind, value)
    if kind == "paid":
        ops.append(_image_ops(kind, value))
        value = value[0]
    if kind == "logo":
        ops.append("0.85 0.1 0.1 rg 460 740 80 50 re f 0.1 0.3 0.8 rg 470 750 60 30 re f")
    ops.append("0 0 0 rg " + _text(60, 760, 28, value))
    ops.append("0.4 0.4 0.4 rg")
    for line in range(18):
        ops.append(_text(60, 700 - line * 30, 12, "Sample text line {} of a scanned document.".format(line + 1)))
    return "\n".join(ops)


def _code_image(kind, value):
    """The code of a code sheet or a paid invoice, as drawn by `barcodes` (needs Pillow and segno)."""
    from . import barcodes
    return barcodes.make(*value) if kind == "code" else barcodes.qr(value[1], module=2)


def _image_ops(kind, value):
    left, bottom, width = CODE_PLACES[kind]
    image = _code_image(kind, value)
    height = width * image.height / image.width
    return "q {} 0 0 {:.2f} {} {} cm /Code Do Q".format(width, height, left, bottom)


def _image_object(kind, value):
    """A page's code as an image XObject: 8-bit grey, Flate-compressed (no JPEG: crisp bars)."""
    image = _code_image(kind, value)
    data = zlib.compress(image.tobytes())
    return ("<< /Type /XObject /Subtype /Image /Width {} /Height {} /ColorSpace /DeviceGray "
            "/BitsPerComponent 8 /Filter /FlateDecode /Length {} >>\nstream\n".format(
                image.width, image.height, len(data))).encode() + data + b"\nendstream"


def build_pdf(pages, scanned=False):
    """The bytes of a PDF file with one page per (kind, value) pair; ``scanned``: each page one
    JPEG image, as a scanner writes it (the text batch, made by `samples_text`)."""
    objects = []  # index i holds object number i + 1

    def add(body):
        objects.append(body)
        return len(objects)

    def page(stream, resources):
        content = add(b"<< /Length " + str(len(stream)).encode() + b" >>\nstream\n" + stream + b"\nendstream")
        kids.append(add("<< /Type /Page /Parent {} 0 R /MediaBox [0 0 {} {}] /Contents {} 0 R "
                        "/Resources << {} >> >>".format(pages_obj, A4[0], A4[1], content, resources).encode()))

    catalog = add(None)
    pages_obj = add(None)
    kids = []
    if scanned:
        from . import samples_text
        for image in samples_text.page_images(pages):
            page("q {} 0 0 {} 0 0 cm /Scan Do Q".format(*A4).encode(),
                 "/XObject << /Scan {} 0 R >>".format(add(samples_text.image_object(*image))))
    else:
        font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    for kind, value in pages if not scanned else ():
        images = " /XObject << /Code {} 0 R >>".format(add(_image_object(kind, value))) if kind in CODE_PLACES else ""
        page(page_content(kind, value).encode("latin-1"), "/Font << /F1 {} 0 R >>{}".format(font, images))
    objects[catalog - 1] = "<< /Type /Catalog /Pages {} 0 R >>".format(pages_obj).encode()
    objects[pages_obj - 1] = "<< /Type /Pages /Kids [{}] /Count {} >>".format(
        " ".join("{} 0 R".format(k) for k in kids), len(kids)).encode()

    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += "{} 0 obj\n".format(number).encode() + body + b"\nendobj\n"
    xref = len(out)
    out += "xref\n0 {}\n".format(len(objects) + 1).encode()
    out += b"0000000000 65535 f \n"
    for offset in offsets:
        out += "{:010d} 00000 n \n".format(offset).encode()
    out += "trailer\n<< /Size {} /Root {} 0 R >>\nstartxref\n{}\n%%EOF\n".format(
        len(objects) + 1, catalog, xref).encode()
    return bytes(out)


def expected_documents(pages):
    """The documents a correct split gives: lists of page labels, separators (and blank backs, which
    the duplex batch's split leaves out) left out."""
    docs, current = [], []
    for kind, value in pages:
        if kind in BLANK_KINDS:
            continue
        if kind in SEPARATORS:
            if current:
                docs.append(current)
            current = []
        else:
            current.append(value[0] if kind == "paid" else value)
    if current:
        docs.append(current)
    return docs


def write_batches(folder, codes=False, duplex=False, text=False):
    """Write the sample batches under ``folder`` (``codes``: the batch with code sheets too;
    ``duplex``: the one scanned two-sided; ``text``: the scans of Chinese and English text);
    returns the relative file names."""
    batches = dict(BATCHES, **dict(CODE_BATCHES if codes else {}, **(DUPLEX_BATCHES if duplex else {})))
    batches.update(TEXT_BATCHES if text else {})
    for name, pages in sorted(batches.items()):
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as fh:
            fh.write(build_pdf(pages, scanned=name in TEXT_BATCHES))
    return sorted(batches)


def write_listing(folder, codes=False, duplex=False, text=False):
    """Write the sample batches under ``folder`` and list them; the exit status."""
    try:
        names = write_batches(folder, codes, duplex, text)
    except OSError as exc:
        sys.stderr.write(_("orvane: the samples were not written: {}\n").format(exc))
        return 1
    except ImportError as exc:
        sys.stderr.write(_("orvane: the code sheets and scans need Pillow and segno: pip install 'orvane[gui]' "
                           "(missing: {})\n").format(exc.name))
        return 1
    for name in names:
        pages = dict(BATCHES, **dict(CODE_BATCHES, **dict(DUPLEX_BATCHES, **TEXT_BATCHES)))[name]
        docs = expected_documents(pages)
        line = _("{name}: {pages}, {documents} expected").format(
            name=name, pages=ngettext("{} page", "{} pages", len(pages)).format(len(pages)),
            documents=ngettext("{} document", "{} documents", len(docs)).format(len(docs)))
        if name in CODE_BATCHES:
            line = _("{} (split with --sheets {})").format(line, CODE_SHEETS)
        elif name in DUPLEX_BATCHES or name in TEXT_BATCHES:
            line = _("{} (split with {})").format(line, DUPLEX_OPTIONS if name in DUPLEX_BATCHES else TEXT_OPTIONS)
        print(line)
    return 0


def main(argv=None):
    import argparse

    from . import helptexts, i18n
    i18n.setup()
    i18n.translate_argparse()
    parser = argparse.ArgumentParser(
        prog="python -m orvane_tools.samples", formatter_class=argparse.RawDescriptionHelpFormatter,
        description=_("Write a few sample PDF batches, with coloured separator sheets, under FOLDER\n"
                      "(also: orvane samples FOLDER)."), epilog=_(helptexts.EXIT_STATUSES_PLAIN))
    parser.add_argument("folder", metavar="FOLDER", help=_("folder to write the batches into (made if missing)"))
    add_batch_options(parser)
    args = parser.parse_args(argv)
    return write_listing(args.folder, args.codes, args.duplex, args.text)


def add_batch_options(parser):
    parser.add_argument("--codes", action="store_true",
                        help=_("also a batch with code sheets (patch-T and QR), to split with --sheets {}").format(
                            CODE_SHEETS))
    parser.add_argument("--duplex", action="store_true",
                        help=_("also a batch scanned two-sided, its pages' blank backs included, to split with {}")
                        .format(DUPLEX_OPTIONS))
    parser.add_argument("--text", action="store_true",
                        help=_("also a batch of scanned Chinese, English and mixed text, to split with {} "
                               "(the documents can then be searched)").format(TEXT_OPTIONS))


if __name__ == "__main__":
    sys.exit(main())
