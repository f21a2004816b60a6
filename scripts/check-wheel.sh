#!/usr/bin/env bash
# Installs a wheel made by scripts/build-wheel.sh into a fresh virtual environment and runs a whole
# demo job from it (scripts/demo.sh: service, URL database, token, split) with the machine's own
# copies of the libraries the wheel carries out of reach.
#
#   bash scripts/check-wheel.sh WHEEL PYTHON
#
# Needs root (a private mount namespace, `unshare --mount`): inside it an empty file is bind-mounted
# over each system library that the wheel carries a copy of, except those the interpreter itself has
# loaded for the demo's Python side (they are not the splitter's concern). libqpdf, libjpeg, poppler,
# poppler-cpp, zxing-cpp, tesseract and leptonica must be among the hidden ones, and the language
# data chi_sim, eng and osd must lie in tessdata/ beside the installed orvaneFun.exe. There, `ldd` of the installed orvaneFun.exe must
# resolve every carried library inside the environment, and the demo job must finish.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 PIP_PROGRESS_BAR=off

step() { printf '\n== %s\n' "$*"; }
fail() { echo "check-wheel: $*" >&2; exit 1; }

# The part that runs inside the namespace (the script calls itself through unshare): an empty file
# over each system library in $HIDE_LIST, then ldd and the demo job.
inside() {
    local deps bad=0 carried name lib hide
    # Never change the machine's own libraries: only in a mount namespace of this script's own.
    [[ "$(readlink /proc/self/ns/mnt)" != "$OUTER_MOUNT_NS" ]] || fail "not in a private mount namespace"
    mapfile -t hide <"$HIDE_LIST"
    for lib in "${hide[@]}"; do mount --bind "$WORK/empty" "$lib"; done
    echo "hidden: $(stat -c %s "${hide[@]}" | grep -cx 0) of ${#hide[@]} system files are empty here"
    deps="$(ldd "$EXE")"
    echo "ldd $EXE:"
    sed -e "s|$SITE/|site-packages/|g" -e 's/ (0x[0-9a-f]*)//' -e 's/^\s*/    /' <<<"$deps"
    ! grep -q "not found" <<<"$deps" || { echo "check-wheel: a library is not found" >&2; bad=1; }
    for carried in "$LIBS"/*; do
        name="$(basename "$carried")"
        grep -qE "^\s*$name => .*/orvane\.libs/$name " <<<"$deps" ||
            { echo "check-wheel: $name is not used" >&2; bad=1; }
    done
    [[ $bad -eq 0 ]] || exit 1
    echo "every library the wheel carries resolves inside $LIBS"
    ORVANE_PYTHON="$VPY" ORVANE_DEMO_DIR="$WORK/demo" bash "$ROOT/scripts/demo.sh"
}

if [[ "${1:-}" == --inside ]]; then
    WORK="$2" EXE="$3" SITE="$4" LIBS="$4/orvane.libs" VPY="$5" HIDE_LIST="$2/hide"
    inside
    exit 0
fi

WHEEL="$(readlink -f "${1:?usage: check-wheel.sh WHEEL PYTHON}")"
PY="${2:?usage: check-wheel.sh WHEEL PYTHON}"
TAG="$(basename "$WHEEL" | cut -d- -f3)"
WORK="$ROOT/build/wheel/check-$TAG"
rm -rf "$WORK"
mkdir -p "$WORK"
step "Fresh environment for $(basename "$WHEEL") ($("$PY" -c 'import sys; print(sys.version.split()[0])'))"
"$PY" -m venv "$WORK/venv"
VPY="$WORK/venv/bin/python"
# --only-binary: nothing may be compiled, the wheel above all.
"$VPY" -m pip install -q --only-binary :all: "$WHEEL[tools]"
SITE="$("$VPY" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')"
LIBS="$SITE/orvane.libs"
# auditwheel moves an executable that needs carried libraries into the package area (where the
# libraries lie at a fixed place relative to it) and leaves a launcher in bin/ that executes it.
EXE="$(find "$SITE" -name orvaneFun.exe -type f | head -n 1)"
[[ -n "$EXE" && -d "$LIBS" ]] || fail "no orvaneFun.exe or orvane.libs in $SITE"
echo "splitter: $EXE"
for lang in chi_sim eng osd; do
    [[ -s "$(dirname "$EXE")/tessdata/$lang.traineddata" ]] || fail "no tessdata/$lang.traineddata beside $EXE"
