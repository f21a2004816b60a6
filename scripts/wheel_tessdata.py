"""Puts the text recognition data beside a repaired wheel's real orvaneFun.exe.

    python3 scripts/wheel_tessdata.py WHEEL...

The splitter looks for tessdata/ beside its own executable before TESSDATA_PREFIX and the system's
folder, so a wheel installed where Debian's language packages are not still recognises text. The
files are the system's own (Debian's tesseract-ocr-chi-sim, -eng and -osd); scripts/wheel_licences.py
then adds their copyright file and names their source package. RECORD is rewritten.
"""
import os
import posixpath
import sys
import zipfile

from wheel_licences import TESSDATA_SYSTEM, write_wheel

LANGUAGES = ("chi_sim", "eng", "osd")


def add_tessdata(wheel):
    with zipfile.ZipFile(wheel) as z:
        entries = [(info, z.read(info)) for info in z.infolist()]
    names = [info.filename for info, _ in entries]
    dist_info = next(n.split("/")[0] for n in names if n.split("/")[0].endswith(".dist-info"))
    # The real program, not the launcher in the .data/scripts folder: an ELF file.
    programs = [info.filename for info, data in entries
                if os.path.basename(info.filename) == "orvaneFun.exe" and data.startswith(b"\x7fELF")]
    if len(programs) != 1:
        raise SystemExit("wheel_tessdata: %s has no single orvaneFun.exe program" % wheel)
    folder = os.path.dirname(programs[0])
    added = {}
    for lang in LANGUAGES:
        path = os.path.join(TESSDATA_SYSTEM, lang + ".traineddata")
        if not os.path.isfile(path):
            raise SystemExit("wheel_tessdata: %s is not installed (scripts/setup.sh installs it)" % path)
        with open(path, "rb") as f:
            added[posixpath.join(folder, "tessdata", lang + ".traineddata")] = f.read()
    write_wheel(wheel, entries, dist_info, added)
    print("%s: %s beside %s" % (os.path.basename(wheel), ", ".join(sorted(added)), programs[0]))


if __name__ == "__main__":
    for w in sys.argv[1:]:
        add_tessdata(w)
