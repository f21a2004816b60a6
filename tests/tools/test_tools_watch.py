"""`orvane watch` with real folders, the real splitter and the reference service on a loopback port:
files arriving, failing, refused and retried, and a watcher killed at every step of a batch."""
import os
import signal
import subprocess
import sys
import time

import pytest

from toolsupport import cli_command, cli_env
from orvane_tools import samples, urldb as urls, watch
from orvane_tools.watchstate import InboxLock, AlreadyWatched

pytestmark = pytest.mark.timeout(120)


def layout(documents, pages=2):
    """Pages of a batch: ``documents`` runs of ``pages`` pages with a coloured sheet between."""
    result = []
    for d in range(documents):
        result += [("sep", samples.YELLOW)] if d else []
        result += [("doc", "Document {} - page {}".format(d + 1, p + 1)) for p in range(pages)]
    return result


@pytest.fixture
def watched(tmp_path, service, orvane, monkeypatch):
    """INBOX, TARGET, a URL database and a valid token; ``start(**settings)`` runs a Watcher on a
    thread, ``wait(n)`` waits for n batch reports; ``cli(...)`` runs `orvane watch` to its end."""
    from splitter.conftest import installed_splitter

    class Watched(object):
        inbox, target = tmp_path / "inbox", tmp_path / "out"
        archive, failed = inbox / "archive", inbox / "failed"
        db = str(tmp_path / "url.db")
        splitter = installed_splitter()
        token = service.token("watcher")
        batches = []
        watcher = None

        def drop(self, name, pages):
            data = samples.build_pdf(pages)
            (self.inbox / name).write_bytes(data)
            return data

        def start(self, **kw):
            kw = dict(dict(settle=0.3, poll=0.05, damaged_after=0.5), **kw)
            settings = watch.Settings(str(self.inbox), str(self.target), self.token, self.db, self.splitter,
                                      **kw)
            self.watcher = watch.Watcher(settings, on_batch=self.batches.append)
            self.watcher.start()
            return self.watcher

        def wait(self, count, timeout=60):
            deadline = time.monotonic() + timeout
            while len(self.batches) < count and time.monotonic() < deadline:
                time.sleep(0.05)
            assert len(self.batches) >= count, self.batches
            return self.batches

        def cli(self, crash_at=None, timeout=90):
            env = cli_env({"ORVANE_TOKEN": self.token})
            if crash_at:
                env["ORVANE_WATCH_CRASH_AT"] = crash_at
            return subprocess.run(cli_command("watch", self.inbox, self.target, "--urldb", self.db,
                                              "--splitter", self.splitter, "--workers", "1", "--settle", "0",
                                              "--poll", "0.05", "--exit-when-idle"),
                                  cwd=str(tmp_path), env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  universal_newlines=True, encoding="utf-8", timeout=timeout)

        def where(self):
            """Every PDF file below INBOX (staging, archive and failed included) and TARGET."""
            found = {}
            for top in (self.inbox, self.target):
                for parent, _dirs, files in os.walk(str(top)):
                    for f in files:
                        if f.endswith(".pdf"):
                            found.setdefault(f, []).append(os.path.relpath(parent, str(tmp_path)))
            return found

    if not Watched.splitter:
        pytest.skip("no installed orvaneFun.exe")
    w = Watched()
    w.inbox.mkdir()
    w.target.mkdir()
    urls.write_url(w.db, service.commit_url)
    monkeypatch.chdir(tmp_path)
    yield w
    if w.watcher is not None:
        assert w.watcher.stop(timeout=60)


def slow_chunks(w):
    """One file written in four chunks, each pause longer than the settle time."""
    data = samples.build_pdf(layout(3))
    step = len(data) // 4 + 1
    with open(str(w.inbox / "slow.pdf"), "wb") as fh:
        for start in range(0, len(data), step):
            time.sleep(0.8)
            fh.write(data[start:start + step])
            fh.flush()
            w.complete_at = time.time()
    return {"slow.pdf": (data, 3)}


def ten_at_once(w):
    return {"scan{:02d}.pdf".format(n): (w.drop("scan{:02d}.pdf".format(n), layout(1 + n % 4)), 1 + n % 4)
            for n in range(10)}


@pytest.mark.parametrize("arrive", [slow_chunks, ten_at_once])
def test_complete_files_are_split_and_archived(watched, arrive):
    watched.start(damaged_after=30)  # what holds a half-written file back is qpdf, not a time-out
    expected = arrive(watched)
    batches = watched.wait(len(expected))

    assert {b.name: (b.status, b.documents) for b in batches} == \
        {name: ("finished", docs) for name, (_data, docs) in expected.items()}
    for name, (data, docs) in expected.items():
        assert (watched.archive / name).read_bytes() == data
        assert len(os.listdir(str(watched.target / name[:-4]))) == docs
    if arrive is slow_chunks:  # taken only after its last chunk
        assert batches[0].time - batches[0].seconds >= watched.complete_at
    assert sorted(os.listdir(str(watched.inbox))) == [".orvane-watch", "archive", "failed"]


