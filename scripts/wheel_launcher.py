"""Gives a repaired wheel's orvaneFun.exe launcher the settings file beside it.

    python3 scripts/wheel_launcher.py WHEEL...

auditwheel moves the splitter into the package area (beside the libraries it carries) and leaves in
the wheel's scripts a small Python launcher that executes it. The splitter reads orvaneFun.ini in
its own executable's folder, which a user never sees there: the office's settings belong in bin/,
beside the orvaneFun.exe the module starts. The launcher written here tells the real program so,
through ORVANE_SPLITTER_INI, before executing it. RECORD is rewritten.
"""
import os
import re
import sys
import zipfile

from wheel_licences import write_wheel

LAUNCHER = '''#!python
# orvaneFun.exe of a wheel install: the real program lies in the package area, beside the libraries
# it carries; its settings file, orvaneFun.ini, lies beside this launcher.
import os
import sys
import sysconfig

if __name__ == "__main__":
    os.environ["ORVANE_SPLITTER_INI"] = os.path.join(os.path.dirname(os.path.abspath(__file__)), "orvaneFun.ini")
    os.execv(os.path.join(sysconfig.get_path("platlib"), %r), sys.argv)
'''


def rewrite_launcher(wheel):
    with zipfile.ZipFile(wheel) as z:
        entries = [(info, z.read(info)) for info in z.infolist()]
    names = [info.filename for info, _ in entries]
    dist_info = next(n.split("/")[0] for n in names if n.split("/")[0].endswith(".dist-info"))
    shims = [(info, data) for info, data in entries
             if re.match(r"[^/]+\.data/scripts/orvaneFun\.exe$", info.filename) and data.startswith(b"#!python")]
    if len(shims) != 1:
        raise SystemExit("wheel_launcher: %s has no launcher of orvaneFun.exe" % wheel)
    info, shim = shims[0]
    # The real program's place in the package area, as auditwheel wrote it into its own launcher.
    target = re.search(r"get_path\(\"platlib\"\),\s*'([^']+)'", shim.decode("utf-8"))
    if not target:
        raise SystemExit("wheel_launcher: the launcher in %s does not name the program" % wheel)
    write_wheel(wheel, entries, dist_info, {info.filename: (LAUNCHER % target.group(1)).encode("utf-8")})
    print("%s: the launcher passes ORVANE_SPLITTER_INI (program %s)" % (os.path.basename(wheel), target.group(1)))


if __name__ == "__main__":
    for w in sys.argv[1:]:
        rewrite_launcher(w)
