"""The splitter's options beyond its four arguments, as the tools give and show them.

The module always starts the splitter with its four arguments; the options a user chose reach it in
the job's environment variable ORVANE_SPLITTER_OPTIONS, in command-line form. Without a choice the
splitter follows its settings file, `orvaneFun.ini` beside the program, then that variable as the
process has it, then its own defaults. `effective` reads them by the splitter's rules, so that a door
shows as the default exactly what runs."""
import os
import re

from . import tessdata
from .i18n import _

ENV = "ORVANE_SPLITTER_OPTIONS"
INI_ENV = "ORVANE_SPLITTER_INI"     # the settings file named to the program (a wheel's launcher does)
INI_NAME = "orvaneFun.ini"
INI_SECTION = "orvaneFun"
KINDS = ("colour", "code", "black", "blank")
BLANK_PAGES = ("keep", "flag", "drop")
NAME_FIELDS = ("batch", "n", "n:03", "code", "date")
# The splitter's own defaults: today's sheets and names, and no text recognised.
DEFAULTS = {"sheets": "colour", "names": "{batch}_{n:03}", "blank-pages": "keep", "ocr": ""}
# The options a door may choose, and after them the one a put-back adds for its single source.
KEEP_PAGES = "keep-pages"
KEYS = tuple(DEFAULTS)
ORDER = KEYS + (KEEP_PAGES,)


def field_name(key):
    """The job field of option ``key`` ("blank-pages": blank_pages)."""
    return key.replace("-", "_")


class BadValue(ValueError):
    """A value the splitter would refuse: ``key``, ``value``, ``where`` (the file, variable or door it
    came from; None: given now) and ``why``."""

    def __init__(self, key, value, why, where=None):
        said = "{}={}".format(key, value) if key else value
        ValueError.__init__(self, ": ".join(part for part in (where, said, why) if part))
        self.key, self.value, self.why, self.where = key, value, why, where


def check_sheets(text):
    """The kinds of ``text`` ("colour, code") as the splitter takes them ("colour,code")."""
    kinds = [kind.strip() for kind in text.split(",")]
    unknown = [kind for kind in kinds if kind not in KINDS]
    if not text.strip() or unknown:
        raise BadValue("sheets", text, _("give a comma list of {}").format(", ".join(KINDS)))
    if len(set(kinds)) != len(kinds):
        raise BadValue("sheets", text, _("a kind is named twice"))
    return ",".join(kinds)


def check_names(text):
    """``text`` as a name template: braces balanced around the known fields only."""
    if not text.strip():
        raise BadValue("names", text, _("give a template such as {}").format(DEFAULTS["names"]))
    for part in re.split(r"(\{[^{}]*\})", text):
        if part.startswith("{") and part.endswith("}") and len(part) > 1:
            if part[1:-1] not in NAME_FIELDS:
                raise BadValue("names", text, _("unknown field {}: give {}").format(
                    part, " ".join("{" + f + "}" for f in NAME_FIELDS)))
        elif "{" in part or "}" in part:
            raise BadValue("names", text, _("a brace without its pair"))
    return text


def check_blank_pages(text):
    if text not in BLANK_PAGES:
        raise BadValue("blank-pages", text, _("give one of {}").format(", ".join(BLANK_PAGES)))
    return text


def check_ocr(text):
    """``text`` as tesseract's language names joined by "+" ("chi_sim+eng"), each named once; osd
    finds how a page is turned and recognises nothing, so it is no language to give. Empty turns
    recognition off, as the splitter reads it (an ``ocr=`` in orvaneFun.ini undoes nothing else)."""
    if not text.strip():
        return ""
    names = text.strip().split("+")
    if not all(tessdata.NAME.match(name) for name in names):
        raise BadValue("ocr", text, _("give language names joined by +, such as {}").format(tessdata.PREFERRED))
    if len(set(names)) != len(names):
        raise BadValue("ocr", text, _("a language is named twice"))
    if tessdata.ORIENTATION in names:
        raise BadValue("ocr", text, _("{} is used by itself to turn pages: leave it out").format(tessdata.ORIENTATION))
    return text.strip()


def check_keep_pages(text):
    """``text`` as a list of pages counted from 1 ("4, 9-10" or "4,9-10"), written "4,9-10"."""
    parts = [part.strip() for part in text.split(",")]
    if not all(re.match(r"^[1-9]\d*(?:-[1-9]\d*)?$", part) for part in parts) or \
            any(int(a) > int(b) for a, _d, b in (part.partition("-") for part in parts) if b):
        raise BadValue(KEEP_PAGES, text, _("give pages counted from 1, such as 4,9-10"))
    return ",".join(parts)


def check_together(options):
    """``options`` ({key: value}) as one run takes them: blank pages are judged only where a blank
    page is not a separator sheet."""
    if options.get("blank-pages", "keep") != "keep" and "blank" in options.get("sheets", "").split(","):
        raise BadValue("blank-pages", options["blank-pages"],
                       _("a blank page cannot be left out when blank pages are separator sheets"))