done
echo "tessdata: $(ls "$(dirname "$EXE")/tessdata" | xargs)"
echo "launcher: $WORK/venv/bin/orvaneFun.exe"
echo "carried:  $(ls "$LIBS" | xargs)"
# The settings file beside the launcher is the one the program reads: a bad key there is refused,
# naming that file.
printf 'colours=yes\n' >"$WORK/venv/bin/orvaneFun.ini"
refused="$("$WORK/venv/bin/orvaneFun.exe" "$WORK" "$WORK" 1 0 2>&1 >/dev/null || true)"
rm -f "$WORK/venv/bin/orvaneFun.ini"
grep -qF "$WORK/venv/bin/orvaneFun.ini (line 1): colours=yes" <<<"$refused" ||
    fail "the launcher's orvaneFun.ini was not read: $refused"
echo "settings: the launcher's orvaneFun.ini is read"

# The system file of each carried library: its name without the hash auditwheel adds.
step "System copies to hide"
LOADED="$("$VPY" -c 'import requests, flask, jwt, sqlite3, ssl, hashlib, zlib, Orvane; print(open("/proc/self/maps").read())' \
          | awk '{print $6}' | grep '\.so' | xargs -r readlink -f | sort -u)"
# The commands this check and the demo run inside need their libraries too; tesseract brings
# libarchive and libcurl, whose own libraries (libacl, libssl ...) sed and friends load.
for tool in bash sed grep stat mount cp mkdir rm cat sleep env ldd cmake; do
    path="$(command -v "$tool" 2>/dev/null)" || continue
    # (ldd, a script itself, is no dynamic executable: its libraries are bash's.)
    LOADED+=$'\n'"$({ ldd "$path" 2>/dev/null || true; } | awk '$3 ~ /^\// {print $3}' | xargs -r readlink -f)"
done
LOADED="$(sort -u <<<"$LOADED")"
# This machine's own architecture only: wine's i386 copies are nothing the wheel's program loads.
ARCH_DIR="$(gcc -print-multiarch 2>/dev/null || true)"
SYSTEM="$(ldconfig -p | awk '/=> \// {print $NF}' | xargs -r readlink -f |
          { if [[ -n "$ARCH_DIR" ]]; then grep -E "/$ARCH_DIR/|^/(usr/)?lib(64)?/[^/]+$" || true; else cat; fi; } | sort -u)"
HIDE=()
for carried in "$LIBS"/*; do
    file="$(basename "$carried" | sed -E 's/-[0-9a-f]{8}(\.so)/\1/')"
    system="$(grep -E "/${file//./\\.}\$" <<<"$SYSTEM" | head -n 1 || true)"
    if [[ -z "$system" ]]; then
        echo "  $file: no system copy"
    elif grep -qxF "$system" <<<"$LOADED"; then
        echo "  $file: $system (kept: the interpreter has it loaded)"
    else
        echo "  $file: $system"
        HIDE+=("$system")
    fi
done
for must in libqpdf libjpeg libpoppler libpoppler-cpp libZXing libtesseract liblept; do
    printf '%s\n' "${HIDE[@]}" | grep -q "/$must\.so" || fail "$must is not among the hidden libraries"
done

step "In a mount namespace with ${#HIDE[@]} system libraries hidden"
: >"$WORK/empty"
printf '%s\n' "${HIDE[@]}" >"$WORK/hide"
OUTER_MOUNT_NS="$(readlink /proc/self/ns/mnt)" \
    unshare --mount --propagation private bash "${BASH_SOURCE[0]}" --inside "$WORK" "$EXE" "$SITE" "$VPY"
