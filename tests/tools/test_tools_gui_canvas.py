"""The review canvas in a real Tk window on Xvfb: labels that never overlap, and the thumbnail
cache kept within its bound while a review makes more thumbnails than fit."""
import gc
import os
import time

import pytest

import toolsupport  # noqa: F401  (tools/ on sys.path)
from orvane_tools import events

tk = pytest.importorskip("tkinter")


@pytest.fixture
def root(x_display):
    window = tk.Tk(screenName=x_display)
    yield window
    window.destroy()
    gc.collect()  # the interpreter freed here, on the thread that made it


BATCH = "长名称的扫描批次" * 6 + "_07.pdf"


def one_page_documents(pages, source=None, names=("{:04d}" + "合同扫描件" * 11 + ".pdf",)):
    """A job's record: every odd page a document of its own, named in turn from ``names`` with its
    page (each long), every even page a separator, every seventh page to check."""
    docs = [{"name": names[(n // 2) % len(names)].format(n), "first": n, "last": n}
            for n in range(1, pages + 1, 2)]
    return events.JobRecord().apply_all(
        [{"event": "start", "files": [BATCH], "source": source, "target": "/nowhere"}] +
        [{"event": "page", "file": BATCH, "page": n, "verdict": "page" if n % 2 else "separator",
          "share": 0.5, "unsure": n % 7 == 0} for n in range(1, pages + 1)] +
        [{"event": "file", "file": BATCH, "pages": pages, "folder": "x", "documents": docs}])


def collisions(canvas):
    """Pairs of (label, what it overlaps): another label, a thumbnail or a separator's frame."""
    labels = set(canvas.find_withtag("label"))
    solid = labels | set(canvas.find_withtag("thumb"))
    found = []
    for item in labels:
        found += [(item, other) for other in canvas.find_overlapping(*canvas.bbox(item))
                  if other != item and other in solid]
    for frame in canvas.find_withtag("frame"):
        found += [(item, frame) for item in canvas.find_overlapping(*canvas.bbox(frame)) if item in labels]
    return [tuple(canvas.itemcget(i, "text") or canvas.type(i) for i in pair) for pair in found]


@pytest.mark.parametrize("name, kept", [
    ("二〇二六年第一季度供应商合同汇总表(财务部存档)_002.pdf", "_002"), ("0001合同扫描件合同扫描件.pdf", "0001"),
    ("scan_002_final_version.pdf", "_002"), ("nonumberatallinthisname.pdf", ".pdf")])
def test_a_shortened_name_fits_its_width_and_keeps_its_number(root, name, kept):
    from orvane_tools.review_canvas import NAME_FONT, Fitter

    fitter = Fitter(NAME_FONT, root)
    for width in range(20, 400, 3):
        label = fitter.fit_name(name, width)
        assert fitter.font.measure(label) <= width and (kept in label or not label), (width, label)


def shown_view(root, tmp_path, record, width=700):
    from orvane_tools.review_canvas import ReviewView

    root.geometry("{}x500+0+0".format(width))
    view = ReviewView(root, str(tmp_path / "cache"), lambda text: None)
    view.pack(fill="both", expand=True)
    root.update()
    view.show(record)
    root.update()
    return view


LONG_NAMES = ["{:04d}" + "合同扫描件" * 11 + ".pdf",                # the number first
              "二〇二六年第一季度" + "供应商合同" * 6 + "(财务部存档)_{:04d}.pdf",   # the number last
              "合同-2026_{:04d}.pdf"]


@pytest.mark.parametrize("width", [520, 1250])
def test_review_labels_never_overlap_and_keep_their_numbers(root, tmp_path, width):
    view = shown_view(root, tmp_path, one_page_documents(1200, names=LONG_NAMES), width)
    canvas = view.canvas
    texts = [canvas.itemcget(i, "text") for i in canvas.find_withtag("label")]
    assert ({"1199", "1200", "1200 separator"} & set(texts)) >= {"1199"} and len(canvas.find_withtag("name")) == 600 and len(canvas.find_withtag("frame")) == 600
    for item in canvas.find_withtag("name"):
        label, page = canvas.itemcget(item, "text"), int(canvas.gettags(item)[1].split("_")[1]) * 2 + 1
        name = LONG_NAMES[(page // 2) % len(LONG_NAMES)].format(page)
        start, _cut, end = label.partition("…")
        assert (start.startswith("{:04d}".format(page)) or end.endswith("_{:04d}.pdf".format(page))) and name.startswith(start) \
            and name.endswith(end) and (label == name) != bool(_cut), (label, name)
    assert canvas.itemcget("head", "text").endswith("_07.pdf: 1200 pages, 600 documents, 171 to check")
    assert collisions(canvas) == []
    assert max(canvas.bbox(i)[2] for i in canvas.find_withtag("label")) <= view.laid_width

    view.clear()
    root.update()
    assert canvas.find_all() == () and not view.files


def test_thumbnail_cache_stays_within_its_bound(root, tmp_path):
    Image = pytest.importorskip("PIL.Image")
    pytest.importorskip("pypdf")
    from orvane_tools import thumbs
    from orvane_tools.review_canvas import ReviewView

    source = tmp_path / "src"
    source.mkdir()
    pages = [Image.new("RGB", (200, 283), (40 * (n % 6), 120, 200 - 3 * n)) for n in range(60)]
    pages[0].save(str(source / BATCH), "PDF", save_all=True, append_images=pages[1:])
    cache = tmp_path / "cache"
    stale = cache / "thumbs" / "from-an-earlier-job" / "00001.ppm"
    stale.parent.mkdir(parents=True)
    pages[0].save(str(stale), "PPM")
    os.utime(str(stale), (1e9, 1e9))
    one = 80 * 112 * 3 + 20
    limit = 20 * one                        # room for 20 of the 60 thumbnails

    view = ReviewView(root, str(cache), lambda text: None, cache_limit=limit)
    view.pack(fill="both", expand=True)
    view.show(one_page_documents(60, str(source)))
    deadline = time.monotonic() + 60
    while not view.thumbs_total or view.thumbs_done < view.thumbs_total:
        assert time.monotonic() < deadline, "thumbnails not made"
        view.tick()
        root.update()
        time.sleep(0.01)
    kept = [os.path.join(d, n) for d, _, names in os.walk(str(cache / "thumbs")) for n in names]
    assert sum(os.path.getsize(p) for p in kept) <= limit
    assert not stale.exists()                          # the oldest went first ...
    assert os.path.basename(max(kept)) == "00060.ppm"  # ... the newest stay
    assert len(view.images) > 50 and thumbs.CACHE_LIMIT >= 100 * 1024 * 1024


def test_a_source_failing_part_way_leaves_the_next_ones_their_thumbnails(tmp_path):
    from PIL import Image
    from orvane_tools import thumbs

    files = [("a", str(tmp_path / "a.pdf"), 3), ("b", str(tmp_path / "b.pdf"), 1)]
    for _key, path, count in files:
        Image.new("RGB", (200, 283)).save(path, "PDF", save_all=True, append_images=[Image.new("RGB", (9, 9))] * (count - 1))
    # a.pdf's first thumbnail is cached; a folder stands where its second is written, so it fails
    # there (as root too, whom a read-only folder would not stop).
    thumbs.Thumbnailer(files[0][1], str(tmp_path)).make([1], lambda page, path: None)
    os.mkdir(thumbs.thumb_path(thumbs.cache_folder(str(tmp_path), files[0][1]), 2) + ".part")
    told = []
    thumbs.make_files(files, str(tmp_path), None, lambda key, page, made: told.append((key, page, made if page is None else 0)))
    assert told == [("a", 1, 0), ("a", None, 2), ("b", 1, 0)]   # a's other 2 pages stay blank, b gets its own


LONG = "二〇二六年第一季度供应商合同汇总表(财务部存档)_002.pdf"


@pytest.mark.parametrize("item, told", [
    ("name", [LONG, "pages 1–2 of scan-19.pdf", "no page to check"]),
    ("at0_2", [LONG, "pages 1–2 of scan-19.pdf", "page 2: document page"]),
    ("at0_3", ["scan-19.pdf", "page 3: separator sheet"]),
    ("at0_4", ["b_003.pdf", "page 4 of scan-19.pdf", "page 4: document page, to check"]),
    ("at0_5", ["scan-19.pdf", "page 5: code sheet", "code: PATCHT:合同-7"]),
    ("at0_6", ["scan-19.pdf", "page 6: back of the sheet before it, to check"]),
    ("at0_7", ["c_004.pdf", "pages 7, 9 of scan-19.pdf", "page 7: document page"]),
    ("at0_8", ["scan-19.pdf", "page 8: blank, left out (right-click to put it back)"]),
])
def test_hovering_tells_the_full_name_span_and_verdict(root, tmp_path, item, told):
    sheets = {3: {}, 5: {"sheet": "code", "code": "PATCHT:合同-7"}, 6: {"sheet": "back"}}
    view = shown_view(root, tmp_path, events.JobRecord().apply_all([{"event": "start", "files": ["scan-19.pdf"]}] + [
        dict({"event": "page", "file": "scan-19.pdf", "page": n, "verdict": "page" if n not in sheets else "separator",
              "unsure": n in (4, 6)}, **sheets.get(n, {}))
        for n in range(1, 10)] + [{"event": "file", "file": "scan-19.pdf", "pages": 9, "folder": "x", "documents": [
            {"name": LONG, "first": 1, "last": 2}, {"name": "b_003.pdf", "first": 4, "last": 4},
            {"name": "c_004.pdf", "first": 7, "last": 9, "pages": [7, 9]}], "blank": [8], "dropped": [8]}]))
    canvas = view.canvas
    # Under a separator: its kind, or a code sheet's text.
    assert {"3 separator", "5 合同-7", "6 back"} <= {canvas.itemcget(i, "text") for i in canvas.find_withtag("label")}
    x0, y0, x1, y1 = canvas.bbox(canvas.find_withtag(item)[0])
    canvas.event_generate("<Motion>", x=(x0 + x1) // 2, y=(y0 + y1) // 2)
    root.update()
    assert view.tip.text == "\n".join(told) and view.tip.window.winfo_ismapped()
    canvas.event_generate("<Leave>")
    assert view.tip.window is None


def test_keys_scroll_the_review(root, tmp_path):
    canvas = shown_view(root, tmp_path, one_page_documents(600)).canvas
    canvas.focus_force()
    root.update()
    page = canvas.winfo_height() / float(canvas.bbox("all")[3])
    turn, line = 0.9 * page, 0.3 * page  # Tk keeps a tenth of the view on a page turn; a line is a tenth
    # (key, where the top of the view is afterwards, as a share of the review), in turn
    for key, top in [("End", 1 - page), ("Home", 0), ("Next", turn), ("Next", 2 * turn), ("Prior", turn),
                     ("Down", turn + line), ("Up", turn), ("Right", turn + line), ("Left", turn)]:
        canvas.event_generate("<Key-{}>".format(key))
        root.update()
        assert canvas.yview()[0] == pytest.approx(top, abs=0.1 * page), key
