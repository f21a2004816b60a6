"""`orvane split` as a user runs it: a real child process, the installed module, the orvaneFun.exe
stand-in as splitter and the reference announcement service on a loopback port."""
import os
import signal
import socket
import subprocess
import sys
import time

import pytest

from toolsupport import cli_command, cli_env
from orvane_tools import frontend
from orvane_tools import urldb as urls


@pytest.fixture
def job(tmp_path, service, standin, orvane):
    """Folders, URL database and a valid token for one job; ``job.args()`` is the command line."""

    class Job(object):
        src = tmp_path / "scans"
        dst = tmp_path / "out"
        db = str(tmp_path / "url.db")
        token = service.token("alice")

        def args(self, *extra):
            return ["split", str(self.src), str(self.dst), "--workers", "1", "--urldb", self.db,
                    "--splitter", standin.exe] + list(extra)

        def env(self, token=None):
            return {"ORVANE_TOKEN": token or self.token}

    j = Job()
    j.src.mkdir()
    j.dst.mkdir()
    for name in ("a.pdf", "b.pdf"):
        (j.src / name).write_bytes(b"%PDF-1.4\n")
    urls.write_url(j.db, service.commit_url)
    return j


# The splitter's last line; without it no job counts as finished.
SUMMARY = "Summary: 2 PDF files, 2 split, 0 not split; 8 pages, 0 separator pages, 2 documents written\n"


def pid_alive_as(pid, name="orvaneFun.exe"):
    """Whether ``pid`` is a live (not zombie) process called ``name``."""
    try:
        with open("/proc/{}/stat".format(pid)) as fh:
            stat = fh.read()
    except OSError:
        return False
    comm = stat[stat.find("(") + 1:stat.rfind(")")]
    state = stat[stat.rfind(")") + 2:].split()[0]
    return comm == name and state != "Z"


class TestExitStatus:
    def test_finished_job(self, job, standin, service, run_cli):
        standin.configure(mkdirs=["a", "b"], out=["a.pdf: 3 pages\n", "b.pdf: 5 pages\n", SUMMARY])
        done = run_cli(*job.args(), env=job.env())

        assert done.returncode == frontend.EXIT_OK, done.stdout + done.stderr
        lines = done.stdout.splitlines()
        # The splitter's lines come through once each, without doubled line ends.
        assert "a.pdf: 3 pages" in lines and "b.pdf: 5 pages" in lines
        # The end of the job and its announcement (the module shows the token first).
        assert lines[-3:] == ["执行完成", "login token: <hidden, {} characters>".format(len(job.token)),
                              "更新成功"]
        assert "" not in lines
        # The module reports the token itself; the front end must not print it.
        assert job.token not in done.stdout + done.stderr
        assert "job finished" in done.stderr
        assert standin.argv() == [standin.exe, str(job.src), str(job.dst), "1", "19"]
        assert [r["event"] for r in service.store.announcements()] == ["start", "end"]
        assert sorted(os.listdir(str(job.dst))) == ["a", "b"]
        # The module's working folder lands in the working directory of the command.
        assert (run_cli.workdir / "database").is_dir()

    def test_files_the_splitter_could_not_split(self, job, standin, run_cli):
        # The module ignores the splitter's exit status; its per-file lines still tell.
        standin.configure(mkdirs=["a"], out=["a.pdf: 1 page; separators: none\n",
                                             "b.pdf: NOT SPLIT: encrypted: it needs a password to open\n",
                                             SUMMARY.replace("2 split, 0 not", "1 split, 1 not")],
                          exit_status=1)
        done = run_cli(*job.args(), env=job.env())
        assert done.returncode == frontend.EXIT_INCOMPLETE, done.stdout + done.stderr
        assert "1 source file could not be split" in done.stderr

    def test_refused_token(self, job, standin, service, run_cli):
        standin.configure()
        done = run_cli(*job.args(), env=job.env(service.expired_token()))

        assert done.returncode == frontend.EXIT_REFUSED, done.stdout + done.stderr
        assert "登录信息的Token过期" in done.stdout and "login token expired" in done.stdout
        assert "job refused: the announcement service refused the login token" in done.stderr
        assert not standin.ran()
        assert service.store.announcements() == []

    def test_missing_folder(self, job, standin, run_cli, tmp_path):
        standin.configure()
        args = job.args()
        args[1] = str(tmp_path / "no-such-folder")
        done = run_cli(*args, env=job.env())

        assert done.returncode == frontend.EXIT_CHECKS, done.stdout + done.stderr
        assert done.stdout == ""  # refused before the module was asked
        assert "the source folder does not exist" in done.stderr
        assert not standin.ran()

    def test_missing_splitter(self, job, service, run_cli, tmp_path):
        args = job.args()
        args[args.index("--splitter") + 1] = str(tmp_path / "nowhere" / "orvaneFun.exe")
        done = run_cli(*args, env=job.env())
        assert done.returncode == frontend.EXIT_CHECKS
        assert done.stdout == "" and "splitter program does not exist" in done.stderr
        assert service.store.announcements() == []

    def test_setup_problems_are_refused_before_the_job(self, job, standin, service, run_cli, tmp_path):
        standin.configure()
        no_token = run_cli(*job.args())
        assert no_token.returncode == frontend.EXIT_USAGE and "ORVANE_TOKEN" in no_token.stderr
        assert run_cli("split", "only-one-folder", env=job.env()).returncode == frontend.EXIT_USAGE
        assert run_cli(*job.args("--workers", "-1"), env=job.env()).returncode == frontend.EXIT_USAGE

        # A URL database without a "commit" row would let the module skip the announcement.
        os.remove(job.db)
        urls.write_url(job.db, service.commit_url, name="something-else")
        with_db_row_missing = run_cli(*job.args(), env=job.env())
        assert with_db_row_missing.returncode == frontend.EXIT_REFUSED
        assert "registers no 'commit' endpoint" in with_db_row_missing.stderr
        assert not standin.ran() and service.store.refusals() == []

        # Gone altogether.
        os.remove(job.db)
        gone = run_cli(*job.args(), env=job.env())
        assert gone.returncode == frontend.EXIT_REFUSED and "URL database does not exist" in gone.stderr

    def test_token_from_a_file(self, job, standin, run_cli, tmp_path):
        standin.configure(out=SUMMARY)
        token_file = tmp_path / "token"
        token_file.write_text(job.token + "\n")
        done = run_cli(*job.args("--token-file", str(token_file)))
        assert done.returncode == frontend.EXIT_OK, done.stdout + done.stderr


