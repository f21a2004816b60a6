#!/usr/bin/env bash
# The Windows splitter checked under wine (a fresh prefix, zh_CN locale, ANSI code page 936),
# always the orvaneFun.exe unpacked from the zip, so that a missing DLL shows:
#   1. units    the Windows pieces of the splitter (UTF-16 arguments and environment, ANSI lines,
#               folders) and the cross-built libraries (qpdf, libjpeg-turbo, poppler, iconv layer),
#               each in a small program (tests/windows/splitter_text_check.cpp, deps_check.cpp),
#               and the table of document names from untrusted codes written into real folders
#               (tests/splitter/native/names_table.cpp, the same table as on Linux)
#   2. compare  scripts/windows_splitter_compare.py: the corpus against the Linux build, the
#               scanned batches of every sheet kind with their options (a Chinese name from a
#               code among them), the pathological set with times, the module's command line through cmd.exe and its
#               cancellation by taskkill, names code page 936 cannot hold, the splitter alone
#               killed while a helper works (its job ends the helper), and a batch of Chinese and
#               English text split with --ocr chi_sim+eng (its text as accurate as on Linux)
# A missing or non-starting wine skips with a message, and fails under CI=true.
#
# Usage: scripts/windows-splitter-check.sh [ZIP]   (default dist/orvane-win32.zip)
#        scripts/windows-splitter-check.sh --native   (step 2 with the Linux program on both sides)
# Environment: ORVANE_SPLITTER (the Linux orvaneFun.exe; else the one on PATH, else built here),
#              ORVANE_PYTHON (an interpreter with tests/requirements.txt; default the tests' venv),
#              ORVANE_WINE_TIMEOUT (seconds for wine's first start, default 180).
# Output goes to build/windows-splitter/.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/wine-env.sh
. "$ROOT/scripts/wine-env.sh"
OUT="$ROOT/build/windows-splitter"
WINE_TIMEOUT="${ORVANE_WINE_TIMEOUT:-180}"
ZIP="$ROOT/dist/orvane-win32.zip"
NATIVE=0
case "${1:-}" in
    --native) NATIVE=1 ;;
    -h|--help) sed -n '2,/^set -uo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
    "") ;;
    *) ZIP="$1" ;;
esac

linux_splitter() {
    local build="$OUT/linux-build"
    if [[ -n "${ORVANE_SPLITTER:-}" ]]; then echo "$ORVANE_SPLITTER"; return 0; fi
    command -v orvaneFun.exe 2>/dev/null && return 0
    cmake -S "$ROOT/splitter" -B "$build" -DCMAKE_BUILD_TYPE=Release >"$OUT/linux-build.log" 2>&1 &&
        cmake --build "$build" -j2 >>"$OUT/linux-build.log" 2>&1 || { tail -n 30 "$OUT/linux-build.log" >&2; return 1; }
    echo "$build/orvaneFun.exe"
}

python_with_tests() {
    local cand
    for cand in "${ORVANE_PYTHON:-}" "$ROOT"/build/venv-3.*/bin/python python3; do
        [[ -n "$cand" ]] && "$cand" -c 'import pypdf, PIL, pytest' 2>/dev/null </dev/null &&
            { echo "$cand"; return 0; }
    done
    echo "no interpreter with pypdf, Pillow and pytest (pip install -r tests/requirements.txt)" >&2
    return 1
}

rm -rf "$OUT"
mkdir -p "$OUT"
linux="$(linux_splitter)" || { echo "the Linux splitter could not be built"; exit 1; }
python="$(python_with_tests)" || exit 1
echo "Linux splitter: $linux"

if [[ $NATIVE -eq 1 ]]; then
    "$python" "$ROOT/scripts/windows_splitter_compare.py" --native --linux "$linux" --work "$OUT/work" \
        --only corpus,sheets,blank,hostile
    exit $?
fi

[[ -f "$ZIP" ]] || { echo "no $ZIP: make it with scripts/build-windows-zip.sh"; exit 1; }
# Unpacked into a folder with a blank and Chinese characters, as a user might.
unpacked="$OUT/解压 后"
mkdir -p "$unpacked"
(cd "$unpacked" && unzip -q "$ZIP") || { echo "cannot unpack $ZIP"; exit 1; }
exe="$(find "$unpacked" -name orvaneFun.exe | head -n 1)"
[[ -n "$exe" ]] || { echo "no orvaneFun.exe in $ZIP"; exit 1; }
echo "Windows splitter: ${exe#"$OUT"/} ($(stat -c %s "$exe") bytes), imports from:" \
     "$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | tr '\n' ' ')"

