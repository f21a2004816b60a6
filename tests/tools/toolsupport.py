"""Helpers shared by the tools tests (kept out of conftest.py so that test files can import them)."""
import os
import sys
import time

TOOLS_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                         "tools")
if TOOLS_DIR not in sys.path:
    sys.path.insert(0, TOOLS_DIR)

SECRET = "orvane-test-secret-0123456789abcdef0123456789abcdef"


class Service(object):
    """A running announcement service: its URLs, its record file and a token factory."""

    def __init__(self, base_url, store, secret):
        self.url = base_url
        self.commit_url = base_url + "/commit"
        self.store = store
        self.secret = secret

    def token(self, subject="tester", expires_in=3600, secret=None, now=None):
        from orvane_tools.tokens import issue

        return issue(secret or self.secret, subject, expires_in, now=now)

    def expired_token(self, subject="tester"):
        # Issued two hours ago for one hour.
        return self.token(subject, 3600, now=time.time() - 7200)


def cli_env(extra=None):
    env = dict(os.environ)
    env["PYTHONPATH"] = TOOLS_DIR + (os.pathsep + env["PYTHONPATH"] if env.get("PYTHONPATH") else "")
    env["PYTHONIOENCODING"] = "utf-8"
    env.pop("ORVANE_TOKEN", None)
    env.pop("ORVANE_SECRET", None)
    env["LANGUAGE"] = "en"  # the tests read the tools' English texts, whatever the machine's locale
    env.update(extra or {})
    return env


def cli_command(*args):
    return [sys.executable, "-m", "orvane_tools"] + [str(a) for a in args]