CHECKS = {"sheets": check_sheets, "names": check_names, "blank-pages": check_blank_pages, "ocr": check_ocr,
          KEEP_PAGES: check_keep_pages}


def check(key, value, where=None):
    """``value`` of option ``key`` as the splitter takes it; BadValue for one it refuses."""
    if key not in CHECKS:
        raise BadValue(key, value, _("not an option of the splitter"), where)
    try:
        return CHECKS[key](value)
    except BadValue as bad:
        raise BadValue(key, value, bad.why, where)


def split_words(text):
    """The arguments of a command-line text: separated by blanks or tabs; an argument may stand in
    double quotes, inside which \\" is a quote and \\\\ a backslash; any other backslash is itself
    (Windows paths)."""
    words, word, quoted, within, i = [], [], False, False, 0
    while i < len(text):
        c = text[i]
        if quoted and c == "\\" and text[i + 1:i + 2] in ('"', "\\"):
            word.append(text[i + 1])
            i += 1
        elif c == '"':
            quoted, within = not quoted, True
        elif c in " \t" and not quoted:
            if word or within:
                words.append("".join(word))
            word, within = [], False
        else:
            word.append(c)
        i += 1
    if quoted:
        raise BadValue("", text, _("a double quote is left open"), ENV)
    if word or within:
        words.append("".join(word))
    return words


def quote(word):
    """``word`` as one argument of a command-line text (split_words gives it back)."""
    if word and not re.search(r'[ \t"]', word):
        return word
    return '"' + word.replace("\\", "\\\\").replace('"', '\\"') + '"'


def parse_words(words, where):
    """{key: value} of ``--key value`` (or ``--key=value``) arguments, each value checked."""
    options, words = {}, list(words)
    while words:
        flag = words.pop(0)
        key, equals, value = flag.partition("=")
        if not key.startswith("--") or not (equals or words):
            raise BadValue("", flag, _("not an option with its value"), where)
        options[key[2:]] = check(key[2:], value if equals else words.pop(0), where)
    return options


def command_text(options):
    """The command-line text of ``options`` ({key: value}), in the order of ORDER."""
    return " ".join("--{} {}".format(key, quote(options[key])) for key in ORDER if key in options)


def ini_path(splitter, environ=None):
    """The settings file the splitter reads: a wheel's launcher (a script) names the one beside
    itself to the real program; the program reads the one ORVANE_SPLITTER_INI names, else the one
    in its own folder (links followed)."""
    try:
        with open(splitter, "rb") as fh:
            launcher = fh.read(2) == b"#!"
    except OSError:
        launcher = False
    given = (os.environ if environ is None else environ).get(INI_ENV)
    if given and not launcher:
        return given
    path = os.path.abspath(splitter) if launcher else os.path.realpath(splitter)
    return os.path.join(os.path.dirname(path), INI_NAME)


def read_ini(path):
    """{key: value} of a settings file (none: {}): UTF-8 with or without a byte-order mark,
    `key=value` lines, `#` and `;` comments, an optional [orvaneFun] header; values as they stand
    after "=", blanks around them trimmed. BadValue names the file for what the splitter refuses."""
    try:
        with open(path, "rb") as fh:
            data = fh.read()
    except FileNotFoundError:
        return {}
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError:
        raise BadValue("", "", _("not UTF-8"), path)
    options = {}
    for line in text.splitlines():
        line = line.strip()
        if not line or line[0] in "#;" or line.lower() == "[{}]".format(INI_SECTION.lower()):
            continue
        key, equals, value = line.partition("=")
        if not equals:
            raise BadValue("", line, _("not a key=value line"), path)
        options[key.strip().lower()] = check(key.strip().lower(), value.strip(), path)
    return options


def from_environment(environ=None):
    """{key: value} of ORVANE_SPLITTER_OPTIONS in ``environ`` (default: the process's)."""
    text = (os.environ if environ is None else environ).get(ENV, "")
    return parse_words(split_words(text), ENV)


def effective(splitter, environ=None):
    """{key: (value, where it comes from)} of what the splitter runs with when the user chooses
    nothing: its defaults, the settings file beside ``splitter``, the process's variable."""
    values = {key: (value, None) for key, value in DEFAULTS.items()}
    path = ini_path(splitter, environ)
    values.update((key, (value, path)) for key, value in read_ini(path).items())
    values.update((key, (value, ENV)) for key, value in from_environment(environ).items())
    return values


def job_variable(chosen, environ=None):
    """The ORVANE_SPLITTER_OPTIONS of a job with the options ``chosen`` ({key: value}, empty values
    left out): the process's own options with the chosen ones over them; None when nothing is
    chosen (the process's variable, if any, stays as it is)."""
    chosen = {key: value for key, value in chosen.items() if value}
    if not chosen:
        return None
    options = from_environment(environ)
    options.update((key, check(key, value)) for key, value in chosen.items())
    return command_text(options)
