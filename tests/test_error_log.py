"""The error log that true_run writes when its splitter stage fails.

Failures are provoked the ways a user meets them (a colour threshold that is not
a number, splitter output that is not text, a sink that raises) and the record
is read back from the real file under the test's working directory.
"""
import locale
import os

import pytest

from fixtures.token_service import TOKEN, Sink, SinkError

# Line numbers the job driver gives the statements of its splitter stage: the
# numbers it marks each statement with in src/controller/true_run.cpp. They are
# part of what the log shows the user, so a renumbering must show up here.
LINE_INFO_REPORT = 270     # reporting "执行exe信息"
LINE_TUPLE_REPORT = 271    # reporting the four-element tuple (COLOR_THRESHHOLD through int)
LINE_READLINES = 274       # reading every line of the splitter's output
LINE_RELAY = 277           # relaying one line

STAMP = "2024_05_06_07_08_09"
LOG_BASE = "底稿切分隔页UI报错日志_"
START_EXE = "执行隔页exe\n"
EXE_INFO = "执行exe信息"
DONE = "执行完成"
STAGE_FAILED = "执行exe文件报错"
COMPLETION = [TOKEN, "更新成功"]
ABC_TEXT = "invalid literal for int() with base 10: 'abc'"


def log_name(stamp=STAMP):
    return LOG_BASE + stamp + ".txt"


def place_message(folder, name):
    return "保存运行日志的文件夹为：" + folder + "logging。运行日志文件名为：" + name + "\n"


def record(module, text, line, stamp=STAMP):
    return "[Error]{}\n[报错内容]{}\n[报错源文件位置]{}\n[报错源码行数]{}\n".format(stamp, text, module.__file__, line)


def read_log(folder, name):
    # The module writes in the interpreter's default encoding, in text mode.
    with open(os.path.join(folder, "logging", name), encoding=locale.getpreferredencoding(False),
              newline="") as fh:
        return fh.read()


class RaiseOn(Sink):
    """A sink that raises ``exc`` when it is given ``value``."""

    def __init__(self, value, exc):
        def check(got):
            if got == value:
                raise exc
        Sink.__init__(self, on_report=check)


@pytest.fixture
def job(split_job, rebind):
    os.makedirs(os.path.join(split_job.root, "logging"))
    rebind("get_now", lambda: STAMP)
    return split_job


