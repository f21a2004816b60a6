"""checkToken / checkToken1: announcing the start and the end of a job to the web service.

Driven against a real HTTP service on 127.0.0.1 with real URL databases. Retry pauses go through
a rebound ``time``/``random`` (see the ``pauses`` fixture), so nothing here really sleeps.
"""
import json
import os
import sqlite3

import pytest
import requests

from fixtures.token_service import (
    ALWAYS, CUT, STALL, TOKEN, START_COMMENT, END_COMMENT, RecordingRequests, Sink, SinkError,
    make_url_db, url_db,
)

METHODS = ["checkToken", "checkToken1"]

# The JSON texts of the two bodies for the callers' arguments (3, "获取隔页"), byte for byte.
START_BODY = (b'{"id": 3, "comments": "\\u3010\\u5f00\\u59cb\\u6267\\u884c\\uff1a\\u3011  '
              b'\\u83b7\\u53d6\\u9694\\u9875", "pid": 0}')
END_BODY = (b'{"id": 3, "comments": "\\u3010\\u6267\\u884c\\u5b8c\\u6210\\uff1a\\u3011 '
            b'\\u83b7\\u53d6\\u9694\\u9875", "pid": 0}')
BODY = {"checkToken": START_BODY, "checkToken1": END_BODY}
PREFIX = {"checkToken": "【开始执行：】  ", "checkToken1": "【执行完成：】 "}

FAILED = "请求网页失败"
EXPIRED = "登录信息的Token过期"
UPDATED = "更新成功"
NO_DB = "保存URl表不存在"


def check(ctrl, method, *args):
    if not args:
        args = (3, "获取隔页")
    return getattr(ctrl, method)(*args)


def tb_names(exc):
    names = []
    tb = exc.__traceback__
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return names


def test_expected_bodies_are_the_json_of_the_templates():
    # Guards the literals above against typos: they are what json.dumps makes of the bodies.
    assert json.dumps({"id": 3, "comments": START_COMMENT, "pid": 0}).encode() == START_BODY
    assert json.dumps({"id": 3, "comments": END_COMMENT, "pid": 0}).encode() == END_BODY


