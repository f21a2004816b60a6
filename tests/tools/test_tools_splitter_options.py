"""The splitter's options through the doors (a shell stand-in splitter writes down its environment):
what a user chose reaches the job's own splitter and nothing else does; the settings file beside the
splitter is read by its rules; a value the splitter would refuse stops the job before it is announced."""
import io
import os
import subprocess

import pytest

from orvane_tools import frontend, job_runner, job_settings as js, splitter_options as so
from orvane_tools import urldb as urls

pytestmark = pytest.mark.timeout(120)

# Writes its options and events file, waits (20 s at most) until JOBS splitters run, writes how many did.
STANDIN = """#!/bin/sh
printf '%s\\n%s\\n' "$ORVANE_SPLITTER_OPTIONS" "$ORVANE_EVENTS" > "$2/seen.txt"
touch "{meeting}/$$"
i=0
while [ "$(ls "{meeting}" | wc -l)" -lt {jobs} ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done
ls "{meeting}" | wc -l >> "$2/seen.txt"
echo "Summary: 1 PDF files, 1 split, 0 not split; 1 pages, 0 separator pages, 1 documents written"
"""

# Splits the one source it is given into one document holding its options, as a put-back run does.
PUT_BACK = """#!/bin/sh
name=$(ls "$1"); stem=${name%.pdf}
echo "$name" >> "{meeting}/sources"
[ -n "$ORVANE_TEST_FAIL" ] && exit 1
mkdir -p "$2/$stem" && printf 'new %s' "$ORVANE_SPLITTER_OPTIONS" > "$2/$stem/${stem}_001.pdf"
echo "$name: 3 pages; separators: none; blank: 3; 1 document in \"$stem\": ${stem}_001.pdf (pages 1-2)"
echo "Summary: 1 PDF files, 1 split, 0 not split; 3 pages, 0 separator pages, 1 documents written"
"""


@pytest.fixture
def splitter(tmp_path, service, orvane, monkeypatch):
    """Splitter(jobs, ini): a stand-in for ``jobs`` jobs at once; its ``job(name, **fields)``: settings."""
    monkeypatch.chdir(tmp_path)
    monkeypatch.delenv(so.ENV, raising=False)
    db = str(tmp_path / "url.db")
    urls.write_url(db, service.commit_url)

    class Splitter(object):
        token = service.token("options")

        def __init__(self, jobs, ini=None, script=STANDIN):
            folder, self.meeting = tmp_path / "bin", tmp_path / "meeting"
            folder.mkdir(), self.meeting.mkdir()
            self.path = str(folder / js.SPLITTER_NAME)
            (folder / js.SPLITTER_NAME).write_text(script.replace("{meeting}", str(self.meeting))
                                                   .replace("{jobs}", str(jobs)))
            os.chmod(self.path, 0o700)
            if ini is not None:
                (folder / so.INI_NAME).write_bytes(ini.encode("utf-8"))
            # Its text languages: the data folder beside it, which it reads before any other.
            (folder / "tessdata").mkdir()
            for language in ("chi_sim", "eng", "osd"):
                (folder / "tessdata" / (language + ".traineddata")).write_bytes(b"")

        def job(self, name, **fields):
            src, dst = tmp_path / ("src-" + name), tmp_path / ("out-" + name)
            src.mkdir(), dst.mkdir(), (src / "a.pdf").write_bytes(b"%PDF-1.4\n")
            return js.JobSettings(source=str(src), target=str(dst), token=self.token, urldb=db, splitter=self.path,
                                  workers=1, **fields)

    return Splitter


def seen(job):  # (options, events file, splitters started by its end) as the job's splitter saw them
    options, events_path, count = open(os.path.join(job.target, "seen.txt"), encoding="utf-8").read().splitlines()
    return options, events_path, int(count)


def test_jobs_at_once_in_one_process_never_see_each_others_options(splitter, tmp_path, monkeypatch):
    # The administrator's names stand for the process; each job adds only what its user chose.
    monkeypatch.setenv(so.ENV, "--names {batch}")
    chosen = {"window": dict(sheets="colour,code", names="{batch} {code}"), "watched": dict(sheets="black"), "plain": {}}
    expected = {"window": '--sheets colour,code --names "{batch} {code}"', "watched": "--sheets black --names {batch}",
                "plain": "--names {batch}"}
    stand_in, runs = splitter(len(chosen)), {}
    for name, fields in chosen.items():
        job = stand_in.job(name, **fields)
        sink = frontend.JobSink(io.StringIO(), job.token)
        runs[name] = (job, sink, job_runner.JobRun(lambda job=job, sink=sink: job.controller(sink, job.token),
                                                   str(tmp_path / (name + ".jsonl")), environ=job.environ()).start())
    for name, (job, sink, run) in runs.items():
        assert run.finished.wait(60) and run.outcome(sink)[0] == "finished", run.failure
        assert seen(job) == (expected[name], str(tmp_path / (name + ".jsonl")), len(chosen))
    assert os.environ[so.ENV] == "--names {batch}" and "ORVANE_EVENTS" not in os.environ
    assert os.popen("echo plain").read() == "plain\n"   # a thread without a job: os.popen as it was


