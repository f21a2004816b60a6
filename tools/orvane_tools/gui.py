"""`orvane gui`: the desktop window. Runs a job through the Orvane module, shows its progress and
outcome in plain words, and afterwards where each source file was split, page by page.

Tk/ttk from the standard library: it ships with CPython on Windows (also 3.7 32-bit) and needs
nothing installed. The window is made of parts: the form and its checks (gui_form), the job runner
(gui_job), the watch panel (gui_watch), the review canvas (review_canvas), the panes and the look
(gui_panes) and the settings (settings). The job runs on a worker thread and a watcher on its own;
what they report reaches the widgets only through queues and events files read on the Tk thread in
`tick`, and every change of state goes through `App._change`."""
import os
import sys
import time

import tkinter as tk
from tkinter import messagebox, ttk

from . import events, gui_form, gui_job, gui_panes, gui_watch, i18n, settings, watch
from .dialogs import open_in_viewer, pick_folder  # noqa: F401  (the window's viewer, for the callers of gui)
from .i18n import _
from .review_canvas import GROUP_COLOURS, SEPARATOR_MARK, UNSURE_MARK, ReviewView  # noqa: F401

TITLE = "Orvane"
TICK_MS = 100
PROGRESS_COLOUR = "#2e8b57"    # the job's progress bar
ENDED_TITLE = gui_job.ENDED_TITLE


class Dialogs(object):
    """The window's questions and notices. Each runs a nested event loop until it is answered, so a
    job may end while one is open. Tests stand in for these."""

    def __init__(self, root):
        self.root = root

    def ask(self, text):
        return messagebox.askyesno(TITLE, text, parent=self.root)

    def error(self, text):
        messagebox.showerror(TITLE, text, parent=self.root)

    def info(self, text):
        messagebox.showinfo(TITLE, text, parent=self.root)


