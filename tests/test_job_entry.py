"""run: the job entry through the built module.

Real folders under the test's working directory, the real token service on
127.0.0.1 for the start-of-job check, and the real orvaneFun.exe stand-in for
the jobs that get as far as the splitter.
"""
import os

import pytest

from fixtures.texts import name_message, touch
from fixtures.token_service import END_COMMENT, START_COMMENT, TOKEN, FalsySink, Sink, SinkError

SRC_MISSING = "原PDF文件路径不存在"
SAVE_MISSING = "保存文件隔页位置不存在"
SRC_QUOTE = "源文件路径包含英文的双引号"
SAVE_QUOTE = "保存文件路径包含英文的双引号"
REFUSED = "程序执行报错"
NO_URLDB = "保存URl表不存在"
EXPIRED = "登录信息的Token过期"
UPDATED = "更新成功"
DONE = "执行完成"
SPACE_SUMMARY = "存在PDF文件包含空格，请修改后再次输入"


def comments(server):
    import json
    return [json.loads(rec.body.decode("utf-8"))["comments"] for rec in server.requests]


class BaseEntryError(BaseException):
    """Not derived from Exception: the token check lets it through."""


@pytest.fixture
def job(split_job):
    return split_job


# --------------------------------------------------------------------------------------------
# The four checks and their order


class TestCheckOrder(object):
    def _refused_before_snapshot(self, job, ctl, expected):
        assert ctl.run() is None
        assert job.sink.reports == [expected]
        # Nothing after the failing check happened: no snapshot, no request, no job.
        assert not hasattr(ctl, "oldDir")
        assert job.server.requests == []
        assert not job.standin.ran()
        assert not job.database_made()
        assert ctl.run_code == 1

    def test_both_folders_missing_reports_the_source_only(self, job):
        ctl = job.ctl(src_pdf_path=os.path.join(job.root, "no-src"),
                      save_pic_path=os.path.join(job.root, "no-save"))
        self._refused_before_snapshot(job, ctl, SRC_MISSING)

    def test_save_folder_missing(self, job):
        ctl = job.ctl(save_pic_path=os.path.join(job.root, "no-save"))
        self._refused_before_snapshot(job, ctl, SAVE_MISSING)

    @pytest.mark.parametrize("which", ["src", "save"])
    def test_a_file_given_as_a_folder(self, job, which):
        path = touch(os.path.join(job.root, "a-file"))
        if which == "src":
            ctl = job.ctl(src_pdf_path=path)
            expected = SRC_MISSING
        else:
            ctl = job.ctl(save_pic_path=path)
            expected = SAVE_MISSING
        self._refused_before_snapshot(job, ctl, expected)

    def test_missing_source_with_a_quote_reports_the_missing_folder(self, job):
        ctl = job.ctl(src_pdf_path=os.path.join(job.root, 'no"src'))
        self._refused_before_snapshot(job, ctl, SRC_MISSING)

    def test_missing_save_with_a_quote_reports_the_missing_folder(self, job):
        ctl = job.ctl(save_pic_path=os.path.join(job.root, 'no"save'))
        self._refused_before_snapshot(job, ctl, SAVE_MISSING)

    def test_existence_of_both_comes_before_the_quote_in_the_source(self, job):
        src = os.path.join(job.root, 'in"put')
        os.makedirs(src)
        ctl = job.ctl(src_pdf_path=src, save_pic_path=os.path.join(job.root, 'no"save'))
        self._refused_before_snapshot(job, ctl, SAVE_MISSING)

    def test_quotes_in_both_report_the_source_only(self, job):
        src = os.path.join(job.root, 'in"put')
        save = os.path.join(job.root, 'out"put')
        os.makedirs(src)
        os.makedirs(save)
        ctl = job.ctl(src_pdf_path=src, save_pic_path=save)
        self._refused_before_snapshot(job, ctl, SRC_QUOTE)

    def test_quote_in_the_save_path_only(self, job):
        save = os.path.join(job.root, '"out"')
        os.makedirs(save)
        ctl = job.ctl(save_pic_path=save)
        self._refused_before_snapshot(job, ctl, SAVE_QUOTE)

    def test_quote_check_comes_before_the_name_check(self, job):
        src = os.path.join(job.root, 'q"src')
        touch(os.path.join(src, "bad .pdf"))
        ctl = job.ctl(src_pdf_path=src)
        self._refused_before_snapshot(job, ctl, SRC_QUOTE)

    def test_without_a_sink_the_message_is_printed(self, job, capfd):
        unused = FalsySink()
        ctl = job.ctl(src_pdf_path=os.path.join(job.root, "no-src"), communication=unused)
        capfd.readouterr()
        assert ctl.run() is None
        out, err = capfd.readouterr()
        assert out == SRC_MISSING + "\n"
        assert err == ""
        assert unused.calls == []

    def test_full_width_quotes_pass_and_reach_the_splitter(self, job):
        src = os.path.join(job.root, "\u201c源\u201d")
        save = os.path.join(job.root, "\u201d存\u201c")
        os.makedirs(src)
        os.makedirs(save)
        job.standin.configure(lines=2)
        ctl = job.ctl(src_pdf_path=src, save_pic_path=save)
        assert ctl.run() is None
        r = job.sink.reports
        for message in (SRC_MISSING, SAVE_MISSING, SRC_QUOTE, SAVE_QUOTE, REFUSED):
            assert message not in r
        assert r[:3] == [TOKEN, job.server.reply_text, UPDATED]
        assert r[3:5] == [src, save]
        assert r[-3:] == [DONE, TOKEN, UPDATED]
        assert job.standin.argv() == [job.standin.exe, src, save, "1", "19"]
        assert comments(job.server) == [START_COMMENT, END_COMMENT]
        assert ctl.oldDir == set()
        assert ctl.run_code == 1


