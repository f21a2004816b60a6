"""What a split job is: each of its fields with its default, its check and where it can come from.

Every front door (`orvane split`, `orvane watch`, the window, the module's own call) builds its job
from `FIELDS`: a field's default and its check are written here and nowhere else, and each door
derives its argument or widget from the field's entry. A new option is one more `Field`.

The checks run before anything is announced: the module checks some of them only after the service
has recorded the start (the worker count), and some not at all (the threshold, which the splitter
refuses with a usage text that never reaches the user)."""
import locale
import os
import shutil
import sqlite3

from . import splitter_options, tessdata, urldb as urls
from .i18n import N_, _
from .outcomes import EXIT_CHECKS, EXIT_REFUSED

SPLITTER_NAME = "orvaneFun.exe"
TOKEN_ENV = "ORVANE_TOKEN"
URLDB_NAME = "url.db"
THRESHOLD = 19               # the colour threshold a separator sheet must reach (0-255 chroma)
THRESHOLD_RANGE = (0, 255)   # 0: the splitter's default
MAX_SPLITTER_WORKERS = 256

# Where a field's value can come from.
COMMAND_LINE = "command line"
WINDOW = "window"
SETTINGS_FILE = "settings file"
ENVIRONMENT = "environment"


class Refused(Exception):
    """An input that a job would fail on: ``status`` is the exit status of `orvane split`, ``problem``
    says what is wrong, ``hint`` what to do about it on the command line and ``field`` the name of
    the field to correct (each front end says it in its own terms)."""

    def __init__(self, status, problem, hint=None, field=None, advice=None):
        Exception.__init__(self, "{} ({})".format(problem, hint) if hint else problem)
        self.status = status
        self.problem = problem
        self.field = field
        self.advice = advice   # what to do in the window, when not the field's own advice


def worker_limit():
    """The most workers both the module (the processor count) and the splitter accept."""
    return min(os.cpu_count() or 1, MAX_SPLITTER_WORKERS)


def default_workers():
    # The module's own default (processors minus one) would be 0 on a one-processor machine.
    return max(1, (os.cpu_count() or 2) - 1)


def read_token_file(path):
    """The login token on the first line of ``path``: UTF-8 (a byte-order mark allowed), else the
    locale's encoding, as the file was written by a tool of the system."""
    with open(path, "rb") as fh:
        line = fh.readline()
    try:
        text = line.decode("utf-8-sig")
    except UnicodeDecodeError:
        text = line.decode(locale.getpreferredencoding(False))
    return text.strip()


def find_splitter(path):
    """The splitter program to run: a path is made absolute (the job may run in another folder), a
    bare name that is no file here is looked up on PATH; none given: orvaneFun.exe on PATH."""
    path = path or SPLITTER_NAME
    if os.path.sep in path or (os.path.altsep and os.path.altsep in path):
        return os.path.abspath(path)
    if os.path.isfile(path):
        return path
    return shutil.which(path) or path


def count_pdfs(folder):
    """The PDF files in ``folder`` and its subfolders, as the splitter finds them."""
    total = 0
    for _parent, _dirs, files in os.walk(folder):
        total += sum(1 for name in files if name.lower().endswith(".pdf"))
    return total


def _absolute(path):
    return os.path.abspath(path) if path else path


# -- the checks: each raises Refused; ``what`` is the door's name for the field's value


def check_folder(path, what, field):
    if not os.path.isdir(path):
        raise Refused(EXIT_CHECKS, _("the {} does not exist: {}").format(_(what), path), field=field)


def check_workers(workers, what, field):
    low, limit = FIELD[field].limits()
    if not low <= workers <= limit:
        raise Refused(EXIT_CHECKS, _("the worker count {} is out of range: give 1 to {} (the processor count)")
                      .format(workers, limit), field=field)


def check_threshold(threshold, what, field):
    low, high = FIELD[field].limits()
    if not low <= threshold <= high:
        raise Refused(EXIT_CHECKS, _("the threshold {} is out of range: give {} to {}").format(threshold, low, high),
                      field=field)


def check_splitter(path, what, field):
    if not os.path.isfile(path):
        raise Refused(EXIT_CHECKS, _("the splitter program does not exist: {}").format(path),
                      _("give --splitter or put {} on PATH").format(SPLITTER_NAME), field=field)
    check_splitter_settings(path)


