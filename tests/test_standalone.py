"""The stand-alone start-up block: the module executed under the name "__main__".

Each test runs a fresh interpreter (the block runs during the module's exec
step, which happens once per process) in its own working directory, executes
the module under that name and writes what it found as JSON after a marker line.
"""
import base64
import json
import os
import re
import subprocess
import sys
import textwrap

import pytest

from fixtures.token_service import END_COMMENT, START_COMMENT, url_db

SRC = "D:\\0000代切分PDf"
SAVE = "D:\\0000切分后保存位置"
EXE = "D:\\000Talvero\\NewOrvaneFun\\OrvaneFun\\orvaneFun.exe"
MARK = "@@@namespace@@@"
BLOCK_NAMES = ["src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD", "LoginToken",
               "urldb", "PdfExePath", "cutfun"]
CTL_ATTRS = ["user", "src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD", "token",
             "run_code", "urldb", "PdfExePath", "communication"]

# Executes the module as "__main__" and describes the resulting namespace.
PROBE = textwrap.dedent(r'''
    import importlib.util, json, sys
    PRELUDE
    spec = importlib.util.find_spec("Orvane")
    m = importlib.util.module_from_spec(spec)
    m.__name__ = "__main__"
    failure = None
    try:
        spec.loader.exec_module(m)
    except BaseException as exc:
        failure = exc
    AFTER
    ns = m.__dict__
    info = {"keys": list(ns)}
    for name in ("src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD",
                 "LoginToken", "urldb", "PdfExePath"):
        if name in ns:
            info[name] = [type(ns[name]).__name__, ns[name]]
    if "cutfun" in ns:
        cut = ns["cutfun"]
        info["cut_class"] = isinstance(cut, ns["orvaneClass"]) and type(cut) is ns["orvaneClass"]
        info["cut_attrs"] = list(vars(cut))
        info["cut_user"] = cut.user
        info["cut_run_code"] = [type(cut.run_code).__name__, cut.run_code]
        info["cut_communication_none"] = cut.communication is None
        info["cut_same"] = {
            "src_pdf_path": cut.src_pdf_path is ns["src_pdf_path"],
            "save_pic_path": cut.save_pic_path is ns["save_pic_path"],
            "processors": cut.processors is ns["processors"],
            "COLOR_THRESHHOLD": cut.COLOR_THRESHHOLD is ns["COLOR_THRESHHOLD"],
            "token": cut.token is ns["LoginToken"],
            "urldb": cut.urldb is ns["urldb"],
            "PdfExePath": cut.PdfExePath is ns["PdfExePath"],
        }
    if "__test__" in ns:
        info["test"] = [type(ns["__test__"]).__name__, len(ns["__test__"])]
    if failure is not None:
        info["failure"] = [type(failure).__name__, str(failure)]
        entries = []
        tb = failure.__traceback__
        while tb is not None:
            entries.append([tb.tb_frame.f_code.co_name, tb.tb_frame.f_globals is ns])
            tb = tb.tb_next
        info["entries"] = entries
    sys.stdout.flush()
    sys.stdout.write("\nMARK" + json.dumps(info) + "\n")
''').replace("MARK", MARK)


