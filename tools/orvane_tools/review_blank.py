"""Blank pages in the review: a page left out of its document stays in its place, greyed and marked
"×"; a blank page that was kept (flagged, or near the bar) is marked "–". The legend explains both,
and the page's context menu (right button, or the menu key or Shift+F10 over the page) puts a
left-out page back."""
import tkinter as tk

from .i18n import _
from .review_hover import hovered

DROPPED_MARK = "#5a5a5a"       # the corner of a page left out, and its veil
BLANK_MARK = "#2f7fd0"         # the corner of a blank page that was kept
CORNER = 20


def _corner(c, x, y, colour, text, tags):
    c.create_polygon(x, y, x + CORNER, y, x, y + CORNER, fill=colour, outline="", tags=tags)
    c.create_text(x + 2, y, text=text, anchor="nw", fill="white", font=("TkDefaultFont", 9, "bold"), tags=tags)


def draw_marks(c, f, page, tx, ty, w, h):
    """The marks of ``page`` of the file ``f`` over its thumbnail at (tx, ty), ``w`` by ``h``."""
    if page in f.dropped:
        c.create_rectangle(tx, ty, tx + w, ty + h, fill=DROPPED_MARK, stipple="gray50", outline=DROPPED_MARK,
                           tags=("mark", "dropped"))
        _corner(c, tx, ty, DROPPED_MARK, "×", ("mark",))
    elif page in f.blank:
        _corner(c, tx, ty, BLANK_MARK, "–", ("mark", "blank"))


def legend_items(s):
    """(draw on a swatch of size ``s``, text) of the legend's blank-page items."""
    return ((lambda c: (c.create_rectangle(0, 0, s, s, fill=DROPPED_MARK, stipple="gray50", outline=""),
                        _corner(c, 0, 0, DROPPED_MARK, "×", ())),
             _("Blank page left out of its document (right-click: Put back)")),
            (lambda c: _corner(c, 0, 0, BLANK_MARK, "–", ()), _("Blank page, kept")))


class PutBackMenu(object):
    """The context menu of a page left out: "Put back" calls ``put_back(file record, page)``."""

    def __init__(self, view, put_back):
        self.view, self.put_back = view, put_back
        self.menu = tk.Menu(view, tearoff=False)
        self.target = None
        self.menu.add_command(label=_("Put back"), command=self._chosen)
        view.canvas.bind("<Button-3>", self.open)
        view.canvas.bind("<Shift-F10>", self.open_hovered)
        view.canvas.bind("<Menu>", self.open_hovered)

    def page_at(self, x, y):
        """(file record, page) of the page left out at canvas point (x, y), or None."""
        c = self.view.canvas
        for item in reversed(c.find_overlapping(x, y, x, y)):
            what = hovered(c.gettags(item))
            if what is not None and what[2] is not None and what[0] < len(self.view.files):
                f = self.view.files[what[0]]
                return (f, what[2]) if what[2] in f.dropped else None
        return None

    def open(self, event):
        return self._popup(event.x, event.y, event.x_root, event.y_root)

    def open_hovered(self, event):
        c = self.view.canvas
        x, y = c.winfo_pointerx(), c.winfo_pointery()
        return self._popup(x - c.winfo_rootx(), y - c.winfo_rooty(), x, y)

    def _popup(self, x, y, x_root, y_root):
        c = self.view.canvas
        self.target = self.page_at(c.canvasx(x), c.canvasy(y))
        if self.target is not None:
            self.menu.entryconfigure(0, label=_("Put back page {}").format(self.target[1]))
            self.menu.tk_popup(x_root, y_root)
        return "break"

    def _chosen(self):
        if self.target is not None:
            self.put_back(*self.target)
