"""The window on the screens it must fit, Advanced and Details open, in each language: each pane
shows at least three lines (Review: one row of pages), all of it on the screen. A real window on an
Xvfb server of the screen's size less a taskbar; screenshots kept in build/gui-screens/."""
import json
import os
import shutil
import subprocess
import sys

import pytest

from toolsupport import cli_env

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCREENS = os.path.join(REPO, "build", "gui-screens")

pytestmark = pytest.mark.skipif(not (shutil.which("Xvfb") and shutil.which("import")),
                                reason="Xvfb and ImageMagick's import are needed")

# Run in a process of its own, on the display of its screen: the window with a job's outcome lines,
# the module's messages and a review of one file whose second page is a separator sheet.
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
    app.say("Outcome line {}".format(n))
    app.details.add("Message {}".format(n))
app.review.show(events.JobRecord().apply_all(
    [{"event": "start", "files": ["a.pdf"], "source": tmp, "target": tmp}] +
    [{"event": "page", "file": "a.pdf", "page": n, "verdict": "separator" if n == 2 else "page", "share": 0.5}
     for n in range(1, 9)] +
    [{"event": "file", "file": "a.pdf", "pages": 8, "folder": "a", "documents": [
        {"name": "a_001.pdf", "first": 1, "last": 1}, {"name": "a_002.pdf", "first": 3, "last": 8}]}]))
root.after(1500, root.quit)
root.mainloop()
root.update()
box = lambda w: [w.winfo_rootx(), w.winfo_rooty(), w.winfo_width(), w.winfo_height()]
line = app.outcomes.text.tk.call("font", "metrics", app.outcomes.text.cget("font"), "-linespace")
print(json.dumps({"screen": [root.winfo_screenwidth(), root.winfo_screenheight()], "window": box(root),
                  "line": line, "form row": app.form.row_height(), "review row": app.review.geometry.cell_h,
                  "Outcome": box(app.outcomes.text), "Details": box(app.details.text),
                  "Review": box(app.review.canvas), "Advanced": box(app.form.advanced_area.canvas)}))
subprocess.run(["import", "-display", sys.argv[3], "-window", "root", sys.argv[2]], check=True, timeout=30)
root.destroy()
"""


def text_lines(im, box):
    """How many lines of dark text the screenshot shows inside ``box`` (x, y, width, height)."""
    x, y, w, h = box
    ink = im.convert("L").crop((x, y, x + w - 4, min(y + h, im.height))).point(lambda v: 255 if v < 110 else 0)
    inked = [ink.crop((0, row, ink.width, row + 1)).getbbox() is not None for row in range(ink.height)]
    return sum(1 for row, ink in enumerate(inked) if ink and (row == 0 or not inked[row - 1]))


@pytest.mark.parametrize("screen", ["1366x728", "1280x680"])
@pytest.mark.parametrize("language", ["en", "zh_CN"])
def test_every_pane_fits_the_screen(tmp_path, screen, language):
    from PIL import Image

    env = cli_env()
    env.pop("LD_PRELOAD", None)  # the X server is not under test
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", screen + "x24", "-nolisten", "tcp"],
                              pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    os.close(write)
    with os.fdopen(read) as fh:
        display = ":" + fh.readline().strip()
    os.makedirs(SCREENS, exist_ok=True)
    shot = os.path.join(SCREENS, "fit-{}-{}.png".format(screen, language))
    try:
        done = subprocess.run([sys.executable, "-c", WINDOW, language, shot, display], env=dict(
            cli_env(), DISPLAY=display, HOME=str(tmp_path), XDG_CONFIG_HOME=str(tmp_path / "config")),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=120)
    finally:
        server.terminate()
        server.wait(10)
    assert done.returncode == 0, done.stderr
    seen = json.loads(done.stdout.strip().splitlines()[-1])
    width, height = seen["screen"]
    x, y, w, h = seen["window"]
    assert x + w <= width and y + h <= height
    wanted = {"Outcome": 3 * seen["line"], "Details": 3 * seen["line"], "Review": seen["review row"],
              "Advanced": 2 * seen["form row"]}
    for pane, least in wanted.items():
        px, py, pw, ph = seen[pane]
        assert ph >= least and py + ph <= height and px + pw <= width, (pane, seen[pane], least)
    with Image.open(shot) as im:
        im = im.convert("RGB")
        for pane in ("Outcome", "Details"):
            assert text_lines(im, seen[pane]) >= 3, pane
        # One whole row of pages: the separator sheet's red frame, drawn below its thumbnail.
        from orvane_tools import gui
        rx, ry, rw, rh = seen["Review"]
        red = im.crop((rx, ry, rx + rw, ry + rh)).getcolors(1 << 20)
        target = tuple(int(gui.SEPARATOR_MARK[i:i + 2], 16) for i in (1, 3, 5))
        assert sum(n for n, c in red if max(abs(a - b) for a, b in zip(c, target)) <= 12) > 200
