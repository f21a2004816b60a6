"""The review of a job: each source file as rows of page thumbnails, documents as coloured groups
labelled with their file names, separator sheets framed in red, pages to check flagged with "?".

Every label is laid out in a space of its own, measured with its font: a document's name above its
pages, cut short with "…" to the width of its pages in that row; a page's number under its
thumbnail, clear of the separator's frame and of the next row. A legend above the canvas explains
the marks. Double-clicking a page opens its document.

Thumbnails are made on a worker thread (`thumbs`) and put on the canvas by `tick` on the Tk thread."""
import os
import queue
import threading
import time

import tkinter as tk
from tkinter import font as tkfont
from tkinter import ttk

from . import dialogs, review_blank, splitter_line, thumbs
from .gui_panes import scrolled
from .review_hover import DOC_TAG, PAGE_TAG, Tip, hover_text, hovered, page_label
from .i18n import _, ngettext
from .reasons import reason_words

# Layout (pixels).
CELL_W = 96                    # one page's column
MARGIN = 12
FRAME_PAD = 3                  # the separator's frame: this far outside the thumbnail ...
FRAME_WIDTH = 4                # ... and this thick (drawn centred on its line)
FRAME_OUT = FRAME_PAD + FRAME_WIDTH // 2
GAP = 2                        # between a label and what is next to it
ROW_GAP = 4                    # between the coloured bands of two rows
GROUP_COLOURS = ("#bcdcff", "#c6efbd", "#ffd9a8", "#e0ccff", "#ffc7d3", "#b9ece7")
SEPARATOR_MARK = "#d62020"     # frame and page number of a separator sheet
UNSURE_MARK = "#ff8c00"        # flag of a page to check
PLACEHOLDER = "#e4e4e4"
FLAG = 24                      # the "?" flag's size
THUMBS_AFTER_MS = 100          # thumbnails start this long after the review is laid out
ELLIPSIS = "\u2026"
WHEEL_UNITS = 3                # what one turn of the wheel, or an arrow key, scrolls
# Keys that scroll the review: (how, how far), as Tk's yview takes them.
SCROLL_KEYS = {"<Home>": ("moveto", 0.0), "<End>": ("moveto", 1.0),
               "<Prior>": ("scroll", -1, "pages"), "<Next>": ("scroll", 1, "pages"),
               "<Up>": ("scroll", -WHEEL_UNITS, "units"), "<Down>": ("scroll", WHEEL_UNITS, "units"),
               "<Left>": ("scroll", -WHEEL_UNITS, "units"), "<Right>": ("scroll", WHEEL_UNITS, "units")}

HEAD_FONT = ("TkDefaultFont", 11, "bold")
NAME_FONT = ("TkDefaultFont", 8, "bold")
PAGE_FONT = ("TkDefaultFont", 8)


