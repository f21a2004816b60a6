"""The split job driver true_run, through the built module.

Every test runs in its own working directory (the driver makes "database" and
the error log's "logging" relative to it), with real folders, the real
orvaneFun.exe stand-in started through the shell, and the real token service on
127.0.0.1 answering the completion report.
"""
import multiprocessing
import os
import sys
import threading

import pytest

from fixtures.standin import StandIn
from fixtures.token_service import TOKEN, Sink, SinkError

TOO_LONG = " \n路径过长"
SUMMARY = "这里是要结束的进程， 这里是待写入的文件路径"
SRC_MISSING = "原路径不存在，请重新输入\n"
SAVE_MISSING = "保存文件不存在，请重新输入\n"
START_EXE = "执行隔页exe\n"
EXE_INFO = "执行exe信息"
DONE = "执行完成"
STAGE_FAILED = "执行exe文件报错"
EXE_MISSING = ("warning", "切分隔页的exe不存在")
# What checkToken1 reports when the service accepts the completion report.
COMPLETION = [TOKEN, "更新成功"]


def refusal(cpus):
    return "请输入1-{}的整数".format(cpus)


@pytest.fixture
def job(split_job):
    return split_job


def make_file(root, length, unit="a", ext=".pdf", step=60):
    """Create a file under ``root`` whose joined path has exactly ``length`` characters."""
    path = root
    while length - len(path) - 1 > step + 20:
        path = os.path.join(path, unit * step)
    name_len = length - len(path) - 1
    assert name_len > len(ext), "root too long for the wanted length"
    path = os.path.join(path, unit * (name_len - len(ext)) + ext)
    assert len(path) == length
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as fh:
        fh.write(b"%PDF-1.4\n")
    return path


def file_length_for(ctl_src, ctl_save, estimate):
    """The joined path length that gives the driver's estimate ``estimate``."""
    return estimate - len(ctl_save) + len(ctl_src)


def ran_clean(job, reports_before_lines, lines=()):
    """Reports of a clean job from the start message on."""
    return reports_before_lines + list(lines) + [DONE] + COMPLETION


# --------------------------------------------------------------------------------------------
# The path-length walk


