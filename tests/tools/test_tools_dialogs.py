"""The window's dialogs with the Tk dialogs stood in for: where the folder picker starts, and what
opening a document does without a program to open it."""
import os

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)

pytest.importorskip("tkinter")
from orvane_tools import dialogs  # noqa: E402


@pytest.mark.parametrize("start, expected", [
    ("out", "out"),                        # the target folder itself
    ("out/not-yet/deeper", "out"),         # its nearest folder that is there
    ("", None),
])
def test_folder_picker_starts_at_the_target(tmp_path, monkeypatch, start, expected):
    (tmp_path / "out").mkdir()
    asked = {}
    monkeypatch.setattr(dialogs.filedialog, "askdirectory", lambda **kw: asked.update(kw) or "")
    assert dialogs.pick_folder(None, str(tmp_path / start) if start else "") == ""
    assert asked["initialdir"] == (str(tmp_path / expected) if expected else None)


@pytest.mark.parametrize("viewer_fails", [False, True])
def test_a_document_without_a_viewer_is_named_with_its_folder(tmp_path, monkeypatch, viewer_fails):
    shown, opened = [], []
    monkeypatch.setattr(dialogs.messagebox, "showinfo", lambda title, text, **kw: shown.append(text))

    def viewer(path):
        if viewer_fails:
            raise FileNotFoundError(2, "No such file or directory", "xdg-open")
        opened.append(path)

    path = str(tmp_path / "合同" / "合同_001.pdf")
    assert dialogs.open_document(path, viewer=viewer) is not viewer_fails
    assert opened == ([] if viewer_fails else [path])
    assert len(shown) == viewer_fails and all("合同_001.pdf" in t and os.path.dirname(path) in t for t in shown)
