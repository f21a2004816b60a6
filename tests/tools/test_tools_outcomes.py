"""Every way a job can end, as `orvane split` tells it: real runs of the real splitter against the
reference service on a loopback port. A refused input leaves nothing on the service's record."""
import os
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
    args = ["split", run.src, run.dst, "-w", "1", "--urldb", run.db, "--splitter", run.splitter]
    proc = subprocess.Popen(cli_command(*(args + extra)), cwd=str(tmp_path),
                            env=cli_env({"ORVANE_TOKEN": run.token}), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, universal_newlines=True, encoding="utf-8")
    if key == "cancelled":  # once the splitter is at work
        deadline = time.monotonic() + 60
        while not (frontend.splitter_children(proc.pid) or os.listdir(str(run.dst))) and \
                time.monotonic() < deadline:
            time.sleep(0.01)
        proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=120)

    assert proc.returncode == frontend.OUTCOMES[key].status, out + err
    assert run.token not in out + err
    announced = [r["event"] for r in service.store.announcements()]
    # Refused, or nothing to do: nothing on the service's record (a refused token: its refusals).
    ran = key in ("finished", "not-split", "cancelled", "no-summary")
    assert announced == (["start", "end"] if ran else [])
    assert bool(service.store.refusals()) == (case == "expired-token")
    assert os.listdir(str(run.dst)) == (["batch"] if key in ("finished", "not-split") else [])
