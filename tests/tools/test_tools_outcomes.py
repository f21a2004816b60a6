"""Every way a job can end, as `orvane split` and `orvane watch` tell it: real runs of the real splitter
against the reference service on a loopback port. A refused input leaves nothing on the service's record."""
import os
import re
import signal
import subprocess
import time

import pytest

from toolsupport import cli_command, cli_env
from orvane_tools import frontend, samples, urldb as urls

pytestmark = pytest.mark.timeout(180)


def usage_text_only(run):
    # The real splitter given one argument too many (as ./orvaneFun.exe): its usage text goes to
    # standard error, which the module does not read, and no summary line comes.
    (run.tmp / "orvaneFun.exe").write_text('#!/bin/sh\nexec "{}" "$@" extra\n'.format(run.splitter))
    os.chmod(str(run.tmp / "orvaneFun.exe"), 0o700)


CASES = [  # (case, the outcome, a change to the job before it runs, extra arguments)
    ("all-split", "finished", None, []),
    ("a-damaged-file", "not-split", lambda r: (r.src / "damaged.pdf").write_bytes(b"%PDF-1.4\nno more"), []),
    ("no-pdf", "nothing", lambda r: os.remove(str(r.src / "batch.pdf")), []),
    ("cancelled", "cancelled", None, []),
    ("expired-token", "refused", lambda r: setattr(r, "token", r.service.expired_token()), []),
    ("service-unreachable", "refused", lambda r: urls.write_url(r.db, "http://127.0.0.1:9/commit"), []),
    ("no-url-database", "refused", lambda r: os.remove(r.db), []),
    ("empty-url-database", "refused", lambda r: open(r.db, "w").close(), []),
    ("no-commit-entry", "refused",
     lambda r: (os.remove(r.db), urls.write_url(r.db, r.service.commit_url, name="other")), []),
    ("threshold-999", "refused-input", None, ["-t", "999"]),
    ("threshold-300", "refused-input", None, ["-t", "300"]),
    ("more-workers-than-processors", "refused-input", None, ["-w", str((os.cpu_count() or 1) + 1)]),
    ("no-splitter", "refused-input", None, ["--splitter", "/nonexistent/orvaneFun.exe"]),
    ("no-source-folder", "refused-input", lambda r: setattr(r, "src", r.tmp / "gone"), []),
    ("blank-before-pdf", "refused-input", lambda r: (r.src / "a .pdf").write_bytes(b"%PDF-1.4\n"), []),
    ("splitter-without-summary", "no-summary", usage_text_only, ["--splitter", "./orvaneFun.exe"]),
]

# The file whose batch ends the row's way when the source folder is watched. No batch can end the
# way of the other rows: the watcher does not start (or, without a PDF file, has nothing to do).
WATCHED = {"all-split": "batch.pdf", "a-damaged-file": "damaged.pdf", "cancelled": "batch.pdf",
           "expired-token": "batch.pdf", "service-unreachable": "batch.pdf", "blank-before-pdf": "a .pdf",
           "splitter-without-summary": "batch.pdf"}


# The watcher's status line of a batch: "DATE TIME  WORD  NAME  N documents, S s  SUMMARY".
STATUS_LINE = re.compile(r"^\S+ \S+  (\S+) +(.+?)  \d+ documents?, ", re.M)
WATCH_AT_ONCE = ["--settle", "0", "--damaged-after", "0", "--poll", "0.05", "--exit-when-idle"]


def run_to_the_end(run, key, args, target):
    """(exit status, output, errors) of `orvane ARGS...`; Ctrl-C once the splitter works if cancelled."""
    proc = subprocess.Popen(cli_command(*args), cwd=str(run.tmp),
                            env=cli_env({"ORVANE_TOKEN": run.token}), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, universal_newlines=True, encoding="utf-8")
    if key == "cancelled":
        deadline = time.monotonic() + 60
        while not (frontend.splitter_children(proc.pid) or os.listdir(str(target))) and \
                time.monotonic() < deadline:
            time.sleep(0.01)
        proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=120)
    assert run.token not in out + err
    return proc.returncode, out, err


@pytest.mark.parametrize("case, key, prepare, extra", CASES, ids=[c[0] for c in CASES])
def test_each_ending_has_its_exit_status(case, key, prepare, extra, tmp_path, service, orvane):
    from splitter.conftest import installed_splitter

    run = type("Run", (), dict(tmp=tmp_path, src=tmp_path / "scans", dst=tmp_path / "out", service=service,
                               db=str(tmp_path / "url.db"), token=service.token("clerk"),
                               splitter=installed_splitter()))()
    if not run.splitter:
        pytest.skip("no installed orvaneFun.exe")
    run.src.mkdir()
    run.dst.mkdir()
    pages = [("doc", "Page {}".format(n)) for n in range(1000)] if key == "cancelled" else \
        [("doc", "A"), ("sep", samples.YELLOW), ("doc", "B")]
    (run.src / "batch.pdf").write_bytes(samples.build_pdf(pages))
    urls.write_url(run.db, service.commit_url)
    if prepare:
        prepare(run)
    job = ["-w", "1", "--urldb", run.db, "--splitter", run.splitter]
    status, out, err = run_to_the_end(run, key, ["split", run.src, run.dst] + job + extra, run.dst)

    assert status == frontend.OUTCOMES[key].status, out + err
    announced = [r["event"] for r in service.store.announcements()]
    # Refused, or nothing to do: nothing on the service's record (a refused token: its refusals).
    ran = key in ("finished", "not-split", "cancelled", "no-summary")
    assert announced == (["start", "end"] if ran else [])
    assert bool(service.store.refusals()) == (case == "expired-token")
    assert os.listdir(str(run.dst)) == (["batch"] if key in ("finished", "not-split") else [])

    # The same folder watched: each PDF file is a batch, the row's own ends the row's way and the
    # others are split. Where the watcher does not start, it refuses as `orvane split` does.
    watched = WATCHED.get(case)
    into = tmp_path / "watched"
    into.mkdir()
    expected = {}
    if watched:
        expected = dict.fromkeys(os.listdir(str(run.src)), frontend.OUTCOMES["finished"].watch)
        expected[watched] = frontend.OUTCOMES[key].watch
    status, out, err = run_to_the_end(run, key, ["watch", run.src, into] + job + extra + WATCH_AT_ONCE, into)
    assert {name: word for word, name in STATUS_LINE.findall(out)} == expected, out + err
    assert status == (frontend.EXIT_OK if watched or key == "nothing" else frontend.OUTCOMES[key].status), err
