"""The run's options (--sheets, --names, --blank-pages, --keep-pages) from the settings file beside the program, from
ORVANE_SPLITTER_OPTIONS and from the command line, which wins over both; a bad one refused in one
line; and the name template's fields on real files, through a copy of the real program."""
import os
import re
import shutil
import subprocess
import time

import pytest

from pdfgen import YELLOW, JpegPage, build_pdf

# A source whose two yellow sheets make three documents under the colour rule.
PAGES = [JpegPage(1), JpegPage(2, "sheet", YELLOW), JpegPage(3), JpegPage(4, "sheet", YELLOW), JpegPage(5)]


def with_creation_dates(data, *dates):
    """`data` with one incremental update per date, each giving the file a new /Info."""
    for date in dates:
        prev = int(data.rsplit(b"startxref", 1)[1].split()[0])
        root = re.findall(rb"/Root (\d+ \d+ R)", data)[-1]
        size = int(re.findall(rb"/Size (\d+)", data)[-1])
        obj = b"%d 0 obj\n<< /CreationDate (D:%s) >>\nendobj\n" % (size, date)
        xref = len(data) + len(obj)
        data += obj + b"xref\n%d 1\n%010d 00000 n \ntrailer\n<< /Size %d /Root %s /Info %d 0 R /Prev %d >>\n" \
            b"startxref\n%d\n%%%%EOF\n" % (size, len(data), size + 1, root, size, prev, xref)
    return data


@pytest.fixture
def program(splitter_exe, tmp_path):
    """A copy of the splitter in a folder of its own (for its orvaneFun.ini), run on (src, dst)."""
    folder = tmp_path / "bin"
    folder.mkdir()
    exe = str(folder / "orvaneFun.exe")
    shutil.copy(splitter_exe, exe)
    src, dst = tmp_path / "in", tmp_path / "out"
    src.mkdir()
    dst.mkdir()

    def run(options=(), env_options=None, ini=None):
        env = dict(os.environ)
        for k in ("ORVANE_SPLITTER_OPTIONS", "ORVANE_SPLITTER_INI", "ORVANE_EVENTS"):
            env.pop(k, None)
        if env_options is not None:
            env["ORVANE_SPLITTER_OPTIONS"] = env_options
        if isinstance(ini, tuple):  # (the program's own file, the one a launcher names)
            (tmp_path / "launcher.ini").write_text(ini[1])
            env["ORVANE_SPLITTER_INI"], ini = str(tmp_path / "launcher.ini"), ini[0]
        if ini is not None:
            (folder / "orvaneFun.ini").write_bytes(ini.encode("utf-8"))
        done = subprocess.run([exe, str(src), str(dst), "1", "0"] + list(options), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=env, timeout=120)
        found = sorted(os.listdir(str(dst / os.listdir(str(dst))[0]))) if os.listdir(str(dst)) else []
        return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8"), found
    run.src, run.dst = src, dst
    return run


DEFAULT = ["a_001.pdf", "a_002.pdf", "a_003.pdf"]
BOM = "\ufeff"

