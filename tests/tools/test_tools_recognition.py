"""Text recognition in the tools: the languages offered are those of the data folder the job's
splitter reads, and while pages are recognised the progress says so, in both languages, with a
time left that follows the seconds a page takes."""
import os

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)
from orvane_tools import events, i18n, splitter_line, tessdata


def data(folder, *languages):
    os.makedirs(folder)
    for name in languages:
        open(os.path.join(folder, name + tessdata.SUFFIX), "wb").close()
    return folder


@pytest.mark.parametrize("beside, prefix, expected, offered", [
    # Beside the real program (reached through a link) before TESSDATA_PREFIX; osd is no choice.
    (("eng", "osd"), ("chi_sim",), "beside", ["eng"]),
    (None, ("chi_sim", "eng", "osd", "chi_sim_vert", "x-y"), "prefix", ["chi_sim+eng", "chi_sim", "chi_sim_vert", "eng"]),
    (None, None, "system", None),
])
def test_the_languages_offered_are_those_of_the_folder_the_splitter_reads(tmp_path, beside, prefix, expected,
                                                                           offered):
    real, link = tmp_path / "program" / "orvaneFun.exe", tmp_path / "bin" / "orvaneFun.exe"
    real.parent.mkdir(), link.parent.mkdir(), real.write_bytes(b""), link.symlink_to(real)
    folders = {"beside": str(real.parent / "tessdata"), "prefix": str(tmp_path / "prefix"),
               "system": tessdata.SYSTEM_FOLDER}
    if beside:
        data(folders["beside"], *beside)
    environ = {tessdata.ENV: data(folders["prefix"], *prefix) if prefix else str(tmp_path / "missing")}
    folder, installed = tessdata.installed_languages(str(link), environ)
    assert folder == folders[expected]
    assert offered is None or tessdata.offered(installed) == offered


# Two workers, two files of five pages; the first file's four pages and then the second's three are
# recognised at six seconds a page: (seconds on the clock, events, the progress in English and Chinese).
START = [{"event": "start", "workers": 2, "files": ["a.pdf", "b.pdf"]}, {"event": "pages", "file": "a.pdf", "pages": 5},
         {"event": "pages", "file": "b.pdf", "pages": 5}, {"event": "total", "pages": 10}]


def recognised(name, page):
    return {"event": "recognised", "file": name, "page": page, "seconds": 6.0, "text": True}


STEPS = [
    # The pace of looking at pages promises nothing; nor does recognition before a page is done, the
    # second file's pages counting as still to recognise.
    (0.6, [{"event": "looked", "file": "a.pdf", "pages": 5}], "5 of 10 pages, 0 of 2 files, 8 pages/s", "5 / 10 页"),
    (1, [{"event": "recognising", "file": "a.pdf", "pages": 4}], "Recognising text, 0 of 9 pages, 0 of 2 files",
     "正在识别文字，0 / 9 页"),
    (7, [recognised("a.pdf", 1)], "Recognising text, 1 of 9 pages, 0 of 2 files, 0:24 left", "剩余 0:24"),
    (8, [recognised("a.pdf", 2), {"event": "looked", "file": "b.pdf", "pages": 5},
         {"event": "recognising", "file": "b.pdf", "pages": 3}],
     "Recognising text, 2 of 7 pages, 0 of 2 files, 0:15 left", "剩余 0:15"),
    (20, [recognised("a.pdf", 3), recognised("a.pdf", 4), recognised("b.pdf", 1), recognised("b.pdf", 2),
          {"event": "file", "file": "a.pdf", "pages": 5, "folder": "a", "no_text": [3],
           "documents": [{"name": "a_001.pdf", "first": 1, "last": 4}]}],
     "Recognising text, 6 of 7 pages, 1 of 2 files, 0:06 left", "剩余 0:06"),
    (26, [recognised("b.pdf", 3)], "10 of 10 pages, 1 of 2 files, 0 pages/s", "10 / 10 页"),
]


@pytest.mark.parametrize("language", ["en", "zh_CN"])
def test_progress_while_recognising_counts_pages_and_the_time_they_take(language):
    clock = [0.0]
    record = events.JobRecord(clock=lambda: clock[0], recognises=True).apply_all(START)
    i18n.setup(language)
    try:
        for at, step, english, chinese in STEPS:
            clock[0] = at
            text = record.apply_all(step).progress_text()
            assert text == english if language == "en" else chinese in text, text
    finally:
        i18n.setup("en")


@pytest.mark.parametrize("line, no_text", [
    ('s.pdf: 9 pages; separators: 4; blank: 3; no text: 2, 5-6; 2 documents in "s": s_001.pdf (pages 1-2), '
     's_002.pdf (pages 5-9)', [2, 5, 6]),
    ('s.pdf: 3 pages; separators: none; 1 document in "s": s_001.pdf (pages 1-3)', []),
])
def test_pages_without_text_are_read_alike_from_the_line_and_the_events(line, no_text):
    read = splitter_line.parse(line)
    documents = [{"name": d.name, "first": d.first, "last": d.last} for d in read.documents]
    job = events.JobRecord().apply_all([{"event": "start", "files": ["s.pdf"]},
                                        {"event": "file", "file": "s.pdf", "pages": read.pages, "folder": "s",
                                         "documents": documents, "no_text": no_text}])
    assert read.no_text == list(job.file_records()[0].no_text) == no_text