class TestPathLength:
    def test_258_is_silent_259_is_reported(self, job):
        job.standin.configure()
        short = make_file(job.src, file_length_for(job.src, job.save, 258), unit="a")
        long = make_file(job.src, file_length_for(job.src, job.save, 259), unit="b")
        ctl = job.ctl()
        assert ctl.true_run() is None
        r = job.sink.reports
        assert r[:2] == [job.src, job.save]
        assert r[2:4] == [long + TOO_LONG, SUMMARY]
        assert short + TOO_LONG not in r
        # Too-long paths warn only: the job went on and finished.
        assert r[4:] == ran_clean(job, [START_EXE, EXE_INFO, (job.src, job.save, 1, 19)])
        assert job.standin.ran()
        assert ctl.run_code == 1
        assert len(job.completion_requests()) == 1

    def test_chinese_names_count_one_per_character(self, job):
        # Each of these names is three bytes a character in UTF-8: far beyond 259 bytes,
        # yet the estimate counts characters.
        short = make_file(job.src, file_length_for(job.src, job.save, 258), unit="页")
        long = make_file(job.src, file_length_for(job.src, job.save, 259), unit="隔")
        assert len(os.fsencode(short)) > 400
        ctl = job.ctl()
        ctl.true_run()
        r = job.sink.reports
        assert [m for m in r if isinstance(m, str) and m.endswith(TOO_LONG)] == [long + TOO_LONG]
        assert r.count(SUMMARY) == 1

    @pytest.mark.parametrize("save_name, src_name", [
        # The same tree under a short source and a long target: every estimate rises.
        ("save-folder-with-a-much-longer-name", "s"),
        # A long source and a short target: every estimate falls.
        ("t", "source-folder-with-a-much-longer-name"),
    ])
    def test_target_length_shifts_the_estimate(self, job, save_name, src_name):
        src = os.path.join(job.root, src_name)
        save = os.path.join(job.root, save_name)
        os.makedirs(src)
        os.makedirs(save)
        # Lengths straddling the boundary: only the estimate, not the path itself, decides.
        at_258 = make_file(src, file_length_for(src, save, 258), unit="a")
        at_259 = make_file(src, file_length_for(src, save, 259), unit="b")
        if len(save) > len(src):
            assert len(at_259) < 259
        else:
            assert len(at_258) > 258
        ctl = job.ctl(src_pdf_path=src, save_pic_path=save)
        ctl.true_run()
        flagged = [m for m in job.sink.reports if isinstance(m, str) and m.endswith(TOO_LONG)]
        assert flagged == [at_259 + TOO_LONG]

    def test_two_long_files_then_one_summary_whole_tree_every_kind(self, job):
        # Not only PDF files, and deep in the tree: the walk covers everything.
        first = make_file(os.path.join(job.src, "deeper", "still"),
                          file_length_for(job.src, job.save, 300), unit="c", ext=".txt")
        second = make_file(job.src, file_length_for(job.src, job.save, 259), unit="d", ext=".bin")
        make_file(job.src, 120, unit="e")
        ctl = job.ctl()
        ctl.true_run()
        r = job.sink.reports
        flagged = [i for i, m in enumerate(r) if isinstance(m, str) and m.endswith(TOO_LONG)]
        assert sorted(r[i] for i in flagged) == sorted([first + TOO_LONG, second + TOO_LONG])
        assert r.count(SUMMARY) == 1
        assert r.index(SUMMARY) == max(flagged) + 1
        assert r[r.index(SUMMARY) + 1] == START_EXE

    def test_no_summary_when_the_run_flag_is_already_down(self, job):
        long = make_file(job.src, file_length_for(job.src, job.save, 270))
        ctl = job.ctl(COLOR_THRESHHOLD=0)
        ctl.run_code = 0
        assert ctl.true_run() is None
        # The walk still reports the file; no summary, no colour default, no splitter,
        # and the driver jumps straight to the completion report (no "执行完成").
        assert job.sink.reports == [job.src, job.save, long + TOO_LONG] + COMPLETION
        assert ctl.COLOR_THRESHHOLD == 0
        assert not job.standin.ran()
        assert job.database_made()
        assert len(job.completion_requests()) == 1


# --------------------------------------------------------------------------------------------
# Missing folders


class TestMissingFolders:
    def test_source_missing(self, job):
        src = os.path.join(job.root, "no-such-source")
        ctl = job.ctl(src_pdf_path=src, processors=0, COLOR_THRESHHOLD=0)
        assert ctl.true_run() is None
        assert job.sink.reports == [src, job.save, SRC_MISSING] + COMPLETION
        assert ctl.run_code == 0
        # No colour default without the run flag; the worker count still gets its default.
        assert ctl.COLOR_THRESHHOLD == 0
        assert ctl.processors == max(1, multiprocessing.cpu_count() - 1)
        assert job.database_made()
        assert not job.standin.ran()
        assert len(job.completion_requests()) == 1

    def test_target_missing_skips_the_walk(self, job):
        save = os.path.join(job.root, "no-such-save")
        make_file(job.src, 400)  # would be reported if the walk ran
        ctl = job.ctl(save_pic_path=save)
        assert ctl.true_run() is None
        assert job.sink.reports == [job.src, save, SAVE_MISSING] + COMPLETION
        assert ctl.run_code == 0
        assert job.database_made()
        assert not job.standin.ran()
        assert len(job.completion_requests()) == 1

    def test_both_missing_reports_the_source_only(self, job):
        src = os.path.join(job.root, "none-1")
        save = os.path.join(job.root, "none-2")
        ctl = job.ctl(src_pdf_path=src, save_pic_path=save)
        ctl.true_run()
        assert job.sink.reports == [src, save, SRC_MISSING] + COMPLETION

    def test_source_missing_and_worker_count_refused(self, job):
        src = os.path.join(job.root, "no-such-source")
        cpus = multiprocessing.cpu_count()
        ctl = job.ctl(src_pdf_path=src, processors=cpus + 1)
        assert ctl.true_run() == refusal(cpus)
        assert job.sink.reports == [src, job.save, SRC_MISSING, refusal(cpus)]
        # Returned in the worker-count stage: no "database", no completion report.
        assert not job.database_made()
        assert job.completion_requests() == []


