"""The translation catalogues: `.po` sources in `po/` beside this file, compiled to gettext's `.mo`
files by this module, so that no gettext program is needed to build the package (on Windows neither).

    python catalogues.py OUTDIR        # writes OUTDIR/<language>/LC_MESSAGES/orvane.mo for each po/*.po

The build runs it as a plain script (no package imports here). A source checkout that was never built
has no `.mo` files; `i18n` then reads the `.po` sources through `read_po` directly."""
import ast
import glob
import os
import struct
import sys

DOMAIN = "orvane"
PO_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "po")


def po_files(folder=PO_DIR):
    """{language: path} of the `.po` sources in ``folder``."""
    return {os.path.splitext(os.path.basename(p))[0]: p for p in sorted(glob.glob(os.path.join(folder, "*.po")))}


def read_po(path):
    """{msgid: msgstr} of a `.po` file, in the keys and values gettext's `.mo` format uses: a plural
    entry is keyed "singular\\0plural" with its forms joined by "\\0"; the header is the entry of "".
    Fuzzy and untranslated entries are left out (gettext then shows the English text)."""
    entries = {}
    entry, flags, field = {}, "", None

    def finish():
        if "msgid" not in entry or "fuzzy" in flags:
            return
        key = entry["msgid"]
        if "msgid_plural" in entry:
            key += "\0" + entry["msgid_plural"]
            forms = [entry[k] for k in sorted(k for k in entry if k.startswith("msgstr["))]
            value = "\0".join(forms) if forms and all(forms) else ""
        else:
            value = entry.get("msgstr", "")
        if "msgctxt" in entry:
            key = entry["msgctxt"] + "\x04" + key
        if value:
            entries[key] = value

    with open(path, encoding="utf-8") as fh:
        lines = fh.read().splitlines()
    pending_flags = ""
    for number, raw in enumerate(lines, 1):
        line = raw.strip()
        if not line:
            continue
        if line.startswith("#"):
            if line.startswith("#,"):
                pending_flags += line[2:]
            continue
        if line.startswith('"'):
            if field is None:
                raise ValueError("{}:{}: a string outside an entry".format(path, number))
            entry[field] += _string(path, number, line)
            continue
        keyword, _, rest = line.partition(" ")
        if keyword not in ("msgctxt", "msgid", "msgid_plural", "msgstr") and not keyword.startswith("msgstr["):
            raise ValueError("{}:{}: unknown keyword {!r}".format(path, number, keyword))
        if keyword in ("msgctxt", "msgid") and any(k.startswith("msgstr") for k in entry):
            finish()
            entry = {}
        if not entry:
            flags, pending_flags = pending_flags, ""
        field = keyword
        entry[field] = _string(path, number, rest.strip())
    finish()
    return entries


def _string(path, number, text):
    if not (len(text) >= 2 and text[0] == '"' and text[-1] == '"'):
        raise ValueError("{}:{}: expected a quoted string".format(path, number))
    return ast.literal_eval(text)


def mo_bytes(entries):
    """The `.mo` file of ``entries`` (as `read_po` gives them): little-endian, no hash table."""
    keys = sorted(entries)
    ids = [k.encode("utf-8") for k in keys]
    strs = [entries[k].encode("utf-8") for k in keys]
    header = 7 * 4
    ids_table = header
    strs_table = ids_table + 8 * len(keys)
    data_start = strs_table + 8 * len(keys)
    data, id_offsets, str_offsets = bytearray(), [], []
    for table, items in ((id_offsets, ids), (str_offsets, strs)):
        for item in items:
            table.append((len(item), data_start + len(data)))
            data += item + b"\0"
    out = struct.pack("<7I", 0x950412de, 0, len(keys), ids_table, strs_table, 0, data_start)
    for length, offset in id_offsets + str_offsets:
        out += struct.pack("<2I", length, offset)
    return out + bytes(data)


def marked_texts(paths):
    """{msgid: "file:line"} of the texts marked for translation in the Python files ``paths``:
    ``_("...")``, ``N_("...")`` and ``ngettext("...", "...", n)`` (keyed "singular\\0plural")."""
    found = {}
    for path in paths:
        with open(path, encoding="utf-8") as fh:
            tree = ast.parse(fh.read(), path)
        for node in ast.walk(tree):
            if not isinstance(node, ast.Call) or not isinstance(node.func, ast.Name):
                continue
            texts = [a.value if isinstance(a, ast.Constant) else getattr(a, "s", None) for a in node.args]
            if node.func.id in ("_", "N_") and len(texts) == 1 and isinstance(texts[0], str):
                key = texts[0]
            elif node.func.id == "ngettext" and len(texts) == 3 and all(isinstance(t, str) for t in texts[:2]):
                key = texts[0] + "\0" + texts[1]
            else:
                continue
            found.setdefault(key, "{}:{}".format(os.path.basename(path), node.lineno))
    return found


def mo_path(root, language):
    return os.path.join(root, language, "LC_MESSAGES", DOMAIN + ".mo")


def compile_all(out_dir, po_dir=PO_DIR):
    """Write each language's `.mo` under ``out_dir``; returns the paths written."""
    written = []
    for language, source in po_files(po_dir).items():
        path = mo_path(out_dir, language)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path + ".part", "wb") as fh:
            fh.write(mo_bytes(read_po(source)))
        os.replace(path + ".part", path)
        written.append(path)
    return written


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: catalogues.py OUTDIR")
    for written in compile_all(sys.argv[1]):
        print(written)
