"""Sample scan batches for the demo: small PDF files whose documents are divided by coloured sheets.

    python -m orvane_tools.samples FOLDER

Each page is vector drawing (no fonts to embed beyond the standard Helvetica): document pages carry a
large label such as "Letter 2 - page 1" and a few grey text lines; separator sheets fill the page
with one saturated paper colour. One batch also holds the pages that must not count as separators: a
page with a small colour logo and a faintly tinted page, and a duplex-scanned sheet (two coloured
pages back to back) that must split once.
"""
import os
import sys

from .i18n import _, ngettext

A4 = (595, 842)

# Paper colours of separator sheets, RGB 0..1.
YELLOW = (0.98, 0.92, 0.45)
PINK = (0.97, 0.62, 0.78)
BLUE = (0.55, 0.75, 0.97)
GREEN = (0.60, 0.90, 0.60)

# What each sample file holds, page by page: ("doc", label) or ("sep", colour) or special pages.
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


def _rgb(colour):
    return "{:.3f} {:.3f} {:.3f}".format(*colour)


def _text(x, y, size, text):
    safe = text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")
    return "BT /F1 {} Tf {} {} Td ({}) Tj ET".format(size, x, y, safe)


def page_content(kind, value):
    width, height = A4
    if kind == "sep":
        return "{} rg 0 0 {} {} re f".format(_rgb(value), width, height)
    ops = []
    if kind == "tinted":
        ops.append("0.985 0.975 0.94 rg 0 0 {} {} re f".format(width, height))
    if kind == "logo":
        ops.append("0.85 0.1 0.1 rg 460 740 80 50 re f 0.1 0.3 0.8 rg 470 750 60 30 re f")
    ops.append("0 0 0 rg " + _text(60, 760, 28, value))
    ops.append("0.4 0.4 0.4 rg")
    for line in range(18):
        ops.append(_text(60, 700 - line * 30, 12, "Sample text line {} of a scanned document.".format(line + 1)))
    return "\n".join(ops)


def build_pdf(pages):
    """The bytes of a PDF file with one page per (kind, value) pair."""
    objects = []  # index i holds object number i + 1

    def add(body):
        objects.append(body)
        return len(objects)

    catalog = add(None)
    pages_obj = add(None)
    font = add(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    kids = []
    for kind, value in pages:
        stream = page_content(kind, value).encode("latin-1")
        content = add(b"<< /Length " + str(len(stream)).encode() + b" >>\nstream\n" + stream + b"\nendstream")
        kids.append(add("<< /Type /Page /Parent {} 0 R /MediaBox [0 0 {} {}] /Contents {} 0 R "
                        "/Resources << /Font << /F1 {} 0 R >> >> >>".format(
                            pages_obj, A4[0], A4[1], content, font).encode()))
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
    """The documents a correct split gives: lists of page labels, separators left out."""
    docs, current = [], []
    for kind, value in pages:
        if kind == "sep":
            if current:
                docs.append(current)
            current = []
        else:
            current.append(value)
    if current:
        docs.append(current)
    return docs


def write_batches(folder):
    """Write the sample batch under ``folder``; returns the relative file names."""
    for name, pages in sorted(BATCHES.items()):
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as fh:
            fh.write(build_pdf(pages))
    return sorted(BATCHES)


def write_listing(folder):
    """Write the sample batches under ``folder`` and list them; the exit status."""
    try:
        names = write_batches(folder)
    except OSError as exc:
        sys.stderr.write(_("orvane: the samples were not written: {}\n").format(exc))
        return 1
    for name in names:
        docs = expected_documents(BATCHES[name])
        print(_("{name}: {pages}, {documents} expected").format(
            name=name, pages=ngettext("{} page", "{} pages", len(BATCHES[name])).format(len(BATCHES[name])),
            documents=ngettext("{} document", "{} documents", len(docs)).format(len(docs))))
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
    return write_listing(parser.parse_args(argv).folder)


if __name__ == "__main__":
    sys.exit(main())
