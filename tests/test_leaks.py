"""Leaks: every method, run many times, must not grow memory; handed-out objects carry no extra
reference.

Each workload runs a warm-up first (caches of the interpreter, of requests and of sqlite3 fill up
there), then many more times under tracemalloc. Three figures are taken before and after, with
garbage collected: traced Python allocations, resident memory (/proc/self/statm) and the number of
allocated interpreter memory blocks (sys.getallocatedblocks, which counts every object, so one
object kept per call shows as the call count). Every workload prints one line of figures
("leak figures: ..."; visible with ``pytest -s``) and names them in its assertion messages.

The reference checks use sys.getrefcount on objects whose every holder the test knows (counted
outside assert statements, whose rewriting by pytest keeps temporaries): what the
sink received, the snapshot sets of stopCut, the rows of get_url, and exceptions that the module
caught, or let pass, on their way.

Under the sanitizer build (ORVANE_SANITIZER set) resident memory and block counts say nothing
(ASan's quarantine holds freed memory; PYTHONMALLOC=malloc has no blocks); traced allocations and
reference counts are still checked.
"""
import ctypes
import gc
import os
import subprocess
import sys
import tracemalloc

import pytest

import Orvane
from Orvane import orvaneClass
from fixtures.token_service import Sink, url_db, make_url_db

SANITIZED = bool(os.environ.get("ORVANE_SANITIZER"))

TRACED_BOUND = 256 << 10     # traced bytes after the warm-up: 256 KB
RSS_BOUND = 6 << 20          # resident memory: 6 MB
BLOCKS_PER_CALL = 0.5        # blocks after the warm-up, per call, plus BLOCKS_SLACK; one
BLOCKS_SLACK = 16            # object kept per call would be 1.0 per call


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class NullStream(object):
    """Standard error for workloads that print tracebacks on purpose: discards them."""

    def write(self, text):
        return len(text)

    def flush(self):
        pass


@pytest.fixture
def quiet(monkeypatch):
    monkeypatch.setattr(sys, "stderr", NullStream())


class DropSink(object):
    """A sink that looks at nothing and keeps nothing."""

    calls = 0

    def mainPrint(self, *args):
        DropSink.calls += 1


