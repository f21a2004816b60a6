"""`orvane gui`: the desktop window. Runs a job through the Orvane module, shows its messages and
progress, and afterwards shows where each source file was split, page by page.

Tk/ttk from the standard library: it ships with CPython on Windows (also 3.7 32-bit) and needs
nothing installed. The job runs on a worker thread; everything it reports reaches the widgets only
through `handover.MessageQueue` and the splitter's events file, read by the Tk thread in `tick`.
Watching the source folder runs a `watch.Watcher` on its own thread, which reports through
`handover.WatchReports` the same way."""
import os
import shutil
import sys
import threading
import time
import traceback

import tkinter as tk
from tkinter import filedialog, messagebox, ttk

from . import events, frontend, handover, inputs, settings, watch
from .dialogs import open_in_viewer  # noqa: F401  (the window's viewer, for the callers of gui)
from .review_canvas import GROUP_COLOURS, SEPARATOR_MARK, UNSURE_MARK, ReviewView  # noqa: F401

TITLE = "Orvane"
TICK_MS = 100
SPLITTER_NAME = "orvaneFun.exe"
WATCH_CLOSE_WAIT = 150         # seconds closing the window waits for the watcher to undo its batch

PROGRESS_COLOUR = "#2e8b57"    # the job's progress bar


# The window's title word for each way a job can end (frontend.OUTCOMES has the words it shows).
ENDED_TITLE = {"finished": "done", "not-split": "done", "nothing": "nothing to do", "cancelled": "stopped",
               "refused": "refused", "refused-input": "refused", "no-summary": "incomplete", "error": "failed"}


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


class Job(object):
    """One run of `orvaneClass.run` on a worker thread."""

    def __init__(self, values, token, events_path):
        self.values = values
        self.sink, self.messages = handover.make_sink(token)
        self.token = token
        self.controller = None
        self.failure = None
        self.finished = threading.Event()
        self.cancelled = False
        self.tail = events.EventTail(events_path)
        self.record = events.JobRecord()
        self.thread = threading.Thread(target=self._run, name="orvane-job", daemon=True)

    def _run(self):
        try:
            import Orvane
            v = self.values
            controller = Orvane.orvaneClass(v["source"], v["target"], v["workers"], v["threshold"], self.token,
                                            v["urldb"], v["splitter"], self.sink)
            self.controller = controller
            if self.cancelled:
                controller.run_code = 0
            controller.run()
        except BaseException:
            self.failure = traceback.format_exc()
        finally:
            self.finished.set()

    def cancel(self):
        """Stop the job: no splitter may start from now on, a running one is ended and its partial
        output deleted (stopCut). Called on the Tk thread; `tick` repeats it for a late splitter."""
        self.cancelled = True
        controller = self.controller
        if controller is not None:
            controller.run_code = 0
            controller.stopCut()

    def tick(self):
        """Called on the Tk thread: new events folded in; a splitter started after a stop ended."""
        self.record.apply_all(self.tail.poll())
        if self.cancelled and not self.finished.is_set() and frontend.splitter_children():
            self.cancel()


