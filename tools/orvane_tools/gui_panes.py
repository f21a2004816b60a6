"""The window's text panes and status lines, and its look (theme and fonts).

The main pane holds our plain lines; the Details pane keeps the module's messages as they came,
every byte, to be read, copied or saved. Status lines wrap to the window's width instead of running
off its edge."""
import sys

import tkinter as tk
from tkinter import filedialog, ttk
from tkinter import font as tkfont

from .i18n import _
from .linebreak import break_lines

# Fonts that hold Chinese, by preference; Tk falls back per character for the others.
CHINESE_FONTS = ("Microsoft YaHei UI", "Microsoft YaHei", "PingFang SC", "Noto Sans CJK SC",
                 "Noto Sans SC", "Source Han Sans SC", "WenQuanYi Micro Hei", "WenQuanYi Zen Hei",
                 "Droid Sans Fallback", "SimSun")
NAMED_FONTS = ("TkDefaultFont", "TkTextFont", "TkMenuFont", "TkHeadingFont", "TkCaptionFont",
               "TkSmallCaptionFont", "TkIconFont", "TkTooltipFont")


# The named fonts' families before the window changed them: an English window keeps them.
FIRST_FAMILIES = {}


def apply_look(root, language="en"):
    """The native theme on Windows (and macOS), a clean one elsewhere. A Chinese window gets a font
    that holds Chinese; an English one keeps the system's Latin font, whose "…" sits on the line
    (a Chinese font centres it), and Tk takes each Chinese character of a file name from a font
    that has it."""
    style = ttk.Style(root)
    themes = style.theme_names()
    wanted = ("vista", "winnative") if sys.platform.startswith("win") else \
        ("aqua",) if sys.platform == "darwin" else ("clam",)
    for theme in wanted:
        if theme in themes:
            style.theme_use(theme)
            break
    families = set(tkfont.families(root))
    family = next((f for f in CHINESE_FONTS if f in families), None)
    for name in NAMED_FONTS:
        try:
            # (Not nametofont: its root argument came with Python 3.10.)
            font = tkfont.Font(root=root, name=name, exists=True)
            first = FIRST_FAMILIES.setdefault(name, font.cget("family"))
            font.configure(family=family if family and language == "zh_CN" else first)
        except tk.TclError:
            pass
    return family


def scrolled(frame, widget, row):
    """``widget`` in ``row`` of ``frame`` with a vertical scroll bar beside it, taking the room left."""
    bar = ttk.Scrollbar(frame, orient="vertical", command=widget.yview)
    widget.configure(yscrollcommand=bar.set)
    widget.grid(row=row, column=0, sticky="nsew")
    bar.grid(row=row, column=1, sticky="ns")
    frame.rowconfigure(row, weight=1)
    frame.columnconfigure(0, weight=1)


class WrapLabel(ttk.Label):
    """A status line that wraps at the width it is given, so no text runs off the window, its lines
    broken as Chinese is (linebreak); gridded, it takes no room while it is empty. Its ["text"] is
    the text it was given, unbroken."""

    def __init__(self, master, **options):
        self.raw = options.pop("text", "")
        self.width = 0
        ttk.Label.__init__(self, master, **options)
        self.bind("<Configure>", self._resized)
        self._wrap()

    def _resized(self, event):
        if abs(event.width - self.width) > 1:
            self.width = event.width
            self._wrap()

    def _wrap(self):
        width = max(self.width - 4, 50)
        font = tkfont.Font(root=self, font=self.cget("font") or ttk.Style(self).lookup("TLabel", "font")
                           or "TkDefaultFont")
        lines = break_lines(self.raw, width, font.measure) if self.width else [self.raw]
        ttk.Label.configure(self, wraplength=width)
        ttk.Label.__setitem__(self, "text", "\n".join(lines))

    def grid(self, **options):
        ttk.Label.grid(self, **options)
        self._fit()

    def cget(self, key):
        return self.raw if key == "text" else ttk.Label.cget(self, key)

    __getitem__ = cget

    def __setitem__(self, key, value):
        if key != "text":
            return ttk.Label.__setitem__(self, key, value)
        self.raw = value
        self._wrap()
        self._fit()

    def _fit(self):
        if self.raw:
            ttk.Label.grid(self)
        else:
            self.grid_remove()


def fit_dialog_text(root, text):
    """``text`` broken into lines for a message box: on X11 Tk draws it in TkCaptionFont, wrapped at
    three inches, and would break Chinese anywhere; elsewhere the system's own dialog breaks it."""
    if root.tk.call("tk", "windowingsystem") != "x11":
        return text
    font = tkfont.Font(root=root, font="TkCaptionFont")
    return "\n".join(break_lines(text, root.winfo_fpixels("3i") - 8, font.measure))


class TextPane(ttk.LabelFrame):
    """A titled, read-only text with a scroll bar; lines are added at the end."""

    def __init__(self, master, title, height=6, font="TkTextFont"):
        ttk.LabelFrame.__init__(self, master, text=title, padding=4)
        self.text = tk.Text(self, height=height, wrap="word", state="disabled", borderwidth=0, font=font)
        scrolled(self, self.text, 0)
        self.lines = []     # as given: what Copy and Save hand out, whatever Tk shows of them

    def add(self, line):
        self.lines.append(line)
        self.text.configure(state="normal")
        self.text.insert("end", line + "\n")
        self.text.see("end")
        self.text.configure(state="disabled")

    def contents(self):
        return "".join(line + "\n" for line in self.lines)

    def clear(self):
        self.lines = []
        self.text.configure(state="normal")
        self.text.delete("1.0", "end")
        self.text.configure(state="disabled")


class DetailsPane(TextPane):
    """The module's messages, unchanged; Copy puts them all on the clipboard, Save writes them to a
    UTF-8 file."""

    def __init__(self, master, report):
        TextPane.__init__(self, master, _("Details: the module's messages"), height=8, font="TkFixedFont")
        self.report = report
        buttons = ttk.Frame(self)
        buttons.grid(row=1, column=0, columnspan=2, sticky="e", pady=(4, 0))
        ttk.Button(buttons, text=_("Copy all"), command=self.copy).pack(side="left")
        ttk.Button(buttons, text=_("Save…"), command=self.save).pack(side="left", padx=(6, 0))

    def copy(self):
        self.clipboard_clear()
        self.clipboard_append(self.contents())

    def save(self, path=None):
        path = path or filedialog.asksaveasfilename(parent=self.winfo_toplevel(), defaultextension=".txt",
                                                    initialfile="orvane-details.txt")
        if not path:
            return None
        try:
            with open(path, "w", encoding="utf-8", newline="") as fh:
                fh.write(self.contents())
        except OSError as exc:
            self.report(_("The details were not saved: {}").format(exc))
            return None
        return path
