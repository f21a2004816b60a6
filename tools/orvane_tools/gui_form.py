"""The window's form: the fields a job needs and their checks.

Up front stand what every job asks for (source, target, login token); the rest, set once, sits under
"Advanced" and is remembered with the other settings. Nothing here starts a job: `Form.checked`
answers the values once they hold up, else tells the user what to do in the window."""
import os

import tkinter as tk
from tkinter import filedialog, ttk

from . import gui_panes, i18n, settings, splitter_options, tessdata
from .dialogs import pick_folder
from .i18n import N_, _
from .job_settings import FIELD, FIELDS, REMEMBERED, JobSettings, Refused, read_token_file

# The job's fields the window shows, by group (labels, pickers, limits, checks: job_settings.FIELDS),
# and the watcher's own folders, which only the window asks for beside the job's.
FRONT_FIELDS = ("source", "target")
ADVANCED_FIELDS = ("urldb", "splitter", "token_file", "archive", "failed", "sheets", "names", "blank_pages", "ocr")
# The values offered in a splitter option's list (any other comma list of sheets may be typed).
OPTION_CHOICES = {
    "sheets": ("", "colour", "colour,code", "code", "colour,black", "colour,blank", "colour,code,black,blank"),
    "blank_pages": ("",) + splitter_options.BLANK_PAGES,
    "ocr": ("",),   # and the languages installed for the form's splitter (language_choices)
}
NUMBER_FIELDS = tuple(f.name for f in FIELDS if f.kind == "number")
WATCH_FIELDS = {"archive": N_("Archive folder (watching)"), "failed": N_("Failed folder (watching)")}
LANGUAGE_NAMES = (("", N_("As the system")), ("zh_CN", "简体中文"), ("en", "English"))
# The window's own settings, remembered beside the job's.
WINDOW_FIELDS = {"archive": "", "failed": "", "advanced": "0", "language": ""}


def defaults():
    job = JobSettings().resolved()
    return dict({name: getattr(job, name) for name in REMEMBERED}, **WINDOW_FIELDS)


def label(name):
    return _(WATCH_FIELDS[name]) if name in WATCH_FIELDS else _(FIELD[name].label)