class App(object):
    def __init__(self, root, cache_root=None, settings_file=None):
        self.root = root
        self.settings_file = settings_file
        self.cache_root = cache_root or settings.cache_dir()
        self.jobs_dir = os.path.join(self.cache_root, "jobs")
        self.job = None
        self.dialogs = Dialogs(root)
        self.watcher = None
        self.watch_reports = None
        self.watch_log = None
        self.watch_token = None
        self.closing = False
        self.close_by = None
        self.destroyed = False
        self.env_token = os.environ.get("ORVANE_TOKEN") or ""
        remembered = settings.load(settings_file)
        root.title(TITLE)
        root.minsize(640, 480)
        root.geometry(remembered.get("geometry") or "1100x760")
        self.vars = {name: tk.StringVar(value=str(remembered.get(name, default))) for name, default in (
            ("source", ""), ("target", ""), ("workers", max(1, (os.cpu_count() or 2) - 1)), ("threshold", 19),
            ("urldb", os.path.abspath("url.db")), ("splitter", shutil.which(SPLITTER_NAME) or ""),
            ("archive", ""), ("failed", ""))}
        self.token = tk.StringVar(value="")
        self.watching = tk.BooleanVar(value=False)
        self._build()
        self._bind_keys()
        root.protocol("WM_DELETE_WINDOW", self.close)
        root.after(TICK_MS, self.tick)

    # -- building

    def _build(self):
        root = self.root
        form = ttk.Frame(root, padding=8)
        form.grid(row=0, column=0, sticky="ew")
        form.columnconfigure(1, weight=1)
        rows = (("Source folder", "source", self._pick_folder), ("Target folder", "target", self._pick_folder),
                ("Archive (watching)", "archive", self._pick_folder),
                ("Failed (watching)", "failed", self._pick_folder),
                ("URL database", "urldb", self._pick_file), ("Splitter", "splitter", self._pick_file))
        entries = {}
        for row, (label, name, picker) in enumerate(rows):
            ttk.Label(form, text=label).grid(row=row, column=0, sticky="w", padx=(0, 6), pady=2)
            entries[name] = ttk.Entry(form, textvariable=self.vars[name])
            entries[name].grid(row=row, column=1, sticky="ew", pady=2)
            ttk.Button(form, text="Choose…", command=lambda n=name, p=picker: p(n)).grid(
                row=row, column=2, padx=(6, 0), pady=2)
        numbers = ttk.Frame(form)
        numbers.grid(row=len(rows), column=0, columnspan=3, sticky="ew", pady=(4, 0))
        ttk.Label(numbers, text="Workers").pack(side="left")
        ttk.Spinbox(numbers, from_=1, to=256, width=5, textvariable=self.vars["workers"]).pack(
            side="left", padx=(6, 18))
        ttk.Label(numbers, text="Threshold").pack(side="left")
        ttk.Spinbox(numbers, from_=1, to=255, width=5, textvariable=self.vars["threshold"]).pack(
            side="left", padx=(6, 18))
        ttk.Label(numbers, text="Login token").pack(side="left")
        token = ttk.Entry(numbers, textvariable=self.token, show="•", width=28)
        token.pack(side="left", padx=(6, 6))
        for key in ("<Return>", "<FocusOut>"):
            token.bind(key, lambda e: self._token_entered())
        if self.env_token:
            token.configure(state="disabled")
            ttk.Label(numbers, text="(from ORVANE_TOKEN)").pack(side="left")
        # The cursor starts in the first field still to fill in.
        entries["token"] = None if self.env_token else token
        for name in ("source", "target", "token"):
            empty = not (self.token.get() if name == "token" else self.vars[name].get())
            if entries[name] is not None and empty:
                entries[name].focus_set()
                break

        controls = ttk.Frame(root, padding=(8, 0, 8, 4))
        controls.grid(row=1, column=0, sticky="ew")
        controls.columnconfigure(3, weight=1)
        self.start_button = ttk.Button(controls, text="Start (Ctrl+Enter)", command=self.start)
        self.start_button.grid(row=0, column=0)
        self.stop_button = ttk.Button(controls, text="Stop (Esc)", command=self.stop, state="disabled")
        self.stop_button.grid(row=0, column=1, padx=6)
        ttk.Button(controls, text="Review a target folder… (Ctrl+R)", command=self.review_folder).grid(
            row=0, column=2)
        self.watch_button = ttk.Checkbutton(controls, text="Watch the source folder (Ctrl+W)",
                                            variable=self.watching, command=self.toggle_watch)
        self.watch_button.grid(row=0, column=3, sticky="w", padx=(12, 0))
        ttk.Style(root).configure("Job.Horizontal.TProgressbar", background=PROGRESS_COLOUR)
        self.progress = ttk.Progressbar(controls, mode="determinate", maximum=100,
                                        style="Job.Horizontal.TProgressbar")
        self.progress.grid(row=1, column=0, columnspan=4, sticky="ew", pady=(6, 0))
        self.progress_text = ttk.Label(controls, text="Ready.")
        self.progress_text.grid(row=2, column=0, columnspan=4, sticky="w")
        self.watch_text = ttk.Label(controls, text="Watching: off.")
        self.watch_text.grid(row=3, column=0, columnspan=4, sticky="w")
        self.last_batch = ttk.Label(controls, text="")
        self.last_batch.grid(row=4, column=0, columnspan=4, sticky="w")

        panes = ttk.PanedWindow(root, orient="vertical")
        panes.grid(row=2, column=0, sticky="nsew", padx=8, pady=(0, 8))
        log_frame = ttk.Frame(panes)
        self.log = tk.Text(log_frame, height=7, wrap="word", state="disabled")
        log_bar = ttk.Scrollbar(log_frame, orient="vertical", command=self.log.yview)
        self.log.configure(yscrollcommand=log_bar.set)
        self.log.pack(side="left", fill="both", expand=True)
        log_bar.pack(side="right", fill="y")
        self.review = ReviewView(panes, self.cache_root, self.say, self._state)
        panes.add(log_frame, weight=1)
        panes.add(self.review, weight=4)
        root.rowconfigure(2, weight=1)
        root.columnconfigure(0, weight=1)

    def _bind_keys(self):
        for key in ("<Control-Return>", "<F5>"):
            self.root.bind(key, lambda e: self.start())
        self.root.bind("<Escape>", lambda e: self.stop())
        self.root.bind("<Control-r>", lambda e: self.review_folder())
        self.root.bind("<Control-w>", lambda e: self.toggle_watch())
        self.root.bind("<Control-q>", lambda e: self.close())

    def _pick_folder(self, name):
        chosen = filedialog.askdirectory(initialdir=self.vars[name].get() or None, parent=self.root)
        if chosen:
            self.vars[name].set(chosen)

    def _pick_file(self, name):
        chosen = filedialog.askopenfilename(initialdir=os.path.dirname(self.vars[name].get()) or None,
                                            parent=self.root)
        if chosen:
            self.vars[name].set(chosen)

    # -- messages

    def say(self, text):
        self.log.configure(state="normal")
        self.log.insert("end", text + "\n")
        self.log.see("end")
        self.log.configure(state="disabled")

    def _state(self, text):
        # The title tells the state too (for the window list and for scripted use).
        self.root.title("{} – {}".format(TITLE, text))

    # -- the job

    def values(self):
        v = {name: var.get().strip() for name, var in self.vars.items()}
        for name in ("source", "target", "urldb", "archive", "failed"):
            v[name] = os.path.abspath(v[name]) if v[name] else v[name]
        if v["splitter"] and (os.path.sep in v["splitter"] or (os.path.altsep or "/") in v["splitter"]):
            v["splitter"] = os.path.abspath(v["splitter"])
        for name in ("workers", "threshold"):
            try:
                v[name] = int(v[name])
            except ValueError:
                v[name] = None
        return v

    def remember(self):
        kept = self.values()
        kept["geometry"] = self.root.geometry()
        try:
            settings.save(kept, self.settings_file)
        except OSError as exc:
            self.say("Settings not saved: {}".format(exc))

    def checked_values(self):
        """(the fields' values, the token) once everything a job needs is filled in; else None, the
        user told what is missing."""
        v = self.values()
        token = self.current_token()
        missing = [label for label, ok in (("the source folder", v["source"]), ("the target folder", v["target"]),
                                            ("the login token (or set ORVANE_TOKEN)", token),
                                            ("a whole number of workers", v["workers"] is not None),
                                            ("a whole number as threshold", v["threshold"] is not None)) if not ok]
        if missing:
            self.dialogs.error("Enter " + ", ".join(missing) + ".")
            return None
        self.remember()
        if v["splitter"] and not os.path.isfile(v["splitter"]):
            v["splitter"] = shutil.which(v["splitter"]) or v["splitter"]
        try:
            # Before anything is announced: the module would check some of these only after the start
            # is on the service's record, and the splitter refuses others without a word to the user.
            inputs.check_job(((v["source"], "source folder"), (v["target"], "target folder")), v["workers"],
                             v["threshold"], v["splitter"], v["urldb"])
        except inputs.Refused as refused:
            self.dialogs.error("Nothing was started: {}.".format(refused))
            return None
        return v, token

    def current_token(self):
        return self.env_token or self.token.get().strip()

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
        self.say("— Job: {} → {}".format(v["source"], v["target"]))
        self._change("started", Job(v, token, events_path))

    def stop(self):
        job = self.job
        if job is None or job.cancelled:
            return
        if self.dialogs.ask("Stop the job?\n\nThe splitter is ended and the folders it has made "
                            "in the target folder are deleted."):
            self._change("stop", job)

    # -- every change of state, on the Tk thread

    def _change(self, event, subject):
        """The one place where the window's state changes: "started", "stop" (confirmed), "ended"
        for a job; "watching", "watch-ended" for a watcher. A dialog's nested event loop lets a job
        end, or a watcher stop, while the question about it is open: an event about a job or watcher
        that is no longer the window's own comes too late and changes nothing."""
        if event == "started":
            self.job = subject
            self.progress["value"] = 0
            self.progress_text["text"] = "Checking the job and announcing it…"
            self._buttons(start=False, stop=True, watch=False)
            self._state("splitting")
            subject.thread.start()
        elif event == "watching":
            self.watcher = subject
            self._buttons(start=False, stop=False, watch=True)
        elif subject is None or (subject is not self.job and subject is not self.watcher):
            return
        elif event == "stop" and not subject.cancelled:
            self.progress_text["text"] = "Stopping: ending the splitter and deleting its partial output…"
            self._state("stopping")
            subject.cancel()
        elif event == "ended":
            self._ended(subject)
        elif event == "watch-ended":
            self._watch_ended()

    def _buttons(self, start, stop, watch):
        for button, on in ((self.start_button, start), (self.stop_button, stop), (self.watch_button, watch)):
            button.configure(state="normal" if on else "disabled")

    def close(self):
        watcher, job = self.watcher, self.job
        if watcher is not None and not self.closing:
            if not self.dialogs.ask("Watching is on. Stop watching and close the window?\n\nA batch "
                                    "under way is undone and its source put back into the source "
                                    "folder, to be split when watching starts again."):
                return
            if self.watcher is watcher:  # (else it stopped while the question was open)
                self.closing = True
                self.close_by = time.monotonic() + WATCH_CLOSE_WAIT
                self._stop_watching()
                return  # `tick` closes the window once the watcher has stopped
        if job is not None and not self.closing:
            if not self.dialogs.ask("A job is running. Stop it and close the window?\n\nThe splitter "
                                    "is ended and its partial output deleted."):
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
                    self.say(line)
                job.tick()
                if not job.cancelled:
                    self._show_progress(job.record)
                if job.finished.is_set() and job.messages.lines.empty():
                    self._change("ended", job)
            if self.watcher is not None:
                self._watch_tick()
            self.review.tick()
        finally:
            if not self.destroyed:
                self.root.after(TICK_MS, self.tick)

    def _show_progress(self, record):
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
            self.say(job.failure.rstrip())
        key, _summary = frontend.classify(job.sink, job.controller, job.failure, job.cancelled)
        words = frontend.OUTCOMES[key].window
        self._state(ENDED_TITLE[key])
        if key == "cancelled":
            self.progress["value"] = 0
            self.progress_text["text"] = words
            if self.closing:
                self.close()
            return
        refused = handover.refusal(job.sink)
        if key in ("refused", "refused-input") and refused:
            self.progress_text["text"] = "{} ({})".format(words, refused[0])
            self.dialogs.error("The job was refused: {}.\n\n{}".format(*refused))
            return
        record = job.record
        if key in ("finished", "not-split"):
            self.progress["value"] = 100
            self._show_progress(record)
            words = "{} {}".format(words, self.progress_text["text"]) if record.files else words
        elif key == "no-summary" and record.files:
            words = "{} {} of {} files done.".format(words, record.files_done(), len(record.files))
        self.progress_text["text"] = words
        if record.files and key in ("finished", "not-split", "no-summary"):
            self.review.show(record)

    # -- watching the source folder: each complete PDF dropped into it is split as its own job

    def toggle_watch(self):
        if self.watcher is not None:
            if not self.watcher.stopping():
                self._stop_watching()
        else:
            self._start_watching()
        self.watching.set(self.watcher is not None and not self.watcher.stopping())

    def _start_watching(self):
        if self.job is not None:
            return
        checked = self.checked_values()
        if checked is None:
            return
        v, token = checked
        splitter = v["splitter"] if os.path.isfile(v["splitter"]) else shutil.which(v["splitter"]) or v["splitter"]
        s = watch.Settings(v["source"], v["target"], token, v["urldb"], splitter, archive=v["archive"] or None,
                           failed=v["failed"] or None, workers=v["workers"], threshold=v["threshold"])
        try:
            watch.check_folders(s)  # before its log file is made in the source folder
        except OSError as exc:
            self.dialogs.error("Watching cannot start: {}.\n\n(INBOX is the source folder, TARGET the "
                               "target folder.)".format(exc))
            return
        self.watch_reports = handover.WatchReports(token)
        self.watch_token = token
        log_path = os.path.join(s.state_dir, "watch.log")
        self.watch_log = watch.open_log(log_path)
        watcher = watch.Watcher(s, on_batch=self.watch_reports.on_batch, on_state=self.watch_reports.on_state)
        watcher.start()
        self._change("watching", watcher)
        self.say("— Watching {} → {}: finished sources go to {}, the others to {} (log: {})".format(
            s.inbox, s.target, s.archive, s.failed, log_path))
        self._show_watch_state("starting")

    def _stop_watching(self):
        self.watcher.stop(timeout=0)
        self._show_watch_state("stopping: a batch under way is undone and its source put back")

    def _show_watch_state(self, state):
        self.watch_text["text"] = "Watching: " + state
        self._state(state)
        if state.startswith("error"):
            self.say("Watching ended with an error: " + state[len("error: "):])

    def _watch_tick(self):
        ended = not self.watcher.running()  # before taking, so that its last reports are taken too
        for kind, text in self.watch_reports.take():
            if kind == "batch":
                self.last_batch["text"] = "Last batch: " + text
                self.say(text)
            else:
                self._show_watch_state(text)
        if ended or (self.closing and time.monotonic() > self.close_by):
            # (Past the wait, the next start undoes the batch left under way.)
            self._change("watch-ended", self.watcher)

    def _watch_ended(self):
        self.watcher = None
        watch.LOG.removeHandler(self.watch_log)
        self.watch_log.close()
        self.watching.set(False)
        self._buttons(start=True, stop=False, watch=True)
        if self.closing:
            self.close()

    def _token_entered(self):
        """A token entered while watching is used from the next batch on; sources refused under the
        old one go back into the source folder to be split again."""
        token = self.current_token()
        if self.watcher is None or not token or token == self.watch_token:
            return
        self.watch_reports.hide(token)
        self.watch_token = token
        self.watcher.set_token(token)
        self.say("— The new login token is used from the next batch on.")

    # -- review of an earlier job

    def review_folder(self, target=None):
        target = target or filedialog.askdirectory(title="Target folder of an earlier job", parent=self.root)
        if not target:
            return
        path = events.latest_record_for(target, self.jobs_dir)
        if path is None:
            self.dialogs.info("No job into {} was run from this window, so there is no record of "
                              "where its files were split.".format(target))
            return
        self.say("— Review of {} (job record {})".format(target, path))
        self.review.show(events.read_record(path))


def main(review=None):
    try:
        root = tk.Tk()
    except tk.TclError as exc:
        sys.stderr.write("orvane gui: cannot open a window: {}\n".format(exc))
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
