"""The module front: what `import Orvane` leaves behind and how later imports behave.

Everything about the import itself (re-import, failed import, interpreter checks) runs in a fresh
child interpreter, because the module keeps process-wide state that an import in the test process
has already settled.
"""
import builtins
import json
import multiprocessing
import os
import re
import subprocess
import sys
import textwrap
import time

import pytest

import Orvane


# The names the module binds itself, in the order it binds them.
BOUND_IN_ORDER = [
    "__builtins__",
    "traceback",
    "shutil",
    "cpu_count",
    "os",
    "time",
    "sqlite3",
    "requests",
    "json",
    "random",
    "get_now",
    "orvaneClass",
    "__test__",
]
# What the module object itself and the import machinery put there.
MODULE_OBJECT_NAMES = ["__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"]

STAMP_PATTERN = "%Y_%m_%d_%H_%M_%S"

# Lines of the "init Orvane" entry: the nine imports are statements 1 to 9 in their order, so a
# failing `requests` import is reported at 7 and a missing `cpu_count` at 3; the set-up before the
# imports (where `open` is taken) is statement 1.
INIT_LINE_REQUESTS = 7
INIT_LINE_CPU_COUNT = 3
INIT_LINE_OPEN = 1


def run_child(code, tmp_path, env_extra=None):
    """Runs `code` in a fresh interpreter; its last stdout line is a JSON report."""
    env = dict(os.environ)
    env.pop("PYTHONSTARTUP", None)
    if env_extra:
        env.update(env_extra)
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        cwd=str(tmp_path),
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        universal_newlines=True,
        timeout=120,
    )
    assert proc.returncode == 0, "child failed:\n" + proc.stdout + proc.stderr
    return json.loads(proc.stdout.strip().splitlines()[-1])


# ---------------------------------------------------------------- namespace after an ordinary import


class TestNamespace:
    def test_binding_order_ends_with_empty_test_dict(self):
        names = list(vars(Orvane))
        assert names[:2] == ["__name__", "__doc__"]
        # The module's own bindings keep their order, and nothing else is bound among or after them.
        first = names.index("__builtins__")
        assert names[first:] == BOUND_IN_ORDER
        assert set(names[:first]) - {"__cached__"} == set(MODULE_OBJECT_NAMES)
        assert names[-1] == "__test__"
        assert Orvane.__test__ == {} and type(Orvane.__test__) is dict

    def test_module_object_attributes_come_from_the_spec(self):
        spec = Orvane.__spec__
        assert Orvane.__name__ == "Orvane" == spec.name
        assert Orvane.__doc__ is None
        assert Orvane.__file__ == spec.origin
        assert os.path.isfile(Orvane.__file__)
        assert Orvane.__loader__ is spec.loader
        assert Orvane.__package__ == spec.parent == ""
        assert not hasattr(Orvane, "__path__")
        assert sys.modules["Orvane"] is Orvane

    def test_bound_values(self):
        import random
        import shutil
        import sqlite3
        import traceback

        import requests

        ns = vars(Orvane)
        assert ns["__builtins__"] is builtins
        assert ns["traceback"] is traceback
        assert ns["shutil"] is shutil
        assert ns["cpu_count"] is multiprocessing.cpu_count
        assert ns["os"] is os
        assert ns["time"] is time
        assert ns["sqlite3"] is sqlite3
        assert ns["requests"] is requests
        assert ns["json"] is json
        assert ns["random"] is random
        assert callable(ns["get_now"])
        assert isinstance(ns["orvaneClass"], type)
        assert ns["orvaneClass"].__module__ == "Orvane"

    def test_ordinary_import_does_not_run_the_standalone_block(self):
        ns = vars(Orvane)
        for name in ("cutfun", "src_pdf_path", "save_pic_path", "processors", "COLOR_THRESHHOLD",
                     "LoginToken", "urldb", "PdfExePath"):
            assert name not in ns


# ---------------------------------------------------------------- get_now


class RecordingTime:
    """Stands in for the `time` module and records every attribute taken from it and every call."""

    def __init__(self, stamp="stamp", moment=1709622489.25, local="local"):
        self.log = []
        self._stamp, self._moment, self._local = stamp, moment, local

    def __getattribute__(self, name):
        if name.startswith("_") or name == "log":
            return object.__getattribute__(self, name)
        log = object.__getattribute__(self, "log")
        log.append(("get", name))

        def fake(*args, **kwargs):
            log.append(("call", name, args, kwargs))
            return {"strftime": self._stamp, "localtime": self._local, "time": self._moment}[name]

        return fake