@pytest.mark.parametrize("method", METHODS)
class TestRequest:
    def test_one_post_with_token_header_and_exact_body(self, method, make_ctrl, token_server, commit_db,
                                                        pauses):
        ctrl = make_ctrl(urldb=commit_db)
        check(ctrl, method)
        assert len(token_server.requests) == 1
        req = token_server.requests[0]
        assert req.method == "POST"
        assert req.path == "/api/commit"
        assert req.header_values("token") == [TOKEN]
        assert req.body == BODY[method]
        sent = json.loads(req.body.decode("ascii"), object_pairs_hook=list)
        assert [key for key, _ in sent] == ["id", "comments", "pid"]
        assert type(dict(sent)["id"]) is int and type(dict(sent)["pid"]) is int

    def test_arguments_are_sent_as_given(self, method, make_ctrl, token_server, commit_db, pauses):
        ctrl = make_ctrl(urldb=commit_db)
        check(ctrl, method, "3", 5)
        check(ctrl, method, 7.5, None)
        getattr(ctrl, method)(comments="by keyword", id=[1, 2])
        bodies = [json.loads(r.body.decode("ascii"), object_pairs_hook=lambda pairs: [list(p) for p in pairs])
                  for r in token_server.requests]
        assert bodies == [
            [["id", "3"], ["comments", PREFIX[method] + "5"], ["pid", 0]],
            [["id", 7.5], ["comments", PREFIX[method] + "None"], ["pid", 0]],
            [["id", [1, 2]], ["comments", PREFIX[method] + "by keyword"], ["pid", 0]],
        ]

    def test_settings_are_read_at_each_call(self, method, make_ctrl, token_server, tmp_path, pauses):
        other = url_db(tmp_path, token_server.url + "/elsewhere", filename="other.db")
        ctrl = make_ctrl(urldb=url_db(tmp_path, token_server.commit_url))
        check(ctrl, method)
        ctrl.token = "second-token"
        ctrl.urldb = other
        check(ctrl, method)
        assert [r.header("token") for r in token_server.requests] == [TOKEN, "second-token"]
        assert [r.path for r in token_server.requests] == ["/api/commit", "/elsewhere"]
        assert ctrl.communication.reports[0] == TOKEN
        assert "second-token" in ctrl.communication.reports

    def test_header_and_token_report_order(self, method, make_ctrl, token_server, commit_db, pauses):
        # checkToken reports the token before it builds the header, checkToken1 after: a sink
        # that changes the token on that report shows which value went into the header.
        ctrl = make_ctrl(urldb=commit_db)
        sink = ctrl.communication
        sink.on_report = lambda value: setattr(ctrl, "token", "changed-by-sink") if value == TOKEN else None
        check(ctrl, method)
        assert sink.reports[0] == TOKEN
        expected = "changed-by-sink" if method == "checkToken" else TOKEN
        assert [r.header("token") for r in token_server.requests] == [expected]

    def test_keywords_of_the_post_call(self, method, make_ctrl, token_server, commit_db, rebind, pauses):
        # url, data, headers and a bounded wait: a stalled service must not hold the job thread.
        fake = rebind("requests", RecordingRequests(forward=True))
        token_server.script([500, 500, 500, 500])
        ctrl = make_ctrl(urldb=commit_db)
        check(ctrl, method)
        assert len(fake.calls) == 4 == len(token_server.requests)
        for args, items in fake.calls:
            assert args == ()
            assert [name for name, _ in items] == ["url", "data", "headers", "timeout"]
            values = dict(items)
            assert values["url"] == token_server.commit_url
            assert values["data"] == BODY[method].decode("ascii")
            assert values["headers"] == {"token": TOKEN}
            assert values["timeout"] == (5, 30)

    def test_fresh_json_text_for_every_request(self, method, make_ctrl, token_server, commit_db, rebind,
                                                pauses):
        dumps_calls = []

        class Json(object):
            def dumps(self, *args, **kwargs):
                dumps_calls.append((args, kwargs))
                return json.dumps(*args, **kwargs)

            def __getattr__(self, name):
                return getattr(json, name)

        rebind("json", Json())
        token_server.script([500, 500, 200])
        check(make_ctrl(urldb=commit_db), method)
        assert len(token_server.requests) == 3
        assert len(dumps_calls) == 3
        for args, kwargs in dumps_calls:
            assert kwargs == {}
            assert args == ({"id": 3, "comments": PREFIX[method] + "获取隔页", "pid": 0},)
            assert list(args[0]) == ["id", "comments", "pid"]
        assert {r.body for r in token_server.requests} == {BODY[method]}

    @pytest.mark.parametrize("args,kwargs,given", [
        ((3,), {}, 2),
        ((), {"id": 3}, 2),
        ((), {"comments": "x"}, 1),
        ((3, "x", "y"), {}, 4),
    ])
    def test_wrong_calls(self, method, make_ctrl, token_server, commit_db, args, kwargs, given):
        ctrl = make_ctrl(urldb=commit_db)
        with pytest.raises(TypeError) as info:
            getattr(ctrl, method)(*args, **kwargs)
        assert str(info.value) == "%s() takes exactly 3 positional arguments (%d given)" % (method, given)
        assert ctrl.communication.reports == []
        assert token_server.requests == []
        assert ctrl.run_code == 1


# Rows of the outcome table: the statuses the service answers, how many requests and pauses one
# call makes, the reports after the token (checkToken; checkToken1 drops the first reply's text),
# and what becomes of run_code. "FIRST" stands for the first reply's text.
FIRST = object()
OUTCOMES = {
    "accepted at once": ([200], 1, [FIRST, UPDATED], 1),
    "accepted on the first retry": ([500, 200], 2, [FIRST], 1),
    "accepted on the second retry": ([500, 500, 200], 3, [FIRST], 1),
    "accepted on the last retry": ([500, 500, 500, 200], 4, [FIRST], 1),
    "all four refused": ([500, 500, 500, 500], 4, [FIRST, EXPIRED], 0),
    "refused beyond four": ([503] * 9, 4, [FIRST, EXPIRED], 0),
    "201 is a refusal": ([201, 201, 201, 201], 4, [FIRST, EXPIRED], 0),
    "204 is a refusal": ([204, 204, 204, 204], 4, [FIRST, EXPIRED], 0),
    "204 then accepted": ([204, 200], 2, [FIRST], 1),
    "mixed refusals": ([401, 403, 404, 201], 4, [FIRST, EXPIRED], 0),
}


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("row", sorted(OUTCOMES))
def test_outcome_table(method, row, make_ctrl, token_server, commit_db, pauses):
    statuses, n_requests, tail, run_code = OUTCOMES[row]
    texts = ["" if s == 204 else "回复 %d: status %d" % (i, s) for i, s in enumerate(statuses)]
    token_server.script(list(zip(statuses, texts)))
    events = []
    token_server.on_request = lambda rec: events.append("request")
    pauses.on_sleep = lambda seconds: events.append("sleep")

    ctrl = make_ctrl(urldb=commit_db)
    result = check(ctrl, method)

    expected = [TOKEN] + [texts[0] if item is FIRST else item for item in tail
                          if not (item is FIRST and method == "checkToken1")]
    assert ctrl.communication.reports == expected
    assert result is None
    assert ctrl.run_code == run_code
    assert len(token_server.requests) == n_requests
    n_pauses = n_requests - 1
    assert pauses.draws == [(0.5, 1)] * n_pauses
    assert pauses.sleeps == pauses.returned
    assert events == ["request"] + ["sleep", "request"] * n_pauses
    assert {r.body for r in token_server.requests} == {BODY[method]}
    assert {r.header("token") for r in token_server.requests} == {TOKEN}


