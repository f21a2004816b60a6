"""`orvane gui`: the desktop window. Runs a job through the Orvane module, shows its progress and
outcome in plain words, and afterwards where each source file was split, page by page.

Tk/ttk from the standard library: it ships with CPython on Windows (also 3.7 32-bit) and needs
nothing installed. The window is made of parts: here its widgets, their layout and its keys; its
state and what it shows (gui_state, no Tk); what its buttons set going and its tick (gui_runs); the
form and its checks (gui_form), the job runner (gui_job), the watch panel (gui_watch), the review
canvas (review_canvas), the panes and the look (gui_panes) and the settings (settings). The job runs
on a worker thread and a watcher on its own; what they report reaches the widgets only through
queues and events files read on the Tk thread in the tick, and every change of state goes through
the state's events, on the Tk thread."""
import os
import sys

import tkinter as tk
from tkinter import messagebox, ttk

from . import events, gui_form, gui_panes, gui_runs, gui_state, gui_watch, i18n, job_settings, settings, watch
from .dialogs import ask_yes_no, open_in_viewer, pick_folder  # noqa: F401  (the viewer, for the callers of gui)
from .i18n import _
from .review_canvas import CELL_W, GAP, GROUP_COLOURS, MARGIN, SEPARATOR_MARK, UNSURE_MARK, ReviewView  # noqa: F401

TITLE = gui_state.TITLE
PROGRESS_COLOUR = "#2e8b57"    # the job's progress bar


class Dialogs(object):
    """The window's questions and notices. Each runs a nested event loop until it is answered, so a
    job may end while one is open. Tests stand in for these."""

    def __init__(self, root):
        self.root = root

    def ask(self, text, stands=None):
        """Yes or No; a question that no longer ``stands()`` closes itself (No)."""
        return ask_yes_no(self.root, text, stands)

    def error(self, text):
        messagebox.showerror(TITLE, gui_panes.fit_dialog_text(self.root, text), parent=self.root)

    def info(self, text):
        messagebox.showinfo(TITLE, gui_panes.fit_dialog_text(self.root, text), parent=self.root)