class TestGetNow:
    def test_format_is_local_time_to_the_second(self):
        # localtime() without an argument reads the coarse clock, which can lag time.time() by a
        # tick; read the same clock get_now reads.
        before = time.strftime(STAMP_PATTERN, time.localtime(time.time()))
        stamp = Orvane.get_now()
        after = time.strftime(STAMP_PATTERN, time.localtime(time.time()))
        assert type(stamp) is str
        assert len(stamp) == 19
        assert re.fullmatch(r"\d{4}_\d\d_\d\d_\d\d_\d\d_\d\d", stamp)
        assert stamp in (before, after)

    def test_uses_the_rebound_time_in_the_documented_order(self, orvane_time):
        stamp, local = object(), object()
        fake = RecordingTime(stamp=stamp, moment=1234.5, local=local)
        orvane_time["time"] = fake
        assert Orvane.get_now() is stamp
        assert fake.log == [
            ("get", "strftime"),
            ("get", "localtime"),
            ("get", "time"),
            ("call", "time", (), {}),
            ("call", "localtime", (1234.5,), {}),
            ("call", "strftime", (STAMP_PATTERN, local), {}),
        ]

    def test_time_is_looked_up_again_for_each_attribute(self, orvane_time):
        # Taking `strftime` from the first object swaps the module's `time`; the later attributes must
        # come from the new object, because each use resolves the name afresh.
        second = RecordingTime(stamp="from-second")
        first_log = []

        class Swapping:
            def __getattr__(self, name):
                first_log.append(name)
                orvane_time["time"] = second
                return lambda *args: "from-first"

        orvane_time["time"] = Swapping()
        assert Orvane.get_now() == "from-first"
        assert first_log == ["strftime"]
        assert [e[1] for e in second.log if e[0] == "get"] == ["localtime", "time"]

    @pytest.mark.parametrize(
        "fields, expected",
        [
            ((2024, 3, 5, 7, 8, 9, 1, 65, 0), "2024_03_05_07_08_09"),
            ((2024, 12, 31, 23, 59, 59, 1, 366, 0), "2024_12_31_23_59_59"),
        ],
    )
    def test_fixed_local_time(self, orvane_time, fields, expected):
        class FixedTime:
            strftime = staticmethod(time.strftime)

            @staticmethod
            def localtime(seconds):
                return time.struct_time(fields)

            @staticmethod
            def time():
                return 0.0

        orvane_time["time"] = FixedTime
        assert Orvane.get_now() == expected

    def test_missing_time_falls_back_to_builtins_then_name_error(self, orvane_time):
        del orvane_time["time"]
        with pytest.raises(NameError) as info:
            Orvane.get_now()
        assert str(info.value) == "name 'time' is not defined"

        fake = RecordingTime(stamp="from-builtins")
        builtins.time = fake
        assert Orvane.get_now() == "from-builtins"
        assert [e[1] for e in fake.log if e[0] == "get"] == ["strftime", "localtime", "time"]

    def test_errors_from_time_propagate_unchanged(self, orvane_time):
        boom = ZeroDivisionError("no clock")

        class Broken:
            strftime = localtime = staticmethod(lambda *a: None)

            @staticmethod
            def time():
                raise boom

        orvane_time["time"] = Broken
        with pytest.raises(ZeroDivisionError) as info:
            Orvane.get_now()
        assert info.value is boom


# ---------------------------------------------------------------- imports in a fresh interpreter