class TestRecord:
    def test_unconvertible_colour_threshold(self, job, orvane):
        ctl = job.ctl(COLOR_THRESHHOLD="abc")
        assert ctl.true_run() is None
        assert job.sink.reports == [
            job.src, job.save, START_EXE, EXE_INFO,
            STAGE_FAILED, place_message(job.root + "/", log_name()),
            DONE] + COMPLETION
        assert read_log(job.root, log_name()) == record(orvane, ABC_TEXT, LINE_TUPLE_REPORT)
        assert os.listdir(os.path.join(job.root, "logging")) == [log_name()]
        # The conversion fails before the command line is built: no splitter.
        assert not job.standin.ran()
        assert ctl.run_code == 1
        assert ctl.COLOR_THRESHHOLD == "abc"
        assert len(job.completion_requests()) == 1

    def test_printed_form_without_a_sink(self, job, orvane, capsys):
        ctl = job.ctl(COLOR_THRESHHOLD="abc", communication=None)
        ctl.true_run()
        assert capsys.readouterr().out == "".join(s + "\n" for s in [
            job.src, job.save, START_EXE, EXE_INFO, STAGE_FAILED,
            place_message(job.root + "/", log_name()), DONE] + COMPLETION)
        assert read_log(job.root, log_name()) == record(orvane, ABC_TEXT, LINE_TUPLE_REPORT)

    def test_undecodable_splitter_output(self, job, orvane):
        job.standin.configure(out=[b"fine\n", b"bad \xff\xfe\n", b"after\n"])
        ctl = job.ctl()
        assert ctl.true_run() is None
        r = job.sink.reports
        # Nothing of the output is relayed: reading it failed as a whole.
        assert r == [job.src, job.save, START_EXE, EXE_INFO, (job.src, job.save, 1, 19),
                     STAGE_FAILED, place_message(job.root + "/", log_name()), DONE] + COMPLETION
        assert job.standin.ran()
        text = read_log(job.root, log_name())
        lines = text.split("\n")
        assert lines[1].startswith("[报错内容]") and "can't decode byte 0xff" in lines[1]
        assert text == record(orvane, lines[1][len("[报错内容]"):], LINE_READLINES)

    def test_failing_relay_drops_the_remaining_lines(self, job, orvane):
        job.standin.configure(out=["one\n", "two\n", "three\n"])
        job.sink = RaiseOn("two\n", SinkError("sink refused a line"))
        ctl = job.ctl()
        ctl.true_run()
        r = job.sink.reports
        assert r[4:] == [(job.src, job.save, 1, 19), "one\n", STAGE_FAILED,
                         place_message(job.root + "/", log_name()), DONE] + COMPLETION
        assert read_log(job.root, log_name()) == record(orvane, "sink refused a line", LINE_RELAY)

    def test_failing_info_report(self, job, orvane):
        job.sink = RaiseOn(EXE_INFO, SinkError("display closed"))
        ctl = job.ctl()
        ctl.true_run()
        assert job.sink.reports == [job.src, job.save, START_EXE, STAGE_FAILED,
                                    place_message(job.root + "/", log_name()), DONE] + COMPLETION
        assert read_log(job.root, log_name()) == record(orvane, "display closed", LINE_INFO_REPORT)
        assert not job.standin.ran()

    def test_each_failing_statement_has_its_own_line(self):
        lines = [LINE_INFO_REPORT, LINE_TUPLE_REPORT, LINE_READLINES, LINE_RELAY]
        assert all(isinstance(n, int) and n > 0 for n in lines)
        assert len(set(lines)) == 4

    def test_exception_without_text(self, job, orvane):
        job.sink = RaiseOn(EXE_INFO, SinkError())
        job.ctl().true_run()
        text = read_log(job.root, log_name())
        assert text.split("\n")[1] == "[报错内容]"
        assert text == record(orvane, "", LINE_INFO_REPORT)

    def test_unencodable_exception_text_is_escaped(self, job, orvane):
        # A lone surrogate cannot be written in any encoding: the record keeps an escape
        # instead of losing the whole report.
        job.sink = RaiseOn(EXE_INFO, SinkError("坏\udcff字"))
        ctl = job.ctl()
        assert ctl.true_run() is None
        assert job.sink.reports[-3:] == [DONE] + COMPLETION
        text = read_log(job.root, log_name())
        assert text == record(orvane, "坏\\udcff字", LINE_INFO_REPORT)

    def test_timestamp_of_the_record_is_taken_again(self, job, orvane, rebind):
        stamps = iter(["2024_05_06_07_08_09", "2024_05_06_07_08_10"])
        rebind("get_now", lambda: next(stamps))
        job.ctl(COLOR_THRESHHOLD="abc").true_run()
        assert os.listdir(os.path.join(job.root, "logging")) == [log_name("2024_05_06_07_08_09")]
        assert read_log(job.root, log_name("2024_05_06_07_08_09")) == record(
            orvane, ABC_TEXT, LINE_TUPLE_REPORT, stamp="2024_05_06_07_08_10")