def check_splitter_settings(path):
    """What the splitter would run with unless a door chooses otherwise (its settings file beside
    it, the process's ORVANE_SPLITTER_OPTIONS): a value it refuses ends the job before it splits."""
    try:
        splitter_options.effective(path)
    except splitter_options.BadValue as bad:
        raise Refused(EXIT_CHECKS, _("the splitter's settings hold a value it refuses: {}").format(bad),
                      _("correct it in {}").format(bad.where), field="splitter",
                      advice=_("Correct {} (or ask whoever set it up).").format(bad.where))


def check_option(value, what, field):
    """A splitter option the user chose (empty: none chosen, the splitter's settings stand)."""
    if value:
        try:
            splitter_options.check(field.replace("_", "-"), value)
        except splitter_options.BadValue as bad:
            raise Refused(EXIT_CHECKS, _("the {} {!r} is refused: {}").format(_(what), value, bad.why), field=field)


def check_urldb(path, what, field):
    """The URL database must exist and register the 'commit' endpoint: without it the module either
    refuses the job after its checks or runs it unannounced."""
    if not os.path.isfile(path):
        raise Refused(EXIT_REFUSED, _("the URL database does not exist: {}").format(path),
                      _("make one with: orvane urldb {} --url URL").format(path), field=field)
    try:
        endpoint = urls.lookup(path)
    except sqlite3.Error as exc:
        raise Refused(EXIT_REFUSED, _("{} is not a URL database: {}").format(path, exc), field=field)
    if not endpoint:
        raise Refused(EXIT_REFUSED, _("{} registers no 'commit' endpoint").format(path),
                      _("add it with: {}").format("orvane urldb {} --url URL".format(path)), field=field)


class Field(object):
    """One field of a job.

    ``default()`` gives its value when no door gives one; ``resolve(value)`` makes a given value the
    one the job uses (paths absolute); ``check(value, what, name)`` refuses a value the job would fail
    on, ``what`` naming it in messages; ``kind`` is "folder", "file", "number" (``limits()``: the
    lowest and highest it may be), "token" or "option" (one of the splitter's options: empty when
    none is chosen, and then the splitter's settings file decides).
    ``sources`` says where a value can come from. The command line's option: ``flags`` (none: a
    positional argument of the command), ``metavar``, ``help`` (marked text, %(default)s allowed,
    formatted with ``help_args``). The window's: ``label``, ``ask`` (what to do while it is empty:
    a field the job cannot go without) and ``advice`` (what to do when its check refused it)."""

    def __init__(self, name, kind, default, sources, check=None, resolve=None, what=None, limits=None, flags=(),
                 metavar=None, help=None, help_args=(), label=None, ask=None, advice=None):
        self.name = name
        self.kind = kind
        self.limits = limits
        self.default = default
        self.sources = sources
        self.check = check
        self.resolve = resolve or (lambda value: value)
        self.what = what or name
        self.flags = flags
        self.metavar = metavar
        self.help = help
        self.help_args = help_args
        self.label = label
        self.ask = ask
        self.advice = advice

    @property
    def remembered(self):
        return SETTINGS_FILE in self.sources


_EVERYWHERE = (COMMAND_LINE, WINDOW, SETTINGS_FILE)


def _option_field(name, metavar, what, label, help, advice):
    """One of the splitter's own options (`--name VALUE`), empty unless the user chose it."""
    return Field(name, "option", str, _EVERYWHERE, check_option, what=what, flags=("--" + name.replace("_", "-"),),
                 metavar=metavar,
                 help=help, help_args=(splitter_options.INI_NAME,), label=label, advice=advice)


