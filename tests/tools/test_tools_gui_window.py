"""`orvane gui` driven in a real window on Xvfb; screenshots kept in build/gui-screens/. Stopping
ends every orvaneFun.exe of the user (as the module's stopCut does)."""
import gc
import json
import os
import shutil
import stat
import subprocess
import sysconfig
import time

import pytest

from toolsupport import cli_command, cli_env
from orvane_tools import frontend, gui, samples
from orvane_tools import urldb as urls

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCREENS = os.path.join(REPO, "build", "gui-screens")

pytestmark = pytest.mark.skipif(not shutil.which("Xvfb"), reason="Xvfb is not installed")


def tool_env(env=None):
    # The X server and tools are not under test: no sanitizer runtime preloaded into them.
    env = dict(os.environ if env is None else env)
    env.pop("LD_PRELOAD", None)
    return env


def grab(display, window, name):
    from PIL import Image

    os.makedirs(SCREENS, exist_ok=True)
    path = os.path.join(SCREENS, name + ".png")
    subprocess.run(["import", "-display", display, "-window", str(window), path], check=True, timeout=30,
                   env=tool_env())
    with Image.open(path) as im:
        return im.convert("RGB")


@pytest.fixture(autouse=True)
def collect_here():
    # A Tk interpreter must be freed by the thread that made it. Left to the cycle collector, a
    # destroyed window's interpreter is freed on whichever thread next triggers a collection (a
    # watcher's, a job's) and Tcl aborts the whole test process.
    yield
    gc.collect()


@pytest.fixture(scope="module")
def display(x_display):
    # The session's server (conftest): Tk keeps its connection to a display after its window is
    # destroyed, and a later Tk in this process dies when that server is gone.
    return x_display


class Window(object):
    """One `orvane gui` process on the display, with a private home for its settings and cache."""

    def __init__(self, display, home, extra_env):
        self.display = display
        self.env = cli_env(dict(extra_env, DISPLAY=display, HOME=str(home), XDG_CONFIG_HOME=str(home / "config"),
                                XDG_CACHE_HOME=str(home / "cache")))
        self.log = open(str(home / "gui.log"), "ab")
        self.proc = subprocess.Popen(cli_command("gui"), env=self.env, stdout=self.log, stderr=subprocess.STDOUT)
        self.wid = self.wait_for(lambda: self.find("^Orvane"), 30, "the window did not open")

    def xdotool(self, *args):
        done = subprocess.run(["xdotool"] + [str(a) for a in args], env=tool_env(self.env), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, universal_newlines=True, timeout=20)
        return done.stdout.strip()

    def find(self, pattern):
        found = self.xdotool("search", "--name", pattern).split()
        return found[0] if found else None

    def title(self):
        return self.xdotool("getwindowname", self.wid)

    def key(self, *keys, window=None):
        self.xdotool("key", "--window", window or self.wid, *keys)

    def shot(self, name):
        return grab(self.display, self.wid, name)

    def wait_for(self, probe, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = probe()
            if found:
                return found
            assert self.proc.poll() is None, "the window ended: see gui.log"
            time.sleep(0.1)
        pytest.fail(what + " (title: {!r})".format(self.title() if self.proc.poll() is None else None))

    def close(self):
        if self.proc.poll() is None:
            self.key("ctrl+q")
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def mask(im, colour, tolerance=8):
    """A 1-bit image of the pixels of ``colour`` (each channel within ``tolerance``)."""
    from PIL import ImageChops

    want = tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5)) if isinstance(colour, str) else colour
    bands = [band.point(lambda v, w=w: 255 if abs(v - w) <= tolerance else 0)
             for band, w in zip(im.split(), want)]
    return ImageChops.multiply(ImageChops.multiply(bands[0], bands[1]), bands[2])


def count(im, colour, tolerance=8):
    return mask(im, colour, tolerance).histogram()[255]


def bar_fill(im):
    """The filled width of the job's progress bar: the only area of its colour."""
    box = mask(im, gui.PROGRESS_COLOUR, 2).getbbox()
    return box[2] - box[0] if box else 0


def write_settings(home, **values):
    folder = home / "config" / "orvane"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "gui.json").write_text(json.dumps(values), encoding="utf-8")


