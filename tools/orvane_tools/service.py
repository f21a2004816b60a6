"""Reference job-announcement service: the "commit" endpoint that the Orvane module posts to.

The module sends, at the start and at the end of every job, a POST whose "token" header holds the user's
login token and whose body is a JSON object {"id": 3, "comments": "...", "pid": 0}. Only status 200
counts as accepted; anything else makes the module retry and finally refuse the job.

This service accepts a request when the token is a JSON Web Token signed with the service's secret
(HS256), not expired and naming its user in "sub", and records each accepted announcement in its own
SQLite file. Refusals get 401 with the reason in the reply (the module shows the reply text to the user)
and are recorded too, without the request body.
"""
import contextlib
import datetime
import json
import os
import signal
import sqlite3
import sys
import threading
from contextlib import closing

from .tokens import ALGORITHM

START_PREFIX = "【开始执行：】"
END_PREFIX = "【执行完成：】"

# The module's bodies are a few hundred bytes; anything much larger is not an announcement.
MAX_BODY = 64 * 1024

_SCHEMA = """
CREATE TABLE IF NOT EXISTS announcements (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    received_at TEXT NOT NULL,
    subject TEXT NOT NULL,
    event TEXT NOT NULL,
    comments TEXT NOT NULL,
    task_id TEXT,
    pid TEXT,
    remote_addr TEXT
);
CREATE TABLE IF NOT EXISTS refusals (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    received_at TEXT NOT NULL,
    reason TEXT NOT NULL,
    remote_addr TEXT
);
"""


def _now():
    # Microseconds, so that announcements and refusals of the same second can be put in their order.
    return datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="microseconds")


class AnnouncementStore(object):
    """The service's own SQLite file. One short connection per request keeps threads apart."""

    def __init__(self, path):
        self.path = path
        with self._connect() as conn:
            conn.executescript(_SCHEMA)

    @contextlib.contextmanager
    def _connect(self):
        with closing(sqlite3.connect(self.path, timeout=10)) as conn:
            with conn:
                yield conn

    def record(self, subject, event, comments, task_id, pid, remote_addr):
        with self._connect() as conn:
            cur = conn.execute(
                "INSERT INTO announcements (received_at, subject, event, comments, task_id, pid, remote_addr)"
                " VALUES (?, ?, ?, ?, ?, ?, ?)",
                (_now(), subject, event, comments, _as_text(task_id), _as_text(pid), remote_addr))
            return cur.lastrowid

    def refuse(self, reason, remote_addr):
        with self._connect() as conn:
            conn.execute("INSERT INTO refusals (received_at, reason, remote_addr) VALUES (?, ?, ?)",
                         (_now(), reason, remote_addr))

    def announcements(self):
        with self._connect() as conn:
            conn.row_factory = sqlite3.Row
            return [dict(r) for r in conn.execute("SELECT * FROM announcements ORDER BY id")]

    def refusals(self):
        with self._connect() as conn:
            conn.row_factory = sqlite3.Row
            return [dict(r) for r in conn.execute("SELECT * FROM refusals ORDER BY id")]


def _as_text(value):
    if value is None or isinstance(value, str):
        return value
    return json.dumps(value)


def event_of(comments):
    if comments.startswith(START_PREFIX):
        return "start"
    if comments.startswith(END_PREFIX):
        return "end"
    return "other"


def check_token(token, secret, leeway=0):
    """The token's subject, or raise ValueError with the reason for refusing it."""
    import jwt

    if not token:
        raise ValueError("no login token in the 'token' header")
    try:
        claims = jwt.decode(token, secret, algorithms=[ALGORITHM], leeway=leeway,
                            options={"require": ["exp", "sub"]})
    except jwt.ExpiredSignatureError:
        raise ValueError("login token expired")
    except jwt.InvalidSignatureError:
        raise ValueError("login token signature does not match")
    except jwt.MissingRequiredClaimError as exc:
        raise ValueError("login token lacks the '{}' claim".format(exc.claim))
    except jwt.InvalidAlgorithmError:
        raise ValueError("login token is not signed with {}".format(ALGORITHM))
    except jwt.DecodeError:
        raise ValueError("login token is not a well-formed JSON Web Token")
    except jwt.InvalidTokenError as exc:
        raise ValueError("login token refused: {}".format(exc))
    subject = claims.get("sub")
    if not isinstance(subject, str) or not subject:
        raise ValueError("login token names no user in 'sub'")
    return subject


