"""get_url: endpoint lookup in the SQLite URL database.

The name is bound as an SQL parameter (its str form), never pasted into the statement, so a
name holding a quote cannot change what is selected. The database is only read, and its
connection is gone by the time the method returns, on success and on failure alike, although the
method never closes it: a rebound `sqlite3` whose connections have no `close` works the same.
"""
import os
import sqlite3

import pytest

from fixtures.token_service import make_url_db, open_handles, url_db

ROWS = [
    ("commit", "http://127.0.0.1:1/first"),
    ("other", "http://127.0.0.1:1/other"),
    ("commit", "http://127.0.0.1:1/second"),
]


def _db(tmp_path, rows=ROWS, columns="url_name TEXT, url TEXT", name="url.db", table="urldb"):
    return make_url_db(tmp_path / name, rows, columns=columns, table=table)


class TestRowsSelected:
    def test_no_commit_row_gives_empty_list(self, make_ctrl, tmp_path):
        db = _db(tmp_path, rows=[("other", "http://127.0.0.1:1/other"), ("Commit", "x"), ("commit ", "y")])
        ctrl = make_ctrl(urldb=db)
        assert ctrl.get_url("commit") == []

    def test_empty_table_gives_empty_list(self, make_ctrl, tmp_path):
        ctrl = make_ctrl(urldb=_db(tmp_path, rows=[]))
        assert ctrl.get_url("commit") == []

    def test_every_matching_row_in_table_order(self, make_ctrl, tmp_path):
        ctrl = make_ctrl(urldb=_db(tmp_path))
        got = ctrl.get_url("commit")
        assert type(got) is list
        assert got == [("commit", "http://127.0.0.1:1/first"), ("commit", "http://127.0.0.1:1/second")]
        assert all(type(row) is tuple for row in got)
        assert ctrl.get_url(urlName="other") == [("other", "http://127.0.0.1:1/other")]

    def test_all_columns_are_returned(self, make_ctrl, tmp_path):
        db = _db(tmp_path, rows=[("commit", "http://h/c", 7, None)],
                 columns="url_name TEXT, address TEXT, weight INTEGER, note TEXT")
        assert make_ctrl(urldb=db).get_url("commit") == [("commit", "http://h/c", 7, None)]

    def test_database_is_only_read(self, make_ctrl, tmp_path):
        db = _db(tmp_path)
        before = open(db, "rb").read()
        ctrl = make_ctrl(urldb=db)
        for _ in range(3):
            ctrl.get_url("commit")
        assert open(db, "rb").read() == before
        assert not os.path.exists(db + "-journal")
        assert not os.path.exists(db + "-wal")

    def test_relative_path_follows_the_working_directory(self, make_ctrl, tmp_path, monkeypatch):
        (tmp_path / "a").mkdir()
        (tmp_path / "b").mkdir()
        url_db(tmp_path / "a", "http://127.0.0.1:1/a")
        url_db(tmp_path / "b", "http://127.0.0.1:1/b")
        ctrl = make_ctrl(urldb="./url.db")
        monkeypatch.chdir(tmp_path / "a")
        assert ctrl.get_url("commit") == [("commit", "http://127.0.0.1:1/a")]
        monkeypatch.chdir(tmp_path / "b")
        assert ctrl.get_url("commit") == [("commit", "http://127.0.0.1:1/b")]

    def test_urldb_attribute_is_read_at_each_call(self, make_ctrl, tmp_path):
        first = url_db(tmp_path, "http://127.0.0.1:1/a", filename="a.db")
        second = url_db(tmp_path, "http://127.0.0.1:1/b", filename="b.db")
        ctrl = make_ctrl(urldb=first)
        assert ctrl.get_url("commit") == [("commit", "http://127.0.0.1:1/a")]
        ctrl.urldb = second
        assert ctrl.get_url("commit") == [("commit", "http://127.0.0.1:1/b")]


