"""Argument binding under random calls: every function, every way of calling it.

A reference model of the three binding rules predicts, for any mix of positional and keyword
arguments, either the exact TypeError text or success. Hypothesis draws the mixes (keyword names
that are parameters, attributes, strangers, str subclasses, empty and non-text keys; any number of
positional values) and each call is compared with the prediction:

* a predicted refusal must be that TypeError, carry the function's traceback entry at the line of
  its definition, and leave the body unrun (no module-level name was touched);
* a predicted success must not be refused by binding. The module-level names the bodies use are
  rebound to tripwires that raise Halt (a BaseException, so no except clause of the module takes
  it) at first touch, so a body that starts ends at once without real work. stopCut is the one
  body that acts before any name lookup (it ends every orvaneFun.exe of the user), so a call of it
  predicted to bind is checked against the model only, not made.
"""
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import Orvane
from Orvane import orvaneClass

INIT_PARAMS = ("self", "src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD",
               "LoginToken", "urldb", "PdfExePath", "communication")

# name -> (binding kind, parameters, number of required parameters, definition line)
RULES = {
    "get_now": ("none", (), 0, 20),
    "__init__": ("named", INIT_PARAMS, 8, 31),
    "run": ("self", ("self",), 1, 50),
    "get_url": ("named", ("self", "urlName"), 2, 80),
    "checkToken": ("named", ("self", "id", "comments"), 3, 100),
    "checkToken1": ("named", ("self", "id", "comments"), 3, 150),
    "checkSpace": ("self", ("self",), 1, 200),
    "true_run": ("self", ("self",), 1, 230),
    "stopCut": ("self", ("self",), 1, 340),
}
METHODS = ("__init__", "run", "get_url", "checkToken", "checkToken1", "checkSpace", "true_run",
           "stopCut")
# Names every body resolves in the module namespace before doing anything real.
TRIPPED_NAMES = ("os", "time", "sqlite3", "requests", "json", "random", "shutil", "traceback",
                 "cpu_count", "get_now")

# Interpreters from 3.9 on refuse a non-text keyword themselves, with the bare text, before the
# function sees the call; earlier ones hand the keyword to the function.
INTERPRETER_CHECKS_KEYWORDS = sys.version_info >= (3, 9)

GET_NOW = Orvane.get_now  # the function itself; the fixture rebinds the module-level name


class Halt(BaseException):
    """A body started: a tripwire was touched."""


class Tripwire(object):
    touched = []

    def __init__(self, name):
        self._name = name

    def __getattr__(self, attr):
        Tripwire.touched.append(self._name)
        raise Halt(self._name)

    def __call__(self, *args, **kwargs):
        Tripwire.touched.append(self._name)
        raise Halt(self._name)


class Key(str):
    """A keyword name that is a str subclass: binds like the plain text."""


# ---------------------------------------------------------------- the reference model


def predicted(name, positional, keys):
    """The TypeError text the binding rules give for this call, or None when it binds."""
    kind, params, required, _ = RULES[name]
    if INTERPRETER_CHECKS_KEYWORDS and any(not isinstance(k, str) for k in keys):
        return "keywords must be strings"
    if kind == "none":
        if keys:
            return "%s() takes no keyword arguments" % name
        if positional:
            return "%s() takes no arguments (%d given)" % (name, positional)
        return None
    if kind == "self":
        if keys:
            return "%s() takes no keyword arguments" % name
        if positional != 1:
            return "%s() takes exactly one argument (%d given)" % (name, positional)
        return None

    def wrong_count(bound, number, given):
        wording = "exactly" if required == len(params) else bound
        return "%s() takes %s %d positional argument%s (%d given)" % (
            name, wording, number, "" if number == 1 else "s", given)

    # 1. too many positional arguments
    if positional > len(params):
        return wrong_count("at most", len(params), positional)
    # 2. the first required parameter that neither position nor keyword fills
    texts = [str.__str__(k) for k in keys if isinstance(k, str)]
    for index in range(positional, required):
        if params[index] not in texts:
            return wrong_count("at least", required, index)
    # 3. each keyword, in call order
    for key in keys:
        if not isinstance(key, str):
            return "%s() keywords must be strings" % name
        text = str.__str__(key)
        if text in params[positional:]:
            continue
        if text in params[:positional]:
            return "%s() got multiple values for keyword argument '%s'" % (name, text)
        return "%s() got an unexpected keyword argument '%s'" % (name, text)
    return None


def test_model_reproduces_the_documented_examples():
    assert predicted("get_now", 1, []) == "get_now() takes no arguments (1 given)"
    assert predicted("get_now", 0, ["x"]) == "get_now() takes no keyword arguments"
    assert predicted("run", 2, []) == "run() takes exactly one argument (2 given)"
    assert predicted("__init__", 2, []) == "__init__() takes at least 8 positional arguments (2 given)"
    assert predicted("__init__", 4, []) == "__init__() takes at least 8 positional arguments (4 given)"
    assert predicted("__init__", 10, []) == "__init__() takes at most 9 positional arguments (10 given)"
    assert predicted("get_url", 1, []) == "get_url() takes exactly 2 positional arguments (1 given)"
    assert predicted("__init__", 8, ["user"]) == "__init__() got an unexpected keyword argument 'user'"
    assert (predicted("__init__", 7, ["urldb", "PdfExePath"])
            == "__init__() got multiple values for keyword argument 'urldb'")
    assert predicted("__init__", 8, []) is None
    assert predicted("checkToken", 1, ["comments", "id"]) is None