class App(object):
    def __init__(self, root, cache_root=None, settings_file=None):
        self.root = root
        self.settings_file = settings_file
        self.cache_root = cache_root or settings.cache_dir()
        self.jobs_dir = os.path.join(self.cache_root, "jobs")
        self.job = None
        self.events_file = None
        self.dialogs = Dialogs(root)
        self.closing = False
        self.destroyed = False
        self.env_token = os.environ.get("ORVANE_TOKEN") or ""
        remembered = settings.load(settings_file)
        root.title(TITLE)
        root.minsize(720, 560)
        root.geometry(remembered.get("geometry") or "1100x820")
        gui_panes.apply_look(root)
        self.watching = tk.BooleanVar(value=False)
        self._build(remembered)
        self._bind_keys()
        root.protocol("WM_DELETE_WINDOW", self.close)
        root.after(TICK_MS, self.tick)

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
        self.progress_text = gui_panes.WrapLabel(status, text=_("Ready."))
        self.watch_text = gui_panes.WrapLabel(status, text=_("Watching: off."))
        self.waiting_text = gui_panes.WrapLabel(status, text="")
        self.last_batch = gui_panes.WrapLabel(status, text="")
        for row, label in enumerate((self.progress_text, self.watch_text, self.waiting_text, self.last_batch), 1):
            label.grid(row=row, column=0, sticky="ew")

        self.panes = ttk.PanedWindow(root, orient="vertical", height=320)  # (more as the window grows)
        self.panes.grid(row=3, column=0, sticky="nsew", padx=8, pady=(4, 8))
        self.outcomes = gui_panes.TextPane(self.panes, _("Outcome"), height=5)
        self.details = gui_panes.DetailsPane(self.panes, self.say)
        self.review_frame = ttk.LabelFrame(self.panes, text=_("Review"), padding=4)
        self.review = ReviewView(self.review_frame, self.cache_root, self.say, self._state)
        self.review.pack(fill="both", expand=True)
        self.panes.add(self.outcomes, weight=1)
        self.panes.add(self.review_frame, weight=4)
        root.rowconfigure(3, weight=1)
        root.columnconfigure(0, weight=1)
        self.panel = gui_watch.WatchPanel(
            {"state": self.watch_text, "last": self.last_batch, "waiting": self.waiting_text},
            self.say, self.details.add, self._state, self._show_progress)

    def _bind_keys(self):
        for key, action in (("<Control-Return>", self.start), ("<F5>", self.start), ("<Escape>", self.stop),
                            ("<Control-r>", self.review_folder), ("<Control-w>", self.toggle_watch),
                            ("<Control-d>", self._toggle_details), ("<Control-q>", self.close)):
            self.root.bind(key, lambda e, a=action: a())

    def _toggle_details(self):
        self.details_shown.set(not self.details_shown.get())
        self._show_details()

    def _show_details(self):
        if self.details_shown.get():
            self.panes.insert(1, self.details, weight=2)
        elif str(self.details) in self.panes.panes():
            self.panes.forget(self.details)

    def change_language(self, code):
        """The chosen language at once: the window is built again in it (its fields and panes kept);
        during a job or while watching, from the next start of the window."""
        self.remember()
        if self.job is not None or self.watcher is not None:
            self.say(_("The language changes when the window is opened again."))
            return
        i18n.setup(code or None)
        kept = (self.outcomes.lines, self.details.lines, self.review.record, self.details_shown.get())
        token, values = self.token.get(), {name: var.get() for name, var in self.vars.items()}
        self.review.clear()
        for child in self.root.winfo_children():
            child.destroy()
        self._build(values)
        self.token.set(token)
        for line in kept[0]:
            self.outcomes.add(line)
        for line in kept[1]:
            self.details.add(line)
        self.details_shown.set(kept[3])
        self._show_details()
        if kept[2] is not None:
            self.review.show(kept[2])

    # -- messages

    def say(self, text):
        """A line for the main pane (our own words)."""
        self.outcomes.add(text)

    def _state(self, text):
        # The title tells the state too (for the window list and for scripted use).
        self.root.title("{} – {}".format(TITLE, text))

    @property
    def watcher(self):
        return self.panel.watcher

    def remember(self):
        gui_form.save_settings(self.form, self.root.geometry(), self.settings_file, self.say)

    def checked_values(self):
        checked, problem = self.form.checked()
        if problem:
            self.dialogs.error(problem)
            return None
        self.remember()
        return checked

    # -- the job

    def start(self):
        if self.job is not None or self.watcher is not None:
            return
        checked = self.checked_values()
        if checked is None:
            return
        v, token = checked
        os.makedirs(self.jobs_dir, exist_ok=True)
        events.prune_records(self.jobs_dir)
        events_path = os.path.join(self.jobs_dir, "{}-{}-{:03d}.jsonl".format(
            time.strftime("%Y%m%d-%H%M%S"), os.getpid(), int(time.time() * 1000) % 1000))
        self.events_file = events.EventsFile(events_path).__enter__()
        self._change("started", gui_job.Job(v, token, events_path))

    def stop(self):
        job = self.job
        if job is None or job.cancelled:
            return
        if self.dialogs.ask(_("Stop the job?\n\nThe splitter is ended and the folders it has made "
                              "in the target folder are deleted.")):
            self._change("stop", job)

    # -- every change of state, on the Tk thread

    def _change(self, event, subject):
        """The one place where the window's state changes: "started", "stop" (confirmed), "ended"
        for a job; "watching", "watch-ended" for a watcher. A dialog's nested event loop lets a job
        end, or a watcher stop, while the question about it is open: an event about a job or watcher
        that is no longer the window's own comes too late and changes nothing."""
        if event == "started":
            self.job = subject
            self.review.clear()
            self.details.add("— {} → {}".format(subject.values["source"], subject.values["target"]))
            self.say(_("Job: {} → {}").format(subject.values["source"], subject.values["target"]))
            self.progress["value"] = 0
            self.progress_text["text"] = _("Checking the job and announcing it…")
            self._buttons(start=False, stop=True, watch=False)
            self._state("splitting")
            subject.thread.start()
        elif event == "watching":
            self._buttons(start=False, stop=False, watch=True)
        elif subject is None or (subject is not self.job and subject is not self.watcher):
            return
        elif event == "stop" and not subject.cancelled:
            self.progress_text["text"] = _("Stopping: ending the splitter and deleting its partial output…")
            self._state("stopping")
            subject.cancel()
        elif event == "ended":
            self._ended(subject)
        elif event == "watch-ended":
            self.panel.ended()
            self.watching.set(False)
            self._buttons(start=True, stop=False, watch=True)
            if self.closing:
                self.close()

    def _buttons(self, start, stop, watch):
        for button, on in ((self.start_button, start), (self.stop_button, stop), (self.watch_button, watch)):
            button.configure(state="normal" if on else "disabled")

    def close(self):
        watcher, job = self.watcher, self.job
        if watcher is not None and not self.closing:
            if not self.dialogs.ask(_("Watching is on. Stop watching and close the window?\n\nA batch "
                                      "under way is undone and its source put back into the source "
                                      "folder, to be split when watching starts again.")):
                return
            if self.watcher is watcher:  # (else it stopped while the question was open)
                self.closing = True
                self.panel.stop(closing=True)
                return  # `tick` closes the window once the watcher has stopped
        if job is not None and not self.closing:
            if not self.dialogs.ask(_("A job is running. Stop it and close the window?\n\nThe splitter "
                                      "is ended and its partial output deleted.")):
                return
            if self.job is job:  # (else it ended while the question was open)
                self.closing = True
                self._change("stop", job)
                return  # `tick` closes the window once the job has ended
        if self.job is None and self.watcher is None:
            self.remember()
            self.review.stop_thumbs.set()
            self.destroyed = True
            self.root.destroy()

    def tick(self):
        try:
            job = self.job
            if job is not None:
                for line in job.messages.take():
                    self.details.add(line)
                job.tick()
                for line in job.new_file_lines():
                    self.say(line)
                if not job.cancelled:
                    self._show_progress(job.record)
                if job.finished.is_set() and job.messages.lines.empty():
                    self._change("ended", job)
            if self.watcher is not None and self.panel.tick():
                self._change("watch-ended", self.watcher)
            self.review.tick()
        finally:
            if not self.destroyed:
                self.root.after(TICK_MS, self.tick)

    def _show_progress(self, record):
        """The bar and its line for a job's record; None: no batch under way (watching), both cleared."""
        if record is None:
            self.progress["value"] = 0
            self.progress_text["text"] = ""
            return
        total = record.pages_total()
        if total:
            self.progress["value"] = 100.0 * record.pages_done() / total
        if record.files:
            self.progress_text["text"] = record.progress_text()

    def _ended(self, job):
        self.job = None
        self.events_file.__exit__(None, None, None)
        self._buttons(start=True, stop=False, watch=True)
        job.record.apply_all(job.tail.poll())
        if job.failure:
            self.details.add(job.failure.rstrip())
        for line in job.new_file_lines():
            self.say(line)
        key, words, refused = job.outcome()
        self._state(ENDED_TITLE[key])
        self.say(words)
        self.progress_text["text"] = words
        if key == "cancelled":
            self.progress["value"] = 0
            if self.closing:
                self.close()
            return
        if refused:
            self.dialogs.error(_("The job was refused: {}.\n\n{}").format(_(refused[0]), _(refused[1])))
            return
        if key in ("finished", "not-split"):
            self.progress["value"] = 100
        if job.record.files and key in ("finished", "not-split", "no-summary"):
            self.review.show(job.record)

    # -- watching the source folder: each complete PDF dropped into it is split as its own job

    def toggle_watch(self):
        if self.watcher is not None:
            if not self.watcher.stopping():
                self.panel.stop()
        elif self.job is None:
            checked = self.checked_values()
            if checked is not None:
                problem = self.panel.start(checked[0], self.form.token_source(), checked[1])
                if problem:
                    self.dialogs.error(problem)
                else:
                    self.progress_text["text"] = ""
                    self._change("watching", self.watcher)
        self.watching.set(self.watcher is not None and not self.watcher.stopping())

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
        return [self.jobs_dir] + own + watch.records_folders()

    def review_folder(self, target=None):
        target = target or pick_folder(self.root, self.vars["target"].get(), _("Target folder of an earlier job"))
        if not target:
            return
        path = events.latest_record_in(target, self.record_folders())
        if path is None:
            self.dialogs.info(_("No job into {} was run from this window or watched, so there is no record of "
                                "where its files were split.").format(target))
            return
        self.details.add(_("Review of {} (job record {})").format(target, path))
        self.say(_("Review of {}").format(target))
        self.review.show(events.read_record(path))


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
    if review:
        root.after(200, lambda: app.review_folder(review))
    root.mainloop()
    return 0
