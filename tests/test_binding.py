"""Argument binding of the module's functions and what their function objects show to callers."""
import ctypes
import sqlite3
import sys

import pytest

import Orvane
from Orvane import orvaneClass

INIT_PARAMS = ("self", "src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD",
               "LoginToken", "urldb", "PdfExePath", "communication")
SELF_ONLY = ("run", "checkSpace", "true_run", "stopCut")
NAMED = {
    "__init__": INIT_PARAMS,
    "get_url": ("self", "urlName"),
    "checkToken": ("self", "id", "comments"),
    "checkToken1": ("self", "id", "comments"),
}
METHODS_IN_ORDER = ("__init__", "run", "get_url", "checkToken", "checkToken1", "checkSpace",
                    "true_run", "stopCut")

SEVEN = ("src", "save", 4, 19, "token", "url.db", "orvaneFun.exe")


def make():
    return orvaneClass(*SEVEN)


def type_error(call, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        call(*args, **kwargs)
    return str(info.value)


def call_with_raw_kwargs(func, args, kwargs):
    """Calls through the C API, which (unlike a Python call) lets a non-text keyword through."""
    api = ctypes.pythonapi.PyObject_Call
    api.restype = ctypes.py_object
    api.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
    return api(func, tuple(args), kwargs)


# ---------------------------------------------------------------- no arguments: get_now


class TestNoArguments:
    def test_positional_arguments(self):
        assert type_error(Orvane.get_now, 1) == "get_now() takes no arguments (1 given)"
        assert type_error(Orvane.get_now, 1, None, "x") == "get_now() takes no arguments (3 given)"

    def test_keyword_arguments(self):
        assert type_error(Orvane.get_now, x=1) == "get_now() takes no keyword arguments"
        assert type_error(Orvane.get_now, self=1) == "get_now() takes no keyword arguments"

    def test_empty_argument_collections_are_no_arguments(self):
        assert len(Orvane.get_now(*(), **{})) == 19

    def test_binds_as_a_method_when_placed_in_a_class(self):
        # The function type is a descriptor: through an instance it receives that instance.
        class Holder:
            stamp = Orvane.get_now

        bound = Holder().stamp
        assert bound.__func__ is Orvane.get_now
        assert type_error(bound) == "get_now() takes no arguments (1 given)"
        assert len(Holder.stamp()) == 19


# ---------------------------------------------------------------- the instance alone


@pytest.mark.parametrize("name", SELF_ONLY)
class TestInstanceAlone:
    def test_extra_positional_arguments(self, name):
        obj = make()
        assert type_error(getattr(obj, name), 1) == name + "() takes exactly one argument (2 given)"
        assert (type_error(getattr(orvaneClass, name), obj, 1, 2)
                == name + "() takes exactly one argument (3 given)")

    def test_no_instance_through_the_class(self, name):
        assert type_error(getattr(orvaneClass, name)) == name + "() takes exactly one argument (0 given)"

    def test_keyword_arguments(self, name):
        obj = make()
        assert type_error(getattr(obj, name), x=1) == name + "() takes no keyword arguments"
        assert (type_error(getattr(orvaneClass, name), obj, self=obj)
                == name + "() takes no keyword arguments")

    def test_wrong_call_does_not_run_the_body(self, name):
        # A body that ran would read these attributes; an object without them shows it did not.
        bare = object.__new__(orvaneClass)
        type_error(getattr(bare, name), 1)
        assert vars(bare) == {}


# ---------------------------------------------------------------- named parameters


class TestNamedCounts:
    def test_too_few_through_the_class(self):
        assert type_error(orvaneClass, 1) == "__init__() takes at least 8 positional arguments (2 given)"
        assert (type_error(orvaneClass, 1, 2, 3)
                == "__init__() takes at least 8 positional arguments (4 given)")
        assert type_error(orvaneClass) == "__init__() takes at least 8 positional arguments (1 given)"

    def test_no_instance_at_all(self):
        assert (type_error(orvaneClass.__init__)
                == "__init__() takes at least 8 positional arguments (0 given)")
        assert type_error(orvaneClass.get_url) == "get_url() takes exactly 2 positional arguments (0 given)"

    def test_too_many(self):
        assert (type_error(orvaneClass, *range(10))
                == "__init__() takes at most 9 positional arguments (11 given)")
        obj = make()
        assert (type_error(obj.get_url, "a", "b")
                == "get_url() takes exactly 2 positional arguments (3 given)")
        assert (type_error(obj.checkToken, 1, 2, 3)
                == "checkToken() takes exactly 3 positional arguments (4 given)")
        assert (type_error(obj.checkToken1, 1, 2, 3, 4)
                == "checkToken1() takes exactly 3 positional arguments (5 given)")

    def test_too_few_through_an_instance(self):
        obj = make()
        assert type_error(obj.get_url) == "get_url() takes exactly 2 positional arguments (1 given)"
        assert type_error(obj.checkToken, 1) == "checkToken() takes exactly 3 positional arguments (2 given)"
        assert type_error(obj.checkToken1) == "checkToken1() takes exactly 3 positional arguments (1 given)"

    def test_missing_parameter_counts_the_parameters_before_it(self):
        # The count in parentheses is the number of parameters preceding the first missing one,
        # whatever else was given by keyword.
        kw = dict(zip(INIT_PARAMS[1:8], SEVEN))
        for missing in range(1, 8):
            given = dict(kw)
            del given[INIT_PARAMS[missing]]
            assert (type_error(orvaneClass, **given)
                    == "__init__() takes at least 8 positional arguments (%d given)" % missing)
        obj = make()
        assert (type_error(obj.checkToken, comments="c")
                == "checkToken() takes exactly 3 positional arguments (1 given)")
        assert (type_error(obj.checkToken1, id=3)
                == "checkToken1() takes exactly 3 positional arguments (2 given)")

    def test_stated_numbers_use_the_plural(self):
        # Every stated number of these functions is at least 2, so the wording is always plural.
        for text in (type_error(orvaneClass), type_error(orvaneClass, *range(10)),
                     type_error(make().get_url)):
            assert " positional arguments (" in text
            assert " positional argument (" not in text


class TestNamedKeywords:
    def test_unexpected_keyword(self):
        assert (type_error(orvaneClass, *SEVEN, user="")
                == "__init__() got an unexpected keyword argument 'user'")
        assert (type_error(orvaneClass, *SEVEN, token="t")
                == "__init__() got an unexpected keyword argument 'token'")
        assert (type_error(make().get_url, "commit", url_name="x")
                == "get_url() got an unexpected keyword argument 'url_name'")

    def test_unexpected_non_ascii_keyword(self):
        assert (type_error(make().get_url, "commit", **{"名字": 1})
                == "get_url() got an unexpected keyword argument '名字'")

    def test_multiple_values(self):
        assert (type_error(orvaneClass, *SEVEN, urldb="other.db")
                == "__init__() got multiple values for keyword argument 'urldb'")
        assert (type_error(orvaneClass, *SEVEN[:6], urldb="other.db", PdfExePath="x")
                == "__init__() got multiple values for keyword argument 'urldb'")
        obj = make()
        # A bound method already holds the instance as its first positional argument.
        assert (type_error(obj.get_url, self=obj, urlName="commit")
                == "get_url() got multiple values for keyword argument 'self'")
        assert (type_error(obj.checkToken, 3, id=3, comments="c")
                == "checkToken() got multiple values for keyword argument 'id'")

    def test_keywords_must_be_strings(self):
        obj = make()
        # Interpreters from 3.9 on refuse a non-text keyword themselves, before the function runs,
        # with the bare text; earlier ones hand it to the function, which must name itself.
        def allowed(name):
            named = name + "() keywords must be strings"
            return {named} if sys.version_info < (3, 9) else {named, "keywords must be strings"}

        with pytest.raises(TypeError) as info:
            call_with_raw_kwargs(orvaneClass.get_url, (obj, "commit"), {1: 2})
        assert str(info.value) in allowed("get_url")
        with pytest.raises(TypeError) as info:
            call_with_raw_kwargs(orvaneClass, SEVEN, {1: 2})
        assert str(info.value) in allowed("__init__")

    def test_every_parameter_by_keyword_including_self(self, tmp_path):
        obj = object.__new__(orvaneClass)
        kw = dict(zip(INIT_PARAMS[1:], SEVEN + ("sink",)))
        assert orvaneClass.__init__(self=obj, **kw) is None
        assert obj.communication == "sink" and obj.token == "token"

        db = str(tmp_path / "url.db")
        with sqlite3.connect(db) as conn:
            conn.execute("create table urldb (url_name text, url text)")
            conn.execute("insert into urldb values ('x', 'http://127.0.0.1:1/x')")
        obj.urldb = db
        assert orvaneClass.get_url(self=obj, urlName="x") == [("x", "http://127.0.0.1:1/x")]
        assert orvaneClass.get_url(obj, urlName="x") == [("x", "http://127.0.0.1:1/x")]
        assert obj.get_url(urlName="x") == [("x", "http://127.0.0.1:1/x")]

    def test_keyword_order_does_not_matter(self):
        kw = dict(zip(INIT_PARAMS[1:], SEVEN + ("sink",)))
        obj = orvaneClass(**dict(reversed(list(kw.items()))))
        assert [getattr(obj, a) for a in ("src_pdf_path", "save_pic_path", "processors",
                                           "COLOR_THRESHHOLD", "token", "urldb", "PdfExePath",
                                           "communication")] == list(SEVEN) + ["sink"]

    def test_failed_binding_constructs_nothing(self):
        created = []

        class Watched(orvaneClass):
            def __setattr__(self, name, value):
                created.append(name)
                object.__setattr__(self, name, value)

        type_error(Watched, 1, 2, 3)
        type_error(Watched, *SEVEN, user="")
        assert created == []


# ---------------------------------------------------------------- the function objects


class TestFunctionObjects:
    def test_get_now(self):
        f = Orvane.get_now
        assert f.__name__ == "get_now"
        assert f.__qualname__ == "get_now"
        assert f.__module__ == "Orvane"
        assert f.__doc__ is None
        assert f.__defaults__ is None
        assert f.__code__.co_argcount == 0

    @pytest.mark.parametrize("name", METHODS_IN_ORDER)
    def test_methods(self, name):
        f = vars(orvaneClass)[name]
        assert f.__name__ == name
        assert f.__qualname__ == "orvaneClass." + name
        assert f.__module__ == "Orvane"
        assert f.__doc__ is None
        assert f.__defaults__ == ((None,) if name == "__init__" else None)
        params = NAMED.get(name, ("self",))
        assert f.__code__.co_varnames[: len(params)] == params
        assert f.__code__.co_argcount == len(params)
        assert type(f) is type(Orvane.get_now)

    @pytest.mark.parametrize("name", METHODS_IN_ORDER)
    def test_bound_through_an_instance_plain_through_the_class(self, name):
        obj = make()
        plain = vars(orvaneClass)[name]
        assert getattr(orvaneClass, name) is plain
        bound = getattr(obj, name)
        assert bound.__self__ is obj
        assert bound.__func__ is plain

    def test_bound_init_stores_again(self):
        obj = make()
        obj.run_code = 0
        obj.user = "someone"
        assert obj.__init__("a", "b", "c", "d", "e", "f", "g", "h") is None
        assert (obj.user, obj.src_pdf_path, obj.run_code, obj.communication) == ("", "a", 1, "h")
