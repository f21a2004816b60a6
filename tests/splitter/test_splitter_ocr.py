"""Text recognition (--ocr) on printed and scanned pages of the corpus (tests/splitter/ocrscans.py):
the batch still splits at its coloured sheet, and each page's text layer reads as well as the
`tesseract` command's text of the same image, with no space between Han characters, its image data
and its looks unchanged. Two pages only: each costs seconds (scripts/ocr_table.py covers the whole
corpus)."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import ocr_table  # noqa: E402
import ocrscans  # noqa: E402

# A mixed Chinese and English letter; a sheet; a page of both scanned sideways.
BATCH = [dict(text="mixed", dpi=200), dict(text=None, dpi=100, colour=ocrscans.pdfgen.YELLOW),
         dict(text="turned", dpi=200, turn=270)]


@pytest.fixture(scope="module")
def measured(splitter_exe, tmp_path_factory):
    return ocr_table.measure(splitter_exe, str(tmp_path_factory.mktemp("ocr")), BATCH)


def test_batch_still_splits_at_its_sheet(measured):
    assert measured[0] == ocr_table.expected_documents(BATCH) == [[1], [3]]


@pytest.mark.parametrize("page", [1, 3], ids=["mixed", "turned"])
def test_page_meets_the_targets(measured, page):
    row = next(r for r in measured[1] if r["page"] == page)
    assert ocr_table.misses(row) == [], ocr_table.table(measured[0], ocr_table.expected_documents(BATCH), [row])