# --------------------------------------------------------------------------------------------
# The worker count


CPUS = multiprocessing.cpu_count()
DEFAULT_WORKERS = max(1, CPUS - 1)


class TestWorkerCount:
    @pytest.mark.parametrize("given, stored", [
        (0, DEFAULT_WORKERS),           # falsy: the default, silently
        ("", DEFAULT_WORKERS),          # falsy text: the same
        (CPUS, CPUS),                   # the processor count itself is accepted
        (str(CPUS), CPUS),              # a text converts
        ("1", 1),
        (1.9, 1),                       # a float is truncated
    ], ids=["0", "empty", "cpus", "cpus-text", "one-text", "float"])
    def test_accepted(self, job, given, stored):
        ctl = job.ctl(processors=given)
        assert ctl.true_run() is None
        assert ctl.processors == stored and type(ctl.processors) is int
        assert ctl.run_code == 1
        assert job.sink.reports == ran_clean(
            job, [job.src, job.save, START_EXE, EXE_INFO, (job.src, job.save, stored, 19)])
        assert job.standin.argv()[3] == str(stored)

    @pytest.mark.parametrize("given", ["0", CPUS + 1, str(CPUS + 1), -1],
                             ids=["zero-text", "cpus+1", "cpus+1-text", "negative"])
    def test_out_of_range_is_refused_and_nothing_changes(self, job, given):
        ctl = job.ctl(processors=given)
        assert ctl.true_run() == refusal(CPUS)
        assert job.sink.reports == [job.src, job.save, refusal(CPUS)]
        assert ctl.processors == given
        assert ctl.run_code == 1
        assert not job.database_made()
        assert not job.standin.ran()
        assert job.completion_requests() == []
        # The same refusal again on the next job: nothing was changed.
        job.sink.reports[:] = []
        assert ctl.true_run() == refusal(CPUS)

    @pytest.mark.parametrize("given", ["abc", "1.5", None], ids=["abc", "float-text", "none-is-falsy"])
    def test_unconvertible(self, job, given):
        ctl = job.ctl(processors=given)
        result = ctl.true_run()
        if given is None:
            # None is falsy: it takes the default like 0 does.
            assert result is None
            assert ctl.processors == DEFAULT_WORKERS
            return
        assert result == refusal(CPUS)
        assert job.sink.reports == [job.src, job.save, refusal(CPUS)]
        assert ctl.run_code == 0
        assert ctl.processors == ""
        assert not job.database_made()
        assert not job.standin.ran()
        assert job.completion_requests() == []

    def test_default_is_at_least_one_on_a_single_processor(self, job, rebind):
        rebind("cpu_count", lambda: 1)
        ctl = job.ctl(processors=0)
        ctl.true_run()
        assert ctl.processors == 1
        assert job.standin.argv()[3] == "1"

    def test_processor_count_is_read_from_the_module_namespace(self, job, rebind):
        rebind("cpu_count", lambda: 8)
        ctl = job.ctl(processors=8)
        assert ctl.true_run() is None
        assert ctl.processors == 8
        ctl = job.ctl(processors=9)
        assert ctl.true_run() == refusal(8)
        ctl = job.ctl(processors=0)
        ctl.true_run()
        assert ctl.processors == 7

    def test_failure_inside_the_refusal_is_printed_and_the_job_goes_on(self, job, capsys):
        # The sink fails on the refusal report (call 2): the traceback goes to standard
        # error and the job continues at the "database" step with the flag down.
        sink = Sink(fail_on=(2,))
        ctl = job.ctl(processors="abc", communication=sink)
        assert ctl.true_run() is None
        err = capsys.readouterr().err
        assert "Traceback" in err and "SinkError" in err
        assert ctl.run_code == 0
        assert ctl.processors == ""
        assert job.database_made()
        assert not job.standin.ran()
        assert sink.reports == [job.src, job.save] + COMPLETION
        assert len(job.completion_requests()) == 1

    def test_traceback_printer_is_read_from_the_module_namespace(self, job, rebind, capsys):
        printed = []

        class Recorder(object):
            @staticmethod
            def print_exc(*args, **kwargs):
                printed.append(sys.exc_info()[0])

        rebind("traceback", Recorder())
        ctl = job.ctl(processors="abc", communication=Sink(fail_on=(2,)))
        assert ctl.true_run() is None
        assert printed == [SinkError]
        assert capsys.readouterr().err == ""