class Form(ttk.Frame):
    """The job's fields. ``vars`` holds a StringVar per remembered field; ``token`` the pasted token
    (never remembered); ``env_token`` one given by the environment. A token pasted now wins over the
    remembered token file, which wins over the environment's (as on the command line)."""

    def __init__(self, master, remembered, env_token="", on_language=None):
        ttk.Frame.__init__(self, master, padding=(8, 8, 8, 0))
        values = dict(defaults(), **{k: v for k, v in remembered.items() if v is not None})
        self.vars = {name: tk.StringVar(value=str(values[name])) for name in defaults()}
        self.token = tk.StringVar(value="")
        self.env_token = env_token
        self.on_language = on_language
        self.entries = {}
        self.hints = {}
        self.columnconfigure(0, weight=1)
        job = ttk.LabelFrame(self, text=_("Job"), padding=6)
        job.grid(row=0, column=0, sticky="ew")
        self._fields(job, FRONT_FIELDS)
        self._token_row(job, len(FRONT_FIELDS))
        self.advanced_shown = tk.BooleanVar(value=self.vars["advanced"].get() == "1")
        ttk.Checkbutton(self, text=_("Advanced settings"), variable=self.advanced_shown,
                        command=self._show_advanced).grid(row=1, column=0, sticky="w", pady=(4, 0))
        # Advanced scrolls within the room the window leaves it (gui.App fits it to the screen).
        self.advanced_area = gui_panes.ScrolledArea(self)
        self.advanced = ttk.LabelFrame(self.advanced_area.inner, text=_("Advanced settings"), padding=6)
        self.advanced.pack(fill="x", expand=True)
        rows = self._fields(self.advanced, ADVANCED_FIELDS)
        self._numbers(self.advanced, rows)
        self.vars["splitter"].trace_add("write", lambda *_a: self.show_defaults())
        self.show_defaults()
        self._show_advanced()
        self.focus_first()

    def row_height(self):
        """The height of one row of fields."""
        return self.entries["source"].winfo_reqheight() + 4

    def _fields(self, frame, fields):
        frame.columnconfigure(1, weight=1)
        for row, name in enumerate(fields):
            kind = FIELD[name].kind if name in FIELD else "folder"
            ttk.Label(frame, text=label(name)).grid(row=row, column=0, sticky="w", padx=(0, 6), pady=2)
            if kind == "option":
                self._option_row(frame, row, name)
                continue
            self.entries[name] = ttk.Entry(frame, textvariable=self.vars[name])
            self.entries[name].grid(row=row, column=1, sticky="ew", pady=2)
            ttk.Button(frame, text=_("Choose…"), command=lambda n=name, k=kind: self.pick(n, k)).grid(
                row=row, column=2, padx=(6, 0), pady=2)
        return len(fields)

    def _option_row(self, frame, row, name):
        """A splitter option: its field, and beside it what runs while it is left empty."""
        holder = ttk.Frame(frame)
        holder.grid(row=row, column=1, columnspan=2, sticky="ew", pady=2)
        if name in OPTION_CHOICES:
            self.entries[name] = ttk.Combobox(holder, textvariable=self.vars[name], values=OPTION_CHOICES[name])
        else:
            self.entries[name] = ttk.Entry(holder, textvariable=self.vars[name])
        self.entries[name].pack(side="left", fill="x", expand=True)
        ttk.Label(holder, text=_("if empty:")).pack(side="left", padx=(6, 0))
        # A value, not a text of ours: read-only, so that it can be copied.
        self.hints[name] = tk.StringVar()
        ttk.Entry(holder, textvariable=self.hints[name], state="readonly", width=24).pack(side="left", padx=(4, 0))

    def _token_row(self, frame, row):
        ttk.Label(frame, text=label("token")).grid(row=row, column=0, sticky="w", padx=(0, 6), pady=2)
        entry = ttk.Entry(frame, textvariable=self.token, show="•")
        entry.grid(row=row, column=1, sticky="ew", pady=2)
        if self.env_token:
            entry.configure(state="disabled")
            ttk.Label(frame, text=_("(given when the window was started)")).grid(row=row, column=2, padx=(6, 0))
        else:
            self.entries["token"] = entry

    def _numbers(self, frame, row):
        numbers = ttk.Frame(frame)
        numbers.grid(row=row, column=0, columnspan=3, sticky="ew", pady=(4, 0))
        for name in NUMBER_FIELDS:
            low, high = FIELD[name].limits()
            ttk.Label(numbers, text=label(name)).pack(side="left")
            ttk.Spinbox(numbers, from_=low, to=high, width=5, textvariable=self.vars[name]).pack(
                side="left", padx=(6, 18))
        ttk.Label(numbers, text=_("Language")).pack(side="left")
        names = [_(text) if code == "" else text for code, text in LANGUAGE_NAMES]
        chosen = next((i for i, (code, _t) in enumerate(LANGUAGE_NAMES) if code == self.vars["language"].get()), 0)
        self.language_box = ttk.Combobox(numbers, values=names, state="readonly", width=16)
        self.language_box.current(chosen)
        self.language_box.pack(side="left", padx=(6, 0))
        self.language_box.bind("<<ComboboxSelected>>", self._language_chosen)

    def _language_chosen(self, _event=None):
        code = LANGUAGE_NAMES[self.language_box.current()][0]
        self.vars["language"].set(code)
        if self.on_language is not None:
            # After this event: the window is built again in the language, this box included.
            self.after_idle(self.on_language, code)

    def show_defaults(self):
        """Beside each splitter option left empty, what runs then: the settings file beside the
        splitter of the form (or the process's options, or the splitter's own default)."""
        splitter = self.vars["splitter"].get().strip()
        for name, hint in self.hints.items():
            hint.set(default_words(splitter, name))
        self.entries["ocr"].configure(values=language_choices(splitter))

    def _show_advanced(self):
        shown = self.advanced_shown.get()
        self.vars["advanced"].set("1" if shown else "0")
        if shown:
            self.advanced_area.grid(row=2, column=0, sticky="ew")
        else:
            self.advanced_area.grid_remove()

    def focus_first(self):
        """The cursor starts in the first field still to fill in."""
        for name in ("source", "target", "token"):
            entry = self.entries.get(name)
            value = self.token.get() if name == "token" else self.vars[name].get()
            if entry is not None and not value:
                entry.focus_set()
                return

    def pick(self, name, kind):
        current = self.vars[name].get()
        if kind == "folder":
            start = current or (self.vars["target"].get() if name != "source" else "")
            chosen = pick_folder(self.winfo_toplevel(), start)
        else:
            chosen = filedialog.askopenfilename(initialdir=os.path.dirname(current) or None,
                                                parent=self.winfo_toplevel())
        if chosen:
            self.vars[name].set(chosen)

    # -- values

    def values(self):
        v = {name: var.get().strip() for name, var in self.vars.items()}
        for name in REMEMBERED:
            v[name] = FIELD[name].resolve(v[name]) if v[name] else v[name]
        for name in WATCH_FIELDS:
            v[name] = os.path.abspath(v[name]) if v[name] else v[name]
        for name in NUMBER_FIELDS:
            try:
                v[name] = int(v[name])
            except ValueError:
                v[name] = None
        return v

    def job(self, values=None):
        """The job's settings as the window gives them: the pasted token (unless the environment
        gave one), the rest from the fields (``values``: those of `values()`)."""
        v = values or self.values()
        return JobSettings(token=self.token.get().strip() or self.env_token,
                           **{name: v[name] for name in REMEMBERED})

    def current_token(self):
        """The token to use now (JobSettings.current_token: the token file read again each time, so
        that a renewed file takes effect at the next job); "" while there is none to read."""
        pasted = self.token.get().strip()
        if pasted:   # typed for this job: a stale token file must not override it
            return pasted
        try:
            return self.job().current_token()
        except (OSError, ValueError):
            return ""

    def token_source(self):
        """What the watcher asks before each batch: the token file when there is one to read."""
        path = self.vars["token_file"].get().strip()
        if not path or self.token.get().strip():
            return self.current_token()
        from . import watch
        return watch.TokenFile(path, read_token_file, self.current_token())

    def checked(self):
        """(values, token) once everything a job needs is there and holds up, the job's fields as the
        job uses them; else None and the problem, in words that say what to do in the window."""
        v = self.values()
        token = self.current_token()
        present = dict(v, token=token)
        missing = [_(f.ask) for f in FIELDS if f.ask and present[f.name] in ("", None)]
        if missing:
            return None, _("Before starting: {}.").format(_("; ").join(missing))
        job = self.job(v).resolved()
        try:
            # Before anything is announced: the module would check some of these only after the start
            # is on the service's record, and the splitter refuses others without a word to the user.
            job.check()
        except Refused as refused:
            advice = refused.advice or FIELD[refused.field].advice
            return None, _("Nothing was started: {}.").format(refused.problem) + (
                "\n\n" + _(advice) if advice else "")
        return (dict(v, **{name: getattr(job, name) for name in REMEMBERED}), token), None

    def remembered(self, geometry):
        kept = self.values()
        kept["geometry"] = geometry
        return kept


def default_words(splitter, name):
    """"colour (orvaneFun.ini)": what the splitter runs with when the option is left empty, and
    where that comes from (nothing said for the splitter's own default)."""
    try:
        value, where = splitter_options.effective(FIELD["splitter"].resolve(splitter))[name.replace("_", "-")]
    except splitter_options.BadValue as bad:
        return _("refused by {}").format(os.path.basename(bad.where or ""))
    value = value or _("none")
    return _("{value} ({where})").format(value=value, where=os.path.basename(where)) if where else value


def language_choices(splitter):
    """What the text languages' list offers: none, then what the data folder of ``splitter`` holds
    (chi_sim+eng first when both are there)."""
    installed = tessdata.installed_languages(FIELD["splitter"].resolve(splitter))[1]
    return OPTION_CHOICES["ocr"] + tuple(tessdata.offered(installed))


def save_settings(form, geometry, path, say):
    try:
        settings.save(form.remembered(geometry), path)
    except OSError as exc:
        say(_("Settings not saved: {}").format(exc))


def language_of(remembered):
    return i18n.setup(remembered.get("language") or None)
