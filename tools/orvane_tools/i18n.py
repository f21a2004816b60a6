"""The language of the window's and the command line's own texts: Simplified Chinese or English.

Texts are written in English in the code and marked ``_("...")`` (``ngettext`` for counts, ``N_`` for
a text kept in a table and translated where it is shown). `_` looks the text up in the language in
force when it is called, so that a change of language in the window's settings takes effect at once.
The module's own messages (its fixed Chinese texts) are never passed through `_`.

The language is the user's: the `language` setting when it names one of `LANGUAGES`, else the
system's (POSIX: the locale of LC_ALL, LC_MESSAGES or LANG, and the list in LANGUAGE unless that
locale is "C"; Windows sets none of these, so there its user interface language), else English. The catalogues are the compiled `.mo` files in
`locale/` beside this file (made at build time by `catalogues.py`), or in a source checkout the
`.po` sources read directly."""
import gettext
import os
import sys

from . import catalogues

LANGUAGES = ("zh_CN", "en")
DEFAULT = "en"
LOCALE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "locale")
LOCALE_VARIABLES = ("LC_ALL", "LC_MESSAGES", "LANG")

_current = {"language": None, "translation": gettext.NullTranslations()}


def supported(name):
    """The one of `LANGUAGES` that a locale name ("zh_CN.UTF-8", "zh-Hans", "en_GB", "C") asks for, or
    None. Every Chinese locale gets the Simplified catalogue, the only Chinese one there is."""
    if not name:
        return None
    base = name.split(".")[0].split("@")[0].replace("-", "_").lower()
    if base.startswith("zh"):
        return "zh_CN"
    if base == "en" or base.startswith("en_"):
        return "en"
    return None


def windows_language():
    """The locale name of the Windows user interface language ("zh_CN"), or None."""
    try:
        import ctypes
        import locale

        langid = ctypes.windll.kernel32.GetUserDefaultUILanguage()
    except (ImportError, AttributeError, OSError):
        return None
    return locale.windows_locale.get(langid) or ("zh_CN" if langid & 0x3FF == 0x04 else None)


def system_language(environ=None, platform=None, windows=windows_language):
    """The language the system asks for, of `LANGUAGES` (English when it asks for none of them)."""
    environ = os.environ if environ is None else environ
    platform = sys.platform if platform is None else platform
    locale_name = next((environ[v] for v in LOCALE_VARIABLES if environ.get(v)), None)
    if locale_name is None:
        return (supported(windows()) if platform.startswith("win") else None) or DEFAULT
    if locale_name.split(".")[0] in ("C", "POSIX"):
        return DEFAULT  # no language asked for; LANGUAGE is ignored then, as GNU gettext does
    # LANGUAGE lists languages by preference ("zh_CN:en"): the first we have wins.
    for name in environ.get("LANGUAGE", "").split(":"):
        if supported(name):
            return supported(name)
    return supported(locale_name) or DEFAULT


def choose(setting=None, environ=None, platform=None, windows=windows_language):
    """The language to use: the setting when it names one, else the system's."""
    return setting if setting in LANGUAGES else system_language(environ, platform, windows)


class _PoTranslations(gettext.GNUTranslations):
    """A catalogue read straight from its `.po` source (a source checkout without built `.mo`)."""

    def __init__(self, path):
        gettext.NullTranslations.__init__(self)
        self._catalog = {}
        self.plural = lambda n: int(n != 1)
        for key, value in catalogues.read_po(path).items():
            if key == "":
                self._parse_header(value)
            elif "\0" in key:
                singular = key.split("\0")[0]
                for number, form in enumerate(value.split("\0")):
                    self._catalog[(singular, number)] = form
            else:
                self._catalog[key] = value

    def _parse_header(self, header):
        for line in header.splitlines():
            name, _, value = line.partition(":")
            if name.strip().lower() == "plural-forms":
                plural = value.split("plural=")[-1].strip().rstrip(";")
                self.plural = gettext.c2py(plural)


def translation(language):
    """The catalogue of ``language``: the compiled one, else its `.po` source, else none (English)."""
    compiled = catalogues.mo_path(LOCALE_DIR, language)
    if os.path.isfile(compiled):
        with open(compiled, "rb") as fh:
            return gettext.GNUTranslations(fh)
    source = catalogues.po_files().get(language)
    return _PoTranslations(source) if source else gettext.NullTranslations()


def use(language):
    """Show texts in ``language`` (one of `LANGUAGES`) from now on."""
    if language not in LANGUAGES:
        raise ValueError("unknown language {!r}".format(language))
    _current["translation"] = translation(language)
    _current["language"] = language


def setup(setting=None):
    """Use the user's language (see `choose`); returns it."""
    language = choose(setting)
    use(language)
    return language


def current():
    return _current["language"] or DEFAULT


def _translation():
    if _current["language"] is None:
        setup()  # nobody chose yet: the system's language
    return _current["translation"]


def _(text):
    return _translation().gettext(text)


def ngettext(singular, plural, n):
    return _translation().ngettext(singular, plural, n)


def N_(text):
    """Marks a text for the catalogues where it is defined; `_` translates it where it is shown."""
    return text


def translate_argparse():
    """argparse's own words ("usage:", "options", its errors) through our catalogues too: it looks
    them up in its module's `_` and `ngettext` at the time it shows them."""
    import argparse
    argparse._ = _
    argparse.ngettext = ngettext
