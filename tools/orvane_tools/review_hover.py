"""What the review tells about the document or page under the pointer, and the small window it says it
in: a label may be shortened to fit its pages, so hovering gives the full name, the page span and the
verdict; and what a separator page was (a coloured, code, black or blank sheet, or a sheet's back),
which the label under its thumbnail also says where it fits."""
import re
import tkinter as tk

from .events import Sheet
from .splitter_line import page_listing
from .i18n import N_, _, ngettext

# The canvas tags that name what an item shows: a page ("at{file}_{page}") and a document
# ("doc{file}_{document}"), both counted from 0 among the review's files and a file's documents.
PAGE_TAG = "at{}_{}"
DOC_TAG = "doc{}_{}"
_TAG = re.compile(r"^(at|doc)(\d+)_(\d+)$")

TIP_BACKGROUND = "#ffffe1"
TIP_OFFSET = 14                # from the pointer, right and down
# A separator page by its kind: under its thumbnail, and in the hover.
UNDER = {"colour": N_("{} separator"), "black": N_("{} black"), "blank": N_("{} blank"), "back": N_("{} back")}
TOLD = {"code": N_("page {}: code sheet"), "black": N_("page {}: black sheet"), "blank": N_("page {}: blank sheet"),
        "back": N_("page {}: back of the sheet before it")}
CODE_PREFIX = "PATCHT:"


def hovered(tags):
    """(file index, document number or None, page or None) that an item's tags name, or None."""
    found = {}
    for tag in tags:
        m = _TAG.match(tag)
        if m:
            found["file"] = int(m.group(2))
            found[m.group(1)] = int(m.group(3))
    if not found:
        return None
    return found["file"], found.get("doc"), found.get("at")


def sheet(f, page):
    """The Sheet of a separator page (its kind, a code's text), None for a document's page."""
    if not (page - 1 < len(f.verdicts) and f.verdicts[page - 1] == "separator"):
        return None
    return (f.sheets or {}).get(page) or Sheet("colour", None)


def code_words(code):
    """What a code sheet names: the text after "PATCHT:" (the documents' {code}), else its text."""
    return code[len(CODE_PREFIX):] if code.startswith(CODE_PREFIX) and code != CODE_PREFIX else code


def page_label(f, page, fit):
    """The label under a page's thumbnail: its number; under a separator its kind ("12 black") or a
    code sheet's text ("12 Invoice-7", cut short with "…" by ``fit``) where that fits."""
    found = sheet(f, page)
    if found is None:
        return str(page)
    if found.kind == "code" and found.code:
        fitted = fit("{} {}".format(page, code_words(found.code)))
        return fitted if len(fitted) > len(str(page)) + 2 else str(page)
    worded = _(UNDER.get(found.kind, UNDER["colour"])).format(page)
    return worded if fit(worded) == worded else str(page)


def verdict(f, page):
    """What a page was, in a line or two (a code sheet's text on its own line)."""
    found = sheet(f, page)
    if found is None and page in (f.blank or ()):
        return (_("page {}: blank, left out (right-click to put it back)") if page in f.dropped else
                _("page {}: blank, kept")).format(page)
    if found is None or found.kind not in TOLD:
        separator = found is not None
        if page in f.unsure:
            return (_("page {}: separator sheet, to check") if separator else
                    _("page {}: document page, to check")).format(page)
        return (_("page {}: separator sheet") if separator else _("page {}: document page")).format(page)
    words = _(TOLD[found.kind]).format(page)
    words = _("{}, to check").format(words) if page in f.unsure else words
    return words + ("\n" + _("code: {}").format(found.code) if found.code else "")


def hover_text(f, doc, page):
    """The lines shown for document ``doc`` of source file ``f`` (None: outside any document), and
    for its ``page`` (None: the document as a whole)."""
    if doc is None:
        lines = [f.name]
    else:
        d = f.documents[doc]
        span = _("page {} of {}").format(d.first, f.name) if d.first == d.last else \
            _("pages {}–{} of {}").format(d.first, d.last, f.name) if d.pages is None else \
            _("pages {} of {}").format(page_listing(d.pages), f.name)
        lines = [d.name, span]
        if page is None:
            checks = sum(1 for p in f.unsure if d.first <= p <= d.last)
            lines.append(ngettext("{} page to check", "{} pages to check", checks).format(checks) if checks
                         else _("no page to check"))
    if page is not None:
        lines.append(verdict(f, page))
    return "\n".join(lines)


class Tip(object):
    """A borderless window beside the pointer with a text; kept inside the screen."""

    def __init__(self, master):
        self.master = master
        self.window = self.label = None
        self.text = None

    def show(self, text, x_root, y_root):
        if self.window is None:
            self.window = tk.Toplevel(self.master)
            self.window.wm_overrideredirect(True)
            self.label = tk.Label(self.window, justify="left", background=TIP_BACKGROUND, relief="solid",
                                  borderwidth=1, padx=4, pady=2)
            self.label.pack()
        if text != self.text:
            self.label.configure(text=text)
            self.text = text
        self.window.update_idletasks()
        w, h = self.window.winfo_reqwidth(), self.window.winfo_reqheight()
        x = min(x_root + TIP_OFFSET, self.window.winfo_screenwidth() - w)
        y = y_root + TIP_OFFSET
        if y + h > self.window.winfo_screenheight():
            y = y_root - TIP_OFFSET - h
        self.window.wm_geometry("+{}+{}".format(max(0, x), max(0, y)))

    def hide(self):
        if self.window is not None:
            self.window.destroy()
        self.window = self.label = self.text = None
