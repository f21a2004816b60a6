"""Text recognition in a real helper (orvaneFun.exe in helper mode, over its socket): known
English and Chinese text, upright and turned, as a picture or rendered, comes back with its words,
boxes and turn; the data folder's order; failures leave the helper serving; the tests' switch."""
import io
import os
import shutil
import signal
import socket
import struct
import subprocess

import pytest
from PIL import Image, ImageDraw, ImageFont

from pdfgen import A4, JpegPage, write_pdf

SYSTEM_DATA = "/usr/share/tesseract-ocr/5/tessdata"
LATIN = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
HAN = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
LINES = [("The quick brown fox jumps over the lazy dog", LATIN), ("合同的条款由双方签字后生效", HAN),
         ("Invoice 2024 总金额 3500 元", HAN)]
DPI = 300

pytestmark = pytest.mark.skipif(not all(os.path.exists(p) for p in (SYSTEM_DATA, LATIN, HAN)),
                                reason="needs tesseract's data and the fonts")


def text_page(lines, size):
    """A white grey page with `lines` drawn at 300 dpi, and each line's box."""
    img = Image.new("L", size, 255)
    draw = ImageDraw.Draw(img)
    boxes = []
    for i, (text, font) in enumerate(lines):
        face = ImageFont.truetype(font, 50)
        draw.text((250, 300 + 120 * i), text, font=face, fill=0)
        boxes.append(draw.textbbox((250, 300 + 120 * i), text, font=face))
    return img, boxes


class Helper(object):
    """orvaneFun.exe in helper mode, with this process as its parent (None in `env` unsets)."""

    def __init__(self, exe, env=None):
        self.sock, theirs = socket.socketpair()
        self.reader, self.files = self.sock.makefile("rb"), 0
        run_env = dict(os.environ, OMP_THREAD_LIMIT="1", **(env or {}))
        self.proc = subprocess.Popen([exe, "--orvane-helper", str(os.getpid())], stdin=theirs, stdout=theirs,
                                     env={k: v for k, v in run_env.items() if v is not None})
        theirs.close()

    def recognise(self, languages, picture=None, path=None, page=0, limit=60):
        """The reply decoded: (width, height, lines), None for a failure, or False when no
        reply came within `limit` seconds. EOFError when the helper is gone."""
        self.files += 1  # each request a file of its own: nothing of the last one is kept
        body = b"O" + struct.pack("=QiiBI", self.files, page if path else -1, 0, 0, len(languages)) + languages.encode()
        body += path.encode() if path else struct.pack("=iid", picture.width, picture.height, DPI) + picture.tobytes()
        self.sock.sendall(struct.pack("=I", len(body)) + body)
        self.sock.settimeout(limit)
        try:
            head = self.reader.read(4)
            reply = self.reader.read(struct.unpack("=I", head)[0]) if len(head) == 4 else None
        except socket.timeout:
            return False
        if reply is None:
            raise EOFError("the helper is gone")
        return decode(reply) if reply else None

    def close(self):
        self.reader.close()
        self.sock.close()
        self.proc.kill()
        self.proc.wait()


def decode(body):
    """An encoded PageText: (width, height, [(box, turn, [(word, box)])])."""
    at = [0]

    def take(fmt):
        values = struct.unpack_from("=" + fmt, body, at[0])
        at[0] += struct.calcsize("=" + fmt)
        return values

    width, height = take("ii")
    take("6d")
    lines = []
    for _ in range(take("I")[0]):
        box, turn, words = take("4i"), take("B")[0], []
        for _ in range(take("I")[0]):
            word_box, size = take("4i"), take("I")[0]
            words.append((body[at[0]:at[0] + size].decode("utf-8"), word_box))
            at[0] += size
        lines.append((box, turn, words))
    assert at[0] == len(body)
    return width, height, lines


@pytest.fixture
def helper(splitter_exe):
    made = []
    yield lambda env=None, exe=splitter_exe: made.append(Helper(exe, env)) or made[-1]
    for h in made:
        h.close()