# In the order a user would fix them: checks run in this order and the window asks in it.
FIELDS = (
    Field("source", "folder", str, _EVERYWHERE, check_folder, _absolute, N_("source folder"),
          label=N_("Source folder"), ask=N_("choose the source folder (the scans to split)"),
          advice=N_("Choose an existing folder under Source folder.")),
    Field("target", "folder", str, _EVERYWHERE, check_folder, _absolute, N_("target folder"),
          label=N_("Target folder"), ask=N_("choose the target folder (where the documents go)"),
          advice=N_("Choose an existing folder under Target folder (it is not created for you).")),
    # Never remembered: a token must not reach the disk.
    Field("token", "token", str, (COMMAND_LINE, WINDOW, ENVIRONMENT), flags=("--token",), metavar="TOKEN",
          help=N_("login token; better set it in the environment variable {} so that other "
                  "users cannot read it from the process list"), help_args=(TOKEN_ENV,),
          label=N_("Login token"), ask=N_("paste the login token, or choose a token file under Advanced")),
    Field("token_file", "file", str, _EVERYWHERE, resolve=_absolute, flags=("--token-file",), metavar="FILE",
          help=N_("read the login token from the first line of FILE (read again before each batch "
                  "when watching)"), label=N_("Token file (read before each job)")),
    Field("workers", "number", default_workers, _EVERYWHERE, check_workers, limits=lambda: (1, worker_limit()),
          flags=("-w", "--workers"),
          metavar="N", help=N_("worker count for the splitter, 1 to the processor count (default: %(default)s, "
                               "one less than the processors)"),
          label=N_("Workers"), ask=N_("give a whole number of workers under Advanced"),
          advice=N_("Correct Workers under Advanced settings.")),
    Field("threshold", "number", lambda: THRESHOLD, _EVERYWHERE, check_threshold, limits=lambda: THRESHOLD_RANGE,
          flags=("-t", "--threshold"),
          metavar="T", help=N_("colour threshold of a separator sheet, 0-255 chroma (default: %(default)s)"),
          label=N_("Threshold"), ask=N_("give a whole number as threshold under Advanced"),
          advice=N_("Correct Threshold under Advanced settings.")),
    Field("splitter", "file", lambda: shutil.which(SPLITTER_NAME) or "", _EVERYWHERE, check_splitter,
          find_splitter, flags=("--splitter",), metavar="PATH",
          help=N_("splitter program (default: {} found on PATH)"), help_args=(SPLITTER_NAME,),
          label=N_("Splitter program"), advice=N_("Choose orvaneFun.exe under Advanced settings, Splitter program.")),
    _option_field("sheets", "KINDS", N_("separator sheets"), N_("Separator sheets"),
                  N_("the kinds of separator sheet, a comma list of colour, code, black and blank "
                     "(default: what {} beside the splitter says, else colour)"),
                  N_("Correct Separator sheets under Advanced settings: a comma list of colour, code, black and "
                     "blank, or empty for the default.")),
    _option_field("names", "TEMPLATE", N_("document names"), N_("Document names"),
                  N_("the documents' file names from {{batch}} {{n}} {{n:03}} {{code}} {{date}} "
                     "(default: what {} beside the splitter says, else {{batch}}_{{n:03}})"),
                  N_("Correct Document names under Advanced settings: the fields {batch} {n} {n:03} {code} "
                     "{date} in braces, or empty for the default.")),
    _option_field("blank_pages", "keep|flag|drop", N_("blank pages"), N_("Blank pages"),
                  N_("what becomes of blank pages (a duplex scan's empty backs): keep them, flag them in "
                     "the file's line, or drop them from the documents (default: what {} beside the "
                     "splitter says, else keep)"),
                  N_("Correct Blank pages under Advanced settings: keep, flag or drop, or empty for the "
                     "default.")),
    _option_field("ocr", "LANGS", N_("text languages"), N_("Recognise text"),
                  N_("recognise the documents' text so that it can be searched and copied, in tesseract's "
                     "languages joined by + such as chi_sim+eng (default: what {} beside the splitter says, "
                     "else no text recognised)"),
                  N_("Correct Recognise text under Advanced settings: installed languages joined by + such as "
                     "chi_sim+eng, or empty for none.")),
    Field("urldb", "file", lambda: URLDB_NAME, _EVERYWHERE, check_urldb, _absolute, flags=("--urldb",),
          metavar="PATH", help=N_("URL database naming the announcement endpoint (default: %(default)s)"),
          label=N_("URL database"), advice=N_("Choose the URL database (url.db) under Advanced settings, or ask "
                                              "for one that names the announcement service.")),
)
FIELD = {f.name: f for f in FIELDS}
OPTION_FIELDS = tuple(f.name for f in FIELDS if f.kind == "option")


def option_values(values):
    """{field name: value} of the splitter's options in ``values`` (a dict, or settings)."""
    get = values.get if isinstance(values, dict) else lambda name: getattr(values, name)
    return {name: get(name) for name in OPTION_FIELDS}
REMEMBERED = tuple(f.name for f in FIELDS if f.remembered)