@pytest.mark.parametrize("name, data, splitter, status, reason", [
    ("garbage.pdf", b"%PDF-1.4\nnot really a PDF\n", None, "not-split", "NOT SPLIT: damaged or not a PDF file"),
    ("empty.pdf", b"", None, "not-split", "NOT SPLIT: damaged or not a PDF file"),
    ("my scan .pdf", samples.build_pdf(layout(2)), None, "refused-input",
     "some PDF file names have a blank before .pdf"),
    # A splitter that ends without a word (killed, crashed): no documents, so not archived.
    ("batch.pdf", samples.build_pdf(layout(2)), "#!/bin/sh\nexit 0\n", "no-summary", "without its summary line"),
])
def test_a_file_that_cannot_be_split_goes_to_failed_with_its_reason(watched, tmp_path, name, data, splitter,
                                                                    status, reason):
    if splitter:
        watched.splitter = str(tmp_path / "orvaneFun.exe")
        with open(watched.splitter, "w") as fh:
            fh.write(splitter)
        os.chmod(watched.splitter, 0o755)
    (watched.inbox / name).write_bytes(data)
    watched.start()
    [batch] = watched.wait(1)

    assert batch.status == status and batch.documents == 0
    assert (watched.failed / name).read_bytes() == data
    assert reason in (watched.failed / (name + ".reason.txt")).read_text(encoding="utf-8")
    assert os.listdir(str(watched.target)) == []


def test_a_refused_token_parks_the_source_until_a_new_token(watched, service):
    watched.token = service.expired_token("watcher")
    data = watched.drop("batch.pdf", layout(2))
    watcher = watched.start()
    [refused] = watched.wait(1)
    assert refused.status == "refused"
    assert "login token expired" in (watched.failed / "batch.pdf.reason.txt").read_text(encoding="utf-8")
    assert os.listdir(str(watched.target)) == []

    watcher.set_token(service.token("watcher"))
    retry, finished = watched.wait(3)[1:]
    assert (retry.status, finished.status, finished.documents) == ("retry", "finished", 2)
    assert (watched.archive / "batch.pdf").read_bytes() == data
    assert os.listdir(str(watched.failed)) == []
    assert [r["event"] for r in service.store.announcements()] == ["start", "end"]


def test_a_second_watcher_on_the_same_inbox_does_not_start(watched, tmp_path, capsys):
    watched.drop("batch.pdf", layout(1))
    state = watched.inbox / ".orvane-watch"
    state.mkdir()
    with InboxLock(str(state)):
        settings = watch.Settings(str(watched.inbox), str(watched.target), watched.token, watched.db,
                                  watched.splitter)
        with pytest.raises(AlreadyWatched):
            watch.Watcher(settings).run()
        # `orvane watch` refuses before it says anything else ("watching ..." would mislead).
        assert watch.run_command(settings, out=sys.stdout) == watch.EXIT_CHECKS
    said = capsys.readouterr()
    assert said.out == "" and said.err.startswith("orvane: another watcher already watches"), said
    assert os.listdir(str(watched.target)) == [] and (watched.inbox / "batch.pdf").exists()


def test_a_missing_inbox_is_not_made_and_watched_in_vain(tmp_path):
    settings = watch.Settings(str(tmp_path / "unmounted"), str(tmp_path), "token", "url.db", "orvaneFun.exe")
    with pytest.raises(OSError, match="INBOX folder does not exist"):
        watch.Watcher(settings).run()
    assert watch.run_command(settings) == watch.EXIT_CHECKS
    assert os.listdir(str(tmp_path)) == []


@pytest.mark.parametrize("crash_at", ["claiming", "staged", "running", "split", "finishing", "moved",
                                      "running:SIGTERM"])
def test_a_watcher_stopped_at_any_step_loses_and_doubles_nothing(watched, crash_at):
    sources = {"big.pdf": layout(6, pages=50), "small.pdf": layout(2)}
    for name, pages in sources.items():
        watched.drop(name, pages)

    stopped = watched.cli(crash_at=crash_at)
    if crash_at.endswith("SIGTERM"):  # a clean stop: the batch under way is undone at once
        assert stopped.returncode == 0 and " restored " in stopped.stdout, stopped.stdout + stopped.stderr
    else:
        assert stopped.returncode == -signal.SIGKILL, stopped.stdout + stopped.stderr
    again = watched.cli()
    assert again.returncode == 0, again.stdout + again.stderr

    # Every source once, in the archive; every document once, in its source's own folder.
    expected = {"big.pdf": ["inbox/archive"], "small.pdf": ["inbox/archive"]}
    for name, pages in sources.items():
        stem = name[:-4]
        docs = len(samples.expected_documents(pages))
        expected.update({"{}_{:03d}.pdf".format(stem, n): ["out/" + stem] for n in range(1, docs + 1)})
    assert watched.where() == expected
    state = watched.inbox / ".orvane-watch"
    assert os.listdir(str(state / "journal")) == [] and os.listdir(str(state / "staging")) == []


@pytest.mark.parametrize("unchanged_for, opens, waiting", [
    (1.0, True, [("a.pdf", watch.STILL_WRITTEN)]),    # not unchanged for the settle time yet
    (6.0, False, [("a.pdf", watch.NOT_COMPLETE)]),    # unchanged, but it does not open
    (6.0, True, []),                                  # complete: taken, so not waiting
])
def test_files_not_taken_are_listed_with_why(tmp_path, unchanged_for, opens, waiting):
    clock = [100.0]
    arrivals = watch.Arrivals(lambda path: opens, settle=5.0, clock=lambda: clock[0])
    (tmp_path / "a.pdf").write_bytes(b"%PDF-1.4\n")
    arrivals.ready(str(tmp_path))
    clock[0] += unchanged_for
    ready = arrivals.ready(str(tmp_path))
    assert [w for w in arrivals.waiting_list() if w[0] not in ready] == waiting
