"""Fixtures for the front-door tools: the announcement service on a real loopback port, and the
`orvane` command run as a real child process.

The tests exercise the package in this source tree (tools/), not an installed copy: toolsupport puts
tools/ first on sys.path here and on PYTHONPATH for the child processes. The Orvane module itself is
the installed one."""
import subprocess

import pytest

from toolsupport import SECRET, Service, cli_command, cli_env


@pytest.fixture
def service(tmp_path):
    pytest.importorskip("flask")
    pytest.importorskip("jwt")
    from orvane_tools.service import create_app, running_in_thread

    db = str(tmp_path / "announcements.db")
    app = create_app(SECRET, db)
    with running_in_thread(app) as base_url:
        yield Service(base_url, app.config["ORVANE_STORE"], SECRET)


@pytest.fixture
def run_cli(tmp_path):
    """Run `orvane ARGS...` to its end in a child process (working folder: a fresh one under
    tmp_path); returns the CompletedProcess with text output."""
    workdir = tmp_path / "cwd"
    workdir.mkdir()

    def _run(*args, **kw):
        env = cli_env(kw.pop("env", None))
        timeout = kw.pop("timeout", 60)
        return subprocess.run(cli_command(*args), cwd=kw.pop("cwd", str(workdir)), env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                              universal_newlines=True, encoding="utf-8", **kw)

    _run.workdir = workdir
    return _run


@pytest.fixture(autouse=True)
def english():
    """The tools' texts in English in this process, whatever the machine's locale (tests read them);
    a test that changes the language has it put back."""
    from orvane_tools import i18n

    i18n.use("en")
    yield
    i18n.use("en")


def start_xvfb(size):
    """(server, display) of a private Xvfb server with a screen of ``size`` ("WxH")."""
    import os
    import shutil
    if not shutil.which("Xvfb"):
        pytest.skip("Xvfb is not installed")
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)  # the X server is not under test: no sanitizer runtime in it
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24", "-nolisten", "tcp"],
                              pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    os.close(write)
    with os.fdopen(read) as fh:
        number = fh.readline().strip()
    assert number, "Xvfb did not start"
    return server, ":" + number


@pytest.fixture(scope="session")
def x_display():
    """An Xvfb display for Tk windows made in the test process, kept to the end of the session: Tk
    keeps its connection to a display after its window is destroyed, and dies when that server goes."""
    server, display = start_xvfb("1280x900")
    yield display
    server.terminate()
    server.wait(10)


@pytest.fixture
def x_server():
    """Starts Xvfb servers of a given screen size for other processes' windows: x_server("1366x728")."""
    servers = []
    yield lambda size: servers.append(start_xvfb(size)) or servers[-1][1]
    for server, _display in servers:
        server.terminate()
        server.wait(10)