def long_file(path, pages):
    """A PDF of ``pages`` vector pages (rendered by the splitter, so it takes a while), a sheet every
    ten pages."""
    plan = [("sep", samples.PINK) if n % 10 == 0 else ("doc", "Page {}".format(n)) for n in range(1, pages + 1)]
    path.write_bytes(samples.build_pdf(plan))


@pytest.fixture
def setup(tmp_path, service, orvane):
    pytest.importorskip("tkinter")
    pytest.importorskip("PIL")
    beside = os.path.join(sysconfig.get_path("scripts"), "orvaneFun.exe")
    splitter = os.environ.get("ORVANE_SPLITTER") or (beside if os.path.isfile(beside) else None) or \
        shutil.which("orvaneFun.exe")
    if not splitter:
        pytest.skip("no orvaneFun.exe")
    db = str(tmp_path / "url.db")
    urls.write_url(db, service.commit_url)
    viewer = tmp_path / "bin"
    viewer.mkdir()
    opened = tmp_path / "opened.txt"
    (viewer / "xdg-open").write_text("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '{}'\n".format(opened))
    os.chmod(str(viewer / "xdg-open"), stat.S_IRWXU)
    return dict(db=db, splitter=splitter, token=service.token("clerk"), opened=opened,
                env={"PATH": str(viewer) + os.pathsep + os.environ["PATH"]})


def test_whole_job_then_a_stopped_one(tmp_path, display, setup):
    home = tmp_path / "home"
    src, dst = tmp_path / "扫描 scans", tmp_path / "out"
    src.mkdir()
    dst.mkdir()
    samples.write_batches(str(src))
    shutil.copy(str(src / "batch-01.pdf"), str(src / "合同-2024.pdf"))
    long_file(src / "long.pdf", 1500)
    write_settings(home, source=str(src), target=str(dst), workers=1, threshold=19, urldb=setup["db"],
                   splitter=setup["splitter"])

    window = Window(display, home, setup["env"])
    try:
        # The cursor waits in the empty token field; the token is typed, masked.
        window.xdotool("type", "--window", window.wid, "--delay", "1", setup["token"])
        window.key("ctrl+Return")
        window.wait_for(lambda: "splitting" in window.title(), 20, "Start did not start the job")
        shots = []
        while "splitting" in window.title() and len(shots) < 40:
            shots.append(window.shot("progress-{:02d}".format(len(shots))))
        fills = [bar_fill(im) for im in shots]
        window.wait_for(lambda: window.title().endswith("review"), 240, "no review with its thumbnails")
        done = window.shot("review-ready")

        full = max(fills + [bar_fill(done)])
        assert full > 500
        # The bar moved: seen part-filled while the job ran, full at the end.
        assert any(0 < f < full * 0.9 for f in fills), fills
        assert bar_fill(done) == full
        # The review: separator sheets framed, documents in coloured groups, thumbnails drawn (the
        # yellow sheet of batch-01), and the token shown nowhere (it is masked in its field).
        assert count(done, gui.SEPARATOR_MARK, 12) > 400
        for colour in gui.GROUP_COLOURS[:3]:
            assert count(done, colour, 2) > 400, colour
        assert count(done, (250, 235, 115), 12) > 200
        shutil.copy(os.path.join(SCREENS, "review-ready.png"), os.path.join(SCREENS, "review.png"))

        # Double-clicking the first document's group opens that document in the viewer.
        x, y = mask(done, gui.GROUP_COLOURS[0], 2).getbbox()[:2]
        window.xdotool("mousemove", "--sync", x + 2, y + 2)
        window.xdotool("click", "--repeat", "2", "--delay", "80", "1")
        window.wait_for(lambda: setup["opened"].exists(), 10, "the double-click opened nothing")
        assert setup["opened"].read_text().split("\n")[0] == str(dst / "batch-01" / "batch-01_001.pdf")
        assert sorted(os.listdir(str(dst))) == ["batch-01", "batch-02", "batch-03", "long", "合同-2024"]
    finally:
        window.close()
    # Settings are remembered, the token is not.
    saved = (home / "config" / "orvane" / "gui.json").read_text(encoding="utf-8")
    assert str(src) in saved and setup["token"] not in saved

    # A second job, stopped midway: three long files, stopped once the first has its folder.
    src2, dst2 = tmp_path / "more", tmp_path / "out2"
    src2.mkdir()
    dst2.mkdir()
    (dst2 / "earlier").mkdir()
    for name in ("a.pdf", "b.pdf", "c.pdf"):
        long_file(src2 / name, 400)
    write_settings(home, source=str(src2), target=str(dst2), workers=1, threshold=19, urldb=setup["db"],
                   splitter=setup["splitter"])
    window = Window(display, home, dict(setup["env"], ORVANE_TOKEN=setup["token"]))
    # Stop (Esc), then closing the window during a job (Ctrl+Q, the handler of the window manager's
    # close too): each asks, then ends the splitter and deletes the partial output.
    try:
        for key, ended in (("Escape", lambda: "stopped" in window.title()),
                           ("ctrl+q", lambda: window.proc.poll() is not None)):
            window.key("ctrl+Return")
            window.wait_for(lambda: "a" in os.listdir(str(dst2)), 60, "the first output folder did not appear")
            window.key(key)
            dialog = window.wait_for(lambda: window.find("^Orvane$"), 10, key + " did not ask")
            time.sleep(0.3)  # let the dialog draw itself for the screenshot
            grab(display, dialog, "asks-" + key)
            window.key("Return", window=dialog)
            window.wait_for(ended, 60, "the job did not stop")
            assert os.listdir(str(dst2)) == ["earlier"]
            assert not frontend.splitter_children(window.proc.pid)
            # The shell that ran the ended splitter says nothing on the window's standard error.
            assert b"Killed" not in (home / "gui.log").read_bytes()
    finally:
        window.close()


