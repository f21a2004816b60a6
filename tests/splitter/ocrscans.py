"""Pages of Chinese, English and mixed text, printed from fonts and scanned the way offices scan
them (200 or 300 dpi A4, a slight skew, grain, JPEG), with the text each one holds: the corpus for
text recognition. Two pages are scanned turned 90 degrees, one each way; coloured separator sheets stand between
the documents, so that a batch must still split.

A page is a recipe: `text` (the name of one of TEXTS, or None for a separator sheet), `dpi`, and
`turn` (degrees the sheet was turned on the scanner's bed, counter-clockwise). BATCH is the whole
corpus as one file; scripts/ocr_table.py prints the figures on it page by page.
"""
import random
import re

from PIL import Image, ImageDraw, ImageFont

import pdfgen

HAN_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
LATIN_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"
INK = (30, 30, 34)

TEXTS = {
    "zh": "档案扫描服务合同\n"
          "本合同由甲乙双方在平等自愿的基础上协商一致签订，双方应当遵守本合同的各项约定。甲方委托乙方完成办公"
          "档案的扫描、整理与归档工作，乙方应当在每月五日前提交上月的工作报告。扫描件应当清晰完整，每份文件之间"
          "放置一张彩色隔页，以便按文件自动切分。乙方对工作中知悉的客户信息负有保密义务，未经甲方书面同意，不得"
          "向任何第三方披露。档案原件在扫描完成后应当按原顺序放回，并由双方共同清点签字确认。如一方违反本合同约"
          "定，应当赔偿由此给对方造成的全部损失。本合同未尽事宜，由双方另行协商并签订补充协议，补充协议与本合同"
          "具有同等法律效力。本合同一式两份，甲乙双方各执一份，自双方签字盖章之日起生效。",
    "en": "Records Office: how we scan\n"
          "The archive team scans every incoming file on the day it arrives. Each batch is placed on the "
          "scanner with a coloured sheet between two documents, so that the batch can be split again "
          "without reading it page by page. The scans are kept as searchable documents: a clerk who "
          "remembers one word of a contract can find it in seconds, and a sentence can be copied into a "
          "reply without typing it again. Pages that were fed sideways are turned back by the "
          "recognition, and the text keeps its reading order. Please report any page that cannot be "
          "found by its words to the records office before the end of the month.",
    "mixed": "关于 OCR 扫描流程的通知\n"
             "各位同事：\n"
             "根据 2024 年第 3 季度的安排，扫描中心将启用新的 OCR 流程。请将文件按 A4 规格放入 ADF 进纸器，"
             "每份文件之间放一张 yellow 隔页。处理完成后，系统会生成 searchable PDF 文档，并发送邮件到 "
             "records@example.com 。如有问题，请联系 IT Service Desk，电话 010-8888 6666 。\n"
             "Best regards,\n"
             "Li Wei 李伟\n"
             "档案管理部 Records Office",
    "turned": "会议纪要\n"
              "会议决定从下月起所有合同文件均以可搜索的格式保存，原件由档案室统一保管。"
              "The minutes were approved by all members present.\n"
              "各部门负责人应当在本周五前确认本部门的文件清单。",
}

# The whole corpus, one file: two pages at 300 dpi, three at 200 dpi, one scanned turned a quarter
# counter-clockwise and one clockwise.
BATCH = [
    dict(text="zh", dpi=300), dict(text="en", dpi=300),
    dict(text=None, dpi=100, colour=pdfgen.YELLOW),
    dict(text="zh", dpi=200), dict(text="en", dpi=200), dict(text="mixed", dpi=300),
    dict(text=None, dpi=100, colour=pdfgen.PINK),
    dict(text="mixed", dpi=200),
    dict(text=None, dpi=100, colour=pdfgen.BLUE),
    dict(text="turned", dpi=300, turn=90), dict(text="turned", dpi=200, turn=270),
]

