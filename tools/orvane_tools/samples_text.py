"""A sample batch to split with text recognition: scans of Chinese, English and mixed text.

Every page is a scan: a JPEG of text rendered from fonts (WenQuanYi Micro Hei for Chinese, a Latin
sans for English) on slightly grey paper, with scanner noise and a slight skew, at 200 dpi; the
separator sheets are scanned coloured paper. Split with ``--ocr chi_sim+eng``, the documents can be
searched for 合同 or "invoice" and their text copied. Needs Pillow; the noise is seeded, so the same
files come out every time."""
import io
import random

DPI = 200
A4_MM = (210, 297)
PAPER, INK = 246, 28
OCR = "chi_sim+eng"

# The first font found of each list: Debian's packages, then Windows' own.
FONTS = {
    "han": ("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", "C:/Windows/Fonts/msyh.ttc",
            "C:/Windows/Fonts/simhei.ttf"),
    "latin": ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
              "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf", "C:/Windows/Fonts/arial.ttf"),
}
FONT_PACKAGES = "fonts-wqy-microhei, fonts-dejavu-core"

# Each document's page: (font, title, lines).
TEXTS = {
    "contract": ("han", "采购合同", [
        "甲方：上海东方贸易有限公司",
        "乙方：杭州明远科技有限公司",
        "甲乙双方经友好协商，就办公设备采购事宜达成如下协议。",
        "一、乙方向甲方提供扫描仪二十台，单价每台三千元。",
        "二、货款总额为人民币六万元整，甲方于收货后十日内付清。",
        "三、乙方保证所供设备为全新正品，并提供一年免费保修。",
        "四、本合同一式两份，双方各执一份，自签字之日起生效。",
        "甲方代表：王建国",
        "乙方代表：李明",
        "签订日期：二〇二六年三月十二日",
    ]),
    "letter": ("latin", "Letter of Confirmation", [
        "Dear Ms. Chen,",
        "Thank you for your order of twenty document scanners.",
        "We confirm that the goods will be shipped on 20 March",
        "and delivered to your office in Shanghai within a week.",
        "The invoice number is INV-2026-0042; payment is due",
        "within thirty days of delivery.",
        "Please contact us if you have any questions.",
        "Yours sincerely,",
        "David Miller, Sales Manager",
    ]),
    "notice": ("han", "会议通知 Meeting Notice", [
        "时间：2026年3月20日 14:00",
        "地点：Room 301, 明远大厦",
        "议题：Orvane 扫描系统的 PDF 切分与文字识别",
        "参加人员：Chen Li、王建国、David Miller",
        "请各位提前准备 slides，并于周五前发送至 office@example.com。",
    ]),
}


def find_font(kind):
    import os
    found = next((path for path in FONTS[kind] if os.path.isfile(path)), None)
    if found is None:
        raise OSError("no font for the {} text (install {})".format(kind, FONT_PACKAGES))
    return found


def _size(points):
    return int(points * DPI / 72)


def _page_size():
    return tuple(int(mm / 25.4 * DPI) for mm in A4_MM)


def _scanned(image, rnd, skew):
    """``image`` as a scanner gives it: turned by ``skew`` degrees, noise of a few grey levels."""
    from PIL import Image, ImageChops
    fill = (PAPER,) * len(image.getbands()) if len(image.getbands()) > 1 else PAPER
    image = image.rotate(skew, resample=Image.BICUBIC, fillcolor=fill)
    width, height = image.size
    noise = Image.frombytes("L", (width, height), rnd.getrandbits(8 * width * height).to_bytes(width * height, "little"))
    noise = noise.point(lambda v: v * 10 // 255)
    if image.mode != "L":
        noise = Image.merge(image.mode, [noise] * len(image.getbands()))
    return ImageChops.subtract(image, noise)


def text_page(key, rnd):
    """The grey scan of the page ``key`` of TEXTS."""
    from PIL import Image, ImageDraw, ImageFont
    kind, title, lines = TEXTS[key]
    image = Image.new("L", _page_size(), PAPER)
    draw = ImageDraw.Draw(image)
    path = find_font(kind)
    heading, body = ImageFont.truetype(path, _size(20)), ImageFont.truetype(path, _size(12))
    left, y = _size(72), _size(80)
    draw.text((left, y), title, font=heading, fill=INK)
    y += _size(48)
    for line in lines:
        draw.text((left, y), line, font=body, fill=INK)
        y += _size(24)
    return _scanned(image, rnd, rnd.uniform(-0.6, 0.6))


def sheet_page(colour, rnd):
    """A scanned sheet of coloured paper (``colour``: RGB 0..1)."""
    from PIL import Image
    paper = tuple(int(c * PAPER) for c in colour)
    return _scanned(Image.new("RGB", _page_size(), paper), rnd, 0.0)


def jpeg(image):
    out = io.BytesIO()
    image.save(out, "JPEG", quality=80, dpi=(DPI, DPI))
    return out.getvalue()


def page_images(pages, seed=31):
    """[(JPEG bytes, width, height, colour space)] of the batch ``pages``: ("text", key) or ("sep",
    colour) pairs, as samples' batches list them."""
    rnd = random.Random(seed)
    images = []
    for kind, value in pages:
        image = sheet_page(value, rnd) if kind == "sep" else text_page(value, rnd)
        space = "/DeviceGray" if image.mode == "L" else "/DeviceRGB"
        images.append((jpeg(image), image.size[0], image.size[1], space))
    return images


def image_object(data, width, height, space):
    return ("<< /Type /XObject /Subtype /Image /Width {} /Height {} /ColorSpace {} /BitsPerComponent 8 "
            "/Filter /DCTDecode /Length {} >>\nstream\n".format(width, height, space, len(data))).encode() + \
        data + b"\nendstream"