def run_probe(cwd, prelude="", after="", env=None):
    script = PROBE.replace("PRELUDE", prelude).replace("AFTER", after)
    proc = subprocess.run([sys.executable, "-c", script], cwd=str(cwd), env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    out = proc.stdout.decode("utf-8", "replace")
    err = proc.stderr.decode("utf-8", "replace")
    assert proc.returncode == 0, "probe failed:\n" + out + "\n" + err
    assert MARK in out, "no namespace report:\n" + out + "\n" + err
    before, _, report = out.rpartition(MARK)
    return before, json.loads(report), err


def b64url_json(segment):
    padded = segment + "=" * (-len(segment) % 4)
    return json.loads(base64.urlsafe_b64decode(padded.encode("ascii")).decode("utf-8"))


class TestStandAloneBlock(object):
    def test_block_binds_the_defaults_and_stops_at_the_first_check(self, tmp_path):
        before, info, err = run_probe(tmp_path)
        # The D:\ folders do not exist here: the job stops at the first check, on stdout.
        assert before == "原PDF文件路径不存在\n\n"
        assert "Traceback" not in err
        assert "failure" not in info

        keys = info["keys"]
        at = keys.index("orvaneClass")
        assert keys[at:] == ["orvaneClass"] + BLOCK_NAMES + ["__test__"]
        assert info["test"] == ["dict", 0]

        assert info["src_pdf_path"] == ["str", SRC]
        assert info["save_pic_path"] == ["str", SAVE]
        assert info["processors"] == ["int", 4]
        assert info["COLOR_THRESHHOLD"] == ["int", 19]
        assert info["urldb"] == ["str", "./url.db"]
        assert info["PdfExePath"] == ["str", EXE]

        kind, token = info["LoginToken"]
        assert kind == "str"
        assert len(token) == 161
        assert re.match(r"^[A-Za-z0-9_-]+\.[A-Za-z0-9_-]+\.[A-Za-z0-9_-]+$", token), token
        header, payload, signature = token.split(".")
        for segment in (header, payload, signature):
            assert len(segment) % 4 != 1, "not a base64url length: %r" % segment
        assert isinstance(b64url_json(header), dict)
        assert isinstance(b64url_json(payload), dict)

        # cutfun: seven positional arguments read back from the namespace, no sink.
        assert info["cut_class"] is True
        assert info["cut_attrs"] == CTL_ATTRS  # no oldDir: the job never reached the snapshot
        assert info["cut_user"] == ""
        assert info["cut_run_code"] == ["int", 1]
        assert info["cut_communication_none"] is True
        assert all(info["cut_same"].values()), info["cut_same"]

        # Nothing was made in the working directory.
        assert os.listdir(str(tmp_path)) == []

    def test_block_runs_a_whole_job_with_the_fixed_defaults(self, tmp_path, token_server, standin):
        # On this system the fixed Windows paths are plain relative names (backslashes are
        # ordinary characters), so a working directory can hold them all.
        os.makedirs(os.path.join(str(tmp_path), SRC))
        os.makedirs(os.path.join(str(tmp_path), SAVE, "already-there"))
        url_db(tmp_path, token_server.commit_url)
        standin.install(tmp_path, EXE)
        standin.configure(lines=2)
        env = dict(os.environ)
        # The shell looks a slash-free command name up in PATH.
        env["PATH"] = "." + os.pathsep + env.get("PATH", "/usr/bin:/bin")
        # Four workers must fit the machine for the job to start the splitter.
        prelude = "import multiprocessing; multiprocessing.cpu_count = lambda: 8"
        before, info, err = run_probe(tmp_path, prelude=prelude, env=env)
        assert "failure" not in info, err
        token = info["LoginToken"][1]

        lines = before.split("\n")
        assert lines[0] == token
        assert lines[1] == token_server.reply_text
        assert lines[2] == "更新成功"
        assert lines[3:5] == [SRC, SAVE]
        assert "执行完成" in lines
        assert lines[-5:] == ["执行完成", token, "更新成功", "", ""]

        assert [json.loads(r.body.decode("utf-8"))["comments"] for r in token_server.requests] == \
            [START_COMMENT, END_COMMENT]
        assert all(r.header("token") == token for r in token_server.requests)
        assert standin.argv() == [EXE, SRC, SAVE, "4", "19"]
        assert os.path.isdir(os.path.join(str(tmp_path), "database"))
        assert info["cut_attrs"] == CTL_ATTRS + ["oldDir"]
        assert info["cut_run_code"] == ["int", 1]

    def test_exception_in_the_block_fails_the_exec_step(self, tmp_path):
        # print is taken from builtins at its first use, which is the block's first message.
        prelude = "exec(%r)" % textwrap.dedent('''
            import builtins
            real_print = builtins.print
            class BlockFailure(Exception):
                pass
            def failing_print(*args, **kwargs):
                raise BlockFailure("print refused: %r" % (args,))
            builtins.print = failing_print
        ''')
        after = "builtins.print = real_print"
        before, info, err = run_probe(tmp_path, prelude=prelude, after=after)
        assert before == "\n"
        assert info["failure"][0] == "BlockFailure"
        assert "原PDF文件路径不存在" in info["failure"][1]
        names = [name for name, _ in info["entries"]]
        assert "init Orvane" in names
        assert "Orvane.orvaneClass.run" in names
        # The exec step's entry comes outside the job's own (added after it, further up).
        assert names.index("init Orvane") < names.index("Orvane.orvaneClass.run")
        for name, globals_are_namespace in info["entries"]:
            if name in ("init Orvane", "Orvane.orvaneClass.run"):
                assert globals_are_namespace, name
        # The block got as far as cutfun; the exec step never reached __test__.
        assert "cutfun" in info["keys"]
        assert "__test__" not in info["keys"]