class TestImport:
    def test_reimport_yields_the_same_module_and_keeps_the_namespace(self, tmp_path):
        report = run_child(
            """
            import importlib, importlib.util, json, sys
            import Orvane as first
            get_now, cls, test_dict = first.get_now, first.orvaneClass, first.__test__
            first.marker = "kept"
            first.time = "rebound"
            del sys.modules["Orvane"]
            import Orvane as second
            again = importlib.util.module_from_spec(first.__spec__)
            reloaded = importlib.reload(second)
            print(json.dumps({
                "same": second is first,
                "in_sys_modules": sys.modules["Orvane"] is first,
                "from_spec": again is first,
                "reload": reloaded is first,
                "get_now": second.get_now is get_now,
                "cls": second.orvaneClass is cls,
                "test_dict": second.__test__ is test_dict,
                "marker": getattr(second, "marker", None),
                "time": second.time,
                "names": list(vars(second)),
            }))
            """,
            tmp_path,
        )
        names = report.pop("names")
        assert report == {
            "same": True, "in_sys_modules": True, "from_spec": True, "reload": True,
            "get_now": True, "cls": True, "test_dict": True, "marker": "kept", "time": "rebound",
        }
        # The exec step did not run again: nothing was rebound after `marker`.
        assert names[-1] == "marker"

    def test_failed_import_is_retried_from_the_start(self, tmp_path):
        report = run_child(
            """
            import gc, json, sys, traceback
            sys.modules["requests"] = None   # makes `import requests` fail
            failure = {}
            try:
                import Orvane
            except ImportError as exc:
                entries = []
                tb = exc.__traceback__
                while tb is not None:
                    code = tb.tb_frame.f_code
                    entries.append([code.co_name, code.co_filename, tb.tb_lineno])
                    if code.co_name == "init Orvane":
                        failed_ns = tb.tb_frame.f_globals
                    tb = tb.tb_next
                failure = {
                    "type": type(exc).__name__,
                    "text": str(exc),
                    "entries": entries,
                    "failed_names": list(failed_ns),
                    "failed_file": failed_ns.get("__file__"),
                }
            failure["in_sys_modules"] = "Orvane" in sys.modules
            del sys.modules["requests"]
            import Orvane
            print(json.dumps({
                "failure": failure,
                "fresh": vars(Orvane) is not failed_ns,
                "names": list(vars(Orvane)),
                "file": Orvane.__file__,
                "test": Orvane.__test__,
                "requests": Orvane.requests.__name__,
            }))
            """,
            tmp_path,
        )
        failure = report["failure"]
        assert failure["type"] in ("ImportError", "ModuleNotFoundError")
        assert "requests" in failure["text"]
        assert not failure["in_sys_modules"]
        init = [e for e in failure["entries"] if e[0] == "init Orvane"]
        assert init == [["init Orvane", "Orvane", INIT_LINE_REQUESTS]]
        # The entry's globals are the namespace being built: everything up to the failing import.
        failed = failure["failed_names"]
        first = failed.index("__builtins__")
        assert failed[first:] == BOUND_IN_ORDER[: BOUND_IN_ORDER.index("requests")]
        assert failure["failed_file"] == report["file"]

        assert report["fresh"]
        names = report["names"]
        assert names[names.index("__builtins__"):] == BOUND_IN_ORDER
        assert report["test"] == {} and report["requests"] == "requests"

    def test_missing_cpu_count_fails_the_import(self, tmp_path):
        report = run_child(
            """
            import json, sys, multiprocessing
            saved = multiprocessing.cpu_count
            del multiprocessing.cpu_count
            try:
                import Orvane
            except ImportError as exc:
                tb, names = exc.__traceback__, []
                while tb is not None:
                    names.append([tb.tb_frame.f_code.co_name, tb.tb_lineno])
                    tb = tb.tb_next
                result = {"type": type(exc).__name__, "text": str(exc), "names": names}
            multiprocessing.cpu_count = saved
            import Orvane
            result["after"] = Orvane.cpu_count is saved
            print(json.dumps(result))
            """,
            tmp_path,
        )
        assert report["type"] == "ImportError"
        assert report["text"] == "cannot import name cpu_count"  # %S: the name's text, unquoted
        assert ["init Orvane", INIT_LINE_CPU_COUNT] in report["names"]
        assert report["after"]

    def test_missing_open_fails_the_import(self, tmp_path):
        report = run_child(
            """
            import builtins, json, sys
            import requests   # imported beforehand: nothing else should need `open` by name
            saved = builtins.open
            del builtins.open
            try:
                import Orvane
            except NameError as exc:
                tb, names = exc.__traceback__, []
                while tb is not None:
                    names.append([tb.tb_frame.f_code.co_name, tb.tb_lineno])
                    tb = tb.tb_next
                result = {"text": str(exc), "names": names}
            finally:
                builtins.open = saved
            import Orvane
            result["after"] = list(vars(Orvane))[-1]
            print(json.dumps(result))
            """,
            tmp_path,
        )
        assert report["text"] == "name 'open' is not defined"
        assert ["init Orvane", INIT_LINE_OPEN] in report["names"]
        assert report["after"] == "__test__"

    def test_no_version_warning_for_the_interpreter_it_was_built_for(self, tmp_path):
        report = run_child(
            """
            import json, warnings
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                import Orvane
            print(json.dumps([str(w.message) for w in caught
                              if issubclass(w.category, RuntimeWarning)]))
            """,
            tmp_path,
        )
        assert not [m for m in report if "compiletime version" in m]

    def test_a_second_interpreter_is_refused(self, tmp_path):
        try:
            import _xxsubinterpreters  # noqa: F401
        except ImportError:
            pytest.skip("this interpreter offers no sub-interpreters from Python")
        report = run_child(
            """
            import json, sys
            import _xxsubinterpreters as interpreters

            def import_in_new_interpreter():
                sub = interpreters.create()
                try:
                    interpreters.run_string(sub, "import Orvane")
                    return "imported"
                except Exception as exc:
                    return str(exc)
                finally:
                    interpreters.destroy(sub)

            # A failed first import still records this interpreter as the module's own.
            sys.modules["requests"] = None
            try:
                import Orvane
            except ImportError:
                pass
            del sys.modules["requests"]
            before = import_in_new_interpreter()
            import Orvane
            after = import_in_new_interpreter()
            print(json.dumps([before, after, Orvane.__test__]))
            """,
            tmp_path,
        )
        before, after, test_dict = report
        for text in (before, after):
            assert "ImportError" in text
            assert ("Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.") in text
        assert test_dict == {}
