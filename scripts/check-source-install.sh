#!/usr/bin/env bash
# What `pip install .` does on a machine without the PDF libraries, checked on this one (needs root):
# in a private mount namespace the files of the Debian packages behind pkg-config, libqpdf,
# poppler-cpp, zxing-cpp, tesseract, leptonica and libjpeg (development and run-time packages
# alike) are deleted from an overlay of /usr, so that for the builds below those packages are
# simply not installed. There:
#   1. `pip install .` must stop within 30 s, before compiling anything, with the one message that
#      names every missing Debian package and scripts/setup.sh;
#   2. the module-only build (ORVANE_BUILD_SPLITTER=OFF) must install, import, and put no
#      orvaneFun.exe into the environment.
#
#   bash scripts/check-source-install.sh [PYTHON]      (default: the machine's python3)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="$ROOT/build/source-install"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 PIP_PROGRESS_BAR=off

fail() { echo "check-source-install: $*" >&2; exit 1; }

# The part that runs inside the namespace (the script calls itself through unshare).
inside() {
    local py="$1" files="$2" status start took_ms took text found
    # Never change the machine's own /usr: only in a mount namespace of this script's own.
    [[ "$(readlink /proc/self/ns/mnt)" != "$OUTER_MOUNT_NS" ]] || fail "not in a private mount namespace"
    # The overlay's upper and work folders on a tmpfs: not every file system can hold them.
    mount -t tmpfs tmpfs "$WORK/overlay"
    mkdir "$WORK/overlay/upper" "$WORK/overlay/work"
    mount -t overlay overlay -o "lowerdir=/usr,upperdir=$WORK/overlay/upper,workdir=$WORK/overlay/work" /usr
    while IFS= read -r path; do
        [[ -d "$path" && ! -L "$path" ]] || rm -f "$path"
    done <"$files"
    rm -rf /usr/include/qpdf /usr/include/poppler /usr/include/ZXing
    for gone in /usr/bin/pkg-config /usr/include/qpdf/QPDF.hh /usr/include/jpeglib.h; do
        [[ ! -e "$gone" ]] || fail "$gone is still there"
    done

    echo
    echo "== pip install . (full build, libraries missing), CPython $("$py" -c 'import sys; print(sys.version.split()[0])')"
    "$py" -m venv "$WORK/full"
    start=$(date +%s%N)
    status=0
    (cd "$WORK" && "$WORK/full/bin/python" -m pip install "$ROOT" >"$WORK/full.log" 2>&1) || status=$?
    took_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    took="$((took_ms / 1000)).$(printf %03d $((took_ms % 1000)))"
    sed -n '/Building wheel for orvane/,$p' "$WORK/full.log"
    echo "pip exit status $status after $took s"
    [[ $status -ne 0 ]] || fail "the full build succeeded without the libraries"
    [[ $took_ms -lt 30000 ]] || fail "it took $took s, more than 30 s"
    for text in "these Debian packages are missing: pkg-config libqpdf-dev libpoppler-cpp-dev libzxing-dev libtesseract-dev libleptonica-dev libjpeg62-turbo-dev" \
                "bash scripts/setup.sh" "ORVANE_BUILD_SPLITTER=OFF"; do
        # CMake wraps the message: compare with the lines joined.
        sed 's/^ *//' "$WORK/full.log" | tr '\n' ' ' | tr -s ' ' | grep -qF "$text" ||
            fail "the message lacks \"$text\""
    done
    [[ $(grep -c "CMake Error" "$WORK/full.log") -eq 1 ]] || fail "not one message"
    ! grep -qE 'Building CXX object|\.cpp\.o' "$WORK/full.log" || fail "it compiled"

    echo
    echo "== pip install . --config-settings=cmake.define.ORVANE_BUILD_SPLITTER=OFF (module only)"
    "$py" -m venv "$WORK/module"
    "$WORK/module/bin/python" -m pip install -q --upgrade pip
    (cd "$WORK" && "$WORK/module/bin/python" -m pip install -q "$ROOT" \
        --config-settings=cmake.define.ORVANE_BUILD_SPLITTER=OFF) 2>&1 | grep -v '^WARNING: Location' || true
    (cd "$WORK" && "$WORK/module/bin/python" -c 'import Orvane, orvane_tools; print("import Orvane: ok,", Orvane.__file__)')
    found="$(find "$WORK/module" -iname 'orvaneFun*')"
    [[ -z "$found" ]] || fail "the module-only build installed $found"
    echo "no orvaneFun.exe in $WORK/module"
}

if [[ "${1:-}" == --inside ]]; then
    inside "$2" "$3"
    exit 0
fi

PY="$(readlink -f "${1:-$(command -v python3)}")"
# The packages the splitter's build looks for, and the run-time libraries they bring.
PACKAGES=(pkg-config pkgconf pkgconf-bin libqpdf-dev libpoppler-cpp-dev libpoppler-dev libzxing-dev libtesseract-dev
          libleptonica-dev libjpeg62-turbo-dev)
for lib in libqpdf libpoppler-cpp libpoppler libZXing libtesseract liblept libjpeg; do
    so="$(readlink -f "/usr/lib/$(gcc -dumpmachine)/$lib.so" 2>/dev/null || true)"
    # "libjpeg62-turbo:amd64: /usr/lib/...": the package with its architecture; the name alone is
    # ambiguous for dpkg -L once wine32 has brought the i386 copy.
    [[ -f "$so" ]] && PACKAGES+=("$(dpkg -S "$so" | head -n 1 | sed 's/: .*//')")
done
rm -rf "$WORK"
mkdir -p "$WORK/overlay"
dpkg -L "${PACKAGES[@]}" 2>/dev/null | grep '^/usr/' | sort -u >"$WORK/files"
echo "hidden Debian packages: ${PACKAGES[*]} ($(wc -l <"$WORK/files") paths)"
OUTER_MOUNT_NS="$(readlink /proc/self/ns/mnt)" \
    unshare --mount --propagation private bash "${BASH_SOURCE[0]}" --inside "$PY" "$WORK/files"
