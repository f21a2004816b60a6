"""Reads valgrind's XML output and judges it for the Orvane module.

    python report.py VALGRIND.XML MODULE.SO

Prints the totals of every leak kind and of every memory error kind, then each definite or
indirect leak whose stack passes through the module's shared object (a frame whose object file is
MODULE.SO), and each memory error that the module's code meets: walking its stack from the
innermost frame outwards, a frame of the module comes before any frame of the import machinery
(the module's exec step imports requests, sqlite3, ...; what happens inside those imports is
theirs). Exit status 1 if there is any such record, else 0.
"""
import os
import sys
import xml.etree.ElementTree as ET

LEAK_KINDS = ("Leak_DefinitelyLost", "Leak_IndirectlyLost", "Leak_PossiblyLost",
              "Leak_StillReachable")
FAILING_LEAKS = ("Leak_DefinitelyLost", "Leak_IndirectlyLost")


def frames(error):
    stack = error.find("stack")
    out = []
    if stack is None:
        return out
    for frame in stack.findall("frame"):
        out.append({key: (frame.findtext(key) or "") for key in ("obj", "fn", "file", "line")})
    return out


def in_module(frame, module_real):
    return bool(frame["obj"]) and os.path.realpath(frame["obj"]) == module_real


def module_meets_error(stack, module_real):
    for frame in stack:
        if in_module(frame, module_real):
            return True
        if frame["fn"].startswith(("PyImport_", "import_", "_PyImport_")):
            return False
    return False


def describe(frame):
    where = frame["fn"] or "?"
    if frame["file"]:
        where += " (%s:%s)" % (frame["file"], frame["line"])
    return "%s in %s" % (where, os.path.basename(frame["obj"]))


def main(xml_path, module_path):
    module_real = os.path.realpath(module_path)
    tree = ET.parse(xml_path)
    totals = {}
    errors_total = {}
    bad = []
    for error in tree.getroot().findall("error"):
        kind = error.findtext("kind")
        stack = frames(error)
        through_module = any(in_module(f, module_real) for f in stack)
        if kind in LEAK_KINDS:
            leaked = error.find("xwhat")
            size = int(leaked.findtext("leakedbytes")) if leaked is not None else 0
            blocks = int(leaked.findtext("leakedblocks")) if leaked is not None else 0
            entry = totals.setdefault(kind, [0, 0, 0, 0])
            entry[0] += size
            entry[1] += blocks
            if through_module:
                entry[2] += size
                entry[3] += blocks
            if kind in FAILING_LEAKS and through_module:
                bad.append((kind, size, blocks, stack))
        else:
            entry = errors_total.setdefault(kind, [0, 0])
            entry[0] += 1
            if module_meets_error(stack, module_real):
                entry[1] += 1
                bad.append((kind, 0, 0, stack))
    print("valgrind summary for %s" % module_real)
    for kind in LEAK_KINDS:
        size, blocks, msize, mblocks = totals.get(kind, [0, 0, 0, 0])
        print("  %-22s %10d bytes in %6d blocks; through the module: %d bytes in %d blocks"
              % (kind, size, blocks, msize, mblocks))
    for kind, (count, mcount) in sorted(errors_total.items()):
        print("  error %-16s %d records; met by the module's code: %d" % (kind, count, mcount))
    if not errors_total:
        print("  memory errors: none")
    for kind, size, blocks, stack in bad:
        print("\nFAIL %s: %d bytes in %d blocks" % (kind, size, blocks))
        for frame in stack:
            print("    " + describe(frame))
    print("\nresult: %s" % ("FAILED (%d records through the module)" % len(bad) if bad else
                            "no definite or indirect leak and no memory error through the module"))
    return 1 if bad else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