def test_review_flags_pages_to_check(tmp_path, display):
    """The splitter's "check:" pages (unsure in its events) get the orange flag; a file not split is
    listed with its reason."""
    tk = pytest.importorskip("tkinter")
    pytest.importorskip("PIL")
    from orvane_tools import events

    record = events.JobRecord().apply_all(
        [{"event": "start", "files": ["a.pdf", "b.pdf"], "source": None, "target": str(tmp_path)}] +
        [{"event": "page", "file": "a.pdf", "page": n, "verdict": "separator" if n == 3 else "page",
          "share": 0.5, "unsure": n in (2, 5)} for n in range(1, 7)] +
        [{"event": "file", "file": "a.pdf", "pages": 6, "folder": "a",
          "documents": [{"name": "a_001.pdf", "first": 1, "last": 2}, {"name": "a_002.pdf", "first": 4, "last": 6}]},
         {"event": "not split", "file": "b.pdf", "reason": "encrypted: it needs a password to open"}])
    root = tk.Tk(screenName=display)
    try:
        root.geometry("900x500+0+0")
        view = gui.ReviewView(root, str(tmp_path / "cache"), lambda text: None)
        view.pack(fill="both", expand=True)
        view.show(record)
        root.update()
        texts = {view.canvas.itemcget(i, "text") for i in view.canvas.find_all() if view.canvas.type(i) == "text"}
        assert {"b.pdf: NOT SPLIT: encrypted: it needs a password to open",
                "a.pdf: 6 pages, 2 documents, 2 to check"} <= texts
        shot = grab(display, root.wm_frame(), "review-flags")
        assert count(shot, gui.UNSURE_MARK) > 400        # two flags of about 290 pixels each
        assert count(shot, gui.SEPARATOR_MARK, 12) > 200
    finally:
        root.destroy()


def in_process_window(tmp_path, display, monkeypatch, source):
    """The window in this process: (Tk root, app, source folder, target folder)."""
    tk = pytest.importorskip("tkinter")
    monkeypatch.delenv("ORVANE_TOKEN", raising=False)
    monkeypatch.chdir(tmp_path)  # the module's own folders
    src, dst = tmp_path / source, tmp_path / "out"
    src.mkdir()
    dst.mkdir()
    root = tk.Tk(screenName=display)
    return root, gui.App(root, str(tmp_path / "cache"), str(tmp_path / "gui.json")), src, dst


def fill(app, setup, src, dst):
    for name, value in (("source", src), ("target", dst), ("urldb", setup["db"]),
                        ("splitter", setup["splitter"]), ("workers", 1)):
        app.vars[name].set(str(value))
    app.token.set(setup["token"])


