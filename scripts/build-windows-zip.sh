#!/usr/bin/env bash
# Builds dist/orvane-win32.zip: the splitter orvaneFun.exe cross-built for 32-bit Windows (static:
# no DLL of ours beside it), the module Orvane.cp37-win32.pyd that scripts/windows-check.sh links,
# a README (packaging/windows/README.txt: what was checked under wine, what needs Windows), the
# project's LICENSE and the licence texts of every bundled library with the source (a Debian source
# package, or upstream's release for zxing-cpp when Debian's cannot be fetched) each came from, and
# tessdata/ beside orvaneFun.exe: the text recognition data (chi_sim, eng and osd) of Debian's
# packages installed here, with their copyright files.
#
# Usage: scripts/build-windows-zip.sh
# The libraries come from scripts/build-windows-deps.sh (built once per machine, then cached).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/build/win32-zip"
# Debian's language data (tesseract-ocr-chi-sim, -eng, -osd) as the Linux build uses it.
TESSDATA_SYSTEM=/usr/share/tesseract-ocr/5/tessdata
TESSDATA_LANGS="chi_sim eng osd"
ZIP="$ROOT/dist/orvane-win32.zip"
mkdir -p "$OUT"
case "${1:-}" in
    -h|--help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
esac

t0=$SECONDS
prefix="$(bash "$ROOT/scripts/build-windows-deps.sh" | tail -n 1)"
echo "libraries: $prefix ($(cat "$prefix/build-time.txt" 2>/dev/null || echo "time unknown"))"

echo "== orvaneFun.exe for i686-w64-mingw32"
/usr/bin/cmake -S "$ROOT/splitter" -B "$OUT/splitter" -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release >"$OUT.cmake.log" 2>&1 || { tail -n 40 "$OUT.cmake.log"; exit 1; }
/usr/bin/cmake --build "$OUT/splitter" -j "${ORVANE_BUILD_JOBS:-2}" >>"$OUT.cmake.log" 2>&1 ||
    { grep -E 'error|Error' "$OUT.cmake.log" | head -n 40; exit 1; }
exe="$OUT/splitter/orvaneFun.exe"
i686-w64-mingw32-strip "$exe"

pyd="$ROOT/build/windows/Orvane.cp37-win32.pyd"
if [[ ! -f "$pyd" ]]; then
    echo "== Orvane.cp37-win32.pyd (scripts/windows-check.sh --no-wine)"
    bash "$ROOT/scripts/windows-check.sh" --no-wine >"$OUT.module.log" 2>&1 || { tail -n 40 "$OUT.module.log"; exit 1; }
fi

stage="$OUT/orvane-win32"
rm -rf "$stage"
mkdir -p "$stage"
cp "$exe" "$pyd" "$ROOT/LICENSE" "$stage/"
cp -R "$prefix/licenses" "$stage/licenses"
# The language data: the splitter looks for tessdata/ beside its own executable first.
if [[ -f "$prefix/lib/pkgconfig/tesseract.pc" ]]; then
    mkdir -p "$stage/tessdata"
    for lang in $TESSDATA_LANGS; do
        data="$TESSDATA_SYSTEM/$lang.traineddata"
        pkg="$(dpkg -S "$data" 2>/dev/null | cut -d: -f1)" ||
            { echo "build-windows-zip: $data is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
        read -r src ver < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' "$pkg")
        cp "$data" "$stage/tessdata/"
        mkdir -p "$stage/licenses/$src"
        cp "/usr/share/doc/$pkg/copyright" "$stage/licenses/$src/copyright"
        echo "$src $ver (tessdata/$lang.traineddata, Debian package $pkg)" >>"$stage/licenses/SOURCES.txt"
    done
fi
# The commit is the GPL's corresponding source, with the Debian source packages below. (The clone
# may belong to another user than the one building: only its commit is read.)
git_here() { git -c safe.directory="$ROOT" -C "$ROOT" "$@"; }
commit="$(git_here rev-parse HEAD 2>/dev/null || echo "(not a git checkout)")"
if [[ -n "$(git_here status --porcelain --untracked-files=no 2>/dev/null)" ]]; then
    commit="$commit (with local changes)"
fi
imports="$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort -u | tr '\n' ' ')"
{
    cat "$ROOT/packaging/windows/README.txt"
    echo
    echo "orvaneFun.exe imports: ${imports% }"
    [[ -f "$prefix/lib/libZXing.a" ]] ||
        echo "This build finds no code sheet (--sheets code): zxing-cpp, the barcode reader, is not among its libraries."
    [[ -d "$stage/tessdata" ]] ||
        echo "This build recognises no text (--ocr): tesseract is not among its libraries."
    echo "Built from the Orvane repository at commit $commit"
    echo "Built from these sources (licenses/SOURCES.txt; Debian's source packages unless the line says otherwise):"
    sed 's/^/  /' "$stage/licenses/SOURCES.txt"
} | sed 's/$/\r/' >"$stage/README.txt"

mkdir -p "$ROOT/dist"
rm -f "$ZIP"
(cd "$OUT" && zip -q -r -X "$ZIP" orvane-win32)
echo "$ZIP: $(stat -c %s "$ZIP") bytes in $((SECONDS - t0)) s; orvaneFun.exe $(stat -c %s "$exe") bytes, imports ${imports% }"
unzip -l "$ZIP" | tail -n +4 | head -n -2 | awk '{print "  " $4}'