class TestNameIsBoundNotFormatted:
    @pytest.mark.parametrize("name", [
        "x' or '1'='1",
        "' or 1=1 --",
        "commit' or url_name <> '",
        "commit'--",
    ])
    def test_quote_cannot_widen_the_selection(self, make_ctrl, tmp_path, name):
        ctrl = make_ctrl(urldb=_db(tmp_path))
        assert ctrl.get_url(name) == []

    def test_quote_cannot_run_a_second_statement(self, make_ctrl, tmp_path):
        db = _db(tmp_path)
        ctrl = make_ctrl(urldb=db)
        try:
            ctrl.get_url("x'; drop table urldb; --")
        except sqlite3.Error:
            pass
        assert len(make_ctrl(urldb=db).get_url("commit")) == 2

    def test_name_holding_a_quote_finds_its_own_row(self, make_ctrl, tmp_path):
        db = _db(tmp_path, rows=[("o'neil", "http://h/quote"), ("o", "http://h/o")])
        assert make_ctrl(urldb=db).get_url("o'neil") == [("o'neil", "http://h/quote")]

    def test_integer_name_looks_up_its_text(self, make_ctrl, tmp_path):
        # Columns without a declared type keep the integer 3 and the text '3' apart,
        # so only the text form of the name can match.
        db = _db(tmp_path, rows=[("3", "http://h/text"), (3, "http://h/int")], columns="url_name, url")
        assert make_ctrl(urldb=db).get_url(3) == [("3", "http://h/text")]

    def test_integer_name_in_a_text_column(self, make_ctrl, tmp_path):
        db = _db(tmp_path, rows=[("3", "http://h/three"), ("33", "http://h/33")])
        assert make_ctrl(urldb=db).get_url(3) == [("3", "http://h/three")]

    @pytest.mark.parametrize("name,text", [(True, "True"), (None, "None"), (2.5, "2.5")])
    def test_other_names_use_their_str_form(self, make_ctrl, tmp_path, name, text):
        db = _db(tmp_path, rows=[(text, "http://h/str"), (1, "http://h/one")], columns="url_name, url")
        assert make_ctrl(urldb=db).get_url(name) == [(text, "http://h/str")]

    def test_object_name_uses_its_str(self, make_ctrl, tmp_path):
        class Named(object):
            def __str__(self):
                return "commit"

        db = _db(tmp_path)
        assert len(make_ctrl(urldb=db).get_url(Named())) == 2

    def test_statement_and_parameter(self, make_ctrl, tmp_path, rebind):
        calls = []

        class Cursor(object):
            def __init__(self, real):
                self.real = real

            def execute(self, *args, **kwargs):
                calls.append(("execute", args, kwargs))
                return self.real.execute(*args, **kwargs)

            def fetchall(self, *args):
                calls.append(("fetchall", args, {}))
                return self.real.fetchall(*args)

            def __getattr__(self, name):
                return getattr(self.real, name)

        class Conn(object):
            def __init__(self, real):
                self.real = real

            def cursor(self, *args, **kwargs):
                calls.append(("cursor", args, kwargs))
                return Cursor(self.real.cursor())

            def commit(self):
                calls.append(("commit", (), {}))

            def close(self):
                calls.append(("close", (), {}))

            def __getattr__(self, name):
                return getattr(self.real, name)

        class Sqlite(object):
            def connect(self, *args, **kwargs):
                calls.append(("connect", args, kwargs))
                return Conn(sqlite3.connect(*args, **kwargs))

            def __getattr__(self, name):
                return getattr(sqlite3, name)

        db = _db(tmp_path)
        rebind("sqlite3", Sqlite())
        assert len(make_ctrl(urldb=db).get_url(3)) == 0
        assert calls[0] == ("connect", (db,), {})
        assert calls[1] == ("cursor", (), {})
        kind, args, kwargs = calls[2]
        assert kind == "execute" and kwargs == {}
        assert args[0] == "select * from urldb where url_name = ?"
        assert list(args[1]) == ["3"]
        assert calls[3] == ("fetchall", (), {})
        # A rebound connection is only let go: one the front end shares stays open.
        assert [c[0] for c in calls[4:]] == []


