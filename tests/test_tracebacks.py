"""Traceback entries the module adds when an exception leaves one of its functions.

The module has no Python source, so each entry carries the function's full name as its code name,
"Orvane" as its file name, a fixed line number per statement and the module namespace as its
globals. Frames are opaque from 3.11 on, so everything here goes through the public attributes
(tb_lineno, tb_frame.f_code, tb_frame.f_globals), which must agree on every interpreter.
"""
import traceback

import pytest

import Orvane
from Orvane import orvaneClass

# The fixed statement lines of the module's functions. They are part of what callers see (the error
# log records them), so a change here is a visible change. get_now: defined at 20, its five
# statements at 21 (take strftime), 22 (take localtime), 23 (call time), 24 (call localtime) and
# 25 (call strftime).
GET_NOW_DEF = 20
GET_NOW_STRFTIME, GET_NOW_LOCALTIME, GET_NOW_TIME, GET_NOW_CALL_LOCALTIME, GET_NOW_CALL_STRFTIME = (
    21, 22, 23, 24, 25)
# orvaneClass.__init__: defined at 31; `user` at 32, then one line per attribute, `token` at 37.
INIT_DEF = 31
INIT_TOKEN = 37
INIT_COMMUNICATION = 41

SEVEN = ("src", "save", 4, 19, "token", "url.db", "orvaneFun.exe")


def entries(exc):
    """The traceback of `exc` as a list of (tb, code name)."""
    out = []
    tb = exc.__traceback__
    while tb is not None:
        out.append((tb, tb.tb_frame.f_code.co_name))
        tb = tb.tb_next
    return out


def module_entries(exc):
    return [tb for tb, name in entries(exc) if tb.tb_frame.f_code.co_filename == "Orvane"]


def assert_entry(tb, full_name, line):
    code = tb.tb_frame.f_code
    assert code.co_name == full_name
    assert code.co_filename == "Orvane"
    assert tb.tb_lineno == line
    assert tb.tb_frame.f_globals is vars(Orvane)
    assert tb.tb_frame.f_globals["__file__"] == Orvane.__file__


@pytest.fixture
def orvane_time():
    ns = vars(Orvane)
    saved = ns["time"]
    try:
        yield ns
    finally:
        ns["time"] = saved


class Boom(Exception):
    pass


def failing_time(where):
    """A stand-in for `time` that fails at one step of get_now."""
    class FakeTime:
        def __getattr__(self, name):
            if where == ("get", name):
                raise Boom("get " + name)

            def fake(*args):
                if where == ("call", name):
                    raise Boom("call " + name)
                return {"time": 0.0, "localtime": "local", "strftime": "stamp"}[name]

            return fake

    return FakeTime()


class TestGetNow:
    @pytest.mark.parametrize(
        "where, line",
        [
            (("get", "strftime"), GET_NOW_STRFTIME),
            (("get", "localtime"), GET_NOW_LOCALTIME),
            (("get", "time"), GET_NOW_TIME),
            (("call", "time"), GET_NOW_TIME),
            (("call", "localtime"), GET_NOW_CALL_LOCALTIME),
            (("call", "strftime"), GET_NOW_CALL_STRFTIME),
        ],
    )
    def test_entry_at_the_failing_statement(self, orvane_time, where, line):
        orvane_time["time"] = failing_time(where)
        with pytest.raises(Boom) as info:
            Orvane.get_now()
        names = [name for tb, name in entries(info.value)]
        # The caller's frame, then the module's entry, then the Python code that raised.
        assert names[0] == "test_entry_at_the_failing_statement"
        assert names.count("Orvane.get_now") == 1
        position = names.index("Orvane.get_now")
        assert position == 1
        assert names[position + 1:] and all(n != "Orvane.get_now" for n in names[position + 1:])
        assert_entry(entries(info.value)[position][0], "Orvane.get_now", line)

    def test_name_error_has_the_entry_of_the_lookup(self, orvane_time):
        del orvane_time["time"]
        with pytest.raises(NameError) as info:
            Orvane.get_now()
        found = module_entries(info.value)
        assert len(found) == 1
        assert_entry(found[0], "Orvane.get_now", GET_NOW_STRFTIME)
        # Nothing follows: the module raised it itself.
        assert found[0].tb_next is None

    def test_binding_failure_has_the_entry_at_the_definition(self):
        for call in (lambda: Orvane.get_now(1), lambda: Orvane.get_now(x=1)):
            with pytest.raises(TypeError) as info:
                call()
            found = module_entries(info.value)
            assert len(found) == 1
            assert_entry(found[0], "Orvane.get_now", GET_NOW_DEF)
            assert found[0].tb_next is None

    def test_a_second_call_starts_with_a_clean_entry(self, orvane_time):
        # The statement record belongs to one call: a failure after an earlier failed call reports
        # its own line, not the earlier one.
        orvane_time["time"] = failing_time(("call", "strftime"))
        with pytest.raises(Boom):
            Orvane.get_now()
        with pytest.raises(TypeError) as info:
            Orvane.get_now(1)
        assert module_entries(info.value)[0].tb_lineno == GET_NOW_DEF