@pytest.mark.parametrize("options, ini, status, said", [
    (["--sheets", " colour, code"], None, frontend.EXIT_OK, "--sheets colour,code"),
    (["--names", "{n:03} {code}", "--sheets", "code"], "\ufeffsheets = black\n", frontend.EXIT_OK,
     '--sheets code --names "{n:03} {code}"'),
    ([], "[orvaneFun]\n# the office's choice\n; names stay\nsheets=colour,blank\n", frontend.EXIT_OK, ""),
    (["--sheets", "colour,colour"], None, frontend.EXIT_CHECKS, "a kind is named twice"),
    (["--sheets", "red"], None, frontend.EXIT_CHECKS, "colour, code, black, blank"),
    (["--names", "{batch"], None, frontend.EXIT_CHECKS, "a brace without its pair"),
    (["--names", "{page}"], None, frontend.EXIT_CHECKS, "unknown field {page}"),
    (["--sheets", "code"], "sheets=colour\nnames={when}\n", frontend.EXIT_CHECKS, "orvaneFun.ini: names={when}"),
    ([], "speed=fast\n", frontend.EXIT_CHECKS, "orvaneFun.ini: speed="),
    (["--blank-pages", "drop"], "sheets=colour,code\n", frontend.EXIT_OK, "--blank-pages drop"),
    (["--blank-pages", "gone"], None, frontend.EXIT_CHECKS, "give one of keep, flag, drop"),
    (["--blank-pages", "flag", "--sheets", "colour,blank"], None, frontend.EXIT_CHECKS, "blank pages are separator"),
    (["--blank-pages", "drop"], "sheets=blank\n", frontend.EXIT_CHECKS, "blank pages are separator"),
    (["--ocr", "chi_sim+eng"], "sheets=code\n", frontend.EXIT_OK, "--ocr chi_sim+eng"),
    (["--ocr", "eng+osd"], None, frontend.EXIT_CHECKS, "osd is used by itself"),
    (["--ocr", "chi-sim"], None, frontend.EXIT_CHECKS, "joined by +"),
    (["--ocr", "fra"], None, frontend.EXIT_CHECKS, os.path.join("bin", "tessdata") +
     ") (install its data or choose from: chi_sim, eng)"),
    ([], "ocr=chi_sim+fra\n", frontend.EXIT_CHECKS, "the language fra is not installed"),
    ([], "ocr=\n", frontend.EXIT_OK, ""),
])
def test_split_passes_what_was_chosen_and_refuses_what_the_splitter_would(splitter, run_cli, options, ini,
                                                                          status, said):
    stand_in = splitter(1, ini)
    job = stand_in.job("cli")
    done = run_cli("split", job.source, job.target, "--workers", "1", "--urldb", job.urldb, "--splitter",
                   stand_in.path, *options, env={"ORVANE_TOKEN": job.token})
    assert done.returncode == status, done.stdout + done.stderr
    if status == frontend.EXIT_OK:
        assert seen(job)[0] == said
    else:
        assert said in done.stderr and not os.listdir(job.target)


@pytest.mark.parametrize("ini, environ, shown", [
    (None, {so.ENV: "--blank-pages flag"}, {"sheets": ("colour", None), "names": ("{batch}_{n:03}", None),
                                             "blank-pages": ("flag", so.ENV)}),
    (b"\xef\xbb\xbf[orvaneFun]\r\nnames = \xe5\x90\x88\xe5\x90\x8c {code} \r\n", {},
     {"sheets": ("colour", None), "names": ("合同 {code}", "INI")}),
    (b"sheets=code\n", {so.ENV: '--sheets "black,blank"\t--names "C:\\x \\\\ \\"{date}\\""'},
     {"sheets": ("black,blank", so.ENV), "names": ('C:\\x \\ "{date}"', so.ENV)}),
])
def test_the_default_shown_is_what_the_splitter_runs_with(tmp_path, ini, environ, shown):
    program = str(tmp_path / js.SPLITTER_NAME)
    if ini is not None:
        (tmp_path / so.INI_NAME).write_bytes(ini)
    where = {"INI": so.ini_path(program)}
    shown = dict({"blank-pages": ("keep", None), "ocr": ("", None)}, **shown)
    assert so.effective(program, environ) == {key: (value, where.get(origin, origin))
                                              for key, (value, origin) in shown.items()}