def test_watching_splits_a_dropped_file_until_switched_off(tmp_path, display, setup, monkeypatch):
    """Switched on, watching splits a PDF dropped into the source folder and the window shows the
    batch's status; switched off, the watcher ends and a single job can be started again."""
    root, app, src, dst = in_process_window(tmp_path, display, monkeypatch, "inbox")

    def until(probe, timeout, what):
        deadline = time.monotonic() + timeout
        while not probe():
            assert time.monotonic() < deadline, "{} ({})".format(what, app.watch_text["text"])
            root.update()
            time.sleep(0.05)

    try:
        fill(app, setup, src, dst)
        app.toggle_watch()
        watcher = app.watcher
        until(lambda: app.watch_text["text"] == "Watching: watching", 30, "watching did not start")
        assert str(app.start_button["state"]) == "disabled" and app.watching.get()

        (src / "drop.pdf").write_bytes(samples.build_pdf([("doc", "A"), ("sep", samples.PINK), ("doc", "B")]))
        until(lambda: "drop.pdf" in app.last_batch["text"], 90, "the dropped file was not split")
        assert " finished " in app.last_batch["text"] and "2 documents" in app.last_batch["text"]
        assert sorted(os.listdir(str(dst / "drop"))) == ["drop_001.pdf", "drop_002.pdf"]
        assert os.listdir(str(src / "archive")) == ["drop.pdf"]

        app.toggle_watch()
        until(lambda: app.watcher is None, 30, "watching did not stop")
        assert app.watch_text["text"] == "Watching: stopped" and not watcher.running()
        assert str(app.start_button["state"]) == "normal" and not app.watching.get()
    finally:
        if app.watcher is not None:
            app.watcher.stop(60)
        root.destroy()


@pytest.mark.parametrize("question", ["answered late", "left open"])
def test_stop_answered_after_the_job_has_ended(tmp_path, display, setup, monkeypatch, question):
    """"Stop the job?" is open while the job ends (its nested event loop runs the window's ticks).
    Left open, it closes itself; a Yes that comes anyway comes too late to stop anything: the
    window is ready again, keeps the finished job's documents and raises nothing."""
    root, app, src, dst = in_process_window(tmp_path, display, monkeypatch, "scans")
    samples.write_batches(str(src))
    raised, asked = [], []
    root.report_callback_exception = lambda *exc: raised.append(exc)
    real_ask = app.dialogs.ask

    def ask(text, stands):
        if question == "left open":
            return asked.append(text) or real_ask(text, stands)
        # Stands in for the modal question: events run until the job has ended, then the answer.
        deadline = time.monotonic() + 120
        while app.job is not None and time.monotonic() < deadline:
            root.update()
            time.sleep(0.02)
        return asked.append(text) or True

    app.dialogs.ask = ask
    try:
        fill(app, setup, src, dst)
        app.start()
        app.stop()
        root.update()
        assert asked[0].startswith("Stop the job?") and app.job is None and raised == []
        assert [w for w in root.winfo_children() if w.winfo_class() == "Toplevel"] == []
        assert app.progress_text["text"].startswith(frontend.OUTCOMES["finished"].window)
        assert str(app.start_button["state"]) == "normal" and str(app.stop_button["state"]) == "disabled"
        assert sorted(os.listdir(str(dst))) == sorted(os.path.basename(name)[:-4] for name in samples.BATCHES)
        # The main pane in plain words, one line per source file and one for the job; the module's
        # own messages, as they came, in Details, which saves them unchanged.
        assert app.outcomes.lines[1:] == ["batch-01.pdf: 8 pages, 3 documents", "batch-02.pdf: 8 pages, 2 documents",
                                          "contracts/batch-03.pdf: 3 pages, 2 documents",
                                          app.progress_text["text"]]
        saved = app.details.save(str(tmp_path / "details.txt"))
        with open(saved, encoding="utf-8", newline="") as fh:
            assert fh.read() == "".join(line + "\n" for line in app.details.lines)
        assert frontend.MSG_DONE in app.details.lines and setup["token"] not in "".join(app.details.lines)
    finally:
        app.review.stop_thumbs.set()
        root.destroy()


def pump(root, probe, timeout, what):
    """Runs the window's events until ``probe()`` holds."""
    deadline = time.monotonic() + timeout
    while not probe():
        assert time.monotonic() < deadline, what
        root.update()
        time.sleep(0.05)