# ---------------------------------------------------------------- drawing calls

PARAM_NAMES = sorted({p for _, params, _, _ in RULES.values() for p in params})
OTHER_NAMES = ["user", "token", "oldDir", "newDir", "run_code", "url", "名前", "", "self "]
NON_TEXT_KEYS = [1, None, b"self", ("id",), 2.5]

texts = st.sampled_from(PARAM_NAMES + OTHER_NAMES)
keys = st.one_of(
    texts,
    texts,  # parameter names come up often: they are where the rules differ
    st.text(max_size=6),
    st.builds(Key, st.sampled_from(PARAM_NAMES)),
    st.sampled_from(NON_TEXT_KEYS),
)
values = st.sampled_from([None, 0, 1, "", "x", 3.5, b"b", (), "名"])
positionals = st.lists(values, max_size=11)
keywords = st.lists(st.tuples(keys, values), max_size=6)


def as_dict(pairs):
    out = {}
    for key, value in pairs:
        out[key] = value  # equal keys (a Key and its text) keep the first key object
    return out


# ---------------------------------------------------------------- calling


class RecordingSink(object):
    def __init__(self):
        self.reports = []

    def mainPrint(self, *args):
        self.reports.append(args)


def fresh_controller():
    return orvaneClass("src", "save", 1, 19, "token", "url.db", "orvaneFun.exe", RecordingSink())


def entries(tb):
    out = []
    while tb is not None:
        out.append((tb.tb_frame.f_code.co_name, tb.tb_lineno))
        tb = tb.tb_next
    return out


@pytest.fixture
def tripwires(monkeypatch):
    for name in TRIPPED_NAMES:
        monkeypatch.setattr(Orvane, name, Tripwire(name))
    del Tripwire.touched[:]
    yield
    del Tripwire.touched[:]


def check_call(name, call, positional_count, kwargs):
    """Makes one call (or not, for a stopCut that would bind) and compares it with the model."""
    key_list = list(kwargs)
    expected = predicted(name, positional_count, key_list)
    full_name = "Orvane.get_now" if name == "get_now" else "Orvane.orvaneClass." + name
    def_line = RULES[name][3]
    if expected is None and name == "stopCut":
        return  # binding would succeed and the body would end every orvaneFun.exe of the user
    touched_before = len(Tripwire.touched)
    try:
        call()
    except TypeError as exc:
        where = [e for e in entries(exc.__traceback__) if e[0] == full_name]
        if expected is None:
            # A TypeError from inside the body is fine; one at the definition line is binding's.
            assert not where or where[0][1] != def_line, (
                "refused a call the rules accept: %s(%d positional, keywords %r): %s"
                % (name, positional_count, key_list, exc))
            return
        assert str(exc) == expected, "keywords %r, %d positional" % (key_list, positional_count)
        if expected != "keywords must be strings":
            # The entry of the called function, at the line of its definition, and nothing below.
            assert entries(exc.__traceback__)[-1] == (full_name, def_line)
        assert len(Tripwire.touched) == touched_before, "the body ran for a refused call"
    except (Halt, Exception) as exc:
        assert expected is None, "expected TypeError %r, got %r (keywords %r)" % (
            expected, exc, key_list)
    else:
        assert expected is None, "expected TypeError %r, the call succeeded (keywords %r)" % (
            expected, key_list)


FUZZ = settings(max_examples=100, deadline=None, database=None, derandomize=False,
                suppress_health_check=[HealthCheck.function_scoped_fixture,
                                       HealthCheck.too_slow])


@FUZZ
@given(args=positionals, pairs=keywords)
def test_get_now(tripwires, args, pairs):
    kwargs = as_dict(pairs)
    check_call("get_now", lambda: GET_NOW(*args, **kwargs), len(args), kwargs)


@pytest.mark.parametrize("name", METHODS)
@FUZZ
@given(args=positionals, pairs=keywords, self_first=st.booleans())
def test_method_through_the_class(tripwires, name, args, pairs, self_first):
    # Through the class the method is the plain function: the instance is an argument like any
    # other (or absent, or something else entirely).
    kwargs = as_dict(pairs)
    if self_first:
        args = [fresh_controller()] + list(args)
    function = getattr(orvaneClass, name)
    check_call(name, lambda: function(*args, **kwargs), len(args), kwargs)


@pytest.mark.parametrize("name", METHODS)
@FUZZ
@given(args=positionals, pairs=keywords)
def test_method_through_an_instance(tripwires, name, args, pairs):
    # Through an instance the method is bound: the instance is the first positional argument.
    kwargs = as_dict(pairs)
    bound = getattr(fresh_controller(), name)
    check_call(name, lambda: bound(*args, **kwargs), len(args) + 1, kwargs)


@FUZZ
@given(args=positionals, pairs=keywords)
def test_class_call(tripwires, args, pairs):
    # Calling the class binds __init__ with the new object in front.
    kwargs = as_dict(pairs)
    made = []
    check_call("__init__", lambda: made.append(orvaneClass(*args, **kwargs)), len(args) + 1, kwargs)
    if made:
        obj = made[0]
        assert type(obj) is orvaneClass and obj.run_code == 1
        given_comm = kwargs.get("communication", args[7] if len(args) > 7 else None)
        assert obj.communication is given_comm