class Fitter(object):
    """Cuts texts short with "…" to a width in pixels, in one font.

    A text's width is the sum of its characters' widths, each measured once: that is how Tk adds up
    a line (glyph advances, no kerning), and measuring every label whole would take most of the
    time of laying out a large review. `SLACK` pixels are kept free for rounding."""

    SLACK = 2

    def __init__(self, spec, root):
        self.font = tkfont.Font(root=root, font=spec)
        self.height = self.font.metrics("linespace")
        self.widths = {}

    def _widths(self, text):
        known = self.widths
        out = []
        for c in text:
            w = known.get(c)
            if w is None:
                w = known[c] = self.font.measure(c)
            out.append(w)
        return out

    def fit(self, text, width):
        widths = self._widths(text)
        if sum(widths) <= width - self.SLACK:
            return text
        count = _fitting(widths, width - self.SLACK - self._widths(ELLIPSIS)[0])
        return text[:count].rstrip() + ELLIPSIS if count else ""

    def fit_name(self, name, width):
        """A document's file name in ``width``, shortened in the middle: the number that tells it from
        its neighbours and the extension always stay (``二〇二六年第一季…(财务部存档)_002.pdf``,
        ``0001合同扫…描件.pdf``), the room left is shared between the name's start and its end. Where
        even that is too wide, the number alone with "…"; "" when not even that fits."""
        widths = self._widths(name)
        if sum(widths) <= width - self.SLACK:
            return name
        room = width - self.SLACK - self._widths(ELLIPSIS)[0]
        number, number_end, extension = number_span(name)
        # What must stay: from the start up to a leading number, and from a later number to the end.
        head, tail = (number_end, extension) if number == 0 else (0, number)
        need = sum(widths[:head]) + sum(widths[tail:])
        if need > room:
            short = name[number:number_end]
            if number == number_end or sum(widths[number:number_end]) > room:
                return ""
            return short + ELLIPSIS if number == 0 else ELLIPSIS + short
        # Half the room to the start, and at least its first character where that fits.
        spare = room - need
        head += _fitting(widths[head:tail], min(spare, max(spare // 2, widths[head] if head < tail else 0)))
        more = _fitting(widths[head:tail][::-1], room - sum(widths[:head]) - sum(widths[tail:]))
        return name[:head].rstrip() + ELLIPSIS + name[tail - more:].lstrip()


def _fitting(widths, room):
    """How many of ``widths``, from the first, add up to at most ``room``."""
    used = 0
    for count, w in enumerate(widths):
        if used + w > room:
            return count
        used += w
    return len(widths)


def number_span(name):
    """Where a file name's last number begins (with the one mark before it: "_002" of
    "合同-2026_002.pdf") and ends, and where its extension begins. With no number, both are where the
    extension begins."""
    stem = len(name.rsplit(".", 1)[0]) if "." in name.lstrip(".") else len(name)
    end = stem
    while end and not name[end - 1].isdigit():
        end -= 1
    if not end:
        return stem, stem, stem
    start = end
    while start and name[start - 1].isdigit():
        start -= 1
    return (start - 1 if start and not name[start - 1].isalnum() else start), end, stem


class Geometry(object):
    """Where things go in one page's cell, from the fonts' heights (offsets from the cell's top)."""

    def __init__(self, name_height, page_height):
        self.thumb_w, self.thumb_h = thumbs.WIDTH, thumbs.HEIGHT
        self.thumb_x = (CELL_W - self.thumb_w) // 2
        self.name_y = GAP
        self.thumb_y = self.name_y + name_height + GAP + FRAME_OUT
        self.page_y = self.thumb_y + self.thumb_h + FRAME_OUT + GAP
        self.band_h = self.page_y + page_height + GAP
        self.cell_h = self.band_h + ROW_GAP
        self.text_w = CELL_W - 2 * (self.thumb_x - FRAME_OUT) - 2 * GAP   # inside the frames' span


def file_head(f):
    """The line above a source file's pages."""
    if f.reason is not None:
        return splitter_line.not_split_head(f.name, reason_words(f.kind, f.reason))
    parts = [ngettext("{} page", "{} pages", f.pages).format(f.pages),
             ngettext("{} document", "{} documents", len(f.documents)).format(len(f.documents))]
    if f.unsure:
        parts.append(_("{} to check").format(len(f.unsure)))
    if f.dropped:
        parts.append(ngettext("{} blank page left out", "{} blank pages left out", len(f.dropped)).format(
            len(f.dropped)))
    elif f.blank:
        parts.append(ngettext("{} blank page", "{} blank pages", len(f.blank)).format(len(f.blank)))
    if f.no_text:
        parts.append(_("no text on pages {}").format(splitter_line.page_listing(f.no_text)))
    return "{}: {}".format(f.name, _(", ").join(parts))


class Legend(ttk.Frame):
    """What the review's marks mean: drawn with the same colours and shapes as on the canvas. Its
    items flow into as many rows as the pane's width needs (`flow`), so none is cut off."""

    SIZE = 18
    GAP = 12

    def __init__(self, master):
        ttk.Frame.__init__(self, master)
        s = self.SIZE
        self.items, self.rows = [], None
        for draw, text in (
                (lambda c: c.create_rectangle(3, 3, s - 3, s - 3, outline=SEPARATOR_MARK, width=3),
                 _("Separator sheet (not in any document)")),
                # A code sheet: the bars of a barcode in the frame.
                (lambda c: (c.create_rectangle(3, 3, s - 3, s - 3, outline=SEPARATOR_MARK, width=3),
                            [c.create_line(x, 6, x, s - 6, width=w) for x, w in ((6, 1), (8, 2), (11, 1), (13, 1))]),
                 _("Code sheet, with its text under it (black, blank and back sheets are named too)")),
                (lambda c: (c.create_polygon(0, 0, s, 0, s, s, fill=UNSURE_MARK, outline=""),
                            c.create_text(s - 3, 1, text="?", anchor="ne", fill="white",
                                          font=("TkDefaultFont", 9, "bold"))),
                 _("Page to check")),
                # Two colours: each document has one of its own, different from its neighbours'.
                (lambda c: (c.create_rectangle(0, 0, s // 2, s, fill=GROUP_COLOURS[1], outline=""),
                            c.create_rectangle(s // 2, 0, s, s, fill=GROUP_COLOURS[2], outline="")),
                 _("One document (double-click to open it)"))) + review_blank.legend_items(s):
            item = ttk.Frame(self)
            swatch = tk.Canvas(item, width=s, height=s, highlightthickness=0, background="white")
            draw(swatch)
            swatch.pack(side="left", padx=(0, 4), pady=2)
            ttk.Label(item, text=text).pack(side="left")
            self.items.append(item)
        self.flow(None)

    def flow(self, width):
        """The items in rows no wider than ``width`` pixels (one row while it is not known)."""
        rows, used = [[]], 0
        for item in self.items:
            need = item.winfo_reqwidth() + self.GAP
            if width and used and used + need > width:
                rows.append([])
                used = 0
            rows[-1].append(item)
            used += need
        if rows == self.rows:
            return
        self.rows = rows
        for child in self.winfo_children():
            if child not in self.items:
                child.destroy()
        for items in rows:
            line = ttk.Frame(self)
            line.pack(anchor="w")
            for item in items:
                item.pack_forget()
                item.pack(in_=line, side="left", padx=(0, self.GAP))
                item.lift()     # above the row's frame, made after it


class ReviewView(ttk.Frame):
    """The review pane. ``status(text)`` reports a problem to the user (a document gone);
    ``announce(state)`` tells the window's state ("review: making thumbnails", "review"); thumbnails
    are kept under ``cache_root`` within ``cache_limit`` bytes (None: `thumbs.CACHE_LIMIT`)."""

    def __init__(self, master, cache_root, status, announce=lambda state: None, cache_limit=None, put_back=None):
        ttk.Frame.__init__(self, master)
        self.cache_root = cache_root
        self.cache_limit = cache_limit
        self.status = status
        self.announce = announce
        self.legend = Legend(self)
        self.legend.grid(row=0, column=0, columnspan=2, sticky="w")
        self.bind("<Configure>", lambda e: self.legend.flow(e.width), add="+")
        # Takes the keyboard's focus (a click, or Tab) so that the keys can scroll it.
        self.canvas = tk.Canvas(self, background="white", highlightthickness=1, takefocus=True)
        scrolled(self, self.canvas, 1)
        self.thumb_bar = ttk.Progressbar(self, mode="determinate")
        self.thumb_label = ttk.Label(self, text="")
        self.heads = Fitter(HEAD_FONT, self)
        self.names = Fitter(NAME_FONT, self)
        self.numbers = Fitter(PAGE_FONT, self)
        self.geometry = Geometry(self.names.height, self.numbers.height)
        self.record = None
        self.files = []
        self.images = {}              # (file index, page) -> PhotoImage
        self.positions = {}           # (file index, page) -> (x, y, tags) of the thumbnail
        self.documents = {}           # canvas tag -> document path
        # (file index, page, PPM data) from the thumbnail thread: the data, not the file's name, since
        # keeping the cache in its bound may delete the file before the Tk thread comes to it.
        self.ready = queue.Queue()
        self.stop_thumbs = threading.Event()
        self.thumbs_total = self.thumbs_done = 0
        self.laid_width = 0
        self.pending = None           # the `after` that starts the thumbnails
        self.canvas.bind("<Configure>", self._resized)
        self.canvas.tag_bind("page", "<Double-Button-1>", self._double_click)
        for wheel in ("<MouseWheel>", "<Button-4>", "<Button-5>"):
            self.canvas.bind(wheel, self._wheel)
        self.canvas.bind("<Button-1>", lambda event: self.canvas.focus_set(), add=True)
        for key, how in SCROLL_KEYS.items():
            self.canvas.bind(key, lambda event, how=how: self.scroll(*how))
        self.tip = Tip(self)
        self.canvas.bind("<Motion>", self._hover)
        self.canvas.bind("<Leave>", lambda event: self.tip.hide())
        # (file record, page) of a page left out, to be put back in its document.
        self.put_back_menu = review_blank.PutBackMenu(self, put_back) if put_back else None

    def show(self, record):
        self.clear()
        self.record = record
        self.files = record.file_records()
        self.layout()
        # The worker making thumbnails holds the GIL for long stretches: it starts once the laid-out
        # review has been drawn.
        self.pending = self.after(THUMBS_AFTER_MS, self._start_thumbnails)

    def clear(self):
        """An empty review: thumbnails still being made are given up (a new job starts)."""
        self.stop_thumbs.set()
        if self.pending is not None:
            self.after_cancel(self.pending)
            self.pending = None
        self.record = None
        self.files = []
        self.images.clear()
        self.ready = queue.Queue()
        self.thumbs_total = self.thumbs_done = 0
        self._thumb_bar(False)
        self.layout()
        self.canvas.yview_moveto(0)

    def layout(self):
        self.tip.hide()
        c = self.canvas
        c.delete("all")
        self.positions.clear()
        self.documents.clear()
        width = max(c.winfo_width(), 4 * CELL_W + 2 * MARGIN)
        self.laid_width = width
        per_row = max(1, (width - 2 * MARGIN) // CELL_W)
        y = MARGIN
        for index, f in enumerate(self.files):
            y = self._lay_file(index, f, y, per_row) + 2 * MARGIN
        c.tag_raise("mark")
        c.tag_raise("label")
        c.configure(scrollregion=(0, 0, width, y))

    def _lay_file(self, index, f, y, per_row):
        c = self.canvas
        c.create_text(MARGIN, y, text=self._head(f, self.laid_width - 2 * MARGIN), anchor="nw",
                      font=HEAD_FONT, tags=("label", "head"))
        y += self.heads.height + 2 * GAP
        doc_of = {page: number for number, d in enumerate(f.documents) for page in d.page_list()}
        for page in range(1, f.pages + 1):
            column = (page - 1) % per_row
            x = MARGIN + column * CELL_W
            top = y + ((page - 1) // per_row) * self.geometry.cell_h
            self._lay_page(index, f, page, x, top, doc_of, column, per_row - column)
        rows = max(1, (f.pages + per_row - 1) // per_row)
        return y + rows * self.geometry.cell_h

    def _head(self, f, width):
        """A source file's line in ``width``: a long name is shortened in its middle, so that its
        number and the counts after it stay."""
        text = file_head(f)
        fitted = self.heads.fit(text, width)
        if fitted == text or not text.startswith(f.name):
            return fitted
        counts = text[len(f.name):]
        name = self.heads.fit_name(f.name, width - sum(self.heads._widths(counts)))
        return name + counts if name else fitted

    def _lay_page(self, index, f, page, x, top, doc_of, column, left_in_row):
        c, g = self.canvas, self.geometry
        tags = ("page",)
        doc = doc_of.get(page)
        if doc is not None:
            d = f.documents[doc]
            tag = DOC_TAG.format(index, doc)
            tags = ("page", tag)
            self.documents[tag] = os.path.join(self.record.target or "", f.folder, d.name)
            if doc_of.get(page - 1) != doc or column == 0:
                # The document's band and name over its next pages in this row, drawn at the first.
                cells = 1
                while cells < left_in_row and doc_of.get(page + cells) == doc:
                    cells += 1
                c.create_rectangle(x, top, x + cells * CELL_W, top + g.band_h,
                                   fill=GROUP_COLOURS[doc % len(GROUP_COLOURS)], outline="", tags=tags)
                name = self.names.fit_name(d.name, cells * CELL_W - 2 * (g.thumb_x - FRAME_OUT) - 2 * GAP)
                if name:
                    c.create_text(x + g.thumb_x - FRAME_OUT + GAP, top + g.name_y, text=name, anchor="nw",
                                  font=NAME_FONT, tags=tags + ("label", "name"))
        tags += (PAGE_TAG.format(index, page),)
        tx, ty = x + g.thumb_x, top + g.thumb_y
        self.positions[(index, page)] = (tx, ty, tags)
        c.create_rectangle(tx, ty, tx + g.thumb_w, ty + g.thumb_h, fill=PLACEHOLDER, outline="#bbbbbb",
                           tags=tags + ("thumb",))
        image = self.images.get((index, page))
        if image is not None:
            c.create_image(tx, ty, image=image, anchor="nw", tags=tags + ("thumb",))
        separator = page - 1 < len(f.verdicts) and f.verdicts[page - 1] == "separator"
        if separator:
            c.create_rectangle(tx - FRAME_PAD, ty - FRAME_PAD, tx + g.thumb_w + FRAME_PAD, ty + g.thumb_h + FRAME_PAD,
                               outline=SEPARATOR_MARK, width=FRAME_WIDTH, tags=("mark", "frame"))
        # "12 separator", "12 black", a code's text where it fits, else the number (red, like the frame).
        label = page_label(f, page, lambda text: self.numbers.fit(text, g.text_w))
        c.create_text(x + CELL_W // 2, top + g.page_y, text=label, anchor="n",
                      fill=SEPARATOR_MARK if separator else "black", font=PAGE_FONT, tags=tags + ("label",))
        review_blank.draw_marks(c, f, page, tx, ty, g.thumb_w, g.thumb_h)
        if page in f.unsure:
            right = tx + g.thumb_w
            c.create_polygon(right - FLAG, ty, right, ty, right, ty + FLAG, fill=UNSURE_MARK, outline="",
                             tags=("mark",))
            c.create_text(right - 3, ty + 1, text="?", anchor="ne", fill="white", font=("TkDefaultFont", 9, "bold"),
                          tags=("mark",))

    def _double_click(self, event):
        for tag in self.canvas.gettags("current"):
            if tag in self.documents:
                self._open(tag)
                return

    def _open(self, tag):
        path = self.documents.get(tag)
        if not path or not os.path.exists(path):
            self.status(_("The document {} is no longer there.").format(path))
            return
        dialogs.open_document(path, self)

    def _resized(self, event):
        if self.files and abs(event.width - self.laid_width) >= CELL_W:
            self.layout()

    def _wheel(self, event):
        step = -1 if getattr(event, "num", 0) == 4 or getattr(event, "delta", 0) > 0 else 1
        self.scroll("scroll", step * WHEEL_UNITS, "units")

    def scroll(self, how, *amount):
        self.tip.hide()
        self.canvas.yview(how, *amount)
        return "break"

    def _hover(self, event):
        """The full name, page span and verdict of the document or page under the pointer."""
        c = self.canvas
        x, y = c.canvasx(event.x), c.canvasy(event.y)
        for item in reversed(c.find_overlapping(x, y, x, y)):
            what = hovered(c.gettags(item))
            if what is not None and what[0] < len(self.files):
                self.tip.show(hover_text(self.files[what[0]], what[1], what[2]), event.x_root, event.y_root)
                return
        self.tip.hide()

    # -- thumbnails: made on a worker thread, shown by `tick` on the Tk thread

    def _start_thumbnails(self):
        self.pending = None
        self.stop_thumbs = threading.Event()
        work = [(i, f) for i, f in enumerate(self.files) if f.pages]
        self.thumbs_total = sum(f.pages for _, f in work)
        self.thumbs_done = 0
        if not work or not self.record.source or not thumbs.available():
            self.thumbs_total = 0
            self.announce("review")
            return
        self.announce("review: making thumbnails")
        stop, ready, record, cache_root, limit = self.stop_thumbs, self.ready, self.record, \
            self.cache_root, self.cache_limit

        def make():
            # (file index, page, its PPM data), or (file index, None, how many of its pages stay blank)
            thumbs.make_files([(i, record.source_path(f.name), f.pages) for i, f in work], cache_root, limit,
                              lambda i, page, told: ready.put((i, page, told if page is None else _read(told))),
                              stop.is_set)

        self._thumb_bar(True)
        threading.Thread(target=make, name="orvane-thumbnails", daemon=True).start()

    def _thumb_bar(self, on):
        if on:
            self.thumb_label.grid(row=2, column=0, sticky="w")
            self.thumb_bar.grid(row=2, column=0, sticky="e", padx=4)
        else:
            self.thumb_label.grid_remove()
            self.thumb_bar.grid_remove()

    def tick(self, budget=0.05):
        """Show the thumbnails that are ready, for at most ``budget`` seconds."""
        if not self.thumbs_total or self.thumbs_done >= self.thumbs_total:
            return
        until = time.monotonic() + budget
        shown = False
        while time.monotonic() < until:
            try:
                index, page, data = self.ready.get_nowait()
            except queue.Empty:
                break
            if page is None:
                self.thumbs_done += data  # pages of a source that failed part-way: they stay blank
                continue
            self.thumbs_done += 1
            if data is None:
                continue  # deleted by another window's trim before it was read: the page stays blank
            image = tk.PhotoImage(data=data)
            self.images[(index, page)] = image
            place = self.positions.get((index, page))
            if place is not None:
                self.canvas.create_image(place[0], place[1], image=image, anchor="nw", tags=place[2] + ("thumb",))
                shown = True
        if shown:
            self.canvas.tag_raise("mark")
            self.canvas.tag_raise("label")
        self.thumb_bar["value"] = 100.0 * self.thumbs_done / self.thumbs_total
        self.thumb_label["text"] = _("thumbnails: {} of {}").format(self.thumbs_done, self.thumbs_total)
        if self.thumbs_done >= self.thumbs_total:
            self._thumb_bar(False)
            self.announce("review")


def _read(path):
    try:
        with open(path, "rb") as fh:
            return fh.read()
    except OSError:
        return None
