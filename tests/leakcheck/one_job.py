"""One whole job through Orvane and every caught-failure path once: the program valgrind watches.

Run by valgrind_job.sh (``python one_job.py``; the module must be importable). Everything is real
and local: folders under a temporary directory, an SQLite URL database, the token service of the
tests on 127.0.0.1, and the orvaneFun.exe stand-in of the tests (built beforehand by the script,
outside valgrind). Prints one line per step and "one job: ok" at the end; any surprise raises.
"""
import io
import os
import shutil
import sqlite3
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))  # tests/, for the fixtures

from fixtures.standin import STANDIN_ENV, Script, build_standin  # noqa: E402
from fixtures.token_service import TokenServer, make_url_db, url_db  # noqa: E402

import Orvane  # noqa: E402

DONE = "执行完成"


class Sink(object):
    def __init__(self):
        self.reports = []

    def mainPrint(self, *args):
        self.reports.append(args[0] if len(args) == 1 else args)


def step(label):
    sys.stdout.write("step: %s\n" % label)
    sys.stdout.flush()


def expect(exc_type, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except exc_type:
        return
    raise AssertionError("no %s from %r" % (exc_type.__name__, call))


def main():
    root = tempfile.mkdtemp(prefix="orvane-valgrind-")
    server = TokenServer()
    old_cwd = os.getcwd()
    try:
        os.chdir(root)
        src, save = os.path.join(root, "src"), os.path.join(root, "save")
        for rel in ["a.pdf", "sub/b.pdf"]:
            path = os.path.join(src, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").close()
        os.makedirs(os.path.join(save, "kept"))
        db = url_db(root, server.commit_url)
        exe = build_standin()
        script = Script(os.path.join(root, "standin.script"))
        script.mkdir("new").mkdir("new/part").out("page 1\n").out("page 2\n")
        os.environ[STANDIN_ENV] = script.path

        step("get_now, constructions, binding errors")
        assert len(Orvane.get_now()) == 19
        sink = Sink()
        ctl = Orvane.orvaneClass(src, save, 1, 19, "token-text", db, exe, sink)
        Orvane.orvaneClass(src, save, 1, 19, "token-text", db, exe)
        Orvane.orvaneClass(src_pdf_path=src, save_pic_path=save, processors=1, COLOR_THRESHHOLD=19,
                           LoginToken="t", urldb=db, PdfExePath=exe, communication=None)
        expect(TypeError, Orvane.get_now, 1)
        expect(TypeError, Orvane.get_now, x=1)
        expect(TypeError, ctl.run, 1)
        expect(TypeError, ctl.stopCut, x=1)
        expect(TypeError, ctl.get_url)
        expect(TypeError, ctl.checkToken, 1, id=2, comments=3)
        expect(TypeError, Orvane.orvaneClass, 1, 2)
        expect(TypeError, Orvane.orvaneClass, *range(7), user=1)

        step("run: a whole job")
        assert ctl.run() is None
        # (The splitter's own lines are not checked: any stopCut on this machine ends it.)
        assert sink.reports[-3:] == [DONE, "token-text", "更新成功"], sink.reports
        step("stopCut: deletes the job's folder")
        assert ctl.stopCut() is None
        assert sorted(os.listdir(save)) == ["kept"]

        step("get_url, checkSpace, the token checks")
        assert ctl.get_url("commit")[0][0] == "commit"
        assert ctl.checkSpace() is True
        assert ctl.checkToken(3, "x") is None and ctl.checkToken1(3, "x") is None
        bad = make_url_db(os.path.join(root, "bad.db"), [], table=None)
        ctl.urldb = bad
        expect(sqlite3.OperationalError, ctl.get_url, "commit")

        saved_stderr = sys.stderr
        sys.stderr = io.StringIO()  # tracebacks printed on purpose
        try:
            step("token check: except path")
            assert ctl.checkToken(3, "x") is None and ctl.run_code == 0
            assert ctl.checkToken1(3, "x") is None
            ctl.urldb = db
            step("true_run: worker count refused (G1), unconvertible (G2), G2 failing")
            ctl.run_code = 1
            ctl.processors = 99
            assert ctl.true_run().startswith("请输入")
            ctl.processors = "abc"
            assert ctl.true_run().startswith("请输入") and ctl.run_code == 0

            class FailingOnRefusal(Sink):
                def mainPrint(self, *args):
                    if str(args[0]).startswith("请输入"):
                        raise ValueError("refused")
                    Sink.mainPrint(self, *args)
            ctl.communication = FailingOnRefusal()
            ctl.processors, ctl.run_code = "abc", 1
            assert ctl.true_run() is None
            ctl.communication = sink
            step("true_run: splitter stage fails, error log")
            ctl.processors, ctl.run_code, ctl.COLOR_THRESHHOLD = 1, 1, "abc"
            assert ctl.true_run() is None
            assert os.listdir(os.path.join(root, "logging"))
            ctl.COLOR_THRESHHOLD = 19
            step("stopCut: except path")
            fresh = Orvane.orvaneClass(src, save, 1, 19, "t", db, exe, sink)
            assert fresh.stopCut() is None
            step("run: refused name, refused token")
            open(os.path.join(src, "bad .pdf"), "wb").close()
            assert ctl.run() is None
            os.remove(os.path.join(src, "bad .pdf"))
            server.script([500, 500, 500, 500])
            Orvane.time = type("Quick", (), {"sleep": staticmethod(lambda s: None),
                                             "__getattr__": lambda self, n: getattr(__import__("time"), n)})()
            ctl.run_code = 1
            assert ctl.run() is None and ctl.run_code == 0
        finally:
            sys.stderr = saved_stderr
        sys.stdout.write("one job: ok\n")
    finally:
        os.chdir(old_cwd)
        server.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
