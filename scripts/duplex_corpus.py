"""Batches scanned duplex, as offices scan them (200 dpi A4, JPEG): every sheet gives a front and a
back, and a one-sided page brings its blank back into its document. The backs lie on white, cream,
aged and lightly tinted paper, with bleed-through, punched holes, an edge shadow, dark edge strips,
dust and JPEG quality 60; the fronts hold what must never be taken for blank. Coloured separator
sheets are scanned duplex as well (both sides coloured).

A page is a sheetscans recipe whose `want` is content, blank or colour; CORPUS lists the sheets of
the corpus, each page named. scripts/blank_pages_table.py prints the verdicts on it.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "splitter"))

import sheetscans  # noqa: E402
from sheetscans import AGED, BLUETINT, CREAM, DARK_EDGE, GREYWHITE, PINKTINT, WHITE, page  # noqa: E402

import pdfgen  # noqa: E402

SEPARATOR = ("colour sheet", page("colour", pdfgen.YELLOW), None)
SEPARATOR_BACK = ("colour sheet's back", page("colour", pdfgen.YELLOW, q=70), None)


def sheet(front, back, advisory=None):
    """A sheet as two named pages: (name, recipe, advisory reason or None) each."""
    return [front + (advisory,), back + (advisory,)]


def text(paper=WHITE):
    return page("content", paper, [("text",)], q=75)


# The batches, one paper each as an office's batch is: (file name, --sheets, pages). The colour rule
# takes aged and tinted paper for coloured sheets, so those batches are separated by patch-T sheets
# (here none: each is one document). The white one holds three
# documents between coloured sheets (each scanned on both sides), then a sheet whose both sides are
# blank, alone between two more coloured sheets, then one last document.
CORPUS = [
    ("white.pdf", "colour",
     sheet(("text", text()), ("blank back, white", page("blank"))) +
     sheet(("blue signature", page("content", WHITE, [("signature",)])),
           ("blank back, JPEG 60", page("blank", WHITE, q=60))) +
     [SEPARATOR, SEPARATOR_BACK] +
     sheet(("text", text()), ("blank back, bleed-through 15, JPEG 60", page("blank", WHITE, [("bleed", 15)], q=60))) +
     sheet(("light grey stamp", page("content", WHITE, [("stamp",)])),
           ("blank back, punched holes", page("blank", WHITE, [("holes",)]))) +
     sheet(("pencil line", page("content", WHITE, [("pencil",)], q=75)),
           ("blank back, edge shadow", page("blank", WHITE, [("shadow", 12)], q=70))) +
     sheet(("text", text()), ("text on the back", text())) +
     [SEPARATOR, SEPARATOR_BACK] +
     sheet(("page number alone", page("content", WHITE, [("page number",)])),
           ("blank back, dust", page("blank", WHITE, [("dust",)]))) +
     sheet(("sky photograph", page("content", WHITE, [("photo", (30, 60, 180, 180), 0.8)])),
           ("blank back, dark edge strips", page("blank", WHITE, edges=[("left", DARK_EDGE), ("top", DARK_EDGE)]))) +
     [SEPARATOR, SEPARATOR_BACK] +
     sheet(("an empty sheet's front", page("blank", WHITE, q=60)),
           ("its back, holes, bleed, edge, JPEG 60", page("blank", WHITE, [("holes",), ("bleed", 10), ("dust",)], q=60,
                                                           edges=[("left", DARK_EDGE)]))) +
     [SEPARATOR, SEPARATOR_BACK] +
     sheet(("text", text()), ("blank back, white", page("blank")))),
    ("cream.pdf", "code",
     sheet(("blue signature", page("content", CREAM, [("signature",)])),
           ("blank back, cream, JPEG 60", page("blank", CREAM, q=60))) +
     sheet(("text", text(CREAM)), ("blank back, cream, bleed-through 12", page("blank", CREAM, [("bleed", 12)]))) +
     sheet(("handwritten line, punched holes", page("content", CREAM, [("holes",), ("handwriting",)])),
           ("blank back, cream, dark edge strips", page("blank", CREAM, edges=[("left", DARK_EDGE)])))),
    ("aged.pdf", "code",
     sheet(("page number alone", page("content", AGED, [("page number",)])),
           ("blank back, aged with foxing", page("blank", AGED, [("foxing",)]))) +
     sheet(("pencil line on aged paper", page("content", AGED, [("pencil",)])),
           ("blank back, aged, holes, bleed, edge, JPEG 60",
            page("blank", AGED, [("holes",), ("bleed", 10), ("dust",)], q=60, edges=[("left", DARK_EDGE)])))),
    ("tinted.pdf", "code",
     sheet(("light grey stamp", page("content", GREYWHITE, [("stamp",)])),
           ("blank back, grey-white, punched holes", page("blank", GREYWHITE, [("holes",)]))) +
     sheet(("text", text(BLUETINT)), ("blank back, blue tint, edge shadow", page("blank", BLUETINT, [("shadow", 12)], q=70))) +
     sheet(("text", text(PINKTINT)), ("blank back, pink tint, dust", page("blank", PINKTINT, [("dust",)])))),
]


def write(path, pages):
    """Writes the pages as one scanned PDF file; returns what each page is."""
    return sheetscans.pdf(path, [recipe for _, recipe, _ in pages])