@pytest.mark.parametrize("method", METHODS)
class TestStateAndEarlyEnds:
    def test_first_reply_text_is_reported_unchanged(self, method, make_ctrl, token_server, commit_db,
                                                     pauses):
        token_server.reply_text = '{"code": 200, "msg": "令牌有效 ✓", "data": null}'
        ctrl = make_ctrl(urldb=commit_db)
        check(ctrl, method)
        if method == "checkToken":
            assert ctrl.communication.reports == [TOKEN, token_server.reply_text, UPDATED]
        else:
            assert ctrl.communication.reports == [TOKEN, UPDATED]

    def test_run_code_is_never_set_back(self, method, make_ctrl, token_server, commit_db, pauses):
        ctrl = make_ctrl(urldb=commit_db)
        ctrl.run_code = 0
        check(ctrl, method)
        assert ctrl.run_code == 0
        assert ctrl.communication.reports[-1] == UPDATED

    def test_two_refused_calls_report_expiry_once_each(self, method, make_ctrl, token_server, commit_db,
                                                        pauses):
        token_server.script([500] * 8)
        ctrl = make_ctrl(urldb=commit_db)
        check(ctrl, method)
        check(ctrl, method)
        assert ctrl.communication.reports.count(EXPIRED) == 2
        assert len(token_server.requests) == 8
        assert len(pauses.sleeps) == 6

    def test_missing_database_file(self, method, make_ctrl, token_server, tmp_path, pauses):
        db = str(tmp_path / "absent" / "url.db")
        ctrl = make_ctrl(urldb=db)
        result = check(ctrl, method)
        assert result is False
        assert ctrl.run_code == 0
        assert ctrl.communication.reports == [NO_DB]
        assert token_server.requests == []
        assert pauses.sleeps == []
        assert not os.path.exists(db)

    @pytest.mark.parametrize("rows", [[], [("Commit", "x"), ("commits", "y")]])
    def test_no_commit_row(self, method, make_ctrl, token_server, tmp_path, pauses, rows):
        ctrl = make_ctrl(urldb=make_url_db(tmp_path / "url.db", rows))
        result = check(ctrl, method)
        assert result is None
        assert ctrl.run_code == 1
        assert ctrl.communication.reports == [TOKEN]
        assert token_server.requests == []

    def test_first_commit_row_wins(self, method, make_ctrl, token_server, tmp_path, pauses):
        db = make_url_db(tmp_path / "url.db", [("other", token_server.url + "/other"),
                                               ("commit", token_server.url + "/one"),
                                               ("commit", token_server.url + "/two")])
        check(make_ctrl(urldb=db), method)
        assert [r.path for r in token_server.requests] == ["/one"]

    def test_extra_columns_are_ignored(self, method, make_ctrl, token_server, tmp_path, pauses):
        db = make_url_db(tmp_path / "url.db", [("commit", token_server.commit_url, "note", 9)],
                         columns="url_name TEXT, url TEXT, note TEXT, n INTEGER")
        ctrl = make_ctrl(urldb=db)
        check(ctrl, method)
        assert len(token_server.requests) == 1
        assert ctrl.communication.reports[-1] == UPDATED


def _assert_failed(ctrl, method, before, exc_type, text=None):
    """Reports: ``before``, then the failure message, then the exception (or its text)."""
    reports = ctrl.communication.reports
    assert reports[:-2] == before
    assert reports[-2] == FAILED
    last = reports[-1]
    if method == "checkToken":
        assert isinstance(last, exc_type), repr(last)
        if text is not None:
            assert text in str(last)
    else:
        assert type(last) is str, repr(last)
        if text is not None:
            assert text in last
    assert ctrl.run_code == 0
    return last