HAN = re.compile(r"[\u2e80-\u2fff\u3000-\u303f\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff\uff00-\uffef]")


def _atoms(paragraph):
    """The paragraph as pieces that a line may break between: a Han character or full-width mark
    alone, a Latin word with the blanks after it."""
    return re.findall(HAN.pattern + r"|[^\s\u2e80-\u2fff\u3000-\u303f\u3400-\u4dbf\u4e00-\u9fff"
                      r"\uf900-\ufaff\uff00-\uffef]+\s*|\s+", paragraph)


def printed(text, dpi, points=12):
    """The sheet as printed: A4, black text on white, Han characters in WenQuanYi Micro Hei and
    Latin in DejaVu Serif, 25 mm margins, lines wrapped to fit."""
    px = tuple(int(round(s / 72.0 * dpi)) for s in pdfgen.A4)
    img = Image.new("RGB", px, (252, 252, 250))
    d = ImageDraw.Draw(img)
    size = int(round(points / 72.0 * dpi))
    fonts = {True: ImageFont.truetype(HAN_FONT, size), False: ImageFont.truetype(LATIN_FONT, size)}
    left, right = int(dpi * 25 / 25.4), px[0] - int(dpi * 25 / 25.4)
    y = int(dpi * 30 / 25.4)
    for number, paragraph in enumerate(text.split("\n")):
        title = number == 0
        x = left + (px[0] - 2 * left) // 4 if title else left
        for atom in _atoms(paragraph):
            font = fonts[bool(HAN.match(atom))]
            width = font.getlength(atom)
            if x + font.getlength(atom.rstrip()) > right:
                x, y = left, y + int(size * 1.7)
                atom = atom.lstrip()
            d.text((x, y), atom, font=font, fill=INK)
            x += width
        y += int(size * (2.4 if title else 1.9))
    return img


def scanned(img, seed, skew=0.5):
    """What the scanner makes of it: fed a little crooked, with grain."""
    rnd = random.Random(seed)
    angle = rnd.uniform(0.3, 1.0) * skew * (1 if seed % 2 else -1)
    img = img.rotate(angle, resample=Image.BICUBIC, fillcolor=(252, 252, 250))
    return pdfgen._add(img, pdfgen._grain(img.size, seed, 10))


def page_image(number, recipe):
    """The page's scanned picture (PIL, RGB), as the JPEG will hold it before compression."""
    dpi = recipe["dpi"]
    if recipe["text"] is None:
        px = tuple(int(round(s / 72.0 * dpi)) for s in pdfgen.A4)
        return pdfgen.picture("sheet", px, recipe["colour"], number)
    img = scanned(printed(TEXTS[recipe["text"]], dpi), number)
    return img.rotate(recipe.get("turn", 0), expand=True)


def jpeg_page(number, recipe):
    """A scanned page (pdfgen.JpegPage) whose image carries the page's marker; a page turned 90
    degrees lies on a landscape page."""
    img = page_image(number, recipe)
    size = pdfgen.A4 if img.size[0] < img.size[1] else (pdfgen.A4[1], pdfgen.A4[0])
    made = pdfgen.JpegPage(number, data=pdfgen.jpeg_bytes(img, number, quality=80), size=size,
                           dpi=recipe["dpi"])
    made.px = img.size
    return made


def write_batch(path, recipes):
    """Writes the batch; returns each page's JPEG data and known text (None for a sheet), in order,
    and writes the known texts beside it (PATH.pN.txt)."""
    pages = [jpeg_page(i + 1, r) for i, r in enumerate(recipes)]
    pdfgen.write_pdf(path, pages)
    known = []
    for i, (page, recipe) in enumerate(zip(pages, recipes), 1):
        text = TEXTS[recipe["text"]] if recipe["text"] else None
        if text:
            with open("%s.p%d.txt" % (path, i), "w", encoding="utf-8") as f:
                f.write(text + "\n")
        known.append((page.data, text))
    return known