def shown_texts(widget):
    """The texts of every label, button and titled frame under ``widget``."""
    texts = []
    for child in widget.winfo_children():
        # (Not cget alone: Tk takes "text" for "textvariable" in an entry.)
        text = str(child.cget("text")) if "text" in child.keys() else ""
        texts += ([text] if text else []) + shown_texts(child)
    return texts


@pytest.mark.parametrize("locale, language", [("zh_CN.UTF-8", "zh_CN"), ("en_US.UTF-8", "en")])
def test_visible_labels_come_from_the_catalogue(tmp_path, display, monkeypatch, locale, language):
    """In the user's locale, every label of the window, Advanced and Details open, is a text of
    that language's catalogue (the Chinese translations; the English texts themselves)."""
    from orvane_tools import catalogues, i18n

    for variable in ("LC_ALL", "LC_MESSAGES", "LANGUAGE"):
        monkeypatch.delenv(variable, raising=False)
    monkeypatch.setenv("LANG", locale)
    assert i18n.setup() == language
    root, app, _src, _dst = in_process_window(tmp_path, display, monkeypatch, "scans")
    try:
        app.form.advanced_shown.set(True)
        app.form._show_advanced()
        app._toggle_details()
        root.update()
        shown = set(shown_texts(root))
        catalogue = catalogues.read_po(catalogues.po_files()["zh_CN"])
        known = set(catalogue.values()) if language == "zh_CN" else set(catalogue)
        assert len(shown) > 25 and shown - known == set()
    finally:
        root.destroy()


