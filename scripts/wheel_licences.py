"""Adds to a repaired wheel the licence texts of the libraries auditwheel bundled into it and of
the text recognition data beside its program.

    python3 scripts/wheel_licences.py WHEEL...

For each library in the wheel's <name>.libs/ (auditwheel names them libfoo-<hash>.so.N), the
system's own file is found by its name without the hash (for a tessdata/NAME.traineddata, in the
system's tessdata folder), dpkg names its Debian package, and that package's copyright file goes
into <dist-info>/licenses/<source package>/copyright; SOURCES.txt there lists each bundled file with
the Debian source package and version it came from. RECORD is rewritten.
"""
import base64
import glob
import hashlib
import os
import re
import subprocess
import sys
import zipfile

TESSDATA_SYSTEM = "/usr/share/tesseract-ocr/5/tessdata"
LIB_DIRS = ["/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib", "/lib", "/usr/lib64"]


def system_file(bundled):
    """/usr/lib/.../libfoo.so.N for the bundled libfoo-<hash>.so.N; the system's NAME.traineddata."""
    if bundled.endswith(".traineddata"):
        path = os.path.join(TESSDATA_SYSTEM, os.path.basename(bundled))
        return (path if os.path.isfile(path) else None), bundled
    # auditwheel puts its hash before the name's first dot: libfoo-1a2b3c4d.so.1, and also
    # liblber-2-1a2b3c4d.5.so.0 for liblber-2.5.so.0.
    plain = re.sub(r"-[0-9a-f]{8}(?=\.)", "", bundled)
    for folder in LIB_DIRS:
        found = glob.glob(os.path.join(folder, plain))
        if found:
            return os.path.realpath(found[0]), plain
    return None, plain


def package_of(path):
    """(binary package, source package, version) owning `path`."""
    for candidate in (path, path.replace("/usr/lib/", "/lib/", 1), path.replace("/lib/", "/usr/lib/", 1)):
        done = subprocess.run(["dpkg", "-S", candidate], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if done.returncode == 0:
            # "libjpeg62-turbo:amd64: /usr/lib/...": the package with its architecture, since the
            # i386 one (wine32's) may be installed too.
            owner = done.stdout.decode().split("\n")[0].split(": ")[0].split(",")[0].strip()
            src = subprocess.run(["dpkg-query", "-W", "-f=${source:Package} ${source:Version}", owner],
                                 stdout=subprocess.PIPE, check=True).stdout.decode().split()
            return owner.split(":")[0], src[0], src[1]
    raise SystemExit("wheel_licences: no Debian package owns %s" % path)


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def write_wheel(wheel, entries, dist_info, added):
    """Writes the wheel anew: its `entries` ((ZipInfo, data) as read), those named in `added`
    ({name: data}) replaced or added, and a RECORD that lists them all."""
    record_name = "%s/RECORD" % dist_info
    kept = [(i, d) for i, d in entries if i.filename != record_name and i.filename not in added]
    tmp = wheel + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
        lines = []
        for info, data in kept:
            z.writestr(info, data)
            # RECORD lists files only: a folder's entry there makes auditwheel (and pip's
            # check of the hashes) open the folder as a file.
            if not info.is_dir():
                lines.append(record_line(info.filename, data))
        # A file replaced keeps its entry's attributes (a launcher stays executable).
        infos = dict((i.filename, i) for i, _ in entries)
        for name, data in sorted(added.items()):
            z.writestr(infos.get(name, name), data)
            lines.append(record_line(name, data))
        lines.append("%s,," % record_name)
        z.writestr(record_name, "\n".join(lines) + "\n")
    os.replace(tmp, wheel)


def add_licences(wheel):
    with zipfile.ZipFile(wheel) as z:
        entries = [(info, z.read(info)) for info in z.infolist()]
    names = [info.filename for info, _ in entries]
    dist_info = next(n.split("/")[0] for n in names if n.split("/")[0].endswith(".dist-info"))
    bundled = sorted(n.split("/", 1)[1] for n in names if re.match(r"[^/]+\.libs/[^/]+$", n))
    bundled += sorted(n for n in names if re.search(r"(^|/)tessdata/[^/]+\.traineddata$", n))
    added, sources = {}, []
    for lib in bundled:
        path, plain = system_file(lib)
        if not path:
            raise SystemExit("wheel_licences: %s (bundled as %s) is not on this system" % (plain, lib))
        binary, source, version = package_of(path)
        with open("/usr/share/doc/%s/copyright" % binary, "rb") as f:
            added["%s/licenses/%s/copyright" % (dist_info, source)] = f.read()
        sources.append("%s: %s %s (Debian package %s)" % (lib, source, version, binary))
    added["%s/licenses/SOURCES.txt" % dist_info] = ("\n".join(sources) + "\n").encode()
    write_wheel(wheel, entries, dist_info, added)
    print("%s: licence texts of %d bundled files from %d Debian source packages"
          % (os.path.basename(wheel), len(bundled), len(added) - 1))
    for line in sources:
        print("  " + line)


if __name__ == "__main__":
    for w in sys.argv[1:]:
        add_licences(w)
