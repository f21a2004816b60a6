"""The window on the screens it must fit (less a taskbar), Advanced and Details open, in each
language: a real window on an Xvfb server of that size; its screenshot in build/gui-screens/ shows
three lines in Outcome and Details and a whole row of pages in Review, all on the screen."""
import json
import os
import subprocess
import sys

import pytest

from test_tools_gui_window import SCREENS, mask
from toolsupport import cli_env

# In a process of its own on the screen's display: the window with outcome lines, messages and the
# review of a file whose second page is a separator sheet; the panes' boxes, then a screenshot.
WINDOW = r"""
import json, subprocess, sys, tempfile, tkinter as tk
from orvane_tools import events, gui, i18n
i18n.use(sys.argv[1])
root, tmp = tk.Tk(), tempfile.mkdtemp()
app = gui.App(root, tmp + "/cache", tmp + "/gui.json")
app.form.advanced_shown.set(True)
app.form._show_advanced()
app._toggle_details()
for n in range(12):
    app.say("Outcome {}".format(n)) or app.details.add("Message {}".format(n))
app.review.show(events.JobRecord().apply_all([{"event": "start", "files": ["a.pdf"]}, {"event": "file", "file":
    "a.pdf", "pages": 8, "documents": []}] + [{"event": "page", "file": "a.pdf", "page": 2, "verdict": "separator"}]))
root.after(1500, root.quit)
root.mainloop()
panes = {"window": root, "Outcome": app.outcomes.text, "Details": app.details.text, "Review": app.review.canvas,
         "Advanced": app.form.advanced_area.canvas, "Review pane": app.review}
panes.update(("legend {}".format(n), item) for n, item in enumerate(app.review.legend.items))
print(json.dumps(dict({k: [w.winfo_rootx(), w.winfo_rooty(), w.winfo_width(), w.winfo_height()] for k, w in
    panes.items()}, screen=[root.winfo_screenwidth(), root.winfo_screenheight()], row=app.form.row_height())))
subprocess.run(["import", "-display", sys.argv[3], "-window", "root", sys.argv[2]], check=True, timeout=30)
"""


def text_lines(im, x, y, w, h):
    """How many lines of dark text the screenshot shows in the box."""
    ink = im.convert("L").crop((x, y, x + w - 4, y + h)).point(lambda v: 255 if v < 110 else 0)
    inked = [False] + [ink.crop((0, row, ink.width, row + 1)).getbbox() is not None for row in range(ink.height)]
    return sum(inked[row] and not inked[row - 1] for row in range(1, len(inked)))


@pytest.mark.parametrize("screen", ["1366x728", "1280x680"])
@pytest.mark.parametrize("language", ["en", "zh_CN"])
def test_every_pane_fits_the_screen(tmp_path, x_server, screen, language):
    from PIL import Image
    from orvane_tools import gui

    display, shot = x_server(screen), os.path.join(SCREENS, "fit-{}-{}.png".format(screen, language))
    os.makedirs(SCREENS, exist_ok=True)
    done = subprocess.run([sys.executable, "-c", WINDOW, language, shot, display], timeout=120,
                          env=cli_env({"DISPLAY": display, "XDG_CONFIG_HOME": str(tmp_path)}),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    assert done.returncode == 0, done.stderr
    seen = json.loads(done.stdout.splitlines()[-1])
    with Image.open(shot) as im:
        im = im.convert("RGB")
    for pane in ("window", "Outcome", "Details", "Review", "Advanced"):
        x, y, w, h = seen[pane]
        assert x + w <= seen["screen"][0] and y + h <= seen["screen"][1], pane
    for n in range(3):   # the review's legend wraps rather than being cut at the pane's edge
        x, y, w, h = seen["legend {}".format(n)]
        assert x + w <= seen["Review pane"][0] + seen["Review pane"][2], n
    assert text_lines(im, *seen["Outcome"]) >= 3 and text_lines(im, *seen["Details"]) >= 3
    assert seen["Advanced"][3] >= 2 * seen["row"]
    # A whole separator page (its red frame, under its name and above its number) shown in Review.
    x, y, w, h = seen["Review"]
    assert mask(im.crop((x, y, x + w, y + h)), gui.SEPARATOR_MARK, 12).histogram()[255] > 200
