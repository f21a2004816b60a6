"""The language of the tools' own texts: which one the system asks for, and the catalogues as the
build compiles them (by the same script, run as the build runs it)."""
import gettext
import glob
import os
import re
import subprocess
import sys

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)
from orvane_tools import (catalogues, cli, events, gui_job, gui_state, gui_watch, i18n, linebreak, review_canvas,
                          watch_batch)


@pytest.mark.parametrize("environ, platform, windows, setting, expected", [
    ({"LANG": "zh_CN.UTF-8"}, "linux", None, None, "zh_CN"),
    ({"LANG": "zh_CN.UTF-8"}, "linux", None, "en", "en"),                 # the window's setting wins
    ({"LANG": "en_US.UTF-8"}, "linux", None, "zh_CN", "zh_CN"),
    ({"LANGUAGE": "fr:zh_TW", "LANG": "en_US.UTF-8"}, "linux", None, None, "zh_CN"),
    ({"LANGUAGE": "zh_CN", "LC_ALL": "C"}, "linux", None, None, "en"),    # C: no language asked for
    ({"LC_MESSAGES": "de_DE.UTF-8", "LANG": "zh_CN.UTF-8"}, "linux", None, None, "en"),
    ({"LC_ALL": "", "LANG": "zh_SG"}, "linux", None, "auto", "zh_CN"),
    ({}, "linux", None, None, "en"),
    ({}, "win32", "zh_CN", None, "zh_CN"),                               # Windows sets no LANG
    ({}, "win32", "zh-Hans", None, "zh_CN"),
    ({}, "win32", None, None, "en"),
])
def test_language_chosen(environ, platform, windows, setting, expected):
    assert i18n.choose(setting, environ, platform, lambda: windows) == expected


def test_catalogues_compiled_by_the_build_script_translate_every_marked_text(tmp_path):
    sources = glob.glob(os.path.join(os.path.dirname(catalogues.__file__), "*.py"))
    marked = catalogues.marked_texts(sources)
    assert len(marked) > 10
    subprocess.run([sys.executable, catalogues.__file__, str(tmp_path)], check=True, stdout=subprocess.DEVNULL)
    for language in i18n.LANGUAGES:
        with open(catalogues.mo_path(str(tmp_path), language), "rb") as fh:
            compiled = gettext.GNUTranslations(fh)
        listed = set(catalogues.read_po(catalogues.po_files()[language]))
        entries = {k for k in listed if k}
        if language == "en":
            continue  # English is the texts themselves
        assert set(marked) - entries == set(), "texts without a Chinese translation"
        for key in marked:
            singular, _, plural = key.partition("\0")
            shown = compiled.ngettext(singular, plural, 2) if plural else compiled.gettext(singular)
            # The same fields to fill in, and none of the English left over.
            assert sorted(re.findall(r"{\w*}", shown)) == sorted(re.findall(r"{\w*}", singular)), key
            assert shown != singular or not re.search("[A-Za-z]{3}", singular), key
    # The English catalogue lists every marked text, so that translators see them all.
    english = {m.replace('\\"', '"') for m in re.findall(r'^msgid "(.+)"$', open(
        catalogues.po_files()["en"], encoding="utf-8").read(), re.M)}
    assert {k.split("\0")[0] for k in marked if "\n" not in k} <= english


@pytest.mark.parametrize("kind, words", [
    ("damaged", "重新扫描"), ("encrypted", "密码"), ("over-limits", "较小的文件"), ("unwritable", "写入"),
    (None, None), ("a-kind-from-a-newer-splitter", None),   # the splitter's own text, unchanged
])
def test_a_file_not_split_is_told_from_its_kind_with_what_to_do(kind, words):
    reason = "damaged or not a PDF file (unable to find trailer dictionary)"
    record = events.JobRecord().apply_all([{"event": "start", "files": ["扫描.pdf"]},
                                           {"event": "not split", "file": "扫描.pdf", "kind": kind, "reason": reason}])
    i18n.use("zh_CN")
    head = review_canvas.file_head(record.file_records()[0])
    assert (words or reason) in head and (words is None or not re.search("[a-z]{4}", head)), head


@pytest.mark.parametrize("events, title", [
    ([("job_started", "job", "/s", "/t")], "Orvane：正在切分"),
    ([("review_state", "review")], "Orvane：查看"),
    ([("watch_started", "w"), ("watch_state", "waiting: 无法读取 INBOX（断开）")], "Orvane：等待：无法读取源文件夹（断开）"),
])
def test_window_titles_are_in_the_windows_language(events, title):
    i18n.use("zh_CN")
    state = gui_state.WindowState()
    for name, *args in events:
        getattr(state, name)(*args)
    assert state.title == title


@pytest.mark.parametrize("language, counts, words", [
    ("en", (1, 3, 0), "1 file, 3 documents written, 0 pages to check."),
    ("zh_CN", (1, 2, 0), "1 个文件，写出 2 份文档，0 页待核对。"),
])
def test_counts_are_worded_for_their_number(language, counts, words):
    i18n.use(language)
    assert gui_job.counts_words(*counts) == words


@pytest.mark.parametrize("status, summary, kind, shown", [
    ("finished", "job finished", None, "完成"),
    ("restored", "interrupted batch undone; back in INBOX", None, "已放回  扫描.pdf  0 份文档, 0.0 s  中断的批次已撤销；已放回源文件夹"),
    ("not-split", "NOT SPLIT: damaged or not a PDF file (unable to find trailer dictionary)", "damaged", "未切分：文件已损坏"),
])
def test_watched_batches_are_worded_in_the_window_but_logged_in_english(status, summary, kind, shown):
    i18n.use("zh_CN")
    batch = watch_batch.BatchStatus(0.0, "扫描.pdf", status, i18n._(summary), 0, 0.0, kind)
    assert shown in gui_watch.batch_words(batch) and not re.search("[a-z]{4}", gui_watch.batch_words(batch))
    assert "  {}  ".format(status) in watch_batch.format_status(batch)   # scripts read the log's words


@pytest.mark.parametrize("text", [
    "监视无法开始：源文件夹不存在。\n\n请在《高级设置》中选择：归档文件夹、失败文件夹……然后重试！",
    "扫描.pdf：未切分：文件已损坏或不是 PDF 文件。请重新扫描，或用生成该文件的程序重新保存。",
])
def test_chinese_lines_never_start_with_a_closing_mark_nor_end_with_an_opening_one(text):
    measure = lambda s: sum(2 if ord(c) > 0x2000 else 1 for c in s)  # noqa: E731  (wide characters)
    for width in range(8, 40):
        lines = linebreak.break_lines(text, width, measure)
        assert all(measure(line) <= width for line in lines), (width, lines)
        assert not [ln for ln in lines if ln[:1] in linebreak.CLOSING or ln[-1:] in linebreak.OPENING], lines
        assert "".join(lines).replace(" ", "") == text.replace("\n", "").replace(" ", "")


def test_chinese_help_uses_full_width_punctuation():
    i18n.use("zh_CN")
    i18n.translate_argparse()
    parser = cli.build_parser()
    for shown in [parser] + list(parser._subparsers._group_actions[0].choices.values()):
        text = shown.format_help()
        headings = [line for line in text.splitlines() if line[:1].strip() and line[-1:] in ":："]
        assert len(headings) >= 2 and all(line.endswith("：") for line in headings), headings
        assert not re.search("[\u4e00-\u9fff][,;:()'\"]|[,;:()'\"][\u4e00-\u9fff]", text), text
