"""The reference announcement service, driven by the module's own token checks and by plain requests."""
import json
import sqlite3

import pytest
import requests

from orvane_tools import urldb as urls

START = "【开始执行：】  获取隔页"
END = "【执行完成：】 获取隔页"


@pytest.fixture
def service_db(tmp_path, service):
    path = str(tmp_path / "url.db")
    urls.write_url(path, service.commit_url)
    return path


def replies(sink):
    """The JSON replies of the service among the reports."""
    found = []
    for value in sink.reports:
        if isinstance(value, str) and value.startswith("{"):
            found.append(json.loads(value))
    return found


class TestAcceptedAnnouncements:
    def test_start_and_end_of_a_job_are_recorded_under_the_token_subject(self, service, service_db,
                                                                        make_ctrl):
        token = service.token("alice")
        ctl = make_ctrl(LoginToken=token, urldb=service_db)
        ctl.checkToken(3, "获取隔页")
        ctl.checkToken1(3, "获取隔页")

        assert ctl.run_code == 1
        reports = ctl.communication.reports
        assert reports.count("更新成功") == 2
        # checkToken shows the first reply's text: the service says what it recorded.
        assert replies(ctl.communication) == [
            {"status": "accepted", "event": "start", "subject": "alice", "record": 1}]
        rows = service.store.announcements()
        assert [(r["subject"], r["event"], r["comments"], r["task_id"], r["pid"]) for r in rows] == [
            ("alice", "start", START, "3", "0"),
            ("alice", "end", END, "3", "0")]
        assert all(r["remote_addr"] == "127.0.0.1" and r["received_at"] for r in rows)
        assert service.store.refusals() == []

    def test_each_job_gets_its_own_records(self, service, service_db, make_ctrl):
        for user in ("alice", "bob"):
            make_ctrl(LoginToken=service.token(user), urldb=service_db).checkToken(3, "获取隔页")
        assert [r["subject"] for r in service.store.announcements()] == ["alice", "bob"]


class TestRefusedTokens:
    """Every refusal is a 401 with its reason; the module retries three times and then gives up."""

    @pytest.mark.parametrize("kind, reason", [
        ("bad signature", "login token signature does not match"),
        ("expired", "login token expired"),
        ("no header", "no login token in the 'token' header"),
        ("not a token", "login token is not a well-formed JSON Web Token"),
        ("no subject", "login token lacks the 'sub' claim"),
        ("unsigned", "login token is not signed with HS256"),
    ])
    def test_module_is_refused(self, kind, reason, service, service_db, make_ctrl, pauses):
        import jwt

        token = {
            "bad signature": lambda: service.token("mallory", secret="another-secret-of-enough-length-000000"),
            "expired": lambda: service.expired_token("alice"),
            # requests leaves out a header whose value is None: the module then sends none.
            "no header": lambda: None,
            "not a token": lambda: "not-a-jwt",
            "no subject": lambda: _encode(jwt, {"exp": 4102444800}, service.secret),
            "unsigned": lambda: _encode(jwt, {"sub": "alice", "exp": 4102444800}, None, "none"),
        }[kind]()
        ctl = make_ctrl(LoginToken=token, urldb=service_db)
        ctl.checkToken(3, "获取隔页")

        assert ctl.run_code == 0
        reports = ctl.communication.reports
        assert "登录信息的Token过期" in reports and "更新成功" not in reports
        assert replies(ctl.communication) == [{"status": "refused", "reason": reason}]
        assert len(pauses.sleeps) == 3
        # The first request and its three retries, each refused for the same reason; nothing recorded.
        assert [r["reason"] for r in service.store.refusals()] == [reason] * 4
        assert service.store.announcements() == []


def _encode(jwt, claims, key, algorithm="HS256"):
    token = jwt.encode(claims, key, algorithm=algorithm)
    return token.decode("ascii") if isinstance(token, bytes) else token


