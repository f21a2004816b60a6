#!/usr/bin/env bash
# The Windows check: what can be learnt about the users' build (Orvane.cp37-win32.pyd, CPython 3.7,
# 32-bit Windows) on a Linux machine.
#
#   1. compile  every file of src/ for 32-bit Windows with i686-w64-mingw32-g++, C++17,
#               -Wall -Wextra -Werror, against CPython 3.7's headers with the Windows pyconfig.h
#               of packaging/windows/ in place of the Linux one; any warning fails
#   2. link     Orvane.cp37-win32.pyd against an import library of python37.dll made with
#               dlltool, so that a call the Windows runtime lacks (a POSIX-only function) fails
#               to link; the .pyd must export PyInit_Orvane and nothing else
#   3. splitter the splitter's helper processes (splitter/src/process_windows.cpp: CreateProcessW,
#               a job object, pipes; and the helper protocol over it) compiled for 32-bit Windows
#               with i686-w64-mingw32-g++-posix (objects only: the PDF libraries come later)
#   4. argv     under wine: the splitter's command line, built by the module's own quoting code
#               for Windows, passed through `cmd.exe /c "..."` as os.popen does, and what a
#               program receives (tests/windows/); skipped when wine is missing or does not
#               start in time, failed then under CI=true
#
# Usage: scripts/windows-check.sh [--no-wine]
# Environment: ORVANE_WINE_TIMEOUT (seconds for wine's first start, default 180),
#              ORVANE_PY37_INCLUDE (CPython 3.7's include folder, found under pyenv otherwise).
# Output goes to build/windows/.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/wine-env.sh
. "$ROOT/scripts/wine-env.sh"
OUT="$ROOT/build/windows"
WINE_TIMEOUT="${ORVANE_WINE_TIMEOUT:-180}"
RUN_WINE=1
case "${1:-}" in
    --no-wine) RUN_WINE=0 ;;
    "") ;;
    -h|--help) sed -n '2,/^set -uo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "windows-check: unknown option '$1'" >&2; exit 2 ;;
esac

# The same warnings as the module's own build (CMakeLists.txt), as errors.
CXXFLAGS=(-std=c++17 -O2 -DNDEBUG -Wall -Wextra -Wno-missing-field-initializers
          -Wno-deprecated-declarations -Werror)

python37_include() {
    local dir
    if [[ -n "${ORVANE_PY37_INCLUDE:-}" ]]; then
        echo "$ORVANE_PY37_INCLUDE"
        return 0
    fi
    dir="$(ls -d "${PYENV_ROOT:-/root/.pyenv}"/versions/3.7.*/include/python3.7m 2>/dev/null | sort -V | tail -n 1)"
    if [[ -z "$dir" ]] && command -v python3.7 >/dev/null 2>&1; then
        dir="$(python3.7 -c 'import sysconfig; print(sysconfig.get_paths()["include"])' </dev/null)"
    fi
    [[ -n "$dir" && -f "$dir/Python.h" ]] && echo "$dir"
}

# CPython's headers include "pyconfig.h" with quotes, which finds the header folder's own copy
# before any -I folder: the headers are copied and the Windows pyconfig.h put in its place.
windows_headers() {
    local from="$1" to="$2"
    rm -rf "$to"
    mkdir -p "$to"
    cp -R "$from"/. "$to"/
    cp "$ROOT/packaging/windows/pyconfig.h" "$to/pyconfig.h"
}

