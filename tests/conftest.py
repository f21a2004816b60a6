"""Shared fixtures. Each fixture family lives in tests/fixtures/ and is pulled in here."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fixtures.token_service import *  # noqa: E402,F401,F403
from fixtures.standin import *  # noqa: E402,F401,F403
from fixtures.texts import orvane_time  # noqa: E402,F401
