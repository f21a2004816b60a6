"""PDFs built to hurt a PDF reader: huge declared images, Flate bombs, page
trees that loop or nest without end, a million pages, nested forms, pages
that take minutes to draw. Each builder returns the file's bytes."""
import zlib

from pdfgen import A4, BLUE, JpegPage, _Writer, build_pdf

A4_BOX = b"[0 0 595 842]"


def bomb(size, unit=b" ", prefix=b""):
    """Flate data inflating to `prefix` and then `size` bytes of `unit`. One
    compressed block repeated: after a full flush the compressor starts
    afresh, so every block of the same input comes out the same."""
    chunk = unit * ((1 << 20) // len(unit))
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    head = z.compress(prefix) + z.flush(zlib.Z_FULL_FLUSH)
    block = z.compress(chunk) + z.flush(zlib.Z_FULL_FLUSH)
    n = size // len(chunk)
    adler = zlib.adler32(prefix)
    for _ in range(n):
        adler = zlib.adler32(chunk, adler)
    return b"\x78\xda" + head + block * n + z.flush() + adler.to_bytes(4, "big")


def pages_pdf(contents, resources=b"<< >>", extra=None):
    """One page per content stream (bytes, or (dict entries, data)); `extra`
    adds objects first and returns the resources dictionary to use."""
    wr = _Writer()
    catalog, tree = wr.reserve(), wr.reserve()
    if extra:
        resources = extra(wr)
    kids = []
    for c in contents:
        entries, data = c if isinstance(c, tuple) else (b"", c)
        content = wr.stream(entries, data)
        kids.append(wr.add(b"<< /Type /Page /Parent %d 0 R /MediaBox %s /Resources %s /Contents %d 0 R >>"
                           % (tree, A4_BOX, resources, content)))
    wr.set(tree, b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids)))
    wr.set(catalog, b"<< /Type /Catalog /Pages %d 0 R >>" % tree)
    return wr.output(catalog)


def with_plain_pages(hostile_page):
    """A scanned page, the hostile page, a blue separator sheet, a scanned page."""
    return [JpegPage(1, dpi=20), hostile_page, JpegPage(3, "sheet", BLUE, dpi=20), JpegPage(4, dpi=20)]


def declared_huge_image():
    """A scanned page whose image says it is 100,000 x 100,000 pixels."""
    page = JpegPage(2, dpi=20)
    page.px = (100000, 100000)
    return build_pdf(with_plain_pages(page))


def jpeg_header_huge():
    """A scanned page whose JPEG data itself declares 65,000 x 65,000 pixels."""
    page = JpegPage(2, dpi=20)
    sof = page.data.index(b"\xff\xc0")
    page.data = page.data[:sof + 5] + (65000).to_bytes(2, "big") * 2 + page.data[sof + 9:]
    return build_pdf(with_plain_pages(page))


def flate_image_huge():
    """A page drawing a Flate RGB image of 100,000 x 100,000 pixels (30 GB)."""
    def image(wr):
        img = wr.stream(b"/Type /XObject /Subtype /Image /Width 100000 /Height 100000 /ColorSpace /DeviceRGB "
                        b"/BitsPerComponent 8 /Filter /FlateDecode", bomb(1 << 30, b"\x80"))
        return b"<< /XObject << /Im0 %d 0 R >> >>" % img
    return pages_pdf([b"q 595 0 0 842 0 0 cm /Im0 Do Q 0 g 10 10 5 5 re f"], extra=image)


def content_bomb():
    """A page whose content stream inflates to 2 GB of spaces."""
    return pages_pdf([(b"/Filter /FlateDecode", bomb(1 << 30)), b"0 g 10 10 50 50 re f"])


def slow_pages(n):
    """n pages, each filling the page 20 million times (minutes to draw)."""
    fill = b"0.5 g 0 0 595 842 re f\n"
    return pages_pdf([(b"/Filter /FlateDecode", bomb(20000000 * len(fill), fill))] * n)


def nested_forms(levels=40):
    """A page drawing form 0; form i draws form i+1 twice: 2**levels draws."""
    def forms(wr):
        first = wr.reserve()
        num = first
        for i in range(levels):
            nxt = wr.reserve() if i + 1 < levels else None
            body = (b"/F Do /F Do" if nxt else b"0 g 0 0 1 1 re f")
            res = b"/Resources << /XObject << /F %d 0 R >> >>" % nxt if nxt else b""
            wr.set(num, b"<< /Type /XObject /Subtype /Form /BBox [0 0 595 842] %s /Length %d >>\nstream\n%s\nendstream"
                   % (res, len(body), body))
            num = nxt
        return b"<< /XObject << /F %d 0 R >> >>" % first
    return pages_pdf([b"/F Do", b"0 g 1 1 5 5 re f"], extra=forms)