step_compile() {
    local include="$1" objects="$2" f o log failed=0 count=0
    rm -rf "$objects"
    mkdir -p "$objects"
    echo "compiler: $(i686-w64-mingw32-g++ --version | head -n 1)"
    echo "flags: ${CXXFLAGS[*]} -isystem <CPython 3.7 headers, Windows pyconfig.h> -I src"
    while IFS= read -r f; do
        count=$((count + 1))
        o="$objects/$(tr / _ <<<"${f#src/}").o"
        log="$objects/$(basename "$o").log"
        if i686-w64-mingw32-g++ "${CXXFLAGS[@]}" -isystem "$include" -I "$ROOT/src" \
               -c "$ROOT/$f" -o "$o" >"$log" 2>&1 </dev/null && [[ ! -s "$log" ]]; then
            echo "  compiled  $f"
        else
            echo "  FAILED    $f"
            sed 's/^/      /' "$log" | head -n 40
            failed=$((failed + 1))
        fi
    done < <(cd "$ROOT" && find src -name '*.cpp' | sort)
    if [[ $count -eq 0 ]]; then
        echo "no source files found under src/"
        return 1
    fi
    echo "compile: $((count - failed)) of $count files of src/ compiled for 32-bit Windows$([[ $failed -eq 0 ]] && echo ', no warnings')"
    [[ $failed -eq 0 ]]
}

# The import library lists the C API names the objects import (their __imp__ references to
# Py*/_Py* names; the i686 C names carry a leading underscore). Every other undefined name must
# come from the objects themselves, the C++ runtime or Windows' own libraries, or the link fails.
step_link() {
    local objects="$1" def="$OUT/python37.def" lib="$OUT/libpython37.a" pyd="$OUT/Orvane.cp37-win32.pyd"
    local exports dlls
    {
        echo "LIBRARY python37.dll"
        echo "EXPORTS"
        i686-w64-mingw32-nm -u "$objects"/*.o | awk '{print $2}' \
            | sed -n 's/^__imp__\(_\{0,1\}Py[A-Za-z0-9_]*\)$/    \1/p' | sort -u
    } >"$def"
    echo "import library: $(($(wc -l <"$def") - 2)) C API names from the objects' imports (${def#"$ROOT"/})"
    i686-w64-mingw32-dlltool -d "$def" -D python37.dll -l "$lib" || return 1
    rm -f "$pyd"
    if ! i686-w64-mingw32-g++ -shared -static -s -o "$pyd" "$objects"/*.o "$lib" 2>"$OUT/link.log"; then
        echo "link: FAILED"
        sed 's/^/    /' "$OUT/link.log" | head -n 40
        return 1
    fi
    exports="$(i686-w64-mingw32-objdump -p "$pyd" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' \
               | awk '/^[[:space:]]+\[/ {print $NF}' | tr '\n' ' ')"
    dlls="$(i686-w64-mingw32-objdump -p "$pyd" | awk '/DLL Name:/ {print $3}' | tr '\n' ' ')"
    echo "link: ${pyd#"$ROOT"/} ($(stat -c %s "$pyd") bytes), exports: ${exports% }; imports from: ${dlls% }"
    if [[ "${exports% }" != "PyInit_Orvane" ]]; then
        echo "the module must export PyInit_Orvane only"
        return 1
    fi
}

# The Windows side of the splitter's helper interface. The posix thread model is the one the
# splitter's threads need.
step_splitter() {
    local f failed=0 log
    mkdir -p "$OUT/splitter"
    for f in process_windows helper helper_protocol helper_server; do
        log="$OUT/splitter/$f.log"
        if i686-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Werror -c "$ROOT/splitter/src/$f.cpp" \
               -o "$OUT/splitter/$f.o" >"$log" 2>&1 </dev/null && [[ ! -s "$log" ]]; then
            echo "  compiled  splitter/src/$f.cpp"
        else
            echo "  FAILED    splitter/src/$f.cpp"
            sed 's/^/      /' "$log" | head -n 40
            failed=1
        fi
    done
    return $failed
}

# Builds the two programs into a folder whose name has a blank and Chinese characters, so the
# splitter's own path is one of the cases; starts wine in a prefix of its own; runs the table.
step_argv() {
    local wine dir="$OUT/argv/测试 程序" rc t0
    if ! wine="$(wine_binary)"; then
        wine_unavailable "argv: wine is not installed (Debian package wine64)"
        return
    fi
    if ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
        echo "argv: SKIPPED: x86_64-w64-mingw32-g++ is not installed (Debian package g++-mingw-w64-x86-64)"
        return 0
    fi
    mkdir -p "$dir"
    x86_64-w64-mingw32-g++ "${CXXFLAGS[@]}" -static -o "$dir/argv_child.exe" \
        "$ROOT/tests/windows/argv_child.cpp" -lshell32 || return 1
    x86_64-w64-mingw32-g++ "${CXXFLAGS[@]}" -static -I "$ROOT/src" -o "$dir/argv_run.exe" \
        "$ROOT/tests/windows/argv_run.cpp" "$ROOT/src/platform/command_line.cpp" || return 1
    # The users' Windows is Chinese: ANSI code page 936, which wine takes from the locale.
    wine_prepare_locale "$OUT" || { echo "argv: no Chinese locale"; return 1; }
    t0=$SECONDS
    wine_start "$wine" "$OUT/wineprefix" "$WINE_TIMEOUT" "$OUT/wineboot.log"
    rc=$?
    echo "wine: $("$wine" --version 2>/dev/null), prefix ${WINEPREFIX#"$ROOT"/}"
    if [[ $rc -eq 124 ]]; then
        wine_unavailable "argv: wine did not start within ${WINE_TIMEOUT} s"
        return
    elif [[ $rc -ne 0 ]]; then
        sed 's/^/    /' "$OUT/wineboot.log" | tail -n 5
        wine_unavailable "argv: wine did not start (wineboot status $rc)"
        return
    fi
    echo "wine: started in $((SECONDS - t0)) s"
    (cd "$dir" && timeout -k 10 120 "${WINE_LOCALE[@]}" "$wine" "$dir/argv_run.exe" </dev/null)
    rc=$?
    wineserver_stop "$wine"
    [[ $rc -eq 124 || $rc -eq 137 ]] && echo "argv: the run did not end within 120 s"
    return $rc
}

mkdir -p "$OUT"
status=0

echo "---- compile"
if ! command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
    echo "i686-w64-mingw32-g++ is not installed (Debian package g++-mingw-w64-i686)"
    exit 1
fi
if ! include="$(python37_include)"; then
    echo "CPython 3.7's headers were not found (set ORVANE_PY37_INCLUDE)"
    exit 1
fi
echo "headers: $include, pyconfig.h from packaging/windows/"
windows_headers "$include" "$OUT/include"
if step_compile "$OUT/include" "$OUT/obj"; then
    echo "---- link"
    step_link "$OUT/obj" || status=1
else
    status=1
fi

echo "---- splitter helpers"
step_splitter || status=1

if [[ $RUN_WINE -eq 1 ]]; then
    echo "---- argv under wine"
    step_argv || status=1
fi
exit $status