class App(object):
    """The window: its widgets, their layout and its keys. What it shows comes from ``state`` (a
    `gui_state.WindowState`), redrawn by `apply` after each of its events; what the buttons set
    going, and the tick, are in ``runs`` (gui_runs)."""

    def __init__(self, root, cache_root=None, settings_file=None):
        self.root = root
        self.settings_file = settings_file
        self.cache_root = cache_root or settings.cache_dir()
        self.dialogs = Dialogs(root)
        self.destroyed = False
        self.env_token = os.environ.get(job_settings.TOKEN_ENV) or ""
        self.state = gui_state.WindowState(self.apply)
        self.runs = gui_runs.Runs(self, os.path.join(self.cache_root, "jobs"))
        remembered = settings.load(settings_file)
        root.title(self.state.title)
        root.minsize(*gui_state.SMALLEST)
        # (Tk's largest size for a window is the screen's work area less the window's frame.)
        root.geometry(gui_state.first_geometry(root.wm_maxsize(), remembered.get("geometry")))
        gui_panes.apply_look(root, i18n.current())
        self.watching = tk.BooleanVar(value=False)
        self._build(remembered)
        self._bind_keys()
        self.apply()
        root.after_idle(self._fit)
        root.protocol("WM_DELETE_WINDOW", self.close)
        root.after(gui_runs.TICK_MS, self.runs.tick)

    # -- building

    def _build(self, remembered):
        root = self.root
        self.form = gui_form.Form(root, remembered, self.env_token, self.change_language)
        self.form.grid(row=0, column=0, sticky="ew")
        self.vars, self.token = self.form.vars, self.form.token
        if "token" in self.form.entries:
            for key in ("<Return>", "<FocusOut>"):
                self.form.entries["token"].bind(key, lambda e: self._token_entered())

        controls = ttk.Frame(root, padding=(8, 6, 8, 2))
        controls.grid(row=1, column=0, sticky="ew")
        controls.columnconfigure(5, weight=1)
        self.start_button = ttk.Button(controls, text=_("Start (Ctrl+Enter)"), command=self.start)
        self.start_button.grid(row=0, column=0)
        self.stop_button = ttk.Button(controls, text=_("Stop (Esc)"), command=self.stop, state="disabled")
        self.stop_button.grid(row=0, column=1, padx=6)
        ttk.Button(controls, text=_("Review a target folder… (Ctrl+R)"), command=self.review_folder).grid(
            row=0, column=2)
        self.watch_button = ttk.Checkbutton(controls, text=_("Watch the source folder (Ctrl+W)"),
                                            variable=self.watching, command=self.toggle_watch)
        self.watch_button.grid(row=0, column=3, sticky="w", padx=(12, 0))
        self.buttons = {"start": self.start_button, "stop": self.stop_button, "watch": self.watch_button}
        self.details_shown = tk.BooleanVar(value=False)
        ttk.Checkbutton(controls, text=_("Details (Ctrl+D)"), variable=self.details_shown,
                        command=self._show_details).grid(row=0, column=4, sticky="w", padx=(12, 0))

        status = ttk.LabelFrame(root, text=_("Progress"), padding=(6, 2, 6, 4))
        status.grid(row=2, column=0, sticky="ew", padx=8)
        status.columnconfigure(0, weight=1)
        ttk.Style(root).configure("Job.Horizontal.TProgressbar", background=PROGRESS_COLOUR)
        self.progress = ttk.Progressbar(status, mode="determinate", maximum=100,
                                        style="Job.Horizontal.TProgressbar")
        self.progress.grid(row=0, column=0, sticky="ew", pady=(2, 2))
        self.progress_text = gui_panes.WrapLabel(status, text="")
        self.watch_text = gui_panes.WrapLabel(status, text=_("Watching: off."))
        self.waiting_text = gui_panes.WrapLabel(status, text="")
        self.last_batch = gui_panes.WrapLabel(status, text="")
        for row, label in enumerate((self.progress_text, self.watch_text, self.waiting_text, self.last_batch), 1):
            label.grid(row=row, column=0, sticky="ew")

        # Review, which keeps the most room, beside Outcome with Details under it when shown. Each
        # keeps a minimum size (three lines of text; one row of thumbnails); Advanced scrolls in the
        # height the panes leave it (`_fit`).
        self.panes = gui_panes.PanedWindow(root, orient="horizontal")
        self.panes.grid(row=3, column=0, sticky="nsew", padx=8, pady=(4, 8))
        self.review_frame = ttk.LabelFrame(self.panes, text=_("Review"), padding=4)
        self.review = ReviewView(self.review_frame, self.cache_root, self.say, self.state.review_state,
                                 put_back=self.runs.put_back)
        self.review.pack(fill="both", expand=True)
        self.side = gui_panes.PanedWindow(self.panes, orient="vertical")
        self.outcomes = gui_panes.TextPane(self.side, _("Outcome"), height=3)
        self.details = gui_panes.DetailsPane(self.side, self.say)
        self.details.text.configure(height=3)
        root.update_idletasks()  # (the widgets' requested sizes are worked out when Tk is idle)
        review_min = self.review_frame.winfo_reqheight() - self.review.canvas.winfo_reqheight() + \
            MARGIN + self.review.heads.height + 2 * GAP + self.review.geometry.cell_h
        sash = int(self.side.cget("sashwidth"))
        self.details_min = self.details.winfo_reqheight()
        self.panes.add(self.review_frame, minsize=4 * CELL_W, stretch="always")
        self.panes.add(self.side, minsize=240, width=360, stretch="never")
        self.side.add(self.outcomes, minsize=self.outcomes.winfo_reqheight(), stretch="always")
        self.panes_min = max(review_min, self.outcomes.winfo_reqheight() + sash + self.details_min) + 12
        self.controls, self.status_frame = controls, status
        root.rowconfigure(3, weight=1)
        root.columnconfigure(0, weight=1)
        root.bind("<Configure>", self._fit, add="+")
        self.form.advanced_shown.trace_add("write", lambda *a: root.after_idle(self._fit))
        self.panel = gui_watch.WatchPanel(
            {"state": self.watch_text, "last": self.last_batch, "waiting": self.waiting_text},
            self.say, self.details.add, self.state.watch_state, self.state.progress)

    def _bind_keys(self):
        for key, action in (("<Control-Return>", self.start), ("<F5>", self.start), ("<Escape>", self.stop),
                            ("<Control-r>", self.review_folder), ("<Control-w>", self.toggle_watch),
                            ("<Control-d>", self._toggle_details), ("<Control-q>", self.close)):
            self.root.bind(key, lambda e, a=action: a())

    def _fit(self, event=None):
        """Advanced scrolls within what the window's height leaves once every other part has its
        minimum: the fit holds however many options it has."""
        if self.destroyed or (event is not None and event.widget is not self.root):
            return
        area = self.form.advanced_area
        others = self.form.winfo_reqheight() - (area.winfo_reqheight() if area.winfo_ismapped() else 0) + \
            self.controls.winfo_reqheight() + self.status_frame.winfo_reqheight() + self.panes_min
        area.fit(max(self.root.winfo_height() - others, 3 * self.form.row_height()))

    def _toggle_details(self):
        self.details_shown.set(not self.details_shown.get())
        self._show_details()

    def _show_details(self):
        if self.details_shown.get():
            if str(self.details) not in [str(p) for p in self.side.panes()]:
                self.side.add(self.details, stretch="always", minsize=self.details_min)
        elif str(self.details) in [str(p) for p in self.side.panes()]:
            self.side.forget(self.details)
        self.root.after_idle(self._fit)

    def change_language(self, code):
        """The chosen language at once: the window is built again in it (its fields and panes kept);
        during a job or while watching, from the next start of the window."""
        self.remember()
        if not self.state.language_may_change():
            return
        gui_panes.apply_look(self.root, i18n.setup(code or None))
        kept = (self.details.lines, self.review.record, self.details_shown.get())
        token, values = self.token.get(), {name: var.get() for name, var in self.vars.items()}
        self.review.clear()
        for child in self.root.winfo_children():
            child.destroy()
        self._build(values)
        self.token.set(token)
        for line in kept[0]:
            self.details.add(line)
        self.details_shown.set(kept[2])
        self._show_details()
        if kept[1] is not None:
            self.review.show(kept[1])
        self.state.language_changed()  # (the outcome pane is filled again from the state's lines)

    # -- showing the state

    def apply(self):
        """The widgets made to show what the state holds; only what differs is touched (a click on
        the Watch box has ticked it already, the tick redraws nothing that stayed)."""
        if self.destroyed:
            return
        state = self.state
        if self.root.title() != state.title:
            self.root.title(state.title)
        if self.progress_text["text"] != state.status:
            self.progress_text["text"] = state.status
        if float(self.progress["value"]) != state.bar:
            self.progress["value"] = state.bar
        for name, on in state.buttons.items():
            wanted = "normal" if on else "disabled"
            if str(self.buttons[name]["state"]) != wanted:
                self.buttons[name].configure(state=wanted)
        if self.watching.get() != state.watch_box:
            self.watching.set(state.watch_box)
        lines = state.lines
        if self.outcomes.lines != lines[:len(self.outcomes.lines)]:
            self.outcomes.clear()   # (a line was said again: a stopped job's files)
        for line in lines[len(self.outcomes.lines):]:
            self.outcomes.add(line)
        self.root.after_idle(self._fit)   # (a status line that wraps takes room from Advanced)

    def say(self, text):
        """A line for the main pane (our own words)."""
        self.state.say(text)

    @property
    def job(self):
        return self.state.job

    @property
    def watcher(self):
        return self.state.watcher

    def remember(self):
        gui_form.save_settings(self.form, self.root.geometry(), self.settings_file, self.say)

    def checked_values(self):
        checked, problem = self.form.checked()
        if problem:
            self.dialogs.error(problem)
            return None
        self.remember()
        return checked

    # -- what the keys and buttons do (gui_runs)

    def start(self):
        self.runs.start()

    def stop(self):
        self.runs.stop()

    def toggle_watch(self):
        self.runs.toggle_watch()

    def close(self):
        self.runs.close()

    def close_now(self):
        """The window closed, nothing running any more."""
        self.remember()
        self.review.stop_thumbs.set()
        self.destroyed = True
        self.root.destroy()

    def _token_entered(self):
        """A token entered while watching is used from the next batch on; sources refused under the
        old one go back into the source folder to be split again."""
        self.panel.token_entered(self.form.current_token())

    # -- review of an earlier job, or of a watched batch

    def record_folders(self):
        """Where job records are kept: the window's own, the watcher's of the source folder now in
        the form, and those of every watcher the user ran (the command line's too)."""
        source = self.form.values()["source"]
        own = [os.path.join(source, watch.STATE_DIR_NAME, watch.RECORDS_DIR_NAME)] if source else []
        return [self.runs.jobs_dir] + own + watch.records_folders()

    def review_folder(self, target=None):
        target = target or pick_folder(self.root, self.vars["target"].get(), _("Target folder of an earlier job"))
        if not target:
            return
        paths = {}  # id of a record read -> its events file

        def records():
            for when, path in events.records_into(target, self.record_folders()):
                record = events.read_record(path)
                paths[id(record)] = path
                yield when, record

        record, note = gui_state.review_choice(records())
        if record is None:
            self.dialogs.info(_("No job into {} was run from this window or watched, so there is no record of "
                                "where its files were split.").format(target))
            return
        self.details.add(_("Review of {} (job record {})").format(target, paths[id(record)]))
        self.say(_("Review of {}").format(target))
        if note:
            self.say(note)
        self.review.show(record)