# --------------------------------------------------------------------------------------------
# The snapshot of the save folder


class TestSnapshot(object):
    def test_only_folders_enter_the_snapshot(self, job):
        save = job.save
        for name in ("a", "b b", "页", ".hidden"):
            os.makedirs(os.path.join(save, name))
        touch(os.path.join(save, "a", "inner", "deep.pdf"))  # below the top: not listed
        touch(os.path.join(save, "file.txt"))
        touch(os.path.join(save, "noext"))
        os.symlink(os.path.join(save, "a"), os.path.join(save, "link-to-folder"))
        os.symlink(os.path.join(save, "file.txt"), os.path.join(save, "link-to-file"))
        os.symlink(os.path.join(job.root, "nowhere"), os.path.join(save, "dangling"))
        ctl = job.ctl(urldb=os.path.join(job.root, "missing.db"))
        assert ctl.run() is None
        assert type(ctl.oldDir) is set
        # os.path.isdir follows links, so a link to a folder counts as a folder.
        assert ctl.oldDir == {os.path.join(save, n)
                              for n in ("a", "b b", "页", ".hidden", "link-to-folder")}
        assert job.sink.reports == [NO_URLDB, REFUSED]

    def test_paths_are_joined_with_the_save_path_as_given(self, job):
        os.makedirs(os.path.join(job.save, "x"))
        save = job.save + os.sep
        ctl = job.ctl(save_pic_path=save, urldb=os.path.join(job.root, "missing.db"))
        ctl.run()
        assert ctl.oldDir == {os.path.join(save, "x")}

    def test_an_empty_save_folder_gives_an_empty_set(self, job):
        ctl = job.ctl(urldb=os.path.join(job.root, "missing.db"))
        ctl.run()
        assert type(ctl.oldDir) is set
        assert ctl.oldDir == set()

    def test_snapshot_is_complete_before_the_token_check(self, job, pauses):
        os.makedirs(os.path.join(job.save, "before"))

        def make_during_request(_recorded):
            os.makedirs(os.path.join(job.save, "during"), exist_ok=True)

        job.server.on_request = make_during_request
        job.server.script([500, 500, 500, 500])
        ctl = job.ctl()
        ctl.run()
        assert job.server.hook_errors == []
        assert len(job.server.requests) == 4
        # A folder made while the service was being asked is not in the snapshot.
        assert ctl.oldDir == {os.path.join(job.save, "before")}
        assert job.sink.reports[-2:] == [EXPIRED, REFUSED]