class TestCtrlC:
    def test_sigint_ends_the_splitter_and_deletes_its_partial_output(self, job, standin, tmp_path):
        kept = job.dst / "earlier-job"
        kept.mkdir()
        (kept / "result.pdf").write_bytes(b"%PDF-1.4\n")
        (job.dst / "notes.txt").write_text("kept")
        standin.configure(mkdirs=["a", "b/part-1"], out="a.pdf: 1 page\n", hold=True, hold_timeout=60)

        out_path = tmp_path / "stdout.txt"
        err_path = tmp_path / "stderr.txt"
        with open(str(out_path), "w") as out, open(str(err_path), "w") as err:
            proc = subprocess.Popen(cli_command(*job.args()), cwd=str(tmp_path), env=cli_env(job.env()),
                                    stdout=out, stderr=err)
            try:
                assert standin.wait_ready(30), "the splitter never started"
                splitter_pid = standin.pid()
                assert pid_alive_as(splitter_pid)
                proc.send_signal(signal.SIGINT)
                status = proc.wait(timeout=30)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()

        output = out_path.read_text(encoding="utf-8")
        errors = err_path.read_text(encoding="utf-8")
        assert status == frontend.EXIT_CANCELLED, output + errors
        assert "cancelling" in errors and "job cancelled" in errors
        assert not pid_alive_as(splitter_pid)
        # The job still ran to its end: the splitter's last words, the end report and its announcement.
        assert "a.pdf: 1 page" in output and "执行完成" in output
        assert sorted(os.listdir(str(job.dst))) == ["earlier-job", "notes.txt"]
        assert os.listdir(str(kept)) == ["result.pdf"]

    def test_sigint_before_the_splitter_starts_keeps_it_from_starting(self, job, standin, tmp_path,
                                                                      token_server):
        # The start announcement is held back until the test has cancelled; the job must then not
        # go on to start the splitter once the service answers.
        import threading

        gate = threading.Event()
        token_server.on_request = lambda recorded: gate.wait(20)
        os.remove(job.db)
        urls.write_url(job.db, token_server.commit_url)
        standin.configure(mkdirs=["a"])

        err_path = tmp_path / "stderr.txt"
        with open(str(err_path), "w") as err:
            proc = subprocess.Popen(cli_command(*job.args()), cwd=str(tmp_path), env=cli_env(job.env()),
                                    stdout=subprocess.PIPE, stderr=err, universal_newlines=True,
                                    encoding="utf-8")
            try:
                deadline = time.monotonic() + 20
                while not token_server.requests and time.monotonic() < deadline:
                    time.sleep(0.02)
                assert token_server.requests, "the job was never announced"
                proc.send_signal(signal.SIGINT)
                while "cancelling" not in err_path.read_text() and time.monotonic() < deadline:
                    time.sleep(0.02)
                gate.set()
                output, _ = proc.communicate(timeout=30)
            finally:
                gate.set()
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()

        assert proc.returncode == frontend.EXIT_CANCELLED, output + err_path.read_text()
        assert "程序执行报错" in output
        assert not standin.ran()
        assert len(token_server.requests) == 1
        assert os.listdir(str(job.dst)) == []