def quiet_children(log_path):
    """The programs the window starts write their standard error to ``log_path``; the window's own
    messages still go to the standard error it was started with. The module runs the splitter
    through a shell, and the shell writes "Killed" when Stop ends the splitter: words meant for
    nobody, on a terminal the user may be watching. (What a splitter writes there is kept.)"""
    try:
        log = os.open(log_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
        own = os.dup(2)
    except OSError:  # (no standard error to begin with: a window started without a console)
        return
    sys.stderr.flush()
    sys.stderr = os.fdopen(own, "w", buffering=1, encoding=sys.stderr.encoding or "utf-8",
                           errors="backslashreplace")
    os.dup2(log, 2)
    os.close(log)


def main(review=None):
    i18n.setup(settings.load().get("language") or None)
    try:
        root = tk.Tk()
    except tk.TclError as exc:
        sys.stderr.write(_("orvane gui: cannot open a window: {}\n").format(exc))
        return 1
    app = App(root)
    # The module keeps its folders "database" and "logging" in the working folder: a per-user one,
    # not wherever the window was started from (all paths are absolute by now).
    workdir = os.path.join(settings.cache_dir(), "work")
    os.makedirs(workdir, exist_ok=True)
    os.chdir(workdir)
    quiet_children(os.path.join(settings.cache_dir(), "programs-stderr.log"))
    if review:
        root.after(200, lambda: app.review_folder(review))
    root.mainloop()
    return 0
