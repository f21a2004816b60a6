"""checkSpace: the file-name check over the source tree, through the built module.

The check refuses file names in which a blank stands directly before ".pdf"
(case-sensitive, anywhere in the name, files only) and walks the tree in the
order os.walk gives, so every expected message list here is derived from
os.walk over the very same folders rather than from an assumed listing order.
"""
import os

import pytest

from fixtures.texts import name_message, touch
from fixtures.token_service import FalsySink, Sink, SinkError

SUMMARY = "存在PDF文件包含空格，请修改后再次输入"


def walk_matches(top):
    """The offending names in the order os.walk meets them (top-down, listing order)."""
    return [name for _parent, _dirs, files in os.walk(top) for name in files if " .pdf" in name]


@pytest.fixture
def src(tmp_path):
    folder = tmp_path / "src"
    folder.mkdir()
    return str(folder)


class TestAccepted(object):
    def test_empty_folder_is_accepted_silently(self, make_ctrl, src):
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is True
        assert sink.calls == []
        assert ctl.run_code == 1

    def test_names_without_a_blank_before_lower_case_pdf_pass(self, make_ctrl, src):
        names = [
            "plain.pdf",
            "a b.pdf",              # blank elsewhere, ".pdf" straight after a letter
            "upper .PDF",           # the test is case-sensitive
            "mixed .Pdf",
            "tab\t.pdf",            # only the ASCII space counts
            "full\u3000.pdf",       # an ideographic space is not the ASCII blank
            "no_ext ",
            " .pd",
            "x.pdf .txt",           # blank after ".pdf", not before it
        ]
        for name in names:
            touch(os.path.join(src, name))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is True
        assert sink.calls == []
        assert ctl.run_code == 1

    def test_a_missing_source_folder_gives_an_empty_walk(self, make_ctrl, tmp_path):
        sink = Sink()
        ctl = make_ctrl(src_pdf_path=str(tmp_path / "nowhere"), communication=sink)
        assert ctl.checkSpace() is True
        assert sink.calls == []
        assert ctl.run_code == 1

    def test_a_folder_named_with_the_pattern_is_not_tested_itself(self, make_ctrl, src):
        touch(os.path.join(src, "scan .pdf", "inner.pdf"))
        os.makedirs(os.path.join(src, "empty .pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is True
        assert sink.calls == []
        assert ctl.run_code == 1

    def test_a_link_to_a_folder_is_not_followed(self, make_ctrl, src, tmp_path):
        outside = tmp_path / "outside"
        touch(str(outside / "hidden .pdf"))
        os.symlink(str(outside), os.path.join(src, "linked"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is True
        assert sink.calls == []


class TestRefused(object):
    def test_one_name_one_message_then_the_summary(self, make_ctrl, src):
        touch(os.path.join(src, "report .pdf"))
        touch(os.path.join(src, "fine.pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        result = ctl.checkSpace()
        assert result is False
        assert sink.reports == [name_message("report .pdf"), SUMMARY]
        # Every report is a single positional argument.
        assert all(len(call) == 1 for call in sink.calls)
        assert ctl.run_code == 0
        assert type(ctl.run_code) is int

    @pytest.mark.parametrize("name", [
        "two  .pdf",          # the last blank and ".pdf" form the pattern
        "inside .pdf.txt",    # any file, the pattern at any position
        " .pdf",
        "a .pdfx",
        "报告 .pdf",
        "x .PDF .pdf",
    ])
    def test_pattern_anywhere_in_a_file_name(self, make_ctrl, src, name):
        touch(os.path.join(src, name))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is False
        assert sink.reports == [name_message(name), SUMMARY]
        assert ctl.run_code == 0

    def test_deep_folders_are_walked_top_down_in_walk_order(self, make_ctrl, src):
        touch(os.path.join(src, "top .pdf"))
        touch(os.path.join(src, "ok.pdf"))
        touch(os.path.join(src, "a", "b", "c", "d", "e", "deep .pdf"))
        touch(os.path.join(src, "a", "b", "mid .pdf"))
        touch(os.path.join(src, "a", "b", "c", "side.pdf"))
        touch(os.path.join(src, "z", "last .pdf"))
        touch(os.path.join(src, "m", "n", "also .pdf"))
        touch(os.path.join(src, "m", "second .pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is False
        expected = walk_matches(src)
        assert len(expected) == 6
        # The top folder's own files come first, before any subfolder.
        assert expected[0] == "top .pdf"
        assert sink.reports == [name_message(name) for name in expected] + [SUMMARY]
        assert ctl.run_code == 0

    def test_many_files_in_one_folder_keep_the_listing_order(self, make_ctrl, src):
        names = ["n%02d .pdf" % i for i in range(40)]
        for name in names:
            touch(os.path.join(src, name))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is False
        assert sink.reports == [name_message(n) for n in walk_matches(src)] + [SUMMARY]
        assert sorted(sink.reports[:-1]) == sorted(name_message(n) for n in names)

    def test_one_name_in_two_folders_gives_two_identical_messages(self, make_ctrl, src):
        touch(os.path.join(src, "one", "same .pdf"))
        touch(os.path.join(src, "two", "deeper", "same .pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is False
        # The bare name only: the folders do not show.
        assert sink.reports == [name_message("same .pdf"), name_message("same .pdf"), SUMMARY]

    def test_the_contents_of_a_folder_named_with_the_pattern_are_tested(self, make_ctrl, src):
        touch(os.path.join(src, "box .pdf", "bad .pdf"))
        touch(os.path.join(src, "box .pdf", "good.pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is False
        assert sink.reports == [name_message("bad .pdf"), SUMMARY]

    def test_a_link_to_a_file_is_a_file_name_and_is_tested(self, make_ctrl, src, tmp_path):
        target = touch(str(tmp_path / "elsewhere.pdf"))
        os.symlink(target, os.path.join(src, "link .pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is False
        assert sink.reports == [name_message("link .pdf"), SUMMARY]

    def test_a_refusal_is_not_undone_by_a_clean_second_check(self, make_ctrl, src):
        bad = touch(os.path.join(src, "bad .pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        assert ctl.checkSpace() is False
        os.rename(bad, os.path.join(src, "bad.pdf"))
        del sink.reports[:]
        assert ctl.checkSpace() is True
        assert sink.reports == []
        # The method only ever clears the flag.
        assert ctl.run_code == 0

    def test_the_source_path_is_read_from_the_object_at_call_time(self, make_ctrl, src, tmp_path):
        other = tmp_path / "other"
        touch(str(other / "late .pdf"))
        sink = Sink()
        ctl = make_ctrl(communication=sink)
        ctl.src_pdf_path = str(other)
        assert ctl.checkSpace() is False
        assert sink.reports == [name_message("late .pdf"), SUMMARY]


class TestReporting(object):
    @pytest.mark.parametrize("falsy", [None, "", 0, False, "sink"], ids=["None", "empty", "zero", "False", "falsy-sink"])
    def test_without_a_sink_every_message_is_printed(self, make_ctrl, src, capfd, falsy):
        touch(os.path.join(src, "first .pdf"))
        touch(os.path.join(src, "sub", "second .pdf"))
        unused = None
        if falsy == "sink":
            unused = falsy = FalsySink()
        ctl = make_ctrl(communication=falsy)
        capfd.readouterr()
        assert ctl.checkSpace() is False
        out, err = capfd.readouterr()
        expected = "".join(name_message(n) + "\n" for n in walk_matches(src)) + SUMMARY + "\n"
        assert out == expected
        assert err == ""
        if unused is not None:
            assert unused.calls == []

    def test_the_sink_is_tested_afresh_for_every_report(self, make_ctrl, src, capfd):
        touch(os.path.join(src, "a .pdf"))
        touch(os.path.join(src, "b .pdf"))
        ctl = None

        def drop_sink(value):
            # After the first message the front end takes the sink away.
            ctl.communication = None

        sink = Sink(on_report=drop_sink)
        ctl = make_ctrl(communication=sink)
        capfd.readouterr()
        assert ctl.checkSpace() is False
        out, _ = capfd.readouterr()
        first, second = walk_matches(src)
        assert sink.reports == [name_message(first)]
        assert out == name_message(second) + "\n" + SUMMARY + "\n"

    def test_a_failing_sink_ends_the_check_before_the_flag_is_cleared(self, make_ctrl, src):
        touch(os.path.join(src, "a .pdf"))
        touch(os.path.join(src, "b .pdf"))
        sink = Sink(fail_on=(0,))
        ctl = make_ctrl(communication=sink)
        with pytest.raises(SinkError) as info:
            ctl.checkSpace()
        assert info.value is sink.raised[0]
        # The report comes before the flag is cleared, and the walk stops at once.
        assert ctl.run_code == 1
        assert len(sink.calls) == 1
        names = [tb.tb_frame.f_code.co_name for tb in _tb_chain(info.value.__traceback__)]
        assert "Orvane.orvaneClass.checkSpace" in names

    def test_a_sink_failing_on_the_summary_leaves_the_flag_cleared(self, make_ctrl, src):
        touch(os.path.join(src, "a .pdf"))
        sink = Sink(fail_on=(1,))
        ctl = make_ctrl(communication=sink)
        with pytest.raises(SinkError):
            ctl.checkSpace()
        assert ctl.run_code == 0
        assert sink.reports == [name_message("a .pdf")]

    def test_no_arguments_besides_the_instance(self, make_ctrl, src):
        ctl = make_ctrl()
        with pytest.raises(TypeError) as info:
            ctl.checkSpace(1)
        assert str(info.value) == "checkSpace() takes exactly one argument (2 given)"


def _tb_chain(tb):
    while tb is not None:
        yield tb
        tb = tb.tb_next