class TestAppending:
    def test_two_failures_in_one_second_share_one_file(self, job, orvane):
        job.ctl(COLOR_THRESHHOLD="abc").true_run()
        job.sink = RaiseOn(EXE_INFO, SinkError("second"))
        job.ctl().true_run()
        text = read_log(job.root, log_name())
        assert text == record(orvane, ABC_TEXT, LINE_TUPLE_REPORT) + record(orvane, "second", LINE_INFO_REPORT)
        assert len(text.splitlines()) == 8

    def test_existing_file_is_extended_without_separator(self, job, orvane):
        with open(os.path.join(job.root, "logging", log_name()), "w", encoding="utf-8") as fh:
            fh.write("earlier\n")
        job.ctl(COLOR_THRESHHOLD="abc").true_run()
        assert read_log(job.root, log_name()) == "earlier\n" + record(orvane, ABC_TEXT, LINE_TUPLE_REPORT)


class TestPlace:
    def test_logging_folder_is_made_when_missing(self, job, orvane):
        os.rmdir(os.path.join(job.root, "logging"))
        ctl = job.ctl(COLOR_THRESHHOLD="abc")
        assert ctl.true_run() is None
        assert read_log(job.root, log_name()) == record(orvane, ABC_TEXT, LINE_TUPLE_REPORT)
        assert job.sink.reports[-3:] == [DONE] + COMPLETION
        assert len(job.completion_requests()) == 1

    def test_working_directory_holding_logging(self, job, orvane, monkeypatch):
        cwd = os.path.join(job.root, "logging", "app")
        os.makedirs(os.path.join(cwd, "logging"))
        monkeypatch.chdir(cwd)
        job.ctl(COLOR_THRESHHOLD="abc").true_run()
        # The message names the real folder and file, not a piece cut at the first "logging/".
        assert place_message(cwd + "/", log_name()) in job.sink.reports
        assert read_log(cwd, log_name()) == record(orvane, ABC_TEXT, LINE_TUPLE_REPORT)
        assert os.listdir(os.path.join(job.root, "logging")) == ["app"]

    @pytest.mark.parametrize("cwd, folder", [
        ("D:\\work\\app", "D:/work/app/"),
        ("D:\\logging\\app", "D:/logging/app/"),
    ])
    def test_message_uses_forward_slashes(self, job, rebind, cwd, folder):
        import os as real_os

        class OsWithCwd(object):
            # Everything is the real os module but the working directory it reports.
            def getcwd(self):
                return cwd

            def __getattr__(self, name):
                return getattr(real_os, name)

        rebind("os", OsWithCwd())
        job.ctl(COLOR_THRESHHOLD="abc").true_run()
        assert place_message(folder, log_name()) in job.sink.reports
        assert all("\\" not in r for r in job.sink.reports if isinstance(r, str))

    def test_backslash_in_the_working_directory_shows_as_slash(self, job, monkeypatch):
        cwd = os.path.join(job.root, "a\\b")
        os.makedirs(cwd)
        monkeypatch.chdir(cwd)
        job.ctl(COLOR_THRESHHOLD="abc").true_run()
        assert place_message(cwd.replace("\\", "/") + "/", log_name()) in job.sink.reports


class TestLogFailures:
    def test_log_that_cannot_be_written_passes_out(self, job):
        os.rmdir(os.path.join(job.root, "logging"))
        with open(os.path.join(job.root, "logging"), "w") as fh:
            fh.write("a file where the folder should be")
        ctl = job.ctl(COLOR_THRESHHOLD="abc")
        with pytest.raises(OSError) as info:
            ctl.true_run()
        # The splitter stage's failure is the context of the one that escaped.
        assert isinstance(info.value.__context__, ValueError)
        assert STAGE_FAILED in job.sink.reports
        assert DONE not in job.sink.reports
        assert job.completion_requests() == []

    def test_interrupt_in_the_splitter_stage_is_not_logged(self, job):
        job.sink = RaiseOn(EXE_INFO, KeyboardInterrupt())
        ctl = job.ctl()
        with pytest.raises(KeyboardInterrupt):
            ctl.true_run()
        assert os.listdir(os.path.join(job.root, "logging")) == []
        assert STAGE_FAILED not in job.sink.reports
        assert DONE not in job.sink.reports
        assert job.completion_requests() == []
