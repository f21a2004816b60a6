"""The controller class and its constructor: the settings are stored as given, in a fixed order."""
import weakref

import pytest

import Orvane
from Orvane import orvaneClass

ATTRIBUTES = ["user", "src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD", "token",
              "run_code", "urldb", "PdfExePath", "communication"]
PARAMETERS = ["src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD", "LoginToken",
              "urldb", "PdfExePath", "communication"]
METHODS_IN_ORDER = ["__init__", "run", "get_url", "checkToken", "checkToken1", "checkSpace",
                    "true_run", "stopCut"]


def settings():
    """Seven fresh setting objects, so that identity shows what was stored."""
    return ["D:\\0000代切分PDf", "D:\\0000切分后保存位置", 4, 19, "eyJ.token.sig", "./url.db",
            "D:\\orvaneFun.exe"]


class Sink:
    def mainPrint(self, text):
        pass


class TestConstructor:
    def test_seven_positional_arguments(self):
        args = settings()
        obj = orvaneClass(*args)
        assert list(vars(obj)) == ATTRIBUTES
        assert obj.user == "" and type(obj.user) is str
        for attr, value in zip(["src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD",
                                "token", "urldb", "PdfExePath"], args):
            assert getattr(obj, attr) is value
        assert obj.communication is None
        assert obj.run_code == 1 and type(obj.run_code) is int
        assert not hasattr(obj, "LoginToken")
        assert not hasattr(obj, "oldDir") and not hasattr(obj, "newDir")

    def test_communication_by_keyword_and_by_position(self):
        sink = Sink()
        assert orvaneClass(*settings(), communication=sink).communication is sink
        assert orvaneClass(*settings(), sink).communication is sink

    def test_token_is_the_object_passed(self):
        token = "eyJhbGciOiJIUzI1NiJ9.e30.x"
        obj = orvaneClass(*settings()[:4], token, "u.db", "exe")
        assert obj.token is token
        assert "LoginToken" not in vars(obj)
        by_keyword = orvaneClass(*settings()[:4], LoginToken=token, urldb="u.db", PdfExePath="exe")
        assert by_keyword.token is token

    def test_values_are_stored_unconverted(self):
        obj = orvaneClass("src", "save", "4", 0, "t", "u.db", "exe")
        assert obj.processors == "4" and type(obj.processors) is str
        assert obj.COLOR_THRESHHOLD == 0 and type(obj.COLOR_THRESHHOLD) is int
        # Nothing is checked either: any objects at all are kept as they are.
        objs = [object() for _ in range(8)]
        odd = orvaneClass(*objs)
        assert [getattr(odd, a) for a in ATTRIBUTES if a not in ("user", "run_code")] == objs
        empty = orvaneClass(None, None, None, None, None, None, None)
        assert empty.src_pdf_path is None and empty.run_code == 1

    def test_attribute_order_does_not_follow_keyword_order(self):
        values = settings() + [Sink()]
        kw = dict(zip(PARAMETERS, values))
        obj = orvaneClass(**dict(reversed(list(kw.items()))))
        assert list(vars(obj)) == ATTRIBUTES
        assert obj.token is kw["LoginToken"] and obj.communication is kw["communication"]

    def test_each_setting_is_an_ordinary_assignment_in_order(self):
        seen = []

        class Watched(orvaneClass):
            def __setattr__(self, name, value):
                seen.append(name)
                object.__setattr__(self, name, value)

        obj = Watched(*settings())
        assert seen == ATTRIBUTES
        assert isinstance(obj, orvaneClass)

    def test_a_failing_assignment_leaves_the_later_attributes_unset(self):
        class Guarded(orvaneClass):
            def __setattr__(self, name, value):
                if name == "token":
                    raise PermissionError(name)
                object.__setattr__(self, name, value)

        obj = object.__new__(Guarded)
        with pytest.raises(PermissionError):
            orvaneClass.__init__(obj, *settings())
        assert list(vars(obj)) == ATTRIBUTES[:ATTRIBUTES.index("token")]

    def test_constructing_again_resets_the_settings(self):
        obj = orvaneClass(*settings())
        obj.run_code = 0
        obj.user = "someone"
        obj.oldDir = {"x"}
        sink = Sink()
        assert obj.__init__("a", "b", "", None, "t", "db", "exe", sink) is None
        assert (obj.user, obj.run_code, obj.src_pdf_path, obj.communication) == ("", 1, "a", sink)
        # Attributes the constructor does not set are left alone.
        assert obj.oldDir == {"x"}

    def test_arguments_are_not_kept_after_the_object_goes(self):
        class Marker:
            pass

        marker = Marker()
        ref = weakref.ref(marker)
        obj = orvaneClass(marker, marker, marker, marker, marker, marker, marker, marker)
        del obj, marker
        assert ref() is None


class TestClassShape:
    def test_plain_class_made_by_type(self):
        assert type(orvaneClass) is type
        assert orvaneClass.__bases__ == (object,)
        assert orvaneClass.__mro__ == (orvaneClass, object)
        assert orvaneClass.__name__ == "orvaneClass"
        assert orvaneClass.__qualname__ == "orvaneClass"
        assert orvaneClass.__module__ == "Orvane"
        assert orvaneClass.__doc__ is None
        assert Orvane.orvaneClass is orvaneClass

    def test_namespace_matches_the_same_class_made_in_python(self):
        # `type` consumes __qualname__ and adds its own entries (__dict__, __weakref__, __doc__);
        # the same call from Python shows what must be observable.
        def method():
            pass

        ns = {"__module__": "Orvane", "__qualname__": "orvaneClass"}
        ns.update((name, method) for name in METHODS_IN_ORDER)
        peer = type("orvaneClass", (), ns)
        assert list(vars(orvaneClass)) == list(vars(peer))
        assert [n for n in vars(orvaneClass) if n in METHODS_IN_ORDER] == METHODS_IN_ORDER
        assert "__slots__" not in vars(orvaneClass)

    def test_instances_take_any_attribute(self):
        obj = orvaneClass(*settings())
        obj.anything = 1
        obj.run_code = 0
        vars(obj)["direct"] = 2
        assert obj.anything == 1 and obj.run_code == 0 and obj.direct == 2
        assert obj.__dict__ is vars(obj)
        assert weakref.ref(obj)() is obj

    def test_subclasses_inherit_the_constructor(self):
        class Front(orvaneClass):
            extra = "x"

        obj = Front(*settings())
        assert list(vars(obj)) == ATTRIBUTES
        assert obj.extra == "x"
        assert type(obj).__mro__ == (Front, orvaneClass, object)

    def test_class_attributes_can_be_replaced(self):
        # A plain class: its attributes are writable, like those of a class written in Python.
        try:
            orvaneClass.added = 5
            assert orvaneClass(*settings()).added == 5
        finally:
            del orvaneClass.added