def create_app(secret, db_path, leeway=0):
    """The WSGI application. ``secret`` signs the tokens; ``db_path`` is the service's record file."""
    from flask import Flask, jsonify, request

    if not secret:
        raise ValueError("the service needs a token secret")
    store = AnnouncementStore(db_path)
    app = Flask(__name__)
    app.config["MAX_CONTENT_LENGTH"] = MAX_BODY
    app.config["ORVANE_STORE"] = store

    def refused(status, reason):
        store.refuse(reason, request.remote_addr)
        reply = jsonify(status="refused", reason=reason)
        reply.status_code = status
        return reply

    @app.route("/commit", methods=["POST"])
    def commit():
        try:
            subject = check_token(request.headers.get("token"), secret, leeway)
        except ValueError as exc:
            return refused(401, str(exc))
        # The module sends the JSON text without a content type, so read the raw body; bounded here
        # too, since older Werkzeug enforces the configured limit only for form data.
        if (request.content_length or 0) > MAX_BODY:
            return refused(413, "body larger than {} bytes".format(MAX_BODY))
        raw = request.stream.read(MAX_BODY + 1)
        if len(raw) > MAX_BODY:
            return refused(413, "body larger than {} bytes".format(MAX_BODY))
        try:
            body = json.loads(raw.decode("utf-8"))
        except (ValueError, UnicodeDecodeError):
            return refused(400, "body is not JSON text")
        if not isinstance(body, dict) or not isinstance(body.get("comments"), str):
            return refused(400, "body is not a JSON object with a 'comments' text")
        comments = body["comments"]
        event = event_of(comments)
        record = store.record(subject, event, comments, body.get("id"), body.get("pid"),
                              request.remote_addr)
        return jsonify(status="accepted", event=event, subject=subject, record=record)

    return app


class _Stop(Exception):
    pass


def _raise_stop(signum, frame):
    raise _Stop()


@contextlib.contextmanager
def running_in_thread(app, host="127.0.0.1", port=0):
    """Serve ``app`` on a background thread; yields the base URL. For tests and embedding."""
    from werkzeug.serving import make_server

    server = make_server(host, port, app, threaded=True)
    # A short poll interval lets shutdown() return promptly.
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05},
                              name="orvane-service", daemon=True)
    thread.start()
    try:
        yield "http://{}:{}".format(host, server.server_port)
    finally:
        server.shutdown()
        server.server_close()
        thread.join(10)


def serve(app, host="127.0.0.1", port=8765, port_file=None, out=None):
    """Serve until Ctrl-C or SIGTERM. ``port_file`` receives the bound port once connections are taken."""
    from werkzeug.serving import make_server

    out = out or sys.stdout
    server = make_server(host, port, app, threaded=True)
    url = "http://{}:{}/commit".format(host, server.server_port)
    if port_file:
        # Written whole under a temporary name, so a reader never sees a half-written number.
        tmp = port_file + ".tmp"
        with open(tmp, "w") as fh:
            fh.write("{}\n".format(server.server_port))
        os.replace(tmp, port_file)
    if host not in ("127.0.0.1", "localhost", "::1"):
        out.write("warning: serving plain HTTP on {}: login tokens travel unencrypted\n".format(host))
    out.write("Serving the job-announcement endpoint at {}\n".format(url))
    out.flush()
    previous = signal.signal(signal.SIGTERM, _raise_stop)
    try:
        server.serve_forever()
    except (KeyboardInterrupt, _Stop):
        pass
    finally:
        signal.signal(signal.SIGTERM, previous)
        server.server_close()
        out.write("Service stopped\n")
        out.flush()