# --------------------------------------------------------------------------------------------
# The colour threshold


class TestColourThreshold:
    @pytest.mark.parametrize("given, stored, passed", [
        (0, 19, "19"),
        ("", 19, "19"),
        ("0", "0", "0"),       # truthy text: left alone, converted only for the command line
        (7.9, 7.9, "7"),
        (" 20 ", " 20 ", "20"),
    ], ids=["0", "empty", "zero-text", "float", "padded-text"])
    def test_values(self, job, given, stored, passed):
        ctl = job.ctl(COLOR_THRESHHOLD=given)
        assert ctl.true_run() is None
        assert ctl.COLOR_THRESHHOLD == stored and type(ctl.COLOR_THRESHHOLD) is type(stored)
        assert job.standin.argv()[4] == passed
        assert (job.src, job.save, 1, int(passed)) in job.sink.reports

    # "abc" is covered with its error-log record in test_error_log.py.


# --------------------------------------------------------------------------------------------
# The command line: the exact argument vector, whatever the folder names hold


HOSTILE_NAMES = [
    "with spaces  and  more",
    'double"quote',
    "single'quote",
    "dollar $(touch {marker}) sub",
    "back `touch {marker}` quote",
    "var $HOME and ${{HOME}}",
    "back\\slash \\\" mixed",
    "trailing backslash\\",
    "semi; amp & pipe | redirect > out < in",
    "glob * ? [a]",
    "中文 文件夹",
    "new\nline",
]