class TestProgress:
    def test_progress_line_on_a_terminal_only(self, job, standin, tmp_path):
        seen, proc = _on_terminal(job, standin, tmp_path, b"1 of 2 source PDFs begun")
        assert b"splitting: 1 of 2 source PDFs begun" in seen, seen
        assert proc.returncode == frontend.EXIT_OK, (seen, proc.stderr.read())
        # The line is wiped before the next message, so messages start on a clean line.
        text = seen.decode("utf-8", "replace")
        assert "\r\x1b[K执行完成" in text or "\n执行完成" in text, text

    def test_progress_line_counts_pages_from_the_splitter_events(self, job, standin, tmp_path):
        found = []

        def write_events():
            # The events file reaches the splitter through the module's shell start.
            with open("/proc/{}/environ".format(standin.pid()), "rb") as fh:
                env = dict(item.split(b"=", 1) for item in fh.read().split(b"\0") if b"=" in item)
            found.append(env[b"ORVANE_EVENTS"].decode())
            with open(found[0], "a") as fh:
                fh.write('{"event":"start","files":["a.pdf","b.pdf"]}\n{"event":"pages","file":"a.pdf","pages":6}\n'
                         '{"event":"pages","file":"b.pdf","pages":4}\n{"event":"total","pages":10}\n'
                         '{"event":"looked","file":"a.pdf","pages":3}\n')

        seen, proc = _on_terminal(job, standin, tmp_path, b"pages/s", write_events)
        assert b"splitting: 3 of 10 pages, 0 of 2 files, " in seen and b" left" in seen, seen
        assert proc.returncode == frontend.EXIT_OK
        assert not found[0].startswith(str(job.dst)) and not os.path.exists(found[0])


def _on_terminal(job, standin, tmp_path, wanted, while_held=None):
    """Run the job with its output on a terminal, the splitter held until ``wanted`` was shown
    (``while_held()`` runs first); returns the output and the ended process."""
    import pty

    standin.configure(mkdirs=["a"], out=SUMMARY, hold=True, hold_timeout=30)
    master, slave = pty.openpty()
    proc = subprocess.Popen(cli_command(*job.args()), cwd=str(tmp_path), env=cli_env(job.env()),
                            stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.PIPE)
    os.close(slave)
    seen = b""
    try:
        assert standin.wait_ready(30)
        if while_held:
            while_held()
        deadline = time.monotonic() + 20
        while wanted not in seen and time.monotonic() < deadline:
            seen += _read_some(master)
        standin.release()
        proc.wait(timeout=30)
        seen += _drain(master)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(master)
    return seen, proc


def _read_some(fd, wait=0.2):
    import select

    ready, _, _ = select.select([fd], [], [], wait)
    if not ready:
        return b""
    try:
        return os.read(fd, 65536)
    except OSError:
        return b""


def _drain(fd):
    data = b""
    while True:
        chunk = _read_some(fd, 0.2)
        if not chunk:
            return data
        data += chunk


class TestDemo:
    def test_demo_runs_a_whole_job(self, tmp_path, orvane):
        # The demo with this interpreter (which has the project installed) instead of its own set-up.
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        demo_dir = tmp_path / "demo"
        env = cli_env({"ORVANE_PYTHON": sys.executable, "ORVANE_DEMO_DIR": str(demo_dir)})
        env.pop("ORVANE_STANDIN_SCRIPT", None)
        done = subprocess.run(["bash", os.path.join(root, "scripts", "demo.sh")], cwd=str(tmp_path),
                              env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              universal_newlines=True, encoding="utf-8", timeout=300)
        assert done.returncode == 0, done.stdout
        assert "job finished" in done.stdout
        assert "Done (exit status 0)" in done.stdout
        # One output folder per source file, and the start and end of the job on the service's record.
        assert sorted(os.listdir(str(demo_dir / "out"))) == ["batch-01", "batch-02", "contracts_batch-03"] \
            or "Splitter: " in done.stdout
        assert " start  demo-user  " in done.stdout and " end    demo-user  " in done.stdout
        # The service was stopped on the way out.
        port = int((demo_dir / "service.port").read_text())
        with pytest.raises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=2).close()