@pytest.mark.parametrize("method", METHODS)
class TestCaughtFailures:
    def test_closed_port(self, method, make_ctrl, tmp_path, closed_port_url, pauses):
        ctrl = make_ctrl(urldb=url_db(tmp_path, closed_port_url))
        assert check(ctrl, method) is None
        port = closed_port_url.split(":")[2].split("/")[0]
        _assert_failed(ctrl, method, [TOKEN], requests.exceptions.ConnectionError, text=port)
        assert pauses.sleeps == []  # a failed request is not retried

    def test_reply_cut_short_on_the_first_request(self, method, make_ctrl, token_server, commit_db, pauses):
        token_server.script([CUT])
        ctrl = make_ctrl(urldb=commit_db)
        assert check(ctrl, method) is None
        _assert_failed(ctrl, method, [TOKEN], requests.exceptions.RequestException)
        assert len(token_server.requests) == 1
        assert pauses.sleeps == []

    def test_connection_error_on_a_retry(self, method, make_ctrl, token_server, commit_db, pauses):
        token_server.script([(500, "busy"), CUT])
        ctrl = make_ctrl(urldb=commit_db)
        assert check(ctrl, method) is None
        before = [TOKEN, "busy"] if method == "checkToken" else [TOKEN]
        _assert_failed(ctrl, method, before, requests.exceptions.RequestException)
        assert len(token_server.requests) == 2
        assert len(pauses.sleeps) == 1

    def test_stalled_service_times_out_as_a_failure(self, method, make_ctrl, token_server, commit_db,
                                                    rebind, pauses):
        # The module's own read limit is 30 s; this stand-in shortens it so the test stays quick.
        rebind("requests", RecordingRequests(forward=True, timeout_override=(5, 0.3)))
        token_server.script([STALL])
        ctrl = make_ctrl(urldb=commit_db)
        try:
            assert check(ctrl, method) is None
        finally:
            token_server.release()
        _assert_failed(ctrl, method, [TOKEN], requests.exceptions.Timeout, text="timed out")
        assert pauses.sleeps == []

    def test_one_column_table(self, method, make_ctrl, token_server, tmp_path, pauses):
        db = make_url_db(tmp_path / "url.db", [("commit",)], columns="url_name TEXT")
        ctrl = make_ctrl(urldb=db)
        assert check(ctrl, method) is None
        _assert_failed(ctrl, method, [TOKEN], IndexError, text="tuple index out of range")
        assert token_server.requests == []

    def test_no_urldb_table(self, method, make_ctrl, token_server, tmp_path, pauses):
        db = make_url_db(tmp_path / "url.db", None, table=None)
        ctrl = make_ctrl(urldb=db)
        assert check(ctrl, method) is None
        last = _assert_failed(ctrl, method, [TOKEN], sqlite3.OperationalError)
        assert str(last) == "no such table: urldb"
        assert token_server.requests == []

    def test_database_path_is_a_folder(self, method, make_ctrl, token_server, tmp_path, pauses):
        ctrl = make_ctrl(urldb=str(tmp_path))
        assert check(ctrl, method) is None
        _assert_failed(ctrl, method, [TOKEN], sqlite3.Error)
        assert token_server.requests == []

    def test_null_url(self, method, make_ctrl, token_server, tmp_path, pauses):
        db = make_url_db(tmp_path / "url.db", [("commit", None)])
        ctrl = make_ctrl(urldb=db)
        assert check(ctrl, method) is None
        _assert_failed(ctrl, method, [TOKEN], requests.exceptions.RequestException)

    def test_any_exception_from_requests(self, method, make_ctrl, commit_db, rebind, pauses):
        boom = ValueError("boom from requests")
        rebind("requests", RecordingRequests(raise_on_post=boom))
        ctrl = make_ctrl(urldb=commit_db)
        assert check(ctrl, method) is None
        last = _assert_failed(ctrl, method, [TOKEN], ValueError)
        if method == "checkToken":
            assert last is boom
        else:
            assert last == "boom from requests"

    def test_sink_failing_on_the_token_report(self, method, make_ctrl, token_server, commit_db, pauses):
        sink = Sink(fail_on=(0,))
        ctrl = make_ctrl(urldb=commit_db, communication=sink)
        assert check(ctrl, method) is None
        assert [c[0] for c in sink.calls[:2]] == [TOKEN, FAILED]
        assert len(sink.calls) == 3
        assert sink.reports[0] == FAILED
        if method == "checkToken":
            assert sink.reports[1] is sink.raised[0]
        else:
            assert sink.reports[1] == "sink failed on call 0"
        assert ctrl.run_code == 0
        assert token_server.requests == []

    def test_sink_failing_on_the_success_report(self, method, make_ctrl, token_server, commit_db, pauses):
        call = 2 if method == "checkToken" else 1
        sink = Sink(fail_on=(call,))
        ctrl = make_ctrl(urldb=commit_db, communication=sink)
        assert check(ctrl, method) is None
        assert [c[0] for c in sink.calls[call:call + 2]] == [UPDATED, FAILED]
        assert len(sink.calls) == call + 3
        assert ctrl.run_code == 0
        assert len(token_server.requests) == 1

    def test_sink_failing_on_the_expiry_report(self, method, make_ctrl, token_server, commit_db, pauses):
        token_server.script([500] * 4)
        call = 2 if method == "checkToken" else 1
        sink = Sink(fail_on=(call,))
        ctrl = make_ctrl(urldb=commit_db, communication=sink)
        assert check(ctrl, method) is None
        assert [c[0] for c in sink.calls[call:]][:2] == [EXPIRED, FAILED]
        assert len(sink.calls) == call + 3
        assert ctrl.run_code == 0
        assert len(token_server.requests) == 4

    def test_sink_failing_while_reporting_the_failure(self, method, make_ctrl, token_server, commit_db,
                                                      pauses):
        sink = Sink(fail_on=ALWAYS)
        ctrl = make_ctrl(urldb=commit_db, communication=sink)
        with pytest.raises(SinkError) as info:
            check(ctrl, method)
        assert info.value is sink.raised[1]
        assert [c[0] for c in sink.calls] == [TOKEN, FAILED]
        assert token_server.requests == []
        assert ("Orvane.orvaneClass." + method) in tb_names(info.value)