# (how the helper gets the page, quarter turns anticlockwise: the text's top then points left)
@pytest.mark.parametrize("form,turn", [("picture", 0), ("rendered", 0), ("picture", 1)])
def test_words_boxes_and_turn(tmp_path, helper, form, turn):
    size = (int(round(A4[0] / 72.0 * DPI)), int(round(A4[1] / 72.0 * DPI)))
    upright, boxes = text_page(LINES, size)
    img = upright.rotate(90 * turn, expand=True)
    if form == "picture":
        got = helper().recognise("chi_sim+eng", picture=img)
    else:
        pdf = tmp_path / "page.pdf"
        jpeg = io.BytesIO()
        img.save(jpeg, "JPEG", quality=90)
        write_pdf(pdf, [JpegPage(1, size=A4, dpi=DPI, grey=True, data=jpeg.getvalue())])
        got = helper().recognise("chi_sim+eng", path=str(pdf), page=0)
    width, height, lines = got
    assert (width, height) == img.size
    assert len(lines) == len(LINES)
    for (text, _), box, (line_box, line_turn, got_words) in zip(LINES, boxes, lines):
        # Latin words as written; Han text whole, however tesseract cuts it into words
        assert [w for w, _ in got_words if w.isascii()] == [w for w in text.split() if w.isascii()]
        assert "".join(w for w, _ in got_words) == text.replace(" ", "")
        assert line_turn == (3 if turn else 0)
        # PIL turns anticlockwise: the upright page's (x, y) is at (y, width - x)
        want = (box[1], size[0] - box[2], box[3], size[0] - box[0]) if turn else box
        assert all(abs(a - b) <= 8 for a, b in zip(line_box, want)), (line_box, want)
        for _, (left, top, right, bottom) in got_words:
            assert left < right and top < bottom
            assert want[0] <= (left + right) / 2 <= want[2] and want[1] <= (top + bottom) / 2 <= want[3]


def english_line():
    return text_page(LINES[:1], (1400, 450))[0]


# Where the data is looked for: (tessdata beside the executable, TESSDATA_PREFIX, recognised).
# The first folder that exists serves every language, even when it lacks one.
@pytest.mark.parametrize("beside,prefix,found", [
    (None, "empty", False),
    (None, "missing", True),
    ("eng", "empty", True),
    ("empty", None, False),
])
def test_data_folder_order(tmp_path, helper, splitter_exe, beside, prefix, found):
    folders = {"missing": str(tmp_path / "missing"), "empty": str(tmp_path / "empty"), None: None}
    os.mkdir(folders["empty"])
    exe = splitter_exe
    if beside:
        exe = str(tmp_path / "bin" / "orvaneFun.exe")
        os.makedirs(str(tmp_path / "bin" / "tessdata"))
        shutil.copy(splitter_exe, exe)
        if beside == "eng":
            os.symlink(os.path.join(SYSTEM_DATA, "eng.traineddata"),
                       str(tmp_path / "bin" / "tessdata" / "eng.traineddata"))
    got = helper({"TESSDATA_PREFIX": folders[prefix]}, exe).recognise("eng", picture=english_line())
    assert (got is not None) == found
    if found:
        assert [w for w, _ in got[2][0][2]][:3] == ["The", "quick", "brown"]


def test_failures_leave_the_helper_serving(tmp_path, helper):
    h = helper()
    write_pdf(tmp_path / "one.pdf", [JpegPage(1)])
    for languages, kwargs in [("xx_none", {"picture": english_line()}),
                              ("eng", {"path": str(tmp_path / "one.pdf"), "page": 5}),
                              ("eng", {"path": str(tmp_path / "none.pdf"), "page": 0})]:
        assert h.recognise(languages, **kwargs) is None
    assert h.recognise("eng", picture=english_line())[2]


# The tests' switch: (its value, whether the helper gives a reply, how it ends).
@pytest.mark.parametrize("switch,replies,signal_ended", [
    ("abort:fox", False, -signal.SIGABRT),
    ("abort:Chinese", True, None),
    ("hang:", False, None),
])
def test_switch(helper, switch, replies, signal_ended):
    h = helper({"ORVANE_HELPER_TEST_OCR": switch})
    try:
        assert bool(h.recognise("eng", picture=english_line(), limit=10)) == replies
    except EOFError:
        assert not replies
    # an abort ends the helper by its signal; a hang leaves it running (ended with the fixture)
    assert h.proc.wait(10) == signal_ended if signal_ended else h.proc.poll() is None