# --------------------------------------------------------------------------------------------
# The run flag stays down across calls


class TestRunFlagStaysDown(object):
    def test_second_run_after_a_refused_name(self, job):
        bad = touch(os.path.join(job.src, "sub", "bad .pdf"))
        os.makedirs(os.path.join(job.save, "kept"))
        ctl = job.ctl()
        assert ctl.run() is None
        assert job.sink.reports == [name_message("bad .pdf"), SPACE_SUMMARY]
        assert ctl.run_code == 0
        # The name check ended the entry: no snapshot, no token check, no job.
        assert not hasattr(ctl, "oldDir")
        assert job.server.requests == []

        os.rename(bad, os.path.join(job.src, "sub", "good.pdf"))
        del job.sink.reports[:]
        assert ctl.run() is None
        # Names now pass, the snapshot and the start-of-job check happen, but the flag
        # set by the first call is still down, so the job does not start.
        assert job.sink.reports == [TOKEN, job.server.reply_text, UPDATED, REFUSED]
        assert ctl.oldDir == {os.path.join(job.save, "kept")}
        assert comments(job.server) == [START_COMMENT]
        assert ctl.run_code == 0
        assert not job.standin.ran()
        assert not job.database_made()

    def test_second_run_after_a_refused_token(self, job, pauses):
        os.makedirs(os.path.join(job.save, "first"))
        job.server.script([500, 500, 500, 500])
        ctl = job.ctl()
        assert ctl.run() is None
        assert len(job.server.requests) == 4
        assert len(pauses.sleeps) == 3
        assert job.sink.reports == [TOKEN, job.server.reply_text, EXPIRED, REFUSED]
        assert ctl.run_code == 0
        first = ctl.oldDir
        assert first == {os.path.join(job.save, "first")}
        assert not job.standin.ran()

        # The service accepts now; the object still refuses, with a fresh snapshot.
        os.makedirs(os.path.join(job.save, "second"))
        del job.sink.reports[:]
        assert ctl.run() is None
        assert len(job.server.requests) == 5
        assert comments(job.server) == [START_COMMENT] * 5
        assert job.sink.reports == [TOKEN, job.server.reply_text, UPDATED, REFUSED]
        assert ctl.oldDir is not first
        assert ctl.oldDir == {os.path.join(job.save, "first"), os.path.join(job.save, "second")}
        assert first == {os.path.join(job.save, "first")}  # the old set was replaced, not grown
        assert ctl.run_code == 0
        assert not job.standin.ran()
        assert not job.database_made()

    def test_refused_token_then_a_new_object_runs(self, job, pauses):
        job.server.script([500, 500, 500, 500])
        refused = job.ctl()
        refused.run()
        assert refused.run_code == 0
        assert not job.standin.ran()

        fresh_sink = Sink()
        fresh = job.ctl(communication=fresh_sink)
        assert fresh.run() is None
        assert job.standin.ran()
        assert fresh_sink.reports[-3:] == [DONE, TOKEN, UPDATED]
        assert comments(job.server)[-2:] == [START_COMMENT, END_COMMENT]

    def test_caller_raising_the_flag_again_lets_the_job_run(self, job, pauses):
        job.server.script([500, 500, 500, 500])
        ctl = job.ctl()
        ctl.run()
        assert ctl.run_code == 0
        ctl.run_code = 1
        del job.sink.reports[:]
        assert ctl.run() is None
        assert job.standin.ran()
        assert REFUSED not in job.sink.reports
        assert job.sink.reports[-3:] == [DONE, TOKEN, UPDATED]

    @pytest.mark.parametrize("flag", [0, False, None, ""])
    def test_any_falsy_flag_refuses_after_the_snapshot(self, job, flag):
        os.makedirs(os.path.join(job.save, "x"))
        ctl = job.ctl()
        ctl.run_code = flag
        assert ctl.run() is None
        assert job.sink.reports == [TOKEN, job.server.reply_text, UPDATED, REFUSED]
        assert ctl.oldDir == {os.path.join(job.save, "x")}
        assert not job.standin.ran()


