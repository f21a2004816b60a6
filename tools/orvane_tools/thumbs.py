"""Page thumbnails for the review, kept in the user's cache folder (never in the target folder).

A scanned page is one JPEG image: its data is decoded by libjpeg at 1/8 scale (Pillow's `draft`
asks libjpeg for DCT scaling, so only the DC coefficient of each 8x8 block is used and no inverse
DCT runs), then shrunk to the thumbnail height. Other pages are rendered by poppler's pdftoppm at
a few dots per inch when it is installed, and shown as blank sheets otherwise. Thumbnails are PPM
files, which Tk shows without any image library. Needs Pillow and pypdf (`pip install orvane[gui]`).

The cache is bounded (`CACHE_LIMIT`): past it, the thumbnails used longest ago are deleted first."""
import collections
import glob
import hashlib
import io
import os
import shutil
import subprocess
import tempfile
import time

HEIGHT = 112          # thumbnail height in pixels
WIDTH = 80            # at most this wide: an A4 page is 79 wide, a landscape page is shown smaller
# 256 MiB: an A4 thumbnail is 27 KB, so about 9,500 pages, a few days of a busy scanner.
CACHE_LIMIT = 256 * 1024 * 1024
RENDER_DPI = 14       # for pages that are not one JPEG: A4 gives 116 pixels high


def available():
    """Whether the libraries for thumbnails are installed (the review works without them, blank)."""
    try:
        import PIL.Image  # noqa: F401
        import pypdf  # noqa: F401
    except ImportError:
        return False
    return True


def cache_folder(cache_root, pdf_path):
    """The folder of one source file's thumbnails: a new one when the file changes."""
    st = os.stat(pdf_path)
    key = "{}|{}|{}|{}x{}".format(os.path.abspath(pdf_path), st.st_size, st.st_mtime_ns, WIDTH, HEIGHT)
    return os.path.join(cache_root, "thumbs", hashlib.sha1(key.encode("utf-8", "surrogateescape")).hexdigest())


def thumb_path(folder, page):
    return os.path.join(folder, "{:05d}.ppm".format(page))


def page_jpeg(page):
    """The raw JPEG data of a page that shows one DCT-coded image and no other picture, else None."""
    try:
        xobjects = page["/Resources"]["/XObject"]
    except (KeyError, TypeError):
        return None
    images = []
    for name in xobjects:
        obj = xobjects[name].get_object()
        if obj.get("/Subtype") == "/Image":
            images.append(obj)
    if len(images) != 1:
        return None
    filters = images[0].get("/Filter")
    if isinstance(filters, list):
        filters = filters[0] if len(filters) == 1 else None
    if filters != "/DCTDecode":
        return None
    data = getattr(images[0], "_data", None)
    return data if data else None