def test_caught_exception_carries_the_entries_it_came_through(make_ctrl, tmp_path, orvane, pauses):
    ctrl = make_ctrl(urldb=make_url_db(tmp_path / "url.db", None, table=None))
    ctrl.checkToken(3, "获取隔页")
    exc = ctrl.communication.reports[-1]
    assert isinstance(exc, sqlite3.OperationalError)
    names = tb_names(exc)
    assert names[0] == "Orvane.orvaneClass.checkToken"
    assert "Orvane.orvaneClass.get_url" in names[1:]
    assert exc.__traceback__.tb_frame.f_globals is vars(orvane)


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, SystemExit, GeneratorExit])
class TestPassingThrough:
    def test_from_requests(self, method, exc_type, make_ctrl, commit_db, rebind, pauses, orvane):
        fake = rebind("requests", RecordingRequests(raise_on_post=exc_type()))
        ctrl = make_ctrl(urldb=commit_db)
        with pytest.raises(exc_type) as info:
            check(ctrl, method)
        assert len(fake.calls) == 1
        assert ctrl.communication.reports == [TOKEN]
        assert ctrl.run_code == 1
        names = tb_names(info.value)
        assert ("Orvane.orvaneClass." + method) in names
        tb = info.value.__traceback__
        while tb.tb_frame.f_code.co_name != "Orvane.orvaneClass." + method:
            tb = tb.tb_next
        assert tb.tb_frame.f_globals is vars(orvane)

    def test_from_the_sink(self, method, exc_type, make_ctrl, token_server, commit_db, pauses):
        sink = Sink(fail_on=(0,), fail_with=exc_type)
        ctrl = make_ctrl(urldb=commit_db, communication=sink)
        with pytest.raises(exc_type):
            check(ctrl, method)
        assert [c[0] for c in sink.calls] == [TOKEN]
        assert ctrl.run_code == 1
        assert token_server.requests == []

    def test_from_a_pause(self, method, exc_type, make_ctrl, token_server, commit_db, pauses):
        token_server.script([(500, "busy")] * 4)

        def interrupt(seconds):
            raise exc_type()

        pauses.on_sleep = interrupt
        ctrl = make_ctrl(urldb=commit_db)
        with pytest.raises(exc_type):
            check(ctrl, method)
        expected = [TOKEN, "busy"] if method == "checkToken" else [TOKEN]
        assert ctrl.communication.reports == expected
        assert ctrl.run_code == 1
        assert len(token_server.requests) == 1