class JobSettings(object):
    """One job's settings: an attribute per field of FIELDS, its default where none was given."""

    def __init__(self, **values):
        unknown = set(values) - set(FIELD)
        if unknown:
            raise TypeError("not a field of a job: {}".format(", ".join(sorted(unknown))))
        for f in FIELDS:
            value = values.get(f.name)
            setattr(self, f.name, f.default() if value is None else value)

    @classmethod
    def from_args(cls, args, **given):
        """The settings of a command line (argparse's namespace, whose ``dest`` are the field
        names); ``given`` for fields the command names otherwise (the watcher's INBOX)."""
        values = {name: getattr(args, name, None) for name in FIELD}
        values.update(given)
        return cls(**values)

    def values(self):
        return {f.name: getattr(self, f.name) for f in FIELDS}

    def resolved(self):
        """The same settings as the job uses them: paths absolute (taken relative to where they were
        given, before any change of folder), the splitter found."""
        return type(self)(**{f.name: f.resolve(getattr(self, f.name)) for f in FIELDS})

    def check(self, what=None):
        """Every check, in the order a user would fix them; raises Refused for the first that fails.
        ``what``: {field name: word} for the door's own names of fields (marked texts)."""
        what = what or {}
        for f in FIELDS:
            if f.check is not None:
                f.check(getattr(self, f.name), what.get(f.name, f.what), f.name)
        self.check_options_together()

    def splitter_options(self):
        """{key: value} of the splitter's options the user chose (empty ones left out)."""
        chosen = {key: getattr(self, splitter_options.field_name(key)) for key in splitter_options.KEYS}
        return {key: value for key, value in chosen.items() if value}

    def check_options_together(self):
        """The chosen options over what the splitter would run with otherwise must go together."""
        try:
            runs = {key: value for key, (value, _where) in splitter_options.effective(self.splitter).items()}
        except splitter_options.BadValue:
            runs = {}
        runs.update((key, splitter_options.check(key, value)) for key, value in self.splitter_options().items())
        try:
            splitter_options.check_together(runs)
        except splitter_options.BadValue as bad:
            raise Refused(EXIT_CHECKS, _("the {} {!r} is refused: {}").format(_(FIELD["blank_pages"].what),
                                                                             bad.value, bad.why), field="blank_pages")
        self.check_languages(runs.get("ocr"))

    def check_languages(self, languages):
        """The splitter refuses a language whose data its folder lacks: refused here, before the job
        is announced, naming the folder it looked in."""
        if not languages:
            return
        folder, missing = tessdata.missing_languages(languages, self.splitter)
        if missing:
            raise Refused(EXIT_CHECKS, _("the language {} is not installed (no {} in {})").format(
                missing[0], missing[0] + tessdata.SUFFIX, folder),
                _("install its data or choose from: {}").format(
                    ", ".join(tessdata.installed_languages(self.splitter)[1]) or "-"), field="ocr")

    def recognises(self):
        """Whether the job's splitter recognises text: chosen here, else in its settings."""
        if self.ocr:
            return True
        try:
            return bool(splitter_options.effective(self.splitter)["ocr"][0])
        except splitter_options.BadValue:
            return False

    def has_work(self):
        """Whether the source folder holds a PDF file. A job that cannot split anything is neither
        announced nor run, whichever door starts it: its start would only be a false record."""
        return count_pdfs(self.source) > 0

    def current_token(self, environ=None):
        """The login token: the token file's first line (read now, so that a renewed file counts at the
        next job), else the one given, else the environment's; "" when none. Raises OSError when the
        token file cannot be read."""
        if self.token_file:
            return read_token_file(self.token_file)
        return self.token or (os.environ if environ is None else environ).get(TOKEN_ENV) or ""

    def environ(self, more=None):
        """The variables the job's splitter gets over the process's environment: the options the
        user chose, and only those (ORVANE_SPLITTER_OPTIONS); ``more``: options of this run alone
        ({"keep-pages": "4"} of a put-back)."""
        text = splitter_options.job_variable(dict(self.splitter_options(), **(more or {})))
        return {} if text is None else {splitter_options.ENV: text}

    def controller(self, sink, token, source=None, controller_class=None):
        """The module's controller of this job reporting to ``sink``; ``source`` instead of the
        source folder (the watcher's staging folder of one batch)."""
        if controller_class is None:
            import Orvane
            controller_class = Orvane.orvaneClass
        return controller_class(source or self.source, self.target, self.workers, self.threshold, token,
                                self.urldb, self.splitter, sink)