class TestFailures:
    def test_missing_file_is_created_empty_then_fails(self, make_ctrl, tmp_path):
        db = str(tmp_path / "nowhere.db")
        with pytest.raises(sqlite3.OperationalError) as info:
            make_ctrl(urldb=db).get_url("commit")
        assert "no such table: urldb" in str(info.value)
        assert os.path.isfile(db)
        assert os.path.getsize(db) == 0

    def test_no_urldb_table(self, make_ctrl, tmp_path):
        db = _db(tmp_path, table=None)
        with pytest.raises(sqlite3.OperationalError) as info:
            make_ctrl(urldb=db).get_url("commit")
        assert str(info.value) == "no such table: urldb"

    def test_table_without_url_name_column(self, make_ctrl, tmp_path):
        db = _db(tmp_path, rows=[("commit", "x")], columns="name TEXT, url TEXT")
        with pytest.raises(sqlite3.OperationalError) as info:
            make_ctrl(urldb=db).get_url("commit")
        assert "url_name" in str(info.value)

    def test_not_a_database(self, make_ctrl, tmp_path):
        path = tmp_path / "url.db"
        path.write_bytes(b"this is not an SQLite file, just text that is long enough" * 40)
        with pytest.raises(sqlite3.DatabaseError):
            make_ctrl(urldb=str(path)).get_url("commit")

    def test_folder_instead_of_file(self, make_ctrl, tmp_path):
        with pytest.raises(sqlite3.OperationalError):
            make_ctrl(urldb=str(tmp_path)).get_url("commit")

    def test_error_carries_the_method_entry(self, make_ctrl, tmp_path, orvane):
        with pytest.raises(sqlite3.OperationalError) as info:
            make_ctrl(urldb=_db(tmp_path, table=None)).get_url("commit")
        names = []
        tb = info.value.__traceback__
        while tb is not None:
            names.append(tb.tb_frame.f_code.co_name)
            if tb.tb_frame.f_code.co_name == "Orvane.orvaneClass.get_url":
                assert tb.tb_frame.f_globals is vars(orvane)
            tb = tb.tb_next
        assert "Orvane.orvaneClass.get_url" in names

    @pytest.mark.parametrize("args,kwargs,text", [
        ((), {}, "get_url() takes exactly 2 positional arguments (1 given)"),
        (("a", "b"), {}, "get_url() takes exactly 2 positional arguments (3 given)"),
        (("a",), {"urlName": "b"}, "get_url() got multiple values for keyword argument 'urlName'"),
    ])
    def test_wrong_calls(self, make_ctrl, tmp_path, args, kwargs, text):
        db = _db(tmp_path)
        before = open(db, "rb").read()
        with pytest.raises(TypeError) as info:
            make_ctrl(urldb=db).get_url(*args, **kwargs)
        assert str(info.value) == text
        assert open(db, "rb").read() == before


class _ConnectionWithoutClose(object):
    """A connection as a front end may rebind it: a cursor and no `close` to call. It lets its
    database go when it is dropped, so an open file afterwards means the module kept it."""

    def __init__(self, real):
        self._real = real

    def cursor(self):
        return self._real.cursor()

    def __del__(self):
        sqlite3.Connection.close(self._real)


class _SqliteWithoutClose(object):
    def connect(self, path):
        return _ConnectionWithoutClose(sqlite3.connect(path))

    def __getattr__(self, name):
        return getattr(sqlite3, name)


@pytest.fixture(params=["sqlite3", "connection without close"])
def connecting(request, rebind):
    """The module's own sqlite3, then a rebound one whose connections cannot be closed by a call."""
    if request.param != "sqlite3":
        rebind("sqlite3", _SqliteWithoutClose())
    return request.param


DATABASES = {
    "rows": lambda tmp_path: _db(tmp_path),
    "no table": lambda tmp_path: _db(tmp_path, table=None),
    "missing file": lambda tmp_path: str(tmp_path / "created.db"),
    "no url_name": lambda tmp_path: _db(tmp_path, columns="name TEXT, url TEXT"),
}


@pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc to see open files")
class TestConnectionReleased:
    def test_after_success(self, make_ctrl, tmp_path, connecting):
        db = DATABASES["rows"](tmp_path)
        ctrl = make_ctrl(urldb=db)
        rows = ctrl.get_url("commit")
        assert rows == [("commit", "http://127.0.0.1:1/first"), ("commit", "http://127.0.0.1:1/second")]
        assert open_handles(db) == 0
        # Another writer can take the database at once.
        conn = sqlite3.connect(db, timeout=0)
        try:
            conn.execute("begin exclusive")
            conn.execute("delete from urldb")
            conn.commit()
        finally:
            conn.close()
        assert ctrl.get_url("commit") == []
        os.remove(db)
        assert not os.path.exists(db)

    def test_after_no_match(self, make_ctrl, tmp_path, connecting):
        db = DATABASES["rows"](tmp_path)
        assert make_ctrl(urldb=db).get_url("absent") == []
        assert open_handles(db) == 0

    @pytest.mark.parametrize("kind", ["no table", "missing file", "no url_name"])
    def test_after_failure_while_the_error_is_alive(self, make_ctrl, tmp_path, connecting, kind):
        db = DATABASES[kind](tmp_path)
        with pytest.raises(sqlite3.OperationalError) as info:
            make_ctrl(urldb=db).get_url("commit")
        # The exception (and its traceback) is still referenced here: the database's own error,
        # never one about a missing close.
        assert "no such" in str(info.value)
        assert open_handles(db) == 0
        os.remove(db)

    def test_many_calls_leave_no_handles(self, make_ctrl, tmp_path):
        db = _db(tmp_path)
        bad = _db(tmp_path, name="bad.db", table=None)
        ctrl = make_ctrl(urldb=db)
        for _ in range(200):
            ctrl.get_url("commit")
        ctrl.urldb = bad
        for _ in range(200):
            with pytest.raises(sqlite3.OperationalError):
                ctrl.get_url("commit")
        assert open_handles(db) == 0
        assert open_handles(bad) == 0