class TestHttpSurface:
    def test_replies_to_plain_requests(self, service):
        good = {"token": service.token()}
        body = json.dumps({"id": 3, "comments": START, "pid": 0})

        missing = requests.post(service.commit_url, data=body, timeout=10)
        assert missing.status_code == 401
        assert missing.json() == {"status": "refused", "reason": "no login token in the 'token' header"}
        empty = requests.post(service.commit_url, data=body, headers={"token": ""}, timeout=10)
        assert empty.status_code == 401

        # Authenticated, but not an announcement.
        for bad in ("not json", "[1, 2]", json.dumps({"id": 3}), b"\xff\xfe"):
            reply = requests.post(service.commit_url, data=bad, headers=good, timeout=10)
            assert reply.status_code == 400, bad
        too_big = json.dumps({"id": 3, "comments": "x" * 100000, "pid": 0})
        assert requests.post(service.commit_url, data=too_big, headers=good, timeout=10).status_code == 413
        assert requests.get(service.commit_url, headers=good, timeout=10).status_code == 405
        assert requests.post(service.url + "/other", data=body, headers=good, timeout=10).status_code == 404
        assert service.store.announcements() == []

        ok = requests.post(service.commit_url, data=body, headers=good, timeout=10)
        assert ok.status_code == 200 and ok.json()["event"] == "start"

    def test_other_comments_are_recorded_as_such(self, service):
        body = json.dumps({"id": "x", "comments": "hello", "pid": [1]})
        reply = requests.post(service.commit_url, data=body, headers={"token": service.token("bob")},
                              timeout=10)
        assert reply.status_code == 200
        (row,) = service.store.announcements()
        assert (row["event"], row["comments"], row["task_id"], row["pid"]) == ("other", "hello", "x", "[1]")


class TestCommands:
    def test_urldb_and_token_commands_feed_the_module_a_working_setup(self, tmp_path, service, run_cli,
                                                                       make_ctrl):
        import jwt

        db = tmp_path / "made.db"
        done = run_cli("urldb", db, "--url", service.commit_url)
        assert done.returncode == 0, done.stderr
        # Registering again replaces the row instead of adding a second one.
        assert run_cli("urldb", db, "--url", service.commit_url).returncode == 0
        with sqlite3.connect(str(db)) as conn:
            assert conn.execute("SELECT url_name, url FROM urldb").fetchall() == [
                ("commit", service.commit_url)]

        issued = run_cli("token", "--subject", "carol", "--expires-in", "15m",
                         env={"ORVANE_SECRET": service.secret})
        assert issued.returncode == 0, issued.stderr
        token = issued.stdout.strip()
        claims = jwt.decode(token, service.secret, algorithms=["HS256"])
        assert claims["sub"] == "carol" and claims["exp"] - claims["iat"] == 900

        ctl = make_ctrl(LoginToken=token, urldb=str(db))
        ctl.checkToken(3, "获取隔页")
        assert ctl.run_code == 1
        assert service.store.announcements()[0]["subject"] == "carol"

        log = run_cli("log", "--db", service.store.path)
        assert log.returncode == 0 and "start  carol  " + START in log.stdout

    def test_token_command_usage_errors(self, run_cli, tmp_path):
        no_secret = run_cli("token", "--subject", "x")
        assert no_secret.returncode == 2 and "ORVANE_SECRET" in no_secret.stderr
        secret_file = tmp_path / "secret"
        secret_file.write_text("s" * 40 + "\n")
        bad = run_cli("token", "--subject", "x", "--expires-in", "soon", "--secret-file", secret_file)
        assert bad.returncode == 2 and "not a duration" in bad.stderr
        good = run_cli("token", "--subject", "x", "--expires-in", "2d", "--secret-file", secret_file)
        assert good.returncode == 0 and good.stdout.count(".") == 2


@pytest.mark.parametrize("came", [("start", "refused", "end"), ("refused", "start", "refused", "end", "refused")])
def test_log_lists_refusals_among_the_records_in_the_order_they_came(tmp_path, run_cli, came):
    from orvane_tools.service import AnnouncementStore

    store = AnnouncementStore(str(tmp_path / "announcements.db"))
    for what in came:
        store.refuse("expired", "127.0.0.1") if what == "refused" else store.record("clerk", what, "", 1, 2, "::1")
    log = run_cli("log", "--db", store.path)
    assert log.returncode == 0, log.stderr
    assert [(len(line.split()[0]), line.split()[1]) for line in log.stdout.splitlines()] == [
        (len("2026-12-07T09:37:33+00:00"), what) for what in came]