# (what, settings file, ORVANE_SPLITTER_OPTIONS, command line, documents or the refusal's words)
PRECEDENCE = [
    ("nothing given: today's names", None, None, [], DEFAULT),
    ("the file", "names=file {n}\n", None, [], ["file 1.pdf", "file 2.pdf", "file 3.pdf"]),
    ("the file a launcher names, not the program's own", ("names=own {n}\n", "names=launched {n}\n"), None, [],
     ["launched 1.pdf", "launched 2.pdf", "launched 3.pdf"]),
    ("the variable over the file", "names=file {n}\n", "--names var{n}", [], ["var1.pdf", "var2.pdf", "var3.pdf"]),
    ("the command line over both", "names=file {n}\n", "--names var{n}", ["--names", "cmd{n}"],
     ["cmd1.pdf", "cmd2.pdf", "cmd3.pdf"]),
    ("each key on its own: names from the file, sheets from the variable", "names=x{n}\n", "--sheets colour", [],
     ["x1.pdf", "x2.pdf", "x3.pdf"]),
    ("BOM, header, comments, blanks around", BOM + "[orvaneFun]\r\n# a comment\r\n; another\r\n\r\n  sheets =  colour , black \r\n",
     None, [], DEFAULT),
    ("quotes and backslashes in the variable", None, '--sheets=colour\t--names "{batch} \\"q\\" C:\\dir\\\\x {n}"', [],
     ["a _q_ C__dir_x 1.pdf", "a _q_ C__dir_x 2.pdf", "a _q_ C__dir_x 3.pdf"]),
    ("a bad value in the file", "sheets=colour,paper\n", None, [], 'orvaneFun.ini (line 1): sheets=colour,paper: unknown sheet kind "paper"'),
    ("an unknown key in the file", "[orvaneFun]\ncolours=yes\n", None, [], "orvaneFun.ini (line 2): colours=yes: unknown key"),
    ("another section in the file", "[other]\n", None, [], "orvaneFun.ini (line 1): [other]: unknown section"),
    ("a line without =", "sheets\n", None, [], "orvaneFun.ini (line 1): sheets: not a key=value line"),
    ("a bad file is refused even when overridden", "names={nope}\n", None, ["--names", "x"], "names={nope}: unknown field {nope}"),
    ("a bad variable", None, "--sheets code,code", [], 'ORVANE_SPLITTER_OPTIONS: --sheets code,code: "code" is listed twice'),
    ("an unknown option in the variable", None, "--colour", [], "ORVANE_SPLITTER_OPTIONS: --colour: unknown option"),
    ("a quote left open", None, '--names "x', [], 'ORVANE_SPLITTER_OPTIONS: --names "x: a double quote is left open'),
    ("a bad command line", None, None, ["--names", "{n"], "the command line: --names {n: a '{' without its '}'"),
    ("an empty list", None, None, ["--sheets="], "the command line: --sheets : a kind is missing"),
    ("an empty template", None, None, ["--names", ""], "the command line: --names : the template is empty"),
    ("an option without its value", None, None, ["--names"], "the command line: --names: a value must follow"),
    ("a word that is no option", None, None, ["--sheets", "colour", "extra"], "the command line: extra: not an option"),
    ("blank pages kept, pages named to keep", "blank-pages=keep\n", None, ["--keep-pages", "1, 3-4"], DEFAULT),
    ("blank pages beside blank sheets", "blank-pages=drop\n", None, ["--sheets", "colour,blank"],
     "the options: --blank-pages drop: blank pages cannot be flagged or dropped while blank sheets"),
    ("a bad blank-pages value", None, "--blank-pages all", [], "ORVANE_SPLITTER_OPTIONS: --blank-pages all: not keep, flag or drop"),
    ("a bad page list", None, None, ["--keep-pages", "4,9-x"], 'the command line: --keep-pages 4,9-x: "9-x" is no page'),
    ("pages to keep in the file", "keep-pages=3\n", None, [], "orvaneFun.ini (line 1): keep-pages=3: unknown key"),
]


@pytest.mark.parametrize("what,ini,env_options,options,expected", PRECEDENCE, ids=[p[0] for p in PRECEDENCE])
def test_options_and_their_precedence(program, what, ini, env_options, options, expected):
    (program.src / "a.pdf").write_bytes(build_pdf(PAGES))
    code, out, err, documents = program(options, env_options, ini)
    if isinstance(expected, list):
        assert (code, err, documents) == (0, "", expected), out
    else:
        # One line naming where the value came from, the usage status, and no work at all.
        assert code == 2 and err.count("\n") == 1 and expected in err, err
        assert out == "" and os.listdir(str(program.dst)) == []


MTIME = time.mktime((2020, 6, 15, 12, 0, 0, 0, 0, -1))

# (template, the source's /CreationDate updates, documents in order, the line's listing)
FIELDS = [
    ("{batch}-{n}", (), ["scan 7-1.pdf", "scan 7-2.pdf", "scan 7-3.pdf"], None),
    ("{n:03} of {batch}", (), ["001 of scan 7.pdf", "002 of scan 7.pdf", "003 of scan 7.pdf"], None),
    ("{date} {n}", (b"20210203", b"20230405093000+01'00'"),
     ["2023-04-05 1.pdf", "2023-04-05 2.pdf", "2023-04-05 3.pdf"], None),
    ("{date}", (), ["2020-06-15.pdf", "2020-06-15_2.pdf", "2020-06-15_3.pdf"], None),
    ("{date}", (b"not a date",), ["2020-06-15.pdf", "2020-06-15_2.pdf", "2020-06-15_3.pdf"], None),
    ("{date}", (b"2024",), ["2024-01-01.pdf", "2024-01-01_2.pdf", "2024-01-01_3.pdf"], None),
    ("{code}", (), ["scan 7_001.pdf", "scan 7_002.pdf", "scan 7_003.pdf"], None),
    ("{batch}, ({n})", (), ["scan 7, (1).pdf", "scan 7, (2).pdf", "scan 7, (3).pdf"],
     '"scan 7, (1).pdf" (page 1), "scan 7, (2).pdf" (page 3), "scan 7, (3).pdf" (page 5)'),
]


@pytest.mark.parametrize("names,dates,expected,listing", FIELDS)
def test_name_fields(program, names, dates, expected, listing):
    source = program.src / "scan 7.pdf"
    source.write_bytes(with_creation_dates(build_pdf(PAGES), *dates))
    os.utime(str(source), (MTIME, MTIME))
    code, out, err, found = program(["--names", names])
    assert (code, found) == (0, sorted(expected)), out + err
    listed = out.splitlines()[0].split('": ', 1)[1]
    assert listed == (listing or ", ".join("%s (page %d)" % (n, p) for n, p in zip(expected, (1, 3, 5))))
