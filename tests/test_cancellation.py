"""stopCut: ending a running splitter and removing its partial output.

The end-to-end tests run a whole job on one thread, with the real orvaneFun.exe
stand-in started by the module through the shell and held running, and call
stopCut on another thread once the stand-in is up. Every thread is joined with a
time-out and every stand-in process is force-ended at teardown, so a fault in
the module fails a test instead of hanging the run or leaving processes behind.
"""
import ast
import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

from fixtures.token_service import END_COMMENT, START_COMMENT, TOKEN, Sink, SinkError

DONE = "执行完成"
UPDATED = "更新成功"
START_EXE = "执行隔页exe\n"
EXE_INFO = "执行exe信息"

JOIN_TIMEOUT = 30.0


# --------------------------------------------------------------------------------------------
# Helpers


def alive(pid):
    """Whether ``pid`` is a live process (a zombie waiting to be reaped counts as gone)."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as fh:
            stat = fh.read()
    except (FileNotFoundError, ProcessLookupError):
        return False
    state = stat.rsplit(b")", 1)[1].split()[0]
    return state not in (b"Z", b"X")


def wait_gone(pid, limit=5.0):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if not alive(pid):
            return True
        time.sleep(0.02)
    return not alive(pid)


def wait_for(predicate, limit=10.0):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()


def comments(server):
    return [json.loads(rec.body.decode("utf-8"))["comments"] for rec in server.requests]


def touch(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as fh:
        fh.write(data)
    return path


class Call(threading.Thread):
    """Runs one call on its own thread and keeps its result or exception."""

    def __init__(self, fn, name):
        threading.Thread.__init__(self, name=name, daemon=True)
        self.fn = fn
        self.result = None
        self.error = None
        self.done = False

    def run(self):
        try:
            self.result = self.fn()
        except BaseException as exc:  # reported by the test, never lost
            self.error = exc
        finally:
            self.done = True

    def finish(self, timeout=JOIN_TIMEOUT):
        self.join(timeout)
        assert not self.is_alive(), "%s did not return within %ss" % (self.name, timeout)
        if self.error is not None:
            raise self.error
        return self.result


class Reaper(object):
    """Force-ends, at teardown, every stand-in process a test saw, and joins its threads."""

    def __init__(self, standin):
        self.standin = standin
        self.pids = []
        self.procs = []
        self.threads = []

    def pid(self, pid):
        if pid is not None:
            self.pids.append(pid)
        return pid

    def popen(self, *args, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(*args, **kwargs)
        self.procs.append(proc)
        return proc

    def thread(self, fn, name):
        call = Call(fn, name)
        self.threads.append(call)
        call.start()
        return call

    def cleanup(self):
        self.standin.release()
        for pid in self.pids:
            if alive(pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
        for call in self.threads:
            call.join(JOIN_TIMEOUT)


@pytest.fixture
def reaper(standin):
    r = Reaper(standin)
    try:
        yield r
    finally:
        r.cleanup()


@pytest.fixture
def job(split_job):
    return split_job


def hold(standin, **kw):
    """Configure the stand-in to make its folders, write a line and then wait to be ended."""
    kw.setdefault("hold", True)
    kw.setdefault("hold_timeout", 60.0)
    return standin.configure(**kw)


def start_job(job, reaper, ctl):
    runner = reaper.thread(ctl.run, "run")
    ready = job.standin.wait_ready(JOIN_TIMEOUT)
    if not ready:
        job.standin.release()
        runner.join(JOIN_TIMEOUT)
        pytest.fail("the stand-in splitter never started; run() gave %r / %r" % (runner.result, runner.error))
    pid = reaper.pid(job.standin.pid())
    assert pid is not None and alive(pid)
    return runner, pid


def stop_outputs(reports):
    """The three stopCut outputs found in a report list, in the order they came."""
    new = [i for i, r in enumerate(reports) if isinstance(r, str) and r.startswith("new")]
    old = [i for i, r in enumerate(reports) if isinstance(r, str) and r.startswith("old")]
    sets = [i for i, r in enumerate(reports) if isinstance(r, set)]
    return new, old, sets


# --------------------------------------------------------------------------------------------
# A running job, stopped from another thread


class TestStopRunningJob(object):
    def test_end_to_end(self, job, reaper):
        save = job.save
        kept = os.path.join(save, "kept")
        kept_file = touch(os.path.join(kept, "old.pdf"))
        note = touch(os.path.join(save, "note.txt"))
        hold(job.standin, mkdirs=["part-1", "part-1/deeper", "part 2"], out="before the stop\n")
        ctl = job.ctl()
        runner, pid = start_job(job, reaper, ctl)

        # Folders made meanwhile by anything else count as the job's output as well.
        by_hand = os.path.join(save, "by-hand")
        os.makedirs(by_hand)
        made = {os.path.join(save, "part-1"), os.path.join(save, "part 2"), by_hand}
        assert ctl.oldDir == {kept}

        stopper = reaper.thread(ctl.stopCut, "stopCut")
        assert stopper.finish() is None
        # The splitter is gone, and the blocked job comes back by itself.
        assert wait_gone(pid), "the stand-in survived stopCut"
        assert runner.finish() is None
        assert not alive(pid)

        # The job went on as after a normal end of the splitter: the line written before
        # the stop is relayed, then "执行完成" and the completion report.
        r = job.sink.reports
        new, old, sets = stop_outputs(r)
        assert len(new) == len(old) == len(sets) == 1
        assert new[0] < old[0] < sets[0]
        stop_part = [r[new[0]], r[old[0]], r[sets[0]]]
        job_part = [x for i, x in enumerate(r) if i not in (new[0], old[0], sets[0])]
        assert job_part == [TOKEN, job.server.reply_text, UPDATED, job.src, save, START_EXE, EXE_INFO,
                            (job.src, save, 1, 19), "before the stop\n", DONE, TOKEN, UPDATED]
        assert comments(job.server) == [START_COMMENT, END_COMMENT]
        assert all(rec.header("token") == TOKEN for rec in job.server.requests)

        # The three outputs: "new" and "old" glued to the sets' text, then the set itself.
        assert ctl.newDir == {kept} | made
        assert stop_part[0] == "new" + str(ctl.newDir)
        assert stop_part[1] == "old" + str(ctl.oldDir)
        assert type(stop_part[2]) is set
        assert stop_part[2] == made

        # Only what appeared during the job is gone, with all its content.
        for path in made:
            assert not os.path.exists(path)
        assert os.path.isdir(kept) and os.path.isfile(kept_file)
        assert os.path.isfile(note)
        assert sorted(os.listdir(save)) == ["kept", "note.txt"]
        assert ctl.run_code == 1

        # A second stop finds nothing new and deletes nothing more.
        del job.sink.reports[:]
        assert ctl.stopCut() is None
        assert job.sink.reports == ["new" + str({kept}), "old" + str({kept}), set()]
        assert os.path.isfile(kept_file) and os.path.isfile(note)
        assert sorted(os.listdir(save)) == ["kept", "note.txt"]

    def test_a_sink_failing_in_stopcut_deletes_nothing(self, job, reaper, capfd):
        class FailsOnNew(Sink):
            def mainPrint(self, *args):
                if isinstance(args[0], str) and args[0].startswith("new"):
                    self.calls.append(args)
                    raise SinkError("sink refused the stop report")
                Sink.mainPrint(self, *args)

        sink = FailsOnNew()
        hold(job.standin, mkdirs=["partial"])
        ctl = job.ctl(communication=sink)
        runner, pid = start_job(job, reaper, ctl)
        stopper = reaper.thread(ctl.stopCut, "stopCut")
        assert stopper.finish() is None
        # The stop command came before the failing report: the splitter is gone anyway.
        assert wait_gone(pid)
        assert runner.finish() is None
        _, err = capfd.readouterr()
        assert "Traceback" in err
        assert "sink refused the stop report" in err
        assert os.path.isdir(os.path.join(job.save, "partial"))
        assert ctl.newDir == {os.path.join(job.save, "partial")}
        assert not [r for r in sink.reports if isinstance(r, set) or
                    (isinstance(r, str) and r.startswith("old"))]
        assert sink.reports[-3:] == [DONE, TOKEN, UPDATED]


# --------------------------------------------------------------------------------------------
# The stop command on this platform: every process whose image is orvaneFun.exe


class TestStopCommand(object):
    def test_ends_every_orvanefun_but_nothing_else(self, make_ctrl, standin, reaper, tmp_path):
        hold(standin, record_argv=False)
        save = str(tmp_path / "save")
        os.makedirs(save)
        targets = [reaper.popen([standin.exe, "a", save, "1", "19"]),
                   reaper.popen([standin.install(tmp_path / "elsewhere"), "b", save, "1", "19"])]
        # Same program under other image names, and one whose argv[0] alone says orvaneFun.exe.
        bystanders = [
            reaper.popen([standin.install(tmp_path / "n1", "orvaneFun.ex")]),
            reaper.popen([standin.install(tmp_path / "n2", "xorvaneFun.exe")]),
            reaper.popen([standin.install(tmp_path / "n3", "orvaneFun.exe.bak")]),
            reaper.popen(["orvaneFun.exe"], executable=standin.install(tmp_path / "n5", "other-name")),
        ]
        for proc in targets + bystanders:
            assert wait_for(lambda p=proc: alive(p.pid))
        ctl = make_ctrl(save_pic_path=save)
        ctl.oldDir = set()
        assert ctl.stopCut() is None
        for proc in targets:
            assert proc.wait(10) == -signal.SIGKILL
        time.sleep(0.2)
        for proc in bystanders:
            assert proc.poll() is None, "a process not named orvaneFun.exe was ended"

    def test_no_splitter_running_goes_on(self, make_ctrl, tmp_path):
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        ctl.oldDir = set()
        new = os.path.join(str(tmp_path / "save"), "fresh")
        os.makedirs(new)
        assert ctl.stopCut() is None
        assert sink.reports == ["new" + str({new}), "old" + str(set()), {new}]
        assert not os.path.exists(new)


# --------------------------------------------------------------------------------------------
# The snapshots and the deletion, without a job


class TestSnapshotsAndDeletion(object):
    def test_nothing_new_gives_an_empty_third_output(self, make_ctrl, tmp_path):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        os.makedirs(os.path.join(save, "a"))
        touch(os.path.join(save, "file.bin"))
        ctl.oldDir = {os.path.join(save, "a")}
        assert ctl.stopCut() is None
        assert sink.reports == ["new" + str({os.path.join(save, "a")}),
                                "old" + str({os.path.join(save, "a")}), set()]
        assert type(sink.reports[2]) is set
        assert ctl.newDir == {os.path.join(save, "a")}
        assert sorted(os.listdir(save)) == ["a", "file.bin"]

    def test_only_folders_are_compared_and_deleted(self, make_ctrl, tmp_path):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        ctl.oldDir = set()
        touch(os.path.join(save, "new-file.txt"))
        touch(os.path.join(save, "new folder", "deep", "x.pdf"))
        assert ctl.stopCut() is None
        assert ctl.newDir == {os.path.join(save, "new folder")}
        assert sink.reports[2] == ctl.newDir
        assert os.listdir(save) == ["new-file.txt"]

    def test_a_link_to_an_outside_folder_is_not_followed_into(self, make_ctrl, tmp_path, capfd):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        ctl.oldDir = set()
        outside = str(tmp_path / "outside")
        keep = touch(os.path.join(outside, "keep.pdf"))
        link = os.path.join(save, "link")
        os.symlink(outside, link)
        assert ctl.stopCut() is None
        # isdir follows the link, so it is a new folder; rmtree refuses a link, which
        # takes the exception path, and nothing outside the save folder is touched.
        assert sink.reports[2] == {link}
        assert os.path.isfile(keep)
        assert "Traceback" in capfd.readouterr().err

    def test_without_a_sink_the_three_outputs_are_printed(self, make_ctrl, tmp_path, capfd):
        save = str(tmp_path / "save")
        ctl = make_ctrl(communication=None)
        old = {os.path.join(save, "old-one")}
        new = {os.path.join(save, "new-one"), os.path.join(save, "new two")}
        for path in old | new:
            os.makedirs(path)
        ctl.oldDir = old
        capfd.readouterr()
        assert ctl.stopCut() is None
        out, err = capfd.readouterr()
        assert err == ""
        lines = out.split("\n")
        assert lines[0] == "new" + str(ctl.newDir)
        assert lines[1] == "old" + str(old)
        assert ast.literal_eval(lines[2]) == new
        assert lines[3:] == [""]
        assert os.listdir(save) == ["old-one"]

    def test_a_folder_removed_and_made_again_is_not_deleted(self, make_ctrl, tmp_path):
        save = str(tmp_path / "save")
        ctl = make_ctrl()
        again = os.path.join(save, "again")
        os.makedirs(again)
        ctl.oldDir = {again}
        os.rmdir(again)
        touch(os.path.join(again, "written-by-the-job.pdf"))
        os.makedirs(os.path.join(again, "sub-made-by-the-job"))
        assert ctl.stopCut() is None
        assert os.path.isfile(os.path.join(again, "written-by-the-job.pdf"))
        assert os.path.isdir(os.path.join(again, "sub-made-by-the-job"))

    def test_snapshots_compare_exact_path_text(self, make_ctrl, tmp_path):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        os.makedirs(os.path.join(save, "a"))
        # The same folder written another way is a different path to the comparison.
        ctl.oldDir = {os.path.join(save, ".", "a")}
        assert ctl.stopCut() is None
        assert sink.reports[2] == {os.path.join(save, "a")}
        assert not os.path.exists(os.path.join(save, "a"))

    def test_a_later_stop_deletes_what_appeared_since(self, make_ctrl, tmp_path):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        ctl.oldDir = set()
        os.makedirs(os.path.join(save, "first"))
        ctl.stopCut()
        os.makedirs(os.path.join(save, "second"))
        del sink.reports[:]
        assert ctl.stopCut() is None
        assert sink.reports[2] == {os.path.join(save, "second")}
        assert os.listdir(save) == []

    def test_run_flag_untouched(self, make_ctrl, tmp_path):
        ctl = make_ctrl()
        ctl.oldDir = set()
        ctl.run_code = "left alone"
        ctl.stopCut()
        assert ctl.run_code == "left alone"


class TestStopDuringTheSnapshot(object):
    """A stop that lands while run is still listing the save folder.

    The snapshot is published only once it is complete, so such a stop never compares
    against a half-made snapshot and never deletes a folder that was there before the job.
    """

    def _stop_inside_snapshot(self, rebind, ctl, save):
        """From the next listing of ``save`` on, stop at the first isdir test of an entry."""
        import os as real_os
        state = {"phase": "waiting"}

        class PathProxy(object):
            def __getattr__(self, name):
                return getattr(real_os.path, name)

            def isdir(self, path):
                if state["phase"] == "listed" and os.path.dirname(path) == save:
                    state["phase"] = "stopped"
                    ctl.stopCut()           # as if the other thread ran right now
                return real_os.path.isdir(path)

        class OsProxy(object):
            path = PathProxy()

            def __getattr__(self, name):
                return getattr(real_os, name)

            def listdir(self, p=None):
                entries = real_os.listdir(p)
                if p == save and state["phase"] == "waiting":
                    state["phase"] = "listed"
                return entries

        rebind("os", OsProxy())
        return state

    def test_first_job(self, make_ctrl, rebind, tmp_path, capfd):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        existing = [os.path.join(save, n) for n in ("a", "b", "c")]
        for path in existing:
            touch(os.path.join(path, "result.pdf"))
        state = self._stop_inside_snapshot(rebind, ctl, save)
        ctl.run()
        assert state["phase"] == "stopped"
        for path in existing:
            assert os.path.isfile(os.path.join(path, "result.pdf")), path
        # The stop found no snapshot at all: its traceback, and no output to the sink.
        assert "AttributeError" in capfd.readouterr().err
        assert not [r for r in sink.reports if isinstance(r, set)]
        assert ctl.oldDir == set(existing)

    def test_later_job_compares_against_the_previous_snapshot(self, make_ctrl, rebind, tmp_path):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        first = os.path.join(save, "first")
        os.makedirs(first)
        ctl.run()
        assert ctl.oldDir == {first}
        later = os.path.join(save, "made-between-jobs")
        touch(os.path.join(later, "result.pdf"))
        state = self._stop_inside_snapshot(rebind, ctl, save)
        del sink.reports[:]
        ctl.run()
        assert state["phase"] == "stopped"
        # Against the complete previous snapshot, the folder made between the jobs is new.
        sets = [r for r in sink.reports if isinstance(r, set)]
        assert sets == [{later}]
        assert os.path.isdir(first)


# --------------------------------------------------------------------------------------------
# Every failure is caught, printed, and leaves the caller's exception context alone


class Interrupt(BaseException):
    """Not derived from Exception."""


def entry_in(err, name):
    return ("in " + name) in err


class TestFailuresAreCaught(object):
    def test_never_ran_prints_a_traceback_and_returns_none(self, make_ctrl, tmp_path, capfd):
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        present = os.path.join(save, "present")
        os.makedirs(present)
        capfd.readouterr()
        assert sys.exc_info() == (None, None, None)
        result = ctl.stopCut()
        assert sys.exc_info() == (None, None, None)
        assert result is None
        out, err = capfd.readouterr()
        assert out == ""
        assert err.startswith("Traceback (most recent call last):")
        assert "AttributeError" in err and "oldDir" in err
        assert entry_in(err, "Orvane.orvaneClass.stopCut")
        # Steps 1 to 3 happened, then the comparison failed: nothing reported or deleted.
        assert ctl.newDir == {present}
        assert sink.calls == []
        assert os.path.isdir(present)

    def test_never_ran_still_ends_the_splitter(self, make_ctrl, standin, reaper, tmp_path, capfd):
        hold(standin, record_argv=False)
        proc = reaper.popen([standin.exe, "a", str(tmp_path), "1", "19"])
        assert wait_for(lambda: alive(proc.pid))
        ctl = make_ctrl()
        assert ctl.stopCut() is None
        assert proc.wait(10) == -signal.SIGKILL
        assert "AttributeError" in capfd.readouterr().err

    def test_callers_exception_context_is_kept(self, make_ctrl, capfd):
        ctl = make_ctrl()
        try:
            raise ValueError("the caller's own")
        except ValueError as outer:
            outer_tb = outer.__traceback__
            before = sys.exc_info()
            assert ctl.stopCut() is None
            after = sys.exc_info()
            assert after[0] is before[0] and after[1] is before[1] and after[2] is before[2]
            assert after[1] is outer
            assert outer.__context__ is None and outer.__cause__ is None
            assert outer.__traceback__ is outer_tb
        assert sys.exc_info() == (None, None, None)
        assert "AttributeError" in capfd.readouterr().err

    def test_context_kept_inside_nested_handlers(self, make_ctrl, capfd):
        ctl = make_ctrl()
        try:
            raise KeyError("outer")
        except KeyError as first:
            try:
                raise OSError("inner")
            except OSError as second:
                ctl.stopCut()
                assert sys.exc_info()[1] is second
                assert second.__context__ is first
            assert sys.exc_info()[1] is first
        capfd.readouterr()

    @pytest.mark.parametrize("fail_on", [0, 1, 2])
    @pytest.mark.parametrize("fail_with", [SinkError, Interrupt, SystemExit, GeneratorExit],
                             ids=["Exception", "BaseException", "SystemExit", "GeneratorExit"])
    def test_a_failing_sink_is_caught_and_nothing_is_deleted(self, make_ctrl, tmp_path, capfd,
                                                             fail_on, fail_with):
        save = str(tmp_path / "save")
        sink = Sink(fail_on=(fail_on,), fail_with=fail_with)
        ctl = make_ctrl(communication=sink)
        ctl.oldDir = set()
        made = [os.path.join(save, "one"), os.path.join(save, "two")]
        for path in made:
            touch(os.path.join(path, "content.pdf"))
        capfd.readouterr()
        try:
            result = ctl.stopCut()
        except BaseException as exc:  # keep the session alive whatever escapes
            pytest.fail("stopCut let %r escape" % (exc,))
        assert result is None
        assert sys.exc_info() == (None, None, None)
        # The outputs after the failing one never happened.
        assert len(sink.calls) == fail_on + 1
        err = capfd.readouterr().err
        assert "Traceback" in err
        assert "sink failed on call %d" % fail_on in err
        for path in made:
            assert os.path.isfile(os.path.join(path, "content.pdf"))

    def test_missing_save_folder(self, make_ctrl, tmp_path, capfd):
        sink = Sink()
        ctl = make_ctrl(communication=sink, save_pic_path=str(tmp_path / "gone"))
        ctl.oldDir = set()
        assert ctl.stopCut() is None
        assert ctl.newDir == set()
        assert sink.calls == []
        assert "FileNotFoundError" in capfd.readouterr().err

    def test_a_failed_deletion_ends_the_loop(self, make_ctrl, rebind, tmp_path, capfd):
        import shutil as real_shutil
        calls = []

        class FailingShutil(object):
            def __getattr__(self, name):
                return getattr(real_shutil, name)

            def rmtree(self, path, *args, **kwargs):
                calls.append(path)
                raise PermissionError("held open: %s" % path)

        rebind("shutil", FailingShutil())
        save = str(tmp_path / "save")
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        ctl.oldDir = set()
        made = {os.path.join(save, n) for n in ("p", "q", "r")}
        for path in made:
            os.makedirs(path)
        assert ctl.stopCut() is None
        # One guard around everything: the first failure ends the deletions.
        assert len(calls) == 1 and calls[0] in made
        assert sink.reports[2] == made
        assert "held open" in capfd.readouterr().err
        for path in made:
            assert os.path.isdir(path)

    def test_failing_traceback_printer_reaches_the_caller(self, make_ctrl, rebind):
        class Broken(Exception):
            pass

        class BrokenTraceback(object):
            def print_exc(self, *args, **kwargs):
                raise Broken("cannot print")

        rebind("traceback", BrokenTraceback())
        ctl = make_ctrl()
        with pytest.raises(Broken):
            ctl.stopCut()

    def test_no_arguments_besides_the_instance(self, make_ctrl):
        ctl = make_ctrl()
        with pytest.raises(TypeError) as info:
            ctl.stopCut(None)
        assert str(info.value) == "stopCut() takes exactly one argument (2 given)"
