"""The window's dialogs that do more than ask: opening a document in the system's viewer, and
picking a folder. Kept as plain functions so that tests can stand in for them, and so that every
part of the window opens documents and folders the same way."""
import os
import subprocess
import sys

from tkinter import filedialog, messagebox

from .gui_panes import fit_dialog_text
from .i18n import _

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
