"""Repeated calls must not leak: neither Python objects, nor native memory, nor references.

100,000 calls of get_now and 100,000 constructions of orvaneClass in all, shared out among the ways
a call can go (normal, refused by binding, failing inside). Each workload first runs a little to warm
caches up; traced allocations (tracemalloc) and resident memory (/proc/self/statm) are then compared
before and after it, with garbage collected.
"""
import gc
import os
import sys
import tracemalloc

import pytest

import Orvane
from Orvane import orvaneClass

# A sound run grows by a few hundred bytes at most; ten bytes per call over the smallest workload
# (20,000 calls) would exceed the traced bound.
TRACED_BOUND = 256 << 10
RSS_BOUND = 8 << 20
# AddressSanitizer keeps freed memory in quarantine, so resident memory says nothing there; the
# traced allocations still do.
SANITIZED = bool(os.environ.get("ORVANE_SANITIZER"))

SEVEN = ("src", "save", 4, 19, "token", "url.db", "orvaneFun.exe")


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def check_no_growth(workload, n):
    workload(2000)
    gc.collect()
    tracemalloc.start()
    try:
        workload(2000)
        gc.collect()
        traced_before = tracemalloc.get_traced_memory()[0]
        rss_before = resident_bytes()
        workload(n)
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
        rss_growth = resident_bytes() - rss_before
    finally:
        tracemalloc.stop()
    assert traced_growth < TRACED_BOUND, "traced memory grew by %d bytes" % traced_growth
    if not SANITIZED:
        assert rss_growth < RSS_BOUND, "resident memory grew by %d bytes" % rss_growth


def expect(exc_type, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except exc_type:
        return
    raise AssertionError("no %s" % exc_type.__name__)


def test_get_now_calls():
    get_now = Orvane.get_now

    def workload(n):
        for _ in range(n):
            get_now()

    check_no_growth(workload, 50_000)


def test_get_now_wrong_calls():
    get_now = Orvane.get_now

    def workload(n):
        for i in range(n // 2):
            expect(TypeError, get_now, i)
            expect(TypeError, get_now, stamp=i)

    check_no_growth(workload, 25_000)


def test_get_now_with_a_failing_time(orvane_time):
    class FailingTime:
        strftime = staticmethod(lambda *a: "x")

        @staticmethod
        def localtime(seconds):
            raise ValueError("no local time for %r" % seconds)

        @staticmethod
        def time():
            return 1.5

    orvane_time["time"] = FailingTime
    get_now = Orvane.get_now

    def workload(n):
        for _ in range(n):
            expect(ValueError, get_now)

    check_no_growth(workload, 25_000)


def test_constructions():
    sink = object()

    def workload(n):
        for i in range(n // 4):
            orvaneClass(*SEVEN)
            orvaneClass(*SEVEN, sink)
            orvaneClass(*SEVEN, communication=sink)
            orvaneClass(src_pdf_path="s", save_pic_path="v", processors=i, COLOR_THRESHHOLD=0,
                        LoginToken="t", urldb="u", PdfExePath="p")

    check_no_growth(workload, 50_000)


def test_constructor_wrong_calls():
    def workload(n):
        for i in range(n // 5):
            expect(TypeError, orvaneClass, i)
            expect(TypeError, orvaneClass, *range(10))
            expect(TypeError, orvaneClass, *SEVEN, user=i)
            expect(TypeError, orvaneClass, *SEVEN, urldb=i)
            expect(TypeError, orvaneClass, "s", "v", processors=i)

    check_no_growth(workload, 30_000)


def test_constructor_failing_assignment():
    class Guarded(orvaneClass):
        def __setattr__(self, name, value):
            if name == "urldb":
                raise KeyError(name)
            object.__setattr__(self, name, value)

    def workload(n):
        for _ in range(n):
            expect(KeyError, Guarded, *SEVEN)

    check_no_growth(workload, 20_000)


def test_method_wrong_calls():
    obj = orvaneClass(*SEVEN)

    def workload(n):
        for i in range(n // 4):
            expect(TypeError, obj.run, i)
            expect(TypeError, obj.stopCut, key=i)
            expect(TypeError, obj.get_url)
            expect(TypeError, obj.checkToken, 1, comments="c", id=i)

    check_no_growth(workload, 20_000)


def test_no_references_are_kept():
    # A missing decref never shows as memory when the object is shared; its count does.
    token, sink, name, value = "tok-en", object(), "unexpected_name", object()
    watched = [token, sink, orvaneClass, Orvane.get_now, vars(orvaneClass)["__init__"],
               vars(orvaneClass)["run"], value]
    before = [sys.getrefcount(o) for o in watched]
    obj = None
    for i in range(10000):
        obj = orvaneClass("s", "v", 4, 19, token, "u", "p", sink)
        expect(TypeError, orvaneClass, "s", "v", 4, 19, token, "u", "p", sink, **{name: value})
        expect(TypeError, orvaneClass, "s", "v", 4, 19, token, "u", "p", urldb=value)
        expect(TypeError, Orvane.get_now, value)
        expect(TypeError, obj.run, value)
        obj.__init__("s", "v", 4, 19, token, "u", "p", sink)
    del obj
    gc.collect()
    after = [sys.getrefcount(o) for o in watched]
    assert after == before
