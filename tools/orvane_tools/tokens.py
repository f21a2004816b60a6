"""Login tokens for the job-announcement service: JSON Web Tokens signed with a shared secret (HS256)."""
import re
import time

ALGORITHM = "HS256"

_UNITS = {"s": 1, "m": 60, "h": 3600, "d": 86400}


def parse_duration(text):
    """Seconds in a duration such as "90", "90s", "15m", "8h" or "7d"."""
    match = re.match(r"^\s*(\d+)\s*([smhd]?)\s*$", str(text))
    if not match:
        raise ValueError("not a duration: {!r} (use a number of seconds, or 15m, 8h, 7d)".format(text))
    seconds = int(match.group(1)) * _UNITS[match.group(2) or "s"]
    if seconds <= 0:
        raise ValueError("a token must live longer than 0 seconds")
    return seconds


def issue(secret, subject, expires_in, now=None):
    """A signed token for ``subject`` that expires ``expires_in`` seconds from ``now``."""
    import jwt

    issued = int(time.time() if now is None else now)
    claims = {"sub": subject, "iat": issued, "exp": issued + int(expires_in)}
    token = jwt.encode(claims, secret, algorithm=ALGORITHM)
    # PyJWT 1.x returned bytes; 2.x returns text.
    return token.decode("ascii") if isinstance(token, bytes) else token