class TestCommandLine:
    def test_plain_vector(self, job):
        ctl = job.ctl(processors=CPUS, COLOR_THRESHHOLD=23)
        ctl.true_run()
        assert job.standin.argv() == [job.standin.exe, job.src, job.save, str(CPUS), "23"]

    @pytest.mark.parametrize("name", HOSTILE_NAMES,
                             ids=["spaces", "dquote", "squote", "dollar-paren", "backquote", "dollar-var",
                                  "backslash", "trailing-backslash", "shell-ops", "glob", "chinese",
                                  "newline"])
    def test_hostile_folder_names_arrive_verbatim(self, job, name):
        marker = os.path.join(job.root, "MARKER")
        src = os.path.join(job.root, "src " + name.format(marker=marker))
        save = os.path.join(job.root, "save " + name.format(marker=marker))
        exe_dir = os.path.join(job.root, "bin " + name.format(marker=marker))
        os.makedirs(src)
        os.makedirs(save)
        exe = job.standin.install(exe_dir)
        ctl = job.ctl(src_pdf_path=src, save_pic_path=save, PdfExePath=exe)
        assert ctl.true_run() is None
        assert job.standin.argv() == [exe, src, save, "1", "19"]
        assert not os.path.exists(marker)
        assert not any(n.startswith("MARKER") for n in os.listdir(job.root))
        # The job finished normally (no error-log detour).
        assert job.sink.reports[-3:] == [DONE] + COMPLETION
        assert STAGE_FAILED not in job.sink.reports

    def test_folder_name_that_is_not_utf8(self, job):
        # Such a name reaches Python with surrogate escapes; the child must get the raw bytes.
        src = os.fsdecode(os.path.join(os.fsencode(job.root), b"src \xff\xfe $(x) \\"))
        os.makedirs(src)
        ctl = job.ctl(src_pdf_path=src)
        assert ctl.true_run() is None
        assert job.standin.argv() == [job.standin.exe, src, job.save, "1", "19"]

    def test_database_exists_before_the_splitter_starts(self, job):
        probe = os.path.join(job.standin.record_dir, "probe")
        job.standin.configure().exists("database", probe)
        assert not job.database_made()
        job.ctl().true_run()
        with open(probe, encoding="utf-8") as fh:
            assert fh.read() == "database\t1\n"

    def test_existing_database_is_left_alone(self, job):
        os.makedirs(os.path.join(job.root, "database"))
        keep = os.path.join(job.root, "database", "kept.db")
        with open(keep, "wb") as fh:
            fh.write(b"data")
        job.ctl().true_run()
        with open(keep, "rb") as fh:
            assert fh.read() == b"data"


# --------------------------------------------------------------------------------------------
# Relaying the splitter's output


class TestRelay:
    def test_lines_keep_their_line_ends(self, job):
        job.standin.configure(out=["第一行\n", "\n", "second line\n", "no end"], mkdirs=["part 1", "part 2"])
        ctl = job.ctl()
        assert ctl.true_run() is None
        assert job.sink.reports == ran_clean(
            job, [job.src, job.save, START_EXE, EXE_INFO, (job.src, job.save, 1, 19)],
            ["第一行\n", "\n", "second line\n", "no end"])
        # What the splitter wrote under the target stays.
        assert sorted(os.listdir(job.save)) == ["part 1", "part 2"]

    def test_printed_form_without_a_sink(self, job, capsys):
        job.standin.configure(out=["alpha\n", "beta\n", "gamma"])
        ctl = job.ctl(communication=None)
        assert ctl.true_run() is None
        out = capsys.readouterr().out
        expected = "".join(s + "\n" for s in [
            job.src, job.save, START_EXE, EXE_INFO, str((job.src, job.save, 1, 19)),
            "alpha\n", "beta\n", "gamma", DONE] + COMPLETION)
        assert out == expected
        # Each relayed line that ends with a line end shows as that line and an empty one.
        assert "alpha\n\nbeta\n\ngamma\n" in out

    def test_many_lines_in_order(self, job):
        job.standin.configure(lines=20000, line_prefix="第")
        job.ctl().true_run()
        r = job.sink.reports
        start = r.index((job.src, job.save, 1, 19)) + 1
        assert r[start:start + 20000] == StandIn.generated(20000, "第")
        assert r[start + 20000:] == [DONE] + COMPLETION

    def test_one_very_long_line(self, job):
        job.standin.configure(long_line=3000000)
        job.ctl().true_run()
        r = job.sink.reports
        line = r[r.index((job.src, job.save, 1, 19)) + 1]
        assert len(line) == 3000001 and line == "x" * 3000000 + "\n"

    def test_silent_splitter(self, job):
        job.ctl().true_run()
        assert job.sink.reports == ran_clean(
            job, [job.src, job.save, START_EXE, EXE_INFO, (job.src, job.save, 1, 19)])

    def test_exit_status_is_ignored(self, job):
        job.standin.configure(out="partial\n", exit_status=3)
        job.ctl().true_run()
        assert job.sink.reports[-4:] == ["partial\n", DONE] + COMPLETION
        assert STAGE_FAILED not in job.sink.reports
        assert not os.path.exists(os.path.join(job.root, "logging"))

    def test_nothing_is_relayed_while_the_splitter_runs(self, job):
        job.standin.configure(out="early\n", hold=True)
        ctl = job.ctl()
        worker = threading.Thread(target=ctl.true_run)
        worker.start()
        try:
            assert job.standin.wait_ready(20)
            assert job.sink.reports[-1] == (job.src, job.save, 1, 19)
            assert "early\n" not in job.sink.reports
        finally:
            job.standin.release()
            worker.join(30)
        assert not worker.is_alive()
        assert job.sink.reports[-4:] == ["early\n", DONE] + COMPLETION

    def test_sink_swapped_during_the_job_takes_effect(self, job, capsys):
        # The sink is read afresh for every report: cleared while the splitter runs,
        # the lines and the end go to standard output.
        job.standin.configure(out="late\n", hold=True)
        ctl = job.ctl()
        worker = threading.Thread(target=ctl.true_run)
        worker.start()
        try:
            assert job.standin.wait_ready(20)
            ctl.communication = None
        finally:
            job.standin.release()
            worker.join(30)
        assert job.sink.reports[-1] == (job.src, job.save, 1, 19)
        assert capsys.readouterr().out == "late\n\n" + DONE + "\n" + "".join(s + "\n" for s in COMPLETION)


