"""A whole job through the module: Orvane.orvaneClass(...).run() with the
real splitter, a real token service on 127.0.0.1 and real folders."""
import os

from pdfgen import BLUE, PINK, YELLOW, JpegPage, VectorPage, page_ids, write_pdf
from splitter_helpers import outputs, tree_state


def test_run_splits_the_batch_and_relays_the_splitter_lines(tmp_path, monkeypatch, make_ctrl, commit_db,
                                                            token_server, splitter_exe):
    monkeypatch.chdir(tmp_path)  # the job makes its working folder "database" here
    src, save = tmp_path / "src", tmp_path / "save"
    (src / "week 1").mkdir(parents=True)
    save.mkdir()
    write_pdf(src / "week 1" / "batch.pdf", [
        JpegPage(1, "sheet", YELLOW), JpegPage(2), JpegPage(3, "logo"), JpegPage(4, "sheet", PINK),
        JpegPage(5, "sheet", PINK), VectorPage(6), JpegPage(7, "photo")])
    write_pdf(src / "other.pdf", [VectorPage(1), VectorPage(2, "sheet", BLUE), JpegPage(3)])
    (save / "other").mkdir()  # an earlier result, left alone
    before = tree_state(src)

    ctrl = make_ctrl(src_pdf_path=str(src), save_pic_path=str(save), processors=2, COLOR_THRESHHOLD=19,
                     urldb=commit_db, PdfExePath=splitter_exe)
    ctrl.run()

    assert ctrl.run_code  # the job went through
    assert len(token_server.requests) == 2  # start and end announced
    assert tree_state(src) == before
    got = outputs(save)
    assert got == {"batch": ["batch_001.pdf", "batch_002.pdf"], "other": [],
                   "other_2": ["other_001.pdf", "other_002.pdf"]}
    assert [page_ids(save / "batch" / n) for n in got["batch"]] == [[2, 3], [6, 7]]
    assert [page_ids(save / "other_2" / n) for n in got["other_2"]] == [[1], [3]]

    # Every line the splitter wrote reached the sink, line end included.
    texts = [r for r in ctrl.communication.reports if isinstance(r, str)]
    batch = os.path.join("week 1", "batch.pdf")
    assert (batch + ": 7 pages; separators: 1, 4-5; 2 documents in \"batch\": batch_001.pdf (pages 2-3), "
            "batch_002.pdf (pages 6-7)\n") in texts
    assert any(t.startswith("other.pdf: 3 pages; separators: 2; 2 documents in \"other_2\"") for t in texts)
    summary = "Summary: 2 PDF files, 2 split, 0 not split; 10 pages, 4 separator pages, 4 documents written\n"
    assert summary in texts
    assert texts.index(summary) < texts.index("执行完成")