@pytest.mark.parametrize("source, request_, fail, status, documents", [
    # Only the file named is split again; its new document replaces the old, the others stay.
    ("a.pdf", "a.pdf:2", False, frontend.EXIT_OK,
     {"a/a_001.pdf": "new --blank-pages drop --keep-pages 2", "a/a_002.pdf": "old"}),
    # Split at the last colon: the name itself may hold one (a Windows path always does).
    ("x:y.pdf", "x:y.pdf:4, 9-10", False, frontend.EXIT_OK,
     {"x:y/x:y_001.pdf": "new --blank-pages drop --keep-pages 4,9-10", "x:y/x:y_002.pdf": "old"}),
    # A run that fails leaves the old documents as they were.
    ("a.pdf", "a.pdf:2", True, frontend.EXIT_SPLITTER, {"a/a_001.pdf": "old", "a/a_002.pdf": "old"}),
    ("a.pdf", "a.pdf", False, frontend.EXIT_USAGE, {"a/a_001.pdf": "old", "a/a_002.pdf": "old"}),
    ("a.pdf", "a.pdf:0", False, frontend.EXIT_USAGE, {"a/a_001.pdf": "old", "a/a_002.pdf": "old"}),
])
def test_split_with_kept_pages_writes_that_files_documents_again(splitter, run_cli, source, request_, fail,
                                                                  status, documents):
    stand_in = splitter(1, script=PUT_BACK)
    job = stand_in.job("put-back")
    os.rename(os.path.join(job.source, "a.pdf"), os.path.join(job.source, source))
    (open(os.path.join(job.source, "b.pdf"), "wb")).close()
    for name in documents:
        os.makedirs(os.path.join(job.target, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(job.target, name), "w") as fh:
            fh.write("old")
    done = run_cli("split", job.source, job.target, "--workers", "1", "--urldb", job.urldb, "--splitter",
                   stand_in.path, "--blank-pages", "drop", "--keep-pages", request_,
                   env={"ORVANE_TOKEN": job.token, "ORVANE_TEST_FAIL": "1" if fail else ""})
    assert done.returncode == status, done.stdout + done.stderr
    written = {os.path.relpath(os.path.join(parent, name), job.target): open(os.path.join(parent, name)).read()
               for parent, _dirs, names in os.walk(job.target) for name in names}
    assert written == documents
    sources = stand_in.meeting / "sources"
    assert (sources.read_text() if sources.exists() else None) == (None if status == frontend.EXIT_USAGE
                                                                    else source + "\n")


def split_sample(tmp_path, batches, options, **which):
    """The FileRecord of the sample in ``batches`` split by the installed splitter with ``options``."""
    from splitter.conftest import installed_splitter
    from orvane_tools import events, samples

    program = installed_splitter()
    if not program:
        pytest.skip("no installed orvaneFun.exe")
    src, dst, record = tmp_path / "src", tmp_path / "out", str(tmp_path / "events.jsonl")
    dst.mkdir()
    samples.write_batches(str(src), **which)
    done = subprocess.run([program, str(src), str(dst), "1", "19"] + options,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=dict(os.environ, ORVANE_EVENTS=record))
    if done.returncode == 2:
        pytest.skip("this splitter does not take {} yet".format(options[0]))
    return next(f for f in events.read_record(record).file_records() if f.name in batches), done


def test_the_code_samples_split_at_their_code_sheets_and_name_documents_from_them(tmp_path):
    from orvane_tools import events, samples

    f, done = split_sample(tmp_path, samples.CODE_BATCHES, ["--sheets", samples.CODE_SHEETS, "--names", "{code}"],
                           codes=True)
    assert [d.name for d in f.documents] == ["batch-04_001.pdf", "batch-04_002.pdf", "Order-2026-0042.pdf",
                                             "batch-04_004.pdf"], done.stdout
    assert f.sheets == {3: events.Sheet("code", "PATCHT"), 5: events.Sheet("code", "PATCHT:Order-2026-0042"),
                        8: events.Sheet("colour", None)}


def test_the_duplex_sample_leaves_out_its_blank_backs_and_keeps_its_pages(tmp_path):
    from orvane_tools import samples

    f, done = split_sample(tmp_path, samples.DUPLEX_BATCHES, samples.DUPLEX_OPTIONS.split(), duplex=True)
    assert ([d.page_list() for d in f.documents], f.dropped) == ([[1, 3], [7, 9]], (2, 4, 8, 10)), done.stdout


def test_the_text_sample_splits_into_documents_whose_text_can_be_searched(tmp_path):
    from orvane_tools import samples

    f, done = split_sample(tmp_path, samples.TEXT_BATCHES, samples.TEXT_OPTIONS.split(), text=True)
    assert ([d.page_list() for d in f.documents], f.no_text) == ([[1], [3], [5]], ()), done.stdout
    found = [subprocess.run(["pdftotext", str(tmp_path / "out" / f.folder / d.name), "-"], stdout=subprocess.PIPE,
                            universal_newlines=True, encoding="utf-8").stdout for d in f.documents]
    assert "采购合同" in found[0] and "invoice number" in found[1] and "会议通知" in found[2], found