if ! wine="$(wine_binary)"; then
    wine_unavailable "wine is not installed (Debian packages wine64, wine32:i386)"
    exit $?
fi
wine_prepare_locale "$OUT" || exit 1
t0=$SECONDS
wine_start "$wine" "$OUT/wineprefix" "$WINE_TIMEOUT" "$OUT/wineboot.log"
rc=$?
if [[ $rc -ne 0 ]]; then
    tail -n 5 "$OUT/wineboot.log"
    wine_unavailable "wine did not start $([[ $rc -eq 124 ]] && echo "within $WINE_TIMEOUT s" || echo "(status $rc)")"
    exit $?
fi
echo "wine: $("$wine" --version 2>/dev/null), started in $((SECONDS - t0)) s, ANSI code page 936 (zh_CN)"
trap 'wineserver_stop "$wine"' EXIT
# poppler on Windows finds the standard PDF fonts in %WINDIR%\Fonts (Helvetica as arial.ttf), where
# every Windows has them; a fresh wine prefix has none there, and a page's text would not be drawn.
# The font the Linux build's poppler uses for Helvetica (fontconfig's choice) goes there instead, so
# that rendered pages are compared like for like (without it a coloured sheet with a line of text
# reads as share 1.000 under wine against 0.993 on Linux).
if font="$(fc-match -f '%{file}' Helvetica 2>/dev/null)" && [[ -f "$font" ]]; then
    cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/arial.ttf" && echo "Helvetica under wine: $font as arial.ttf"
fi

status=0
echo "---- units"
prefix="$(bash "$ROOT/scripts/build-windows-deps.sh" --print-prefix)"
if [[ ! -f "$prefix/.complete" ]]; then
    echo "the Windows libraries are not built (scripts/build-windows-deps.sh)"
    exit 1
fi
# -iquote, not -I: the splitter's own process.h must not stand in for the system's <process.h>,
# which mingw's pthread.h includes.
CXX=(i686-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -static -iquote "$ROOT/splitter/src"
     -isystem "$prefix/include" -DPOPPLER_CPP_STATIC_DEFINE -DPOINTERHOLDER_TRANSITION=4)
LIBS=(-L "$prefix/lib" -lpoppler-cpp -lpoppler -lfreetype -lqpdf -ljpeg -lz -liconv
      -ladvapi32 -lgdi32 -lshell32 -luser32)
OCR_LIBS=("$prefix"/lib/libtesseract[0-9]*.a "$prefix"/lib/libleptonica*.a -lws2_32)
s="$ROOT/splitter/src"
"${CXX[@]}" -municode -o "$OUT/splitter_text_check.exe" "$ROOT/tests/windows/splitter_text_check.cpp" \
    "$s/windows_entry.cpp" "$s/wide_text.cpp" "$s/ansi_line.cpp" "$s/environment.cpp" \
    "$s/windows_folders.cpp" "${LIBS[@]}" || exit 1
"${CXX[@]}" -o "$OUT/deps_check.exe" "$ROOT/tests/windows/deps_check.cpp" "${LIBS[@]}" "${OCR_LIBS[@]}" || exit 1
"${CXX[@]}" -o "$OUT/names_table.exe" "$ROOT/tests/splitter/native/names_table.cpp" "$s/names.cpp" \
    "$s/document_names.cpp" || exit 1
echo "deps_check.exe imports from: $(i686-w64-mingw32-objdump -p "$OUT/deps_check.exe" |
      awk '/DLL Name:/ {print $3}' | tr '\n' ' ')"
for run in "splitter_text_check.exe 扫描\\ 文件 한국\\ ☃" "deps_check.exe $OUT $(printf %q "${exe%/*}/tessdata")" "names_table.exe names-work"; do
    eval "set -- $run"
    (cd "$OUT" && timeout -k 10 120 "${WINE_LOCALE[@]}" "$wine" "$OUT/$1" "${@:2}" </dev/null) || status=1
done

echo "---- compare"
x86_64-w64-mingw32-g++ -std=c++17 -O2 -municode -static -I "$ROOT/src" -I "$ROOT/tests/windows" \
    -o "$OUT/module_run.exe" "$ROOT/tests/windows/module_run.cpp" "$ROOT/src/platform/command_line.cpp" ||
    exit 1
"${WINE_LOCALE[@]}" "$python" "$ROOT/scripts/windows_splitter_compare.py" --linux "$linux" --windows "$exe" --wine "$wine" \
    --module-run "$OUT/module_run.exe" --work "$OUT/work" || status=1
exit $status
