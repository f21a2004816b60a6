"""What the review tells about the document or page under the pointer, and the small window it says it
in: a label may be shortened to fit its pages, so hovering gives the full name, the page span and the
verdict."""
import re
import tkinter as tk

from .i18n import _, ngettext

# The canvas tags that name what an item shows: a page ("at{file}_{page}") and a document
# ("doc{file}_{document}"), both counted from 0 among the review's files and a file's documents.
PAGE_TAG = "at{}_{}"
DOC_TAG = "doc{}_{}"
_TAG = re.compile(r"^(at|doc)(\d+)_(\d+)$")

TIP_BACKGROUND = "#ffffe1"
TIP_OFFSET = 14                # from the pointer, right and down


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


def verdict(f, page):
    separator = page - 1 < len(f.verdicts) and f.verdicts[page - 1] == "separator"
    if page in f.unsure:
        return _("page {}: separator sheet, to check") if separator else _("page {}: document page, to check")
    return _("page {}: separator sheet") if separator else _("page {}: document page")


def hover_text(f, doc, page):
    """The lines shown for document ``doc`` of source file ``f`` (None: outside any document), and
    for its ``page`` (None: the document as a whole)."""
    if doc is None:
        lines = [f.name]
    else:
        d = f.documents[doc]
        span = _("page {} of {}").format(d.first, f.name) if d.first == d.last else \
            _("pages {}–{} of {}").format(d.first, d.last, f.name)
        lines = [d.name, span]
        if page is None:
            checks = sum(1 for p in f.unsure if d.first <= p <= d.last)
            lines.append(ngettext("{} page to check", "{} pages to check", checks).format(checks) if checks
                         else _("no page to check"))
    if page is not None:
        lines.append(verdict(f, page).format(page))
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
