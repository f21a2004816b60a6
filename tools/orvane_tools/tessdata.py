"""The languages the splitter can recognise text in: its tesseract data folder and what that holds.

The splitter takes every language from one folder, the first of these that exists: `tessdata` beside
the real program (the Windows zip and the wheels put it there), the folder TESSDATA_PREFIX names
(tesseract's own variable: the folder holding the `.traineddata` files), the system's. The tools look
the same way for the splitter the job runs, so that a door offers exactly what that splitter accepts
and refuses a language before the job is announced rather than after."""
import os
import re
import sysconfig

ENV = "TESSDATA_PREFIX"
SYSTEM_FOLDER = "/usr/share/tesseract-ocr/5/tessdata"
FOLDER_NAME = "tessdata"
SUFFIX = ".traineddata"
# Finds how a page is turned; it recognises no text, so it is no language to choose.
ORIENTATION = "osd"
# The language list the window offers first when both are there: the batches this is made for.
PREFERRED = "chi_sim+eng"
NAME = re.compile(r"^[A-Za-z0-9_]+$")


def real_program(splitter):
    """The program itself: a wheel's launcher (a Python script) executes the one in the package
    area, whose folder holds the wheel's data; links are followed, as the splitter finds its folder."""
    try:
        with open(splitter, "rb") as fh:
            head = fh.read(4096)
    except OSError:
        return os.path.realpath(splitter)
    named = re.search(rb"get_path\(\"platlib\"\),\s*'([^']+)'", head) if head.startswith(b"#!") else None
    if named:
        return os.path.join(sysconfig.get_path("platlib"), named.group(1).decode("utf-8"))
    return os.path.realpath(splitter)


def candidates(splitter, environ=None):
    """The folders the splitter at ``splitter`` looks in, in its order."""
    environ = os.environ if environ is None else environ
    found = [os.path.join(os.path.dirname(real_program(splitter)), FOLDER_NAME)] if splitter else []
    if environ.get(ENV):
        found.append(environ[ENV])
    return found + [SYSTEM_FOLDER]


def data_folder(splitter, environ=None):
    """(the folder used, whether it exists): the first that exists, else the last looked in."""
    looked = candidates(splitter, environ)
    return next(((folder, True) for folder in looked if os.path.isdir(folder)), (looked[-1], False))


def installed_languages(splitter, environ=None):
    """(data folder, sorted language names installed there) for the splitter at ``splitter``."""
    folder, exists = data_folder(splitter, environ)
    try:
        names = os.listdir(folder) if exists else []
    except OSError:
        names = []
    languages = (name[:-len(SUFFIX)] for name in names if name.endswith(SUFFIX))
    return folder, sorted(name for name in languages if NAME.match(name) and name != ORIENTATION)


def missing_languages(languages, splitter, environ=None):
    """(data folder, the names of ``languages`` ("chi_sim+eng") not installed there)."""
    folder, installed = installed_languages(splitter, environ)
    return folder, [name for name in languages.split("+") if name not in installed]


def offered(installed):
    """The language lists a door offers: chi_sim+eng first when both are there, then each language."""
    both = [PREFERRED] if all(name in installed for name in PREFERRED.split("+")) else []
    return both + list(installed)