# --------------------------------------------------------------------------------------------
# run catches nothing


def _entry_names(exc):
    names = []
    tb = exc.__traceback__
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return names


class TestNothingCaught(object):
    def test_a_failing_sink_ends_run(self, job):
        sink = Sink(fail_on=(0,))
        ctl = job.ctl(src_pdf_path=os.path.join(job.root, "no-src"), communication=sink)
        with pytest.raises(SinkError) as info:
            ctl.run()
        assert info.value is sink.raised[0]
        assert "Orvane.orvaneClass.run" in _entry_names(info.value)

    def test_a_save_folder_vanishing_before_the_listing(self, job, rebind):
        import os as real_os
        save = job.save

        class VanishingOs(object):
            """The module's os, except that the save folder goes away just before listing it."""

            def __getattr__(self, name):
                return getattr(real_os, name)

            def listdir(self, path=None):
                if path == save:
                    real_os.rmdir(save)
                return real_os.listdir(path)

        rebind("os", VanishingOs())
        ctl = job.ctl()
        with pytest.raises(FileNotFoundError) as info:
            ctl.run()
        names = _entry_names(info.value)
        assert "Orvane.orvaneClass.run" in names
        # The listing failed: no snapshot was published, nothing after it ran.
        assert not hasattr(ctl, "oldDir")
        assert job.server.requests == []
        assert job.sink.reports == []
        assert not job.standin.ran()

    def test_a_failed_listing_keeps_the_previous_snapshot(self, job, rebind):
        import os as real_os
        os.makedirs(os.path.join(job.save, "before"))
        ctl = job.ctl(urldb=os.path.join(job.root, "missing.db"))
        ctl.run()
        previous = ctl.oldDir
        assert previous == {os.path.join(job.save, "before")}

        class FailingListing(object):
            def __getattr__(self, name):
                return getattr(real_os, name)

            def listdir(self, path=None):
                raise PermissionError("listing refused")

        rebind("os", FailingListing())
        with pytest.raises(PermissionError):
            ctl.run()
        assert ctl.oldDir is previous

    def test_an_exception_outside_exception_passes_through_the_token_check(self, job, rebind):
        from fixtures.token_service import RecordingRequests
        fake = rebind("requests", RecordingRequests(raise_on_post=BaseEntryError("stop")))
        ctl = job.ctl()
        with pytest.raises(BaseEntryError):
            ctl.run()
        assert len(fake.calls) == 1
        assert job.sink.reports == [TOKEN]
        assert ctl.run_code == 1
        assert ctl.oldDir == set()
        assert not job.standin.ran()

    def test_a_failure_in_the_job_driver_reaches_the_caller(self, job):
        # The sink fails on the first report of true_run (the source folder value),
        # which lies outside the driver's guarded blocks.
        sink = Sink(fail_on=(3,))
        ctl = job.ctl(communication=sink)
        with pytest.raises(SinkError) as info:
            ctl.run()
        assert sink.reports == [TOKEN, job.server.reply_text, UPDATED]
        names = _entry_names(info.value)
        assert names.index("Orvane.orvaneClass.run") < names.index("Orvane.orvaneClass.true_run")
        assert not job.standin.ran()
        assert comments(job.server) == [START_COMMENT]