def small_from_jpeg(data, height=HEIGHT):
    from PIL import Image

    im = Image.open(io.BytesIO(data))
    # DCT scaling in libjpeg: the smallest scale that still gives at least the wanted height.
    im.draft("RGB", (max(1, im.size[0] * height // max(1, im.size[1])), height))
    return shrink(im if im.mode == "RGB" else im.convert("RGB"), height)  # (convert copies, even to its own mode)


def shrink(im, height=HEIGHT, most_wide=WIDTH):
    """``im`` scaled to ``height``, or narrower pages' height when that would be wider than ``most_wide``."""
    from PIL import Image

    width = im.size[0] * height / float(im.size[1])
    if width > most_wide:
        height = max(1, int(round(height * most_wide / width)))
        width = most_wide
    width = max(1, int(round(width)))
    return im.resize((width, height), Image.BILINEAR) if im.size != (width, height) else im


def blank(height=HEIGHT):
    from PIL import Image

    return Image.new("RGB", (int(height * 0.707), height), (236, 236, 236))


class Cache(object):
    """The thumbnails under ``cache_root``/thumbs kept under ``limit`` bytes (None: `CACHE_LIMIT`), the
    ones used longest ago deleted first (down to nine tenths of the limit, so that deleting is not
    done page by page). Each thumbnail made or used is counted in; a cache shared by several windows
    is each one's own to trim. Used by one thread."""

    def __init__(self, cache_root, limit=None):
        self.root = os.path.join(cache_root, "thumbs")
        self.limit = CACHE_LIMIT if limit is None else limit
        self.total = 0
        self.queue = collections.deque()    # (mtime, path, size), oldest first
        found = []
        for folder in _listdir(self.root):
            folder = os.path.join(self.root, folder)
            names = _listdir(folder)
            if not names and os.path.isdir(folder):
                _quietly(os.rmdir, folder)
            for name in names:
                if name.endswith(".ppm"):
                    try:
                        st = os.stat(os.path.join(folder, name))
                    except OSError:
                        continue
                    found.append((st.st_mtime, os.path.join(folder, name), st.st_size))
        found.sort()
        for entry in found:
            self._count(entry)
        self.trim()

    def _count(self, entry):
        self.queue.append(entry)
        self.total += entry[2]

    def stored(self, path):
        """A thumbnail was written at ``path``."""
        try:
            self._count((time.time(), path, os.path.getsize(path)))
        except OSError:
            return
        self.trim()

    def used(self, path):
        """A cached thumbnail is used again, so it is the last to go (it keeps its place in the queue,
        and is put back at the end when its turn comes). False if it is not there."""
        return _quietly(os.utime, path)

    def trim(self):
        if self.total <= self.limit:
            return
        while self.queue and self.total > self.limit * 0.9:
            when, path, size = self.queue.popleft()
            try:
                now = os.stat(path).st_mtime
            except OSError:
                now = None
            if now is not None and now > when + 1e-3:
                self.queue.append((now, path, size))   # used since it was counted
                continue
            self.total -= size
            _quietly(os.remove, path)


def _listdir(folder):
    try:
        return os.listdir(folder)
    except OSError:
        return []


def _quietly(how, path):
    """``how(path)``; False when the path is gone already (another window's trim) or not ours."""
    try:
        how(path)
    except OSError:
        return False
    return True


def make_files(files, cache_root, limit, done, stopped=lambda: False):
    """Make the thumbnails of several source PDFs in turn (on a worker thread). ``files`` holds
    (key, path, pages); ``done(key, page, path)`` is called for each page as it is ready, and
    ``done(key, None, count)`` once for the ``count`` pages of a file that failed part-way (a source
    moved or changed since the job): they stay blank. Each page is told once, so that a count of
    them ends at the total pages and the files after a failed one still get theirs."""
    cache = Cache(cache_root, limit)
    for key, path, pages in files:
        told = set()

        def one(page, thumb, key=key, told=told):
            told.add(page)
            done(key, page, thumb)

        try:
            Thumbnailer(path, cache_root, cache=cache).make(range(1, pages + 1), one, stopped)
        except Exception:
            done(key, None, pages - len(told))
        if stopped():
            return


class Thumbnailer(object):
    """Makes (or finds in the cache) the thumbnails of one source PDF, page by page."""

    def __init__(self, pdf_path, cache_root, height=HEIGHT, cache=None):
        self.pdf_path = pdf_path
        self.height = height
        self.folder = cache_folder(cache_root, pdf_path)
        self.cache = cache or Cache(cache_root)

    def cached(self, page):
        path = thumb_path(self.folder, page)
        return path if self.cache.used(path) else None

    def make(self, pages, done, stopped=lambda: False):
        """Make the thumbnails of ``pages`` (numbers from 1) not yet cached, calling
        ``done(page, path)`` for each as it is ready (cached ones first). Runs on a worker thread."""
        import pypdf

        os.makedirs(self.folder, exist_ok=True)
        todo = []
        for page in pages:
            path = self.cached(page)
            if path:
                done(page, path)
            else:
                todo.append(page)
        if not todo:
            return
        render = []
        # pypdf reads a file it is given by name into memory whole; from an open file it reads
        # only the objects asked for.
        with open(self.pdf_path, "rb") as fh:
            reader = pypdf.PdfReader(fh)
            for page in todo:
                if stopped():
                    return
                try:
                    data = page_jpeg(reader.pages[page - 1])
                    im = small_from_jpeg(data, self.height) if data else None
                except Exception:  # a page pypdf or libjpeg cannot read: rendered (or blank) below
                    im = None
                if im is None:
                    render.append(page)
                else:
                    done(page, self._store(page, im))
        for first, last in runs(render):
            if stopped():
                return
            for page, im in self._render(first, last):
                # A page that could not be rendered is not cached: it is tried again next time.
                done(page, self._store(page, im) if im is not None else self._blank())

    def _blank(self):
        path = os.path.join(os.path.dirname(self.folder), "blank-{}.ppm".format(self.height))
        if not os.path.exists(path):
            blank(self.height).save(path + ".part", "PPM")
            os.replace(path + ".part", path)
        return path

    def _store(self, page, im):
        path = thumb_path(self.folder, page)
        part = path + ".part"
        im.save(part, "PPM")
        os.replace(part, path)
        self.cache.stored(path)
        return path

    def _render(self, first, last):
        from PIL import Image

        tool = shutil.which("pdftoppm")
        rendered = {}
        if tool:
            work = tempfile.mkdtemp(prefix="orvane-thumbs-")
            try:
                subprocess.run([tool, "-r", str(RENDER_DPI), "-f", str(first), "-l", str(last),
                                self.pdf_path, os.path.join(work, "p")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
                for path in glob.glob(os.path.join(work, "p-*.ppm")):
                    number = int(os.path.basename(path)[2:-4])
                    with Image.open(path) as im:
                        rendered[number] = shrink(im.convert("RGB"), self.height)
            finally:
                shutil.rmtree(work, ignore_errors=True)
        for page in range(first, last + 1):
            yield page, rendered.get(page)


def runs(pages):
    """[(first, last)] of the runs of consecutive numbers in sorted ``pages``."""
    out = []
    for page in pages:
        if out and out[-1][1] == page - 1:
            out[-1] = (out[-1][0], page)
        else:
            out.append((page, page))
    return out
