"""The URL database: the small SQLite file in which the Orvane module looks up its service endpoints.

The module reads the table ``urldb`` and takes the URL from the second column of the first row whose
``url_name`` matches (the job announcements use the name "commit").
"""
import sqlite3
from contextlib import closing

COMMIT = "commit"


def write_url(path, url, name=COMMIT):
    """Create the database at ``path`` if needed and make ``url`` the one row registered as ``name``."""
    with closing(sqlite3.connect(path)) as conn:
        with conn:
            conn.execute("CREATE TABLE IF NOT EXISTS urldb (url_name TEXT, url TEXT)")
            # The module uses the first matching row only; keep exactly one so the file says what it does.
            conn.execute("DELETE FROM urldb WHERE url_name = ?", (name,))
            conn.execute("INSERT INTO urldb (url_name, url) VALUES (?, ?)", (name, url))


def lookup(path, name=COMMIT):
    """The URL registered as ``name``, or None when the table has no such row.

    Raises sqlite3.Error when the file is not a URL database.
    """
    # Open read-only: a mistyped path must not leave an empty database behind.
    uri = "file:{}?mode=ro".format(_uri_path(path))
    with closing(sqlite3.connect(uri, uri=True)) as conn:
        row = conn.execute("SELECT * FROM urldb WHERE url_name = ?", (name,)).fetchone()
    if row is None or len(row) < 2:
        return None
    return row[1]


def _uri_path(path):
    # Characters that mean something in a URI must be quoted in the file part.
    return path.replace("%", "%25").replace("?", "%3f").replace("#", "%23")