class TestControllerEntries:
    def test_binding_failure_of_the_constructor(self):
        with pytest.raises(TypeError) as info:
            orvaneClass(1)
        found = module_entries(info.value)
        assert len(found) == 1
        assert_entry(found[0], "Orvane.orvaneClass.__init__", INIT_DEF)

    @pytest.mark.parametrize("name", ["run", "get_url", "checkToken", "checkSpace", "true_run",
                                      "stopCut", "checkToken1"])
    def test_binding_failure_of_a_method_names_the_method(self, name):
        obj = orvaneClass(*SEVEN)
        with pytest.raises(TypeError) as info:
            getattr(obj, name)(1, 2, 3, 4)
        found = module_entries(info.value)
        assert len(found) == 1
        code = found[0].tb_frame.f_code
        assert code.co_name == "Orvane.orvaneClass." + name
        assert code.co_filename == "Orvane"
        assert found[0].tb_frame.f_globals is vars(Orvane)
        # A binding failure is reported at the definition, which precedes every statement of the
        # body; the same definition line for every wrong call of the method.
        with pytest.raises(TypeError) as again:
            getattr(orvaneClass, name)()
        assert module_entries(again.value)[0].tb_lineno == found[0].tb_lineno

    def test_failing_assignment_in_the_constructor(self):
        refused = Boom("no token here")

        class Guarded(orvaneClass):
            def __setattr__(self, name, value):
                if name == "token":
                    raise refused
                object.__setattr__(self, name, value)

        with pytest.raises(Boom) as info:
            Guarded(*SEVEN)
        assert info.value is refused
        names = [name for tb, name in entries(info.value)]
        assert names[0] == "test_failing_assignment_in_the_constructor"
        assert names[1] == "Orvane.orvaneClass.__init__"
        assert names[2] == "__setattr__"
        assert_entry(entries(info.value)[1][0], "Orvane.orvaneClass.__init__", INIT_TOKEN)

    def test_failing_last_assignment(self):
        class Guarded(orvaneClass):
            def __setattr__(self, name, value):
                if name == "communication":
                    raise Boom(name)
                object.__setattr__(self, name, value)

        with pytest.raises(Boom) as info:
            Guarded(*SEVEN)
        (found,) = module_entries(info.value)
        assert_entry(found, "Orvane.orvaneClass.__init__", INIT_COMMUNICATION)

    def test_entries_print_like_any_other(self):
        # What a user sees in a printed traceback (and what the error log reads back).
        with pytest.raises(TypeError) as info:
            Orvane.get_now(1)
        text = "".join(traceback.format_exception(TypeError, info.value, info.value.__traceback__))
        assert '  File "Orvane", line %d, in Orvane.get_now\n' % GET_NOW_DEF in text
        summary = traceback.extract_tb(info.value.__traceback__)[-1]
        assert (summary.filename, summary.lineno, summary.name) == ("Orvane", GET_NOW_DEF,
                                                                    "Orvane.get_now")