@pytest.mark.parametrize("watcher", ["window", "command line"])
def test_a_watched_batch_is_reviewed_in_the_window(tmp_path, display, setup, monkeypatch, watcher):
    """"Review a target folder" finds a watched batch's record, kept in the inbox's watch state,
    whichever watcher split it: the window's own, or `orvane watch` (through the user's list of
    watchers' record folders, the form's source folder cleared)."""
    from orvane_tools import events, watch

    monkeypatch.setenv("XDG_CACHE_HOME", str(tmp_path / "user-cache"))
    root, app, inbox, dst = in_process_window(tmp_path, display, monkeypatch, "inbox")
    notices = []
    app.dialogs.info = app.dialogs.error = notices.append
    try:
        fill(app, setup, inbox, dst)
        (inbox / "drop.pdf").write_bytes(samples.build_pdf([("doc", "A"), ("sep", samples.PINK), ("doc", "B")]))
        if watcher == "window":
            app.toggle_watch()
            pump(root, lambda: "drop.pdf" in app.last_batch["text"], 90, "the dropped file was not split")
            app.toggle_watch()
            pump(root, lambda: app.watcher is None, 30, "watching did not stop")
        else:
            env = cli_env(dict(setup["env"], ORVANE_TOKEN=setup["token"], XDG_CACHE_HOME=str(tmp_path / "user-cache")))
            done = subprocess.run(cli_command("watch", inbox, dst, "--urldb", setup["db"], "--splitter",
                                              setup["splitter"], "-w", "1", "--settle", "0", "--poll", "0.05",
                                              "--exit-when-idle"), cwd=str(tmp_path), env=env, timeout=90,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
            assert done.returncode == 0, done.stderr
        assert events.ENV not in os.environ
        app.vars["source"].set("")
        app.review_folder(str(dst))
        assert notices == []
        files = app.review.record.file_records()
        assert [(f.name, len(f.documents)) for f in files] == [("drop.pdf", 2)]
        records = inbox / watch.STATE_DIR_NAME / watch.RECORDS_DIR_NAME
        assert len(os.listdir(str(records))) == 1
        # Its pages drawn from the source where the watcher put it, not the staging folder it was split in.
        pump(root, lambda: app.review.pending is None and app.review.thumbs_done >= app.review.thumbs_total, 30,
             "thumbnails not made")
        assert app.review.thumbs_total == 3 and len(app.review.images) == 3
    finally:
        if app.watcher is not None:
            app.watcher.stop(60)
        app.review.stop_thumbs.set()
        root.destroy()


@pytest.mark.parametrize("content", [[], ["notes.txt", "sub/"]])
def test_a_source_folder_without_a_pdf_announces_nothing(tmp_path, display, setup, service, monkeypatch, content):
    """Start on a source folder without a PDF file says "Nothing to do" as `orvane split` does: nothing
    is run and the service has no record of a start or an end."""
    root, app, src, dst = in_process_window(tmp_path, display, monkeypatch, "scans")
    for name in content:
        (src / name).mkdir() if name.endswith("/") else (src / name).write_text("not a scan")
    try:
        fill(app, setup, src, dst)
        app.start()
        root.update()
        assert (app.job, app.progress_text["text"], root.title()) == (
            None, frontend.OUTCOMES["nothing"].window, "Orvane – nothing to do")
        assert service.store.announcements() == service.store.refusals() == [] and os.listdir(str(dst)) == []
        assert not os.path.isdir(str(tmp_path / "cache" / "jobs"))
    finally:
        root.destroy()


# Splits its one source as a put-back does: page 3 back in the document, page 4 still left out.
PUT_BACK_SPLITTER = r"""#!/bin/sh
mkdir -p "$2/scan" && printf 'pages 1-3 %s' "$ORVANE_SPLITTER_OPTIONS" > "$2/scan/scan_001.pdf"
printf '%s\n' '{"event":"start","files":["scan.pdf"]}' '{"event":"pages","file":"scan.pdf","pages":4}' \
  '{"event":"file","file":"scan.pdf","pages":4,"folder":"scan","blank":[3,4],"dropped":[4],"documents":[{"name":"scan_001.pdf","first":1,"last":3,"pages":[1,2,3]}]}' >> "$ORVANE_EVENTS"
echo 'scan.pdf: 4 pages; separators: none; blank: 3-4; 1 document in "scan": scan_001.pdf (pages 1-3)'
echo 'Summary: 1 PDF files, 1 split, 0 not split; 4 pages, 0 separator pages, 1 documents written'
"""


def test_a_page_left_out_is_put_back_from_the_review(tmp_path, display, service, orvane, monkeypatch):
    """Right-click on a page left out, "Put back": the file is split again with that page kept, its
    document rewritten, its outcome line and its job record tell the new state."""
    from orvane_tools import events, review_blank

    root, app, src, dst = in_process_window(tmp_path, display, monkeypatch, "scans")
    try:
        splitter, db = tmp_path / "orvaneFun.exe", str(tmp_path / "url.db")
        splitter.write_text(PUT_BACK_SPLITTER)
        os.chmod(str(splitter), stat.S_IRWXU)
        urls.write_url(db, service.commit_url)
        fill(app, dict(db=db, splitter=splitter, token=service.token("clerk")), src, dst)
        app.vars["blank_pages"].set("drop")
        (src / "scan.pdf").write_bytes(samples.build_pdf([("doc", "A"), ("doc", "B"), ("doc", ""), ("doc", "")]))
        (dst / "scan").mkdir()
        (dst / "scan" / "scan_001.pdf").write_text("old")
        record = tmp_path / "job.jsonl"
        record.write_text("\n".join(json.dumps(e) for e in [
            {"event": "start", "files": ["scan.pdf"], "source": str(src), "target": str(dst)},
            {"event": "pages", "file": "scan.pdf", "pages": 4},
            {"event": "file", "file": "scan.pdf", "pages": 4, "folder": "scan", "blank": [3, 4], "dropped": [3, 4],
             "documents": [{"name": "scan_001.pdf", "first": 1, "last": 2, "pages": [1, 2]}]},
            {"event": "end"}]) + "\n")
        app.review.show(events.read_record(str(record)))
        root.update()
        shot = grab(display, root.wm_frame(), "review-dropped")
        assert count(shot, review_blank.DROPPED_MARK, 8) > 300      # two pages' corners, and their veils
        x, y, _tags = app.review.positions[(0, 3)]
        canvas = app.review.canvas
        canvas.event_generate("<Button-3>", x=x + 10 - int(canvas.canvasx(0)), y=y + 10 - int(canvas.canvasy(0)))
        assert app.review.put_back_menu.target[1] == 3
        app.review.put_back_menu.menu.unpost()
        app.review.put_back_menu.menu.invoke(0)
        pump(root, lambda: app.runs.putting_back is None, 60, "the page was not put back")
        assert (dst / "scan" / "scan_001.pdf").read_text() == "pages 1-3 --blank-pages drop --keep-pages 3"
        assert sorted(os.listdir(str(dst))) == ["scan"]
        assert "scan.pdf: 4 pages, 1 document, 1 blank page left out" in app.state.lines
        f, = events.read_record(str(record)).file_records()
        assert (f.dropped, [d.page_list() for d in f.documents]) == ((4,), [[1, 2, 3]])
    finally:
        app.review.stop_thumbs.set()
        root.destroy()


# Recognises two pages: tells of the first (six seconds), waits for the test, then of the second;
# the page that keeps no text is named in the line and the file's event.
RECOGNISING = """#!/bin/sh
printf '%s' "$ORVANE_SPLITTER_OPTIONS" > "{meeting}/options"
e() { printf '{"event":%s}\\n' "$@" >> "$ORVANE_EVENTS"; }
e '"start","workers":1,"files":["a.pdf"]' '"pages","file":"a.pdf","pages":3' '"total","pages":3' \\
  '"looked","file":"a.pdf","pages":3' '"recognising","file":"a.pdf","pages":2' \\
  '"recognised","file":"a.pdf","page":1,"seconds":6.00,"text":true'
i=0; while [ ! -e "{meeting}/go" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done
mkdir -p "$2/a" && printf 'doc' > "$2/a/a_001.pdf" && printf 'doc' > "$2/a/a_002.pdf"
e '"recognised","file":"a.pdf","page":3,"seconds":0.50,"text":false' \\
  '"file","file":"a.pdf","pages":3,"folder":"a","no_text":[3],"documents":[{"name":"a_001.pdf","first":1,"last":1},{"name":"a_002.pdf","first":3,"last":3}]'
echo 'a.pdf: 3 pages; separators: 2; no text: 3; 2 documents in "a": a_001.pdf (page 1), a_002.pdf (page 3)'
echo "Summary: 1 PDF files, 1 split, 0 not split; 3 pages, 1 separator pages, 2 documents written"
"""


@pytest.mark.parametrize("locale, recognising, left, no_text", [
    ("zh_CN.UTF-8", "正在识别文字", "剩余 0:06", "第 3 页未识别出文字"),
    ("en_US.UTF-8", "Recognising text", "0:06 left", "no text on pages 3"),
])
def test_a_recognising_job_says_so_with_its_time_left(tmp_path, display, setup, monkeypatch, locale, recognising,
                                                       left, no_text):
    """Text languages chosen under Advanced among those installed for the form's splitter reach it;
    while it recognises, the progress line says so in the window's language with the time left,
    and the file's line names the page left without text."""
    from orvane_tools import i18n

    for variable in ("LC_ALL", "LC_MESSAGES", "LANGUAGE"):
        monkeypatch.delenv(variable, raising=False)
    monkeypatch.setenv("LANG", locale)
    i18n.setup()
    meeting, program = tmp_path / "meeting", tmp_path / "bin" / "orvaneFun.exe"
    meeting.mkdir(), (program.parent / "tessdata").mkdir(parents=True)
    for language in ("eng", "chi_sim", "osd"):
        (program.parent / "tessdata" / (language + ".traineddata")).write_bytes(b"")
    program.write_text(RECOGNISING.replace("{meeting}", str(meeting)))
    os.chmod(str(program), stat.S_IRWXU)
    root, app, src, dst = in_process_window(tmp_path, display, monkeypatch, "scans")
    (src / "a.pdf").write_bytes(samples.build_pdf([("doc", "A"), ("sep", samples.PINK), ("doc", "B")]))
    try:
        fill(app, dict(setup, splitter=program), src, dst)
        root.update()
        assert tuple(app.form.entries["ocr"]["values"]) == ("", "chi_sim+eng", "chi_sim", "eng")
        app.vars["ocr"].set("chi_sim+eng")
        app.start()
        pump(root, lambda: left in app.progress_text["text"], 60, "no time left while recognising")
        assert app.progress_text["text"].startswith(recognising)
        (meeting / "go").write_bytes(b"")
        pump(root, lambda: app.job is None, 60, "the job did not end")
        assert (meeting / "options").read_text() == "--ocr chi_sim+eng"
        assert any(line.startswith("a.pdf: ") and line.endswith(no_text) for line in app.outcomes.lines)
    finally:
        app.review.stop_thumbs.set()
        root.destroy()
        i18n.setup("en")
