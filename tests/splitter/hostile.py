"""PDFs built to hurt a PDF reader: huge declared images, Flate bombs, page
trees that loop or nest without end, a million pages, nested forms, pages
that take minutes to draw. Each builder returns the file's bytes."""
import io
import zlib

from PIL import Image

from pdfgen import BLUE, JpegPage, _Writer, build_pdf

PAGE = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>"


def bomb(size, unit=b" ", prefix=b""):
    """Flate data inflating to `prefix` and then `size` bytes of `unit`. One
    compressed block repeated: after a full flush the compressor starts
    afresh, so every block of the same input comes out the same."""
    chunk = unit * ((1 << 20) // len(unit))
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    head = z.compress(prefix) + z.flush(zlib.Z_FULL_FLUSH)
    block = z.compress(chunk) + z.flush(zlib.Z_FULL_FLUSH)
    adler = zlib.adler32(prefix)
    for _ in range(size // len(chunk)):
        adler = zlib.adler32(chunk, adler)
    return b"\x78\xda" + head + block * (size // len(chunk)) + z.flush() + adler.to_bytes(4, "big")


def pdf(tree_kids, objects, contents=(), resources=b"<< >>"):
    """Catalog 1, page tree 2 (Kids given, Count = their number), then
    `objects` (object 3 on), then one page per content stream (bytes, or
    (dict entries, data)); `resources` may use the objects' numbers."""
    wr = _Writer()
    catalog, tree = wr.reserve(), wr.reserve()
    for body in objects:
        wr.add(body)
    kids = list(tree_kids)
    for c in contents:
        entries, data = c if isinstance(c, tuple) else (b"", c)
        content = wr.stream(entries, data)
        kids.append(wr.add(PAGE[:-2] + b"/Resources %s /Contents %d 0 R >>" % (resources, content)))
    wr.set(tree, b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids)))
    wr.set(catalog, b"<< /Type /Catalog /Pages 2 0 R >>")
    return wr.output(catalog)


def with_plain_pages(hostile_page):
    """A scanned page, the hostile page, a blue separator sheet, a scanned page."""
    return build_pdf([JpegPage(1, dpi=20), hostile_page, JpegPage(3, "sheet", BLUE, dpi=20), JpegPage(4, dpi=20)])


def declared_huge_image():
    """A scanned page whose image says it is 100,000 x 100,000 pixels."""
    page = JpegPage(2, dpi=20)
    page.px = (100000, 100000)
    return with_plain_pages(page)


def jpeg_header_huge():
    """A scanned page whose JPEG data itself declares 65,000 x 65,000 pixels."""
    page = JpegPage(2, dpi=20)
    sof = page.data.index(b"\xff\xc0")
    page.data = page.data[:sof + 5] + (65000).to_bytes(2, "big") * 2 + page.data[sof + 9:]
    return with_plain_pages(page)


def jpeg_many_scans(scans=5000):
    """A blue sheet as a progressive JPEG whose last scan comes `scans` times."""
    page = JpegPage(2, "sheet", BLUE, dpi=20)
    buf = io.BytesIO()
    Image.new("RGB", page.px, BLUE).save(buf, "JPEG", progressive=True)
    data = buf.getvalue()
    start = data.rindex(b"\xff\xda")
    end = data.rindex(b"\xff\xd9")
    page.data = data[:end] + data[start:end] * scans + data[end:]
    return with_plain_pages(page)


def flate_image_huge():
    """A page drawing a Flate RGB image of 100,000 x 100,000 pixels (30 GB)."""
    image = (b"<< /Type /XObject /Subtype /Image /Width 100000 /Height 100000 /ColorSpace /DeviceRGB "
             b"/BitsPerComponent 8 /Filter /FlateDecode /Length %d >>\nstream\n")
    data = bomb(1 << 30, b"\x80")
    return pdf([], [image % len(data) + data + b"\nendstream"], [b"q 595 0 0 842 0 0 cm /Im0 Do Q"],
               b"<< /XObject << /Im0 3 0 R >> >>")


def content_bomb():
    """A page whose content stream inflates to 1 GB of spaces, and a plain one."""
    return pdf([], [], [(b"/Filter /FlateDecode", bomb(1 << 30)), b"0 g 10 10 50 50 re f"])


def slow_pages(n):
    """n pages, each filling the page 20 million times (minutes to draw)."""
    fill = b"0.5 g 0 0 595 842 re f\n"
    return pdf([], [], [(b"/Filter /FlateDecode", bomb(20000000 * len(fill), fill))] * n)


def forms(levels, body):
    """Forms 3.. each drawing the next by `body` (the last one a square),
    and a page drawing the first, then a plain page."""
    objects = []
    for i in range(levels):
        last = i + 1 == levels
        draw = b"0 g 0 0 1 1 re f" if last else body
        res = b"" if last else b"/Resources << /XObject << /F %d 0 R >> >>" % (4 + i)
        objects.append(b"<< /Type /XObject /Subtype /Form /BBox [0 0 595 842] %s /Length %d >>\nstream\n%s\nendstream"
                       % (res, len(draw), draw))
    return pdf([], objects, [b"/F Do", b"0 g 1 1 5 5 re f"], b"<< /XObject << /F 3 0 R >> >>")


def nested_forms():
    """Forty levels, each form drawing the next twice: 2**40 draws."""
    return forms(40, b"/F Do /F Do")


def form_chain(levels=20000):
    """Forms in a chain, 20,000 by default."""
    return forms(levels, b"/F Do")


def tree_loop():
    """The page tree lists a page and then itself."""
    return pdf([3, 2], [PAGE])


def tree_deep(depth=20000):
    """Page tree nodes nested `depth` levels deep above one page."""
    nodes = [b"<< /Type /Pages /Parent %d 0 R /Kids [%d 0 R] /Count 1 >>" % (2 + i, 4 + i) for i in range(depth)]
    return pdf([3], nodes + [PAGE.replace(b"2 0 R", b"%d 0 R" % (depth + 2))])


def million_declared():
    """Two pages, a page count of one million."""
    return pdf([3, 4], [PAGE, PAGE]).replace(b"/Count 2", b"/Count 1000000")


def million_pages():
    """A million page objects, really there."""
    return pdf(range(3, 1000003), [PAGE] * 1000000)


def object_stream_bomb():
    """The page tree lives in an object stream that inflates to 1 GB."""
    head = b"2 0 3 45 "
    packed = bomb(1 << 30, prefix=head + b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>".ljust(45) + PAGE)
    out = bytearray(b"%PDF-1.5\n")
    at = [0, len(out)]
    out += b"1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
    at.append(len(out))
    out += (b"4 0 obj\n<< /Type /ObjStm /N 2 /First %d /Filter /FlateDecode /Length %d >>\nstream\n"
            % (len(head), len(packed)) + packed + b"\nendstream\nendobj\n")
    at.append(len(out))
    # Cross-reference stream: objects 2 and 3 are in stream 4.
    rows = [(0, 0, 255), (1, at[1], 0), (2, 4, 0), (2, 4, 1), (1, at[2], 0), (1, at[3], 0)]
    table = b"".join(bytes([t]) + f.to_bytes(4, "big") + bytes([g]) for t, f, g in rows)
    out += (b"5 0 obj\n<< /Type /XRef /Size 6 /W [1 4 1] /Root 1 0 R /Length %d >>\nstream\n" % len(table)
            + table + b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % at[3])
    return bytes(out)