# --------------------------------------------------------------------------------------------
# The splitter executable is missing


class TestMissingExecutable:
    def test_warning_to_the_sink(self, job):
        exe = os.path.join(job.root, "missing", "orvaneFun.exe")
        ctl = job.ctl(PdfExePath=exe)
        assert ctl.true_run() is None
        # The only two-argument call of the sink.
        assert job.sink.calls[-1] == EXE_MISSING
        assert job.sink.reports == [job.src, job.save, EXE_MISSING]
        assert job.database_made()
        assert job.completion_requests() == []
        assert ctl.run_code == 1

    def test_warning_printed_as_a_tuple(self, job, capsys):
        ctl = job.ctl(PdfExePath=os.path.join(job.root, "missing.exe"), communication=None)
        assert ctl.true_run() is None
        out = capsys.readouterr().out
        assert out == "{}\n{}\n('warning', '切分隔页的exe不存在')\n".format(job.src, job.save)
        assert job.completion_requests() == []

    def test_a_folder_is_not_an_executable(self, job):
        folder = os.path.join(job.root, "orvaneFun.exe")
        os.makedirs(folder)
        ctl = job.ctl(PdfExePath=folder)
        assert ctl.true_run() is None
        assert job.sink.calls[-1] == EXE_MISSING
        assert DONE not in job.sink.reports


# --------------------------------------------------------------------------------------------
# The stand-in itself: what other tests rely on


def _children_of(pid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/{}/stat".format(entry), "rb") as fh:
                stat = fh.read()
        except OSError:
            continue
        # The fields after the parenthesised name: state, then the parent's id.
        if int(stat.rsplit(b")", 1)[1].split()[1]) == pid:
            found.append(int(entry))
    return found


def test_standin_is_named_orvanefun_and_starts_no_child(standin, tmp_path):
    import subprocess
    standin.configure(hold=True)
    target = str(tmp_path)
    proc = subprocess.Popen([standin.exe, "a", target, "1", "19"], stdout=subprocess.PIPE)
    try:
        assert standin.wait_ready(20)
        with open("/proc/{}/comm".format(proc.pid)) as fh:
            assert fh.read().strip() == "orvaneFun.exe"
        assert _children_of(proc.pid) == []
        assert standin.pid() == proc.pid
    finally:
        standin.release()
        proc.communicate(timeout=30)
    assert proc.returncode == 0
    assert standin.argv() == [standin.exe, "a", target, "1", "19"]
