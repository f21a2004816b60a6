"""Running orvaneFun.exe and looking at what it left."""
import hashlib
import os


class Result(object):
    def __init__(self, done):
        self.code = done.returncode
        self.out = done.stdout.decode("utf-8")
        self.err = done.stderr.decode("utf-8", "replace")
        self.lines = self.out.splitlines()

    def line_for(self, shown):
        """The one output line about the source shown as `shown`."""
        found = [l for l in self.lines if l.startswith(shown + ": ")]
        assert len(found) == 1, (shown, self.out)
        return found[0]

    def trace(self):
        """{(file, page): (path, separator, (rows read, height))} from
        ORVANE_SPLITTER_TRACE lines."""
        seen = {}
        for l in self.err.splitlines():
            if l.startswith("trace "):
                head, tail = l[6:].split(": ", 1)
                name, page = head.rsplit(" page ", 1)
                how = tail.split()[0]
                rows = tail.split(" rows=", 1)[1].split()[0].split("/")
                seen[(name, int(page))] = (how, "separator=1" in tail.split(), (int(rows[0]), int(rows[1])))
        return seen


def tree_state(root):
    """{relative path: (sha256, size, mtime_ns)} of every file under root."""
    state = {}
    for parent, _dirs, files in os.walk(str(root)):
        for name in files:
            p = os.path.join(parent, name)
            with open(p, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            st = os.stat(p)
            state[os.path.relpath(p, str(root))] = (digest, st.st_size, st.st_mtime_ns)
    return state


def outputs(dst):
    """{folder name: [document file names, sorted]} directly inside dst."""
    found = {}
    for name in sorted(os.listdir(str(dst))):
        p = os.path.join(str(dst), name)
        if os.path.isdir(p):
            found[name] = sorted(os.listdir(p))
    return found


def page_set(listing):
    """{1, 4, 5} for the splitter's page list "1, 4-5"; set() for "none"."""
    found = set()
    for part in listing.split(", "):
        if part != "none":
            first, _, last = part.partition("-")
            found.update(range(int(first), int(last or first) + 1))
    return found