def measure(label, workload, n, warmup=None):
    """Runs ``workload(k)`` for the warm-up, then ``n`` times under tracemalloc; checks growth."""
    warm = warmup if warmup is not None else max(n // 5, 3)
    workload(warm)
    gc.collect()
    tracemalloc.start()
    try:
        workload(max(warm // 4, 1))
        gc.collect()
        traced_before = tracemalloc.get_traced_memory()[0]
        rss_before = resident_bytes()
        blocks_before = sys.getallocatedblocks()
        workload(n)
        gc.collect()
        traced_after = tracemalloc.get_traced_memory()[0]
        rss_after = resident_bytes()
        blocks_after = sys.getallocatedblocks()
    finally:
        tracemalloc.stop()
    traced = traced_after - traced_before
    rss = rss_after - rss_before
    blocks = blocks_after - blocks_before
    figures = ("leak figures: %-34s n=%6d  traced %9d -> %9d B (%+8d, %+7.2f B/call)  "
               "rss %7d -> %7d KB (%+6d KB)  blocks %+6d (%+.3f/call)"
               % (label, n, traced_before, traced_after, traced, float(traced) / n,
                  rss_before >> 10, rss_after >> 10, rss >> 10, blocks, float(blocks) / n))
    print(figures)
    assert traced < TRACED_BOUND, figures
    if not SANITIZED:
        assert rss < RSS_BOUND, figures
        assert blocks < BLOCKS_PER_CALL * n + BLOCKS_SLACK, figures
    return traced, rss, blocks


def expect(exc_type, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except exc_type:
        return
    raise AssertionError("no %s from %r" % (exc_type.__name__, call))


def raw_call(func, args, kwargs):
    """A call through the C API, which hands a non-text keyword to the function as it is."""
    api = ctypes.pythonapi.PyObject_Call
    api.restype = ctypes.py_object
    api.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
    return api(func, tuple(args), kwargs)


SEVEN = ("src", "save", 1, 19, "token", "url.db", "orvaneFun.exe")


# The announcement service of these workloads runs in a process of its own, so that what its
# request handlers allocate is not counted against the module. "/ok" accepts every request;
# "/twice" refuses two of every three (500, 500, 200, 500, 500, 200, ...).
SERVICE = r"""
import http.server, itertools, sys, threading
cycle = itertools.cycle([500, 500, 200])
lock = threading.Lock()
class H(http.server.BaseHTTPRequestHandler):
    def log_message(self, *a):
        pass
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        with lock:
            status = next(cycle) if self.path == "/twice" else 200
        body = b'{"code": 200}'
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), H)
server.daemon_threads = True
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdout.write("%d\n" % server.server_address[1])
sys.stdout.flush()
sys.stdin.read()  # until the test closes the pipe
"""


@pytest.fixture(scope="module")
def service():
    proc = subprocess.Popen([sys.executable, "-c", SERVICE], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE)
    try:
        port = int(proc.stdout.readline())
        yield "http://127.0.0.1:%d" % port
    finally:
        proc.stdin.close()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        proc.stdout.close()


# --------------------------------------------------------------------------------------------
# Constructions and wrong calls


def test_constructions():
    sink = DropSink()

    def workload(n):
        for i in range(n):
            orvaneClass(*SEVEN)
            orvaneClass(*SEVEN + (sink,))
            orvaneClass(*SEVEN, communication=sink)
            orvaneClass(src_pdf_path="s", save_pic_path="v", processors=i, COLOR_THRESHHOLD=0,
                        LoginToken="t", urldb="u", PdfExePath="p")

    measure("constructions (4 forms)", workload, 5000)


def test_every_binding_error():
    obj = orvaneClass(*SEVEN)
    cls = orvaneClass
    nonstr_rejected = TypeError

    def workload(n):
        for i in range(n):
            expect(TypeError, Orvane.get_now, i)
            expect(TypeError, Orvane.get_now, stamp=i)
            for name in ("run", "checkSpace", "true_run", "stopCut"):
                bound = getattr(obj, name)
                expect(TypeError, bound, i)
                expect(TypeError, bound, key=i)
                expect(TypeError, getattr(cls, name))
            expect(TypeError, obj.get_url)
            expect(TypeError, obj.get_url, 1, 2)
            expect(TypeError, obj.get_url, "commit", urlName=i)
            expect(TypeError, obj.get_url, name=i)
            for name in ("checkToken", "checkToken1"):
                bound = getattr(obj, name)
                expect(TypeError, bound, 1)
                expect(TypeError, bound, 1, 2, 3)
                expect(TypeError, bound, 1, comments="c", id=i)
                expect(TypeError, bound, 1, "c", other=i)
            expect(TypeError, cls, i)
            expect(TypeError, cls, *range(10))
            expect(TypeError, cls, *SEVEN, user=i)
            expect(TypeError, cls, *SEVEN, urldb=i)
            expect(TypeError, cls, "s", "v", processors=i)
            expect(nonstr_rejected, raw_call, cls.get_url, (obj, "commit"), {i: 1})
            expect(nonstr_rejected, raw_call, cls, SEVEN, {(i,): 1})

    measure("binding errors (every function)", workload, 1500)


# --------------------------------------------------------------------------------------------
# The URL registry and the token checks


def test_get_url(tmp_path):
    good = make_url_db(tmp_path / "good.db", [("commit", "http://127.0.0.1:9/a"),
                                              ("commit", "http://127.0.0.1:9/b"), ("other", "x")])
    bad = make_url_db(tmp_path / "bad.db", [], table=None)
    ok = orvaneClass("s", "v", 1, 19, "t", good, "p")
    failing = orvaneClass("s", "v", 1, 19, "t", bad, "p")
    import sqlite3

    def rows(n):
        for _ in range(n):
            assert len(ok.get_url("commit")) == 2

    def errors(n):
        for _ in range(n):
            expect(sqlite3.OperationalError, failing.get_url, "commit")

    measure("get_url (two rows)", rows, 2000)
    measure("get_url (no table: raises)", errors, 2000)


@pytest.mark.parametrize("method", ["checkToken", "checkToken1"])
def test_token_checks_against_the_service(method, make_ctrl, service, pauses, closed_port_url,
                                          tmp_path):
    sink = DropSink()
    accepted = make_ctrl(urldb=url_db(tmp_path, service + "/ok", filename="ok.db"),
                         communication=sink)
    refused_twice = make_ctrl(urldb=url_db(tmp_path, service + "/twice", filename="twice.db"),
                              communication=sink)
    unreachable = make_ctrl(urldb=url_db(tmp_path, closed_port_url, filename="closed.db"),
                            communication=sink)

    def accept(n):
        for _ in range(n):
            assert getattr(accepted, method)(3, "获取隔页") is None
        assert accepted.run_code == 1

    def retry(n):
        # Two refusals, two pauses (through the pauses fixture, so nothing waits), then accepted.
        for _ in range(n):
            assert getattr(refused_twice, method)(3, "获取隔页") is None
            del pauses.draws[:], pauses.returned[:], pauses.sleeps[:]  # the recorder's lists
        assert refused_twice.run_code == 1

    def unreachable_service(n):
        # The token check's except path: a failed request, caught and reported.
        for _ in range(n):
            assert getattr(unreachable, method)(3, "获取隔页") is None
        assert unreachable.run_code == 0

    measure(method + " (accepted)", accept, 150, warmup=30)
    measure(method + " (two refusals, retries)", retry, 60, warmup=15)
    measure(method + " (unreachable: except path)", unreachable_service, 150, warmup=30)


@pytest.mark.parametrize("method", ["checkToken", "checkToken1"])
def test_token_check_except_path_without_network(method, make_ctrl, commit_db, rebind):
    class Refusing(object):
        def post(self, **kwargs):
            raise ConnectionError("refused by the test")

    rebind("requests", Refusing())
    ctl = make_ctrl(urldb=commit_db, communication=DropSink())

    def workload(n):
        for _ in range(n):
            assert getattr(ctl, method)(3, "获取隔页") is None

    measure(method + " (requests raises)", workload, 3000)


# --------------------------------------------------------------------------------------------
# The file-name check, the job driver, the job entry, the stop


def _tree(root, refused):
    for rel in ["a.pdf", "sub/b.pdf", "sub/deeper/c d.pdf", "sub/e.txt"]:
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").close()
    if refused:
        open(os.path.join(root, "sub", "bad .pdf"), "wb").close()


def test_check_space(tmp_path, make_ctrl):
    clean, refused = str(tmp_path / "clean"), str(tmp_path / "refused")
    _tree(clean, False)
    _tree(refused, True)
    sink = DropSink()
    accept = make_ctrl(src_pdf_path=clean, communication=sink)
    refuse = make_ctrl(src_pdf_path=refused, communication=sink)

    def passes(n):
        for _ in range(n):
            assert accept.checkSpace() is True

    def refuses(n):
        for _ in range(n):
            assert refuse.checkSpace() is False

    measure("checkSpace (True)", passes, 2000)
    measure("checkSpace (False, reports)", refuses, 2000)


def test_true_run_with_a_quick_splitter(split_job, service):
    split_job.standin.configure(record_argv=False, out=["page 1\n", "page 2\n"])
    ctl = split_job.ctl(communication=DropSink(),
                        urldb=url_db(split_job.root, service + "/ok", filename="ok.db"))

    def workload(n):
        for _ in range(n):
            assert ctl.true_run() is None
        assert ctl.run_code == 1

    # Enough calls that a one-off cache filling up in requests or subprocess (seen once as 46
    # blocks) stays inside the bound, while a leak of one object per call still cannot.
    measure("true_run (splitter + completion)", workload, 150, warmup=15)


def test_run_whole_jobs(split_job, service):
    split_job.standin.configure(record_argv=False, out=["page 1\n"])
    ctl = split_job.ctl(communication=DropSink(),
                        urldb=url_db(split_job.root, service + "/ok", filename="ok.db"))

    def workload(n):
        for _ in range(n):
            assert ctl.run() is None
        assert ctl.run_code == 1

    measure("run (whole job)", workload, 100, warmup=10)


def test_stop_cut(make_ctrl, tmp_path):
    save = tmp_path / "save"
    ctl = make_ctrl(save_pic_path=str(save), communication=DropSink())
    (save / "kept").mkdir(parents=True)
    ctl.oldDir = {str(save / "kept")}

    def workload(n):
        for i in range(n):
            os.mkdir(str(save / "new"))
            assert ctl.stopCut() is None
        assert os.listdir(str(save)) == ["kept"]

    measure("stopCut (one folder deleted)", workload, 300, warmup=50)


# --------------------------------------------------------------------------------------------
# Caught-exception paths


def test_worker_count_caught_paths(split_job, quiet):
    ctl = split_job.ctl(communication=DropSink())

    def refusal(n):
        # G1 fails on the conversion, G2 reports and returns the refusal.
        for _ in range(n):
            ctl.processors = "abc"
            ctl.run_code = 1
            assert ctl.true_run().startswith("请输入1-")

    class FailingOnRefusal(object):
        def mainPrint(self, value):
            if isinstance(value, str) and value.startswith("请输入"):
                raise ValueError("sink refused the refusal")

    failing = split_job.ctl(communication=FailingOnRefusal(), urldb=str(split_job.root) + "/none.db")

    def refusal_fails(n):
        # G2 fails too: its traceback is printed and the job goes on to the completion report.
        for _ in range(n):
            failing.processors = "abc"
            failing.run_code = 1
            assert failing.true_run() is None

    measure("true_run worker count (G1 -> G2)", refusal, 3000)
    measure("true_run worker count (G2 fails)", refusal_fails, 1000)


def test_splitter_stage_error_log_path(split_job):
    # The threshold cannot be converted: the splitter stage fails and the error log is written.
    ctl = split_job.ctl(communication=DropSink(), COLOR_THRESHHOLD="abc",
                        urldb=str(split_job.root) + "/none.db")

    def workload(n):
        for _ in range(n):
            assert ctl.true_run() is None

    measure("true_run splitter stage (error log)", workload, 500)
    assert os.listdir(os.path.join(split_job.root, "logging"))


def test_stop_cut_except_path(make_ctrl, quiet):
    ctl = make_ctrl(communication=DropSink())  # no run: no oldDir

    def workload(n):
        for _ in range(n):
            assert ctl.stopCut() is None

    measure("stopCut (no snapshot: except path)", workload, 2000)


# --------------------------------------------------------------------------------------------
# References


def test_objects_handed_to_the_sink_carry_no_extra_reference(split_job):
    token = "".join(["tok", "en-", str(id(split_job))])
    src, save = "".join([split_job.src]), "".join([split_job.save])
    split_job.standin.configure(record_argv=False, out=["line\n"])
    kept = []

    class Keeping(object):
        def mainPrint(self, *args):
            kept.append(args)

    ctl = split_job.ctl(communication=DropSink(), LoginToken=token, src_pdf_path=src, save_pic_path=save)
    base = [sys.getrefcount(o) for o in (token, src, save)]
    for _ in range(5):
        ctl.run()
    count = [sys.getrefcount(o) for o in (token, src, save)]
    assert count == base

    # A sink that keeps what it gets holds exactly the references it keeps.
    ctl.communication = Keeping()
    ctl.run()
    def holds(value, o):  # direct references, and those of a tuple handed over
        return (value is o) + (sum(1 for x in value if x is o) if isinstance(value, tuple) else 0)

    held = [sum(holds(a, o) for args in kept for a in args) for o in (token, src, save)]
    assert held[0] >= 2 and held[1] >= 1 and held[2] >= 1
    count = [sys.getrefcount(o) for o in (token, src, save)]
    assert count == [b + h for b, h in zip(base, held)]
    # The settings tuple and each relayed line are held by the sink alone.
    for args in kept:
        for value in args:
            if isinstance(value, tuple) or value == "line\n":
                count = sys.getrefcount(value)
                assert count == 3, value  # kept's tuple, the loop name, the call
    del kept[:]
    count = [sys.getrefcount(o) for o in (token, src, save)]
    assert count == base


def test_snapshot_sets_carry_no_extra_reference(make_ctrl, tmp_path):
    save = tmp_path / "save"
    received = []

    class Keeping(object):
        def mainPrint(self, value):
            received.append(value)

    ctl = make_ctrl(save_pic_path=str(save), communication=Keeping())
    save.mkdir(exist_ok=True)
    (save / "old").mkdir()
    ctl.oldDir = {str(save / "old")}
    (save / "new").mkdir()
    ctl.stopCut()
    assert received[2] == {str(save / "new")}
    dir_names = received.pop()
    # Held by the name here and the call's argument; nothing in the module kept it.
    count = sys.getrefcount(dir_names)
    assert count == 2
    count = sys.getrefcount(ctl.newDir)
    assert count == 2  # the instance dict and the argument
    count = sys.getrefcount(ctl.oldDir)
    assert count == 2


def test_snapshot_of_run_carries_no_extra_reference(split_job):
    split_job.standin.configure(record_argv=False)
    ctl = split_job.ctl(communication=DropSink())
    ctl.run()
    count = sys.getrefcount(ctl.oldDir)
    assert count == 2


def test_rows_of_get_url_carry_no_extra_reference(tmp_path):
    db = make_url_db(tmp_path / "url.db", [("commit", "http://127.0.0.1:9/" + "x" * 40)])
    ctl = orvaneClass("s", "v", 1, 19, "t", db, "p")
    rows = ctl.get_url("commit")
    count = sys.getrefcount(rows)
    assert count == 2
    row = rows[0]
    count = sys.getrefcount(row)
    assert count == 3  # the list, this name, the argument
    url = row[1]
    count = sys.getrefcount(url)
    assert count == 3  # the row, this name, the argument


def _refcount_after(held_exc, action):
    base = sys.getrefcount(held_exc)
    action()
    gc.collect()
    return base, sys.getrefcount(held_exc)


class Held(Exception):
    pass


def test_exceptions_passing_through_carry_no_extra_reference(tmp_path):
    import sqlite3
    bad = make_url_db(tmp_path / "bad.db", [], table=None)
    ctl = orvaneClass("s", "v", 1, 19, "t", bad, "p")
    try:
        ctl.get_url("commit")
    except sqlite3.OperationalError as exc:
        caught = exc
    count = sys.getrefcount(caught)
    assert count == 2
    tb = caught.__traceback__
    assert tb is not None
    del tb

    # An exception from the sink, through checkSpace and run, to the caller.
    src = tmp_path / "src"
    src.mkdir()
    (src / "bad .pdf").write_bytes(b"")
    raised = Held("from the sink")

    class Raising(object):
        def mainPrint(self, value):
            raise raised

    ctl = orvaneClass(str(src), str(tmp_path), 1, 19, "t", bad, "p", Raising())
    base = sys.getrefcount(raised)
    for _ in range(50):
        try:
            ctl.run()
        except Held as exc:
            assert exc is raised
            exc.__traceback__ = None
    count = sys.getrefcount(raised)
    assert count == base


def test_exceptions_caught_inside_carry_no_extra_reference(split_job, rebind, quiet):
    held = Held("caught by the module")

    class IntRaises(object):
        def __int__(self):
            raise held

    # Caught by the worker-count stage (G1), by the splitter stage (G3), by a token check and
    # by stopCut: after each, the exception is referenced by this test alone.
    ctl = split_job.ctl(communication=DropSink(), urldb=str(split_job.root) + "/none.db")
    results = []

    def g1():
        ctl.processors = IntRaises()
        ctl.run_code = 1
        ctl.true_run()

    def g3():
        ctl.processors = 1
        ctl.run_code = 1
        ctl.COLOR_THRESHHOLD = IntRaises()
        ctl.true_run()

    class Raising(object):
        def post(self, **kwargs):
            raise held

    def token_checks():
        saved = vars(Orvane)["requests"]
        Orvane.requests = Raising()
        try:
            ctl.urldb = split_job.urldb
            ctl.checkToken(3, "x")
            ctl.checkToken1(3, "x")
        finally:
            Orvane.requests = saved

    class RaisingOldDir(object):
        def __rsub__(self, other):
            raise held

    def stop():
        ctl.oldDir = RaisingOldDir()
        ctl.stopCut()

    for label, action in [("G1", g1), ("G3", g3), ("token checks", token_checks), ("stopCut", stop)]:
        held.__traceback__ = None
        base, after = _refcount_after(held, action)
        results.append((label, base, after))
    assert all(base == after for _, base, after in results), results


def test_exception_context_inside_a_generator(make_ctrl, quiet):
    # stopCut catches the missing snapshot in an except clause of its own. Leaving that clause
    # must restore the exception context exactly as it was, also inside a generator (or a
    # coroutine), whose context is its own: no stale exception, no reference kept.
    ctl = make_ctrl(communication=DropSink())

    def gen():
        ctl.stopCut()
        yield sys.exc_info()[1]
        yield sys.exc_info()[1]

    g = gen()
    try:
        raise KeyError("outer")
    except KeyError as exc:
        outer = exc
        inside = next(g)
    after = next(g)
    assert inside is outer
    assert after is None, "the generator still sees %r after the handler ended" % (after,)
    del inside, after
    gc.collect()
    count = sys.getrefcount(outer)
    assert count == 2, "the generator keeps a reference to the outer exception"


# --------------------------------------------------------------------------------------------
# valgrind: one whole job


VALGRIND_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "leakcheck",
                               "valgrind_job.sh")


@pytest.mark.skipif(SANITIZED, reason="valgrind cannot run a process that has ASan loaded")
def test_one_job_under_valgrind(tmp_path):
    import shutil as _shutil
    if not _shutil.which("valgrind"):
        pytest.fail("valgrind is not installed (packaging/apt-packages.txt lists it)")
    env = dict(os.environ, ORVANE_VALGRIND_OUT=str(tmp_path))
    env.pop("PYTHONMALLOC", None)
    proc = subprocess.run(["bash", VALGRIND_SCRIPT, sys.executable], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    output = proc.stdout.decode("utf-8", "replace")
    print(output)
    assert proc.returncode == 0, output
    assert "one job: ok" in output
    assert "Leak_DefinitelyLost" in output and "result: no definite or indirect leak" in output