def form_chain(levels=20000):
    """A page drawing a chain of `levels` forms, each drawing the next."""
    def forms(wr):
        nums = [wr.reserve() for _ in range(levels)]
        for i, num in enumerate(nums):
            last = i + 1 == len(nums)
            body = b"0 g 0 0 1 1 re f" if last else b"/F Do"
            res = b"" if last else b"/Resources << /XObject << /F %d 0 R >> >>" % nums[i + 1]
            wr.set(num, b"<< /Type /XObject /Subtype /Form /BBox [0 0 595 842] %s /Length %d >>\nstream\n%s\nendstream"
                   % (res, len(body), body))
        return b"<< /XObject << /F %d 0 R >> >>" % nums[0]
    return pages_pdf([b"/F Do", b"0 g 1 1 5 5 re f"], extra=forms)


def tree_pdf(tree_body, objects=()):
    """A file whose page tree (object 2) is `tree_body`, plus raw objects 3..."""
    wr = _Writer()
    catalog, tree = wr.reserve(), wr.reserve()
    for body in objects:
        wr.add(body)
    wr.set(tree, tree_body)
    wr.set(catalog, b"<< /Type /Catalog /Pages 2 0 R >>")
    return wr.output(catalog)


PAGE = b"<< /Type /Page /Parent 2 0 R /MediaBox %s >>" % A4_BOX


def tree_loop():
    """The page tree lists a page and then itself."""
    return tree_pdf(b"<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 2 >>", [PAGE])


def tree_deep(depth=20000):
    """Page tree nodes nested `depth` levels deep above one page."""
    nodes = [b"<< /Type /Pages /Parent %d 0 R /Kids [%d 0 R] /Count 1 >>" % (2 + i, 4 + i) for i in range(depth)]
    return tree_pdf(b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    nodes + [b"<< /Type /Page /Parent %d 0 R /MediaBox %s >>" % (depth + 2, A4_BOX)])


def million_declared():
    """Two pages, a page count of one million."""
    return tree_pdf(b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 1000000 >>", [PAGE, PAGE])


def million_pages():
    """A million page objects, really there."""
    n = 1000000
    return tree_pdf(b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % (3 + i) for i in range(n)), n),
                    [PAGE] * n)


def object_stream_bomb():
    """The page tree lives in an object stream that inflates to 1 GB."""
    head = b"2 0 3 45 "
    packed = bomb(1 << 30, prefix=head + b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>".ljust(45) + PAGE)
    out = bytearray(b"%PDF-1.5\n")
    at = {1: len(out)}
    out += b"1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
    at[4] = len(out)
    out += (b"4 0 obj\n<< /Type /ObjStm /N 2 /First %d /Filter /FlateDecode /Length %d >>\nstream\n"
            % (len(head), len(packed)) + packed + b"\nendstream\nendobj\n")
    at[5] = len(out)
    rows = [(0, 0, 255), (1, at[1], 0), (2, 4, 0), (2, 4, 1), (1, at[4], 0), (1, at[5], 0)]
    table = b"".join(bytes([t]) + f.to_bytes(4, "big") + bytes([g]) for t, f, g in rows)
    out += (b"5 0 obj\n<< /Type /XRef /Size 6 /W [1 4 1] /Root 1 0 R /Length %d >>\nstream\n" % len(table)
            + table + b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % at[5])
    return bytes(out)


def _jpeg_segments(data):
    """[(marker, start, end)] of a JPEG; a scan runs to the next marker."""
    i, segs = 2, []
    while data[i + 1] != 0xD9:
        end = i + 2 + int.from_bytes(data[i + 2:i + 4], "big")
        if data[i + 1] == 0xDA:
            while data[end] != 0xFF or data[end + 1] == 0 or 0xD0 <= data[end + 1] <= 0xD7:
                end += 1
        segs.append((data[i + 1], i, end))
        i = end
    return segs


def jpeg_many_scans(scans=5000):
    """A scanned blue sheet as a progressive JPEG whose last scan comes `scans` times."""
    import io
    from PIL import Image
    page = JpegPage(2, "sheet", BLUE, dpi=20)
    buf = io.BytesIO()
    Image.new("RGB", page.px, BLUE).save(buf, "JPEG", progressive=True)
    data = buf.getvalue()
    _, start, end = [s for s in _jpeg_segments(data) if s[0] == 0xDA][-1]
    page.data = data[:end] + data[start:end] * scans + data[end:]
    return build_pdf(with_plain_pages(page))
