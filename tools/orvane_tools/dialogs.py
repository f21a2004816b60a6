"""The window's dialogs that do more than ask: opening a document in the system's viewer, and
picking a folder, and a yes/no question that closes itself once there is nothing left to ask about. Kept as plain functions so that tests can stand in for them, and so that every
part of the window opens documents and folders the same way."""
import os
import subprocess
import sys

import tkinter as tk
from tkinter import filedialog, messagebox, ttk
from tkinter import font as tkfont

from .gui_panes import fit_dialog_text
from .i18n import _
from .linebreak import break_lines

TITLE = "Orvane"


def open_in_viewer(path):
    """Open ``path`` in the system's viewer for its type; OSError when there is no viewer."""
    if sys.platform.startswith("win"):
        os.startfile(path)  # noqa: (Windows only)
    elif sys.platform == "darwin":
        subprocess.Popen(["open", path])
    else:
        subprocess.Popen(["xdg-open", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def open_document(path, parent=None, viewer=open_in_viewer):
    """Open the document ``path``. Without a program to open it, one dialog names the file and the
    folder it is in, so that the user can find it by hand. Returns whether a viewer was started."""
    try:
        viewer(path)
    except OSError:
        text = _("No program to open this document was found on this computer.\n\n"
                 "Document: {name}\nFolder: {folder}").format(name=os.path.basename(path), folder=os.path.dirname(path))
        messagebox.showinfo(TITLE, fit_dialog_text(parent, text) if parent is not None else text, parent=parent)
        return False
    return True


def pick_folder(parent, start, title=None):
    """A folder chosen by the user, starting at ``start`` (the target folder, say) when it is there,
    else at its nearest existing parent; "" when cancelled."""
    while start and not os.path.isdir(start):
        higher = os.path.dirname(start)
        start = higher if higher != start else ""
    return filedialog.askdirectory(parent=parent, initialdir=start or None,
                                   title=title or _("Choose a folder")) or ""


def ask_yes_no(parent, text, stands=None, poll_ms=100):
    """A modal yes/no question (Return answers Yes, Escape No). ``stands()`` is asked every
    ``poll_ms``: once it is false (the job it asks about has ended meanwhile), the question closes
    itself, answered No, rather than wait over a job that is no longer there. The window's ticks go
    on while it is open (its nested event loop)."""
    before = parent.focus_get()
    top = tk.Toplevel(parent)
    top.title(TITLE)
    top.transient(parent)
    top.resizable(False, False)
    answer = []

    def done(value):
        # The focus goes back while the question still holds it: once the question is gone, the
        # window's keys would reach nothing.
        answer.append(value)
        try:
            (before or parent).focus_set()
        except tk.TclError:
            pass
        top.grab_release()
        top.destroy()

    frame = ttk.Frame(top, padding=12)
    frame.pack(fill="both", expand=True)
    # Broken here rather than by Tk's wraplength, which would start a line with a lone "。".
    font = tkfont.nametofont("TkDefaultFont")
    ttk.Label(frame, text="\n".join(break_lines(text, 420, font.measure)), justify="left").pack(anchor="w")
    buttons = ttk.Frame(frame)
    buttons.pack(anchor="e", pady=(12, 0))
    yes = ttk.Button(buttons, text=_("Yes"), command=lambda: done(True))
    yes.pack(side="left")
    ttk.Button(buttons, text=_("No"), command=lambda: done(False)).pack(side="left", padx=(6, 0))
    top.bind("<Return>", lambda e: done(True))
    top.bind("<Escape>", lambda e: done(False))
    top.protocol("WM_DELETE_WINDOW", lambda: done(False))

    def check():
        if answer or not top.winfo_exists():
            return
        if stands is not None and not stands():
            done(False)
        else:
            top.after(poll_ms, check)

    top.after(poll_ms, check)
    try:
        top.wait_visibility()
        yes.focus_set()
        top.grab_set()
    except tk.TclError:   # (closed already, or not viewable on some window managers)
        pass
    top.wait_window()
    return bool(answer and answer[0])
