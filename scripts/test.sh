#!/usr/bin/env bash
# Builds Orvane and runs every test, on a fresh machine as on a developer's.
#
# Stages, in order:
#   setup          Debian packages (scripts/setup.sh)
#   windows        scripts/windows-check.sh: every src/ file compiled for 32-bit Windows against
#                  CPython 3.7's headers (no warnings), Orvane.cp37-win32.pyd linked, and the
#                  splitter's command line run through cmd.exe under wine (skipped without wine)
#   win32-zip    scripts/build-windows-zip.sh: the Windows libraries (built once per machine into a
#                  cache outside the clone), orvaneFun.exe cross-built for 32-bit Windows,
#                  dist/orvane-win32.zip; then scripts/windows-splitter-check.sh runs the splitter
#                  unpacked from it under wine against the Linux build (skipped without wine
#                  outside CI, failed under CI=true)
#   tests-3.7      fresh venv on CPython 3.7: pip install . + test requirements, full test suite
#   tests-3.11     the same on the machine's default python3
#                  (leaks, under valgrind too, are checked by the suite itself: tests/test_leaks.py)
#   import-3.X     fresh venv, pip install ., import Orvane: every other CPython 3.8-3.13 found
#   sanitize       the module (and the splitter) built with ASan+UBSan on the default python3,
#                  full test suite with the runtimes preloaded; any report fails the stage
#   source-install scripts/check-source-install.sh on CPython 3.7: with the PDF libraries' packages
#                  hidden, `pip install .` stops within 30 s with the one message naming them, and
#                  the module-only build installs and imports (needs root)
#   wheel          scripts/build-wheel.sh: the sdist, and built from it a repaired manylinux wheel
#                  for CPython 3.7 and the default python3; then scripts/check-wheel.sh on each:
#                  fresh venv, a whole demo job with the system's copies of the libraries the
#                  wheel carries hidden in a mount namespace (needs root)
#   fuzz           the splitter's libFuzzer target (clang, ASan+UBSan) for ORVANE_FUZZ_SECONDS
#                  (default 120); any crash, hang, sanitizer report or out-of-memory find fails it
# A failed stage does not stop the later ones; the exit status is non-zero if any failed.
#
# Usage: scripts/test.sh [options] [-- extra pytest arguments]
#   --quick          setup and the full suite on the default python3 only
#   --only LIST      run only these stages (comma separated; "tests", "import" name a family,
#                    "3.7" or "tests-3.7" one stage)
#   --skip LIST      leave these stages out (same names)
#   --no-setup       same as --skip setup
#   --reuse-venvs    keep existing virtual environments instead of recreating them
#   -h, --help       this text
# Environment: ORVANE_TEST_TIMEOUT (seconds per test-suite run, default 1500),
#              ORVANE_SANITIZE_TIMEOUT (default 2400), ORVANE_CASE_TIMEOUT (seconds per test
#              when pytest-timeout is installed, default 600), ORVANE_WINDOWS_TIMEOUT (default 600),
#              ORVANE_WIN32_ZIP_TIMEOUT (default 3000: a first build of the libraries included),
#              ORVANE_WHEEL_TIMEOUT (seconds for building the wheels, and for checking each,
#              default 900), ORVANE_FUZZ_SECONDS (default 120).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT" || exit 2
BUILD="$ROOT/build"
LOGS="$BUILD/logs"
PYENV_VERSIONS="${PYENV_ROOT:-/root/.pyenv}/versions"

TEST_TIMEOUT="${ORVANE_TEST_TIMEOUT:-1500}"
SANITIZE_TIMEOUT="${ORVANE_SANITIZE_TIMEOUT:-2400}"
CASE_TIMEOUT="${ORVANE_CASE_TIMEOUT:-600}"
WINDOWS_TIMEOUT="${ORVANE_WINDOWS_TIMEOUT:-600}"
WIN32_ZIP_TIMEOUT="${ORVANE_WIN32_ZIP_TIMEOUT:-3000}"
WHEEL_TIMEOUT="${ORVANE_WHEEL_TIMEOUT:-900}"
FUZZ_SECONDS="${ORVANE_FUZZ_SECONDS:-120}"

export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 PIP_PROGRESS_BAR=off
export PYTHONDONTWRITEBYTECODE=1
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"

usage() { sed -n '2,/^set -uo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'; }

ONLY=""
SKIP=""
QUICK=0
REUSE=0
PYTEST_EXTRA=()
while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) QUICK=1 ;;
        --only) ONLY="${ONLY:+$ONLY,}${2:?--only needs a list}"; shift ;;
        --only=*) ONLY="${ONLY:+$ONLY,}${1#--only=}" ;;
        --skip) SKIP="${SKIP:+$SKIP,}${2:?--skip needs a list}"; shift ;;
        --skip=*) SKIP="${SKIP:+$SKIP,}${1#--skip=}" ;;
        --no-setup) SKIP="${SKIP:+$SKIP,}setup" ;;
        --reuse-venvs) REUSE=1 ;;
        -h|--help) usage; exit 0 ;;
        --) shift; PYTEST_EXTRA=("$@"); break ;;
        *) echo "test.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
    esac
    shift
done

mkdir -p "$LOGS"

# ---------------------------------------------------------------- helpers

# True when stage $1 is named by one of the comma-separated items in $2.
# An item names a stage exactly, a family ("tests" for tests-*), or a
# version ("3.7" for tests-3.7 / import-3.7).
named_in() {
    local stage="$1" item
    local IFS=,
    for item in $2; do
        [[ -z "$item" ]] && continue
        if [[ "$stage" == "$item" || "$stage" == "$item"-* || "$stage" == *-"$item" ]]; then
            return 0
        fi
    done
    return 1
}

selected() {
    local stage="$1"
    if [[ -n "$ONLY" ]] && ! named_in "$stage" "$ONLY"; then return 1; fi
    if [[ -n "$SKIP" ]] && named_in "$stage" "$SKIP"; then return 1; fi
    return 0
}

# The real interpreter for CPython 3.$1, or nothing. pyenv's own folder is
# preferred; a pythonX.Y on PATH (possibly a pyenv shim) is checked by running it.
find_python() {
    local minor="$1" cand
    for cand in $(ls -d "$PYENV_VERSIONS"/3."$minor".*/bin/python3."$minor" 2>/dev/null | sort -V -r) \
                "$(command -v python3."$minor" 2>/dev/null)"; do
        [[ -n "$cand" && -x "$cand" ]] || continue
        cand="$("$cand" -c 'import sys; print(sys.executable)' 2>/dev/null </dev/null)" || continue
        if [[ "$("$cand" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null </dev/null)" == "3.$minor" ]]; then
            echo "$cand"
            return 0
        fi
    done
    return 1
}

py_version() { "$1" -c 'import sys; print(sys.version.split()[0])' </dev/null; }

# Prints the last lines of a log, and the compiler/CMake error lines first,
# so that a build failure is readable in CI's output.
show_log_failure() {
    local log="$1"
    echo "---- errors in $log ----"
    grep -n -E '(error|Error|ERROR)(:| [0-9A-Z])|undefined reference|CMake Error|No matching distribution' "$log" | head -n 60
    echo "---- last 80 lines of $log ----"
    tail -n 80 "$log"
    echo "---- end of $log ----"
}

# make_venv PYTHON DIR: a fresh virtual environment (or the old one with --reuse-venvs).
make_venv() {
    local py="$1" dir="$2"
    if [[ $REUSE -eq 1 && -x "$dir/bin/python" ]]; then
        echo "venv: reusing $dir"
        return 0
    fi
    rm -rf "$dir"
    "$py" -m venv "$dir" </dev/null || { echo "venv: could not create $dir with $py"; return 1; }
}

# pip_step LOG DESCRIPTION PIP-ARGS...: runs the venv's pip with full output in LOG.
pip_step() {
    local log="$1" what="$2"; shift 2
    local t0=$SECONDS
    if "$VPY" -m pip install -v "$@" >>"$log" 2>&1 </dev/null; then
        echo "pip: $what: ok ($((SECONDS - t0)) s)"
        return 0
    fi
    echo "pip: $what: FAILED ($((SECONDS - t0)) s, full log: ${log#"$ROOT"/})"
    show_log_failure "$log"
    return 1
}

# Imports Orvane from the venv in a clean folder; fails unless it comes from the
# venv's site-packages and imports without a RuntimeWarning (each build is made
# for its own interpreter, so the version check must stay silent).
IMPORT_CHECK='
import importlib.util, os, sys, warnings
spec = importlib.util.find_spec("Orvane")
if spec is None or not spec.origin:
    sys.exit("Orvane is not importable")
origin = os.path.realpath(spec.origin)
if not origin.startswith(os.path.realpath(sys.prefix) + os.sep):
    sys.exit("Orvane resolves to %s, outside this environment %s" % (origin, sys.prefix))
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import Orvane
print("import Orvane: ok, %s (Python %s)" % (origin, sys.version.split()[0]))
bad = 0
for w in caught:
    print("warning during import: %s: %s" % (w.category.__name__, w.message))
    if issubclass(w.category, RuntimeWarning):
        bad = 1
sys.exit(bad)
'

# import_check RUNDIR [env assignments...]
import_check() {
    local rundir="$1"; shift
    (cd "$rundir" && env -u PYTHONWARNINGS -u PYTHONPATH "$@" "$VPY" -c "$IMPORT_CHECK" </dev/null)
}

have_test_files() {
    [[ -n "$(find "$ROOT/tests" \( -name 'test_*.py' -o -name '*_test.py' \) -type f -print -quit 2>/dev/null)" ]]
}

# run_pytest STAGE TIMEOUT [env assignments...]: the whole suite from a folder
# outside the source tree, so that `import Orvane` finds the installed module.
run_pytest() {
    local stage="$1" tmo="$2"; shift 2
    local log="$LOGS/$stage.pytest.log" rundir rc
    rundir="$(mktemp -d "${TMPDIR:-/tmp}/orvane-$stage.XXXXXX")"
    local args=(-q -ra)
    # A hanging test is stopped and named by pytest-timeout, rather than the
    # whole run being killed by the outer limit with no word on which test hung.
    if "$VPY" -c 'import pytest_timeout' 2>/dev/null </dev/null; then
        args+=("--timeout=$CASE_TIMEOUT")
    fi
    echo "pytest: $VPY -m pytest tests ${args[*]} (from $rundir, limit ${tmo} s)"
    (cd "$rundir" && env -u PYTHONPATH "$@" timeout -k 30 "$tmo" \
        "$VPY" -m pytest "$ROOT/tests" "${args[@]}" ${PYTEST_EXTRA[@]+"${PYTEST_EXTRA[@]}"} </dev/null) 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    rm -rf "$rundir"
    record_counts "$stage" "$log"
    case $rc in
        0) return 0 ;;
        5)
            if have_test_files; then
                echo "pytest: no test ran although tests/ has test files"
                return 1
            fi
            echo "pytest: tests/ has no test files yet; nothing to run"
            return 0 ;;
        124|137) echo "pytest: stopped after ${tmo} s"; return 1 ;;
        *) echo "pytest: exit status $rc"; return 1 ;;
    esac
}

# Reads pytest's closing line ("3 failed, 120 passed, 2 skipped in 9.1s").
record_counts() {
    local stage="$1" log="$2" line p f e s
    line="$(grep -E '[0-9]+ (passed|failed|errors?|skipped|deselected|xfailed|xpassed)|no tests ran' "$log" \
            | grep -E ' in [0-9.]+s' | tail -n 1)"
    p="$(grep -oE '[0-9]+ passed' <<<"$line" | grep -oE '[0-9]+')"
    f="$(grep -oE '[0-9]+ failed' <<<"$line" | grep -oE '[0-9]+')"
    e="$(grep -oE '[0-9]+ errors?' <<<"$line" | grep -oE '[0-9]+')"
    s="$(grep -oE '[0-9]+ skipped' <<<"$line" | grep -oE '[0-9]+')"
    echo "${p:-0} $(( ${f:-0} + ${e:-0} )) ${s:-0}" >"$LOGS/$stage.counts"
}

# ---------------------------------------------------------------- stages

stage_setup() {
    bash "$ROOT/scripts/setup.sh"
}

stage_windows() {
    local rc
    timeout -k 30 "$WINDOWS_TIMEOUT" bash "$ROOT/scripts/windows-check.sh" </dev/null
    rc=$?
    [[ $rc -eq 124 || $rc -eq 137 ]] && echo "windows: stopped after ${WINDOWS_TIMEOUT} s"
    return $rc
}

# The zip for the users' Windows, and its splitter under wine. The comparison with the Linux build
# needs the test requirements (pypdf, Pillow, pytest): a venv of its own, on the default python3.
stage_win32_zip() {
    local stage="$1" py="$2" venv="$BUILD/venv-windows" log="$LOGS/win32-zip.pip.log" rc t0=$SECONDS
    timeout -k 30 "$WIN32_ZIP_TIMEOUT" bash "$ROOT/scripts/build-windows-zip.sh" </dev/null
    rc=$?
    [[ $rc -eq 124 || $rc -eq 137 ]] && echo "win32-zip: stopped after ${WIN32_ZIP_TIMEOUT} s"
    [[ $rc -eq 0 ]] || return $rc
    : >"$log"
    make_venv "$py" "$venv" || return 1
    VPY="$venv/bin/python"
    pip_step "$log" "install -r tests/requirements.txt" -r "$ROOT/tests/requirements.txt" || return 1
    ORVANE_PYTHON="$VPY" timeout -k 30 $((WIN32_ZIP_TIMEOUT - (SECONDS - t0))) \
        bash "$ROOT/scripts/windows-splitter-check.sh" "$ROOT/dist/orvane-win32.zip" </dev/null
    rc=$?
    [[ $rc -eq 124 || $rc -eq 137 ]] && echo "win32-zip: stopped after ${WIN32_ZIP_TIMEOUT} s"
    return $rc
}

# stage_tests STAGE PYTHON: fresh venv, the project and the test requirements, the suite.
stage_tests() {
    local stage="$1" py="$2"
    local venv="$BUILD/venv-${stage#tests-}" log="$LOGS/$stage.pip.log" rundir rc
    [[ -n "$py" ]] || { echo "no interpreter found for $stage"; return 1; }
    echo "python: $py ($(py_version "$py"))"
    : >"$log"
    make_venv "$py" "$venv" || return 1
    VPY="$venv/bin/python"
    pip_step "$log" "install . -r tests/requirements.txt" "$ROOT" -r "$ROOT/tests/requirements.txt" || return 1
    rundir="$(mktemp -d)"
    import_check "$rundir"; rc=$?
    rm -rf "$rundir"
    [[ $rc -eq 0 ]] || return 1
    run_pytest "$stage" "$TEST_TIMEOUT"
}

# stage_import STAGE PYTHON: fresh venv, pip install ., import Orvane.
stage_import() {
    local stage="$1" py="$2"
    local venv="$BUILD/venv-${stage#import-}" log="$LOGS/$stage.pip.log" rundir rc
    echo "python: $py ($(py_version "$py"))"
    : >"$log"
    make_venv "$py" "$venv" || return 1
    VPY="$venv/bin/python"
    pip_step "$log" "install ." "$ROOT" || return 1
    rundir="$(mktemp -d)"
    import_check "$rundir"; rc=$?
    rm -rf "$rundir"
    return $rc
}

# The sanitizer build: everything compiled with -fsanitize=address,undefined
# (the ORVANE_SANITIZE CMake option) in its own build folder. CPython is not
# built with ASan, so the runtimes are preloaded into the interpreter, and
# PYTHONMALLOC=malloc routes Python's allocations through ASan's allocator.
# CPython leaks by design at exit, so leak detection is off here (leaks have
# their own tests). Reports go to files as well as aborting the process, so a
# report from a child process whose exit status a test ignores still fails
# the stage.
stage_sanitize() {
    local stage="$1" py="$2"
    local venv="$BUILD/venv-asan" log="$LOGS/sanitize.pip.log" reports="$LOGS/sanitize-reports"
    local asan ubsan so rundir rc=0 f
    [[ -n "$py" ]] || { echo "no default python3"; return 1; }
    asan="$(readlink -f "$(gcc -print-file-name=libasan.so)")"
    ubsan="$(readlink -f "$(gcc -print-file-name=libubsan.so)")"
    if [[ ! -f "$asan" || ! -f "$ubsan" ]]; then
        echo "sanitizer runtimes not found (libasan: '$asan', libubsan: '$ubsan')"
        return 1
    fi
    echo "python: $py ($(py_version "$py"))"
    echo "runtimes: $asan $ubsan"
    : >"$log"
    make_venv "$py" "$venv" || return 1
    VPY="$venv/bin/python"
    pip_step "$log" "install -r tests/requirements.txt" -r "$ROOT/tests/requirements.txt" || return 1
    pip_step "$log" "install . (ORVANE_SANITIZE=ON)" "$ROOT" \
        --config-settings=cmake.define.ORVANE_SANITIZE=ON \
        "--config-settings=build-dir=$BUILD/asan/{wheel_tag}" || return 1

    # Make sure the stage really tests an instrumented build.
    so="$("$VPY" -c 'import importlib.util; print(importlib.util.find_spec("Orvane").origin)' </dev/null 2>/dev/null)"
    # (ldd's output is read whole: grep -q would close the pipe early, and
    # under pipefail ldd's SIGPIPE would read as "not linked".)
    if [[ -z "$so" ]] || [[ "$(ldd "$so" 2>/dev/null)" != *libasan* ]]; then
        echo "the installed module ($so) is not linked with ASan: the sanitize option did not take effect"
        return 1
    fi
    echo "module: $so (instrumented)"
    while IFS= read -r f; do
        if [[ "$(ldd "$f" 2>/dev/null)" == *libasan* ]]; then
            echo "splitter: $f (instrumented)"
        else
            echo "splitter: $f is NOT instrumented"; rc=1
        fi
    done < <(find "$venv" "$BUILD/asan" -type f -name 'orvaneFun*' -perm -u+x 2>/dev/null)
    [[ $rc -eq 0 ]] || return 1

    rm -rf "$reports"; mkdir -p "$reports"
    local sanenv=(
        LD_PRELOAD="$asan:$ubsan${LD_PRELOAD:+:$LD_PRELOAD}"
        PYTHONMALLOC=malloc
        ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=1:log_path=$reports/asan:log_exe_name=1"
        UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan:log_exe_name=1"
        # Lets tests leave out what cannot work under the sanitizers (valgrind,
        # resident-memory bounds that ASan's quarantine would break).
        ORVANE_SANITIZER=address,undefined
    )
    echo "environment: ${sanenv[*]}"
    rundir="$(mktemp -d)"
    import_check "$rundir" "${sanenv[@]}" || rc=1
    rm -rf "$rundir"
    [[ $rc -eq 0 ]] && { run_pytest "$stage" "$SANITIZE_TIMEOUT" "${sanenv[@]}" || rc=1; }
    if [[ -n "$(ls -A "$reports")" ]]; then
        echo "sanitizer reports:"
        for f in "$reports"/*; do
            echo "==== ${f##*/}"
            head -n 120 "$f"
        done
        rc=1
    else
        echo "sanitizer reports: none"
    fi
    return $rc
}

# The source install on a machine without the PDF libraries; one test in the closing line.
stage_source_install() {
    local stage="$1" py="$2" log="$LOGS/source-install.log"
    [[ -n "$py" ]] || { echo "needs CPython 3.7"; return 1; }
    [[ $(id -u) -eq 0 ]] || { echo "needs root: the check hides packages in a mount namespace"; return 1; }
    if timeout -k 30 "$WHEEL_TIMEOUT" bash "$ROOT/scripts/check-source-install.sh" "$py" >"$log" 2>&1 </dev/null; then
        grep -vE '^WARNING: Location' "$log"
        echo "1 0 0" >"$LOGS/$stage.counts"
        return 0
    fi
    show_log_failure "$log"
    echo "0 1 0" >"$LOGS/$stage.counts"
    return 1
}

# The wheels of scripts/build-wheel.sh, each installed and run by scripts/check-wheel.sh. Every
# wheel checked counts as one test in the closing line.
stage_wheel() {
    local stage="$1" py="$2"
    local log="$LOGS/wheel.log" checklog tag wheel python passed=0 failed=0
    [[ -n "$PY37" && -n "$py" ]] || { echo "needs CPython 3.7 and a default python3"; return 1; }
    [[ $(id -u) -eq 0 ]] || { echo "needs root: the check hides libraries in a mount namespace"; return 1; }
    if ! timeout -k 30 "$WHEEL_TIMEOUT" bash "$ROOT/scripts/build-wheel.sh" "$PY37" "$py" >"$log" 2>&1 </dev/null; then
        echo "build-wheel.sh: FAILED"
        show_log_failure "$log"
        return 1
    fi
    grep -E '^(== |built in|Fixed-up wheel)|consistent with$|^the following platform tag' "$log"
    for tag in "cp37|$PY37" "cp3$DEFAULT_MINOR|$py"; do
        python="${tag#*|}"; tag="${tag%%|*}"
        wheel="$(ls "$ROOT"/dist/orvane-*-"$tag"-*.whl 2>/dev/null | head -n 1)"
        checklog="$LOGS/wheel-check-$tag.log"
        echo
        echo "check-wheel.sh ${wheel##*/} $python"
        if [[ -n "$wheel" ]] && timeout -k 30 "$WHEEL_TIMEOUT" bash "$ROOT/scripts/check-wheel.sh" \
                "$wheel" "$python" >"$checklog" 2>&1 </dev/null; then
            grep -E '^(hidden:|every library|Summary:|orvane: |== Done)' "$checklog"
            passed=$((passed + 1))
        else
            show_log_failure "$checklog"
            failed=$((failed + 1))
        fi
    done
    echo "$passed $failed 0" >"$LOGS/$stage.counts"
    [[ $failed -eq 0 ]]
}

# The fuzz target over the splitter's path from PDF bytes to written documents,
# for a bounded time (the build and the slowest input on top of it are
# bounded too).
stage_fuzz() {
    timeout -k 30 $((FUZZ_SECONDS + 900)) bash "$ROOT/scripts/fuzz.sh" "$FUZZ_SECONDS" </dev/null
}

# ---------------------------------------------------------------- plan

DEFAULT_PY="$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null </dev/null || true)"
DEFAULT_MINOR=""
[[ -n "$DEFAULT_PY" ]] && DEFAULT_MINOR="$("$DEFAULT_PY" -c 'import sys; print(sys.version_info[1])' </dev/null)"
PY37="$(find_python 7 || true)"

if [[ $QUICK -eq 1 ]]; then
    ONLY="${ONLY:+$ONLY,}setup,tests-3.${DEFAULT_MINOR:-11}"
fi

STAGES=()   # entries "name|function|python"
STAGES+=("setup|stage_setup|")
STAGES+=("windows|stage_windows|")
STAGES+=("win32-zip|stage_win32_zip|$DEFAULT_PY")
if [[ "$DEFAULT_MINOR" != 7 ]]; then
    STAGES+=("tests-3.7|stage_tests|$PY37")
fi
STAGES+=("tests-3.${DEFAULT_MINOR:-11}|stage_tests|$DEFAULT_PY")
for minor in 8 9 10 11 12 13; do
    [[ "$minor" == "$DEFAULT_MINOR" ]] && continue
    py="$(find_python "$minor" || true)"
    [[ -n "$py" ]] && STAGES+=("import-3.$minor|stage_import|$py")
done
STAGES+=("sanitize|stage_sanitize|$DEFAULT_PY")
STAGES+=("source-install|stage_source_install|$PY37")
STAGES+=("wheel|stage_wheel|$DEFAULT_PY")
STAGES+=("fuzz|stage_fuzz|")

echo "Orvane tests: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?') on $(uname -m), $(nproc) cores, CI=${CI:-false}"
echo "default python3: ${DEFAULT_PY:-none}; CPython 3.7: ${PY37:-none}"

# ---------------------------------------------------------------- run

SUMMARY=()
FAILED=0
TOTAL_P=0 TOTAL_F=0 TOTAL_S=0
ALL_START=$SECONDS
n=0
for entry in "${STAGES[@]}"; do
    IFS='|' read -r name func py <<<"$entry"
    selected "$name" || continue
    n=$((n + 1))
    echo
    echo "==================== [$n] $name ===================="
    rm -f "$LOGS/$name.counts"
    t0=$SECONDS
    ( "$func" "$name" "$py" )
    rc=$?
    dt=$((SECONDS - t0))
    if [[ $rc -eq 0 ]]; then status=ok; else status=FAILED; FAILED=1; fi
    counts=""
    if [[ -f "$LOGS/$name.counts" ]]; then
        read -r p f s <"$LOGS/$name.counts"
        TOTAL_P=$((TOTAL_P + p)); TOTAL_F=$((TOTAL_F + f)); TOTAL_S=$((TOTAL_S + s))
        counts=", $p passed/$f failed/$s skipped"
    fi
    echo "==================== $name: $status (${dt} s$counts) ===================="
    SUMMARY+=("$name $status ${dt}s")
done

echo
if [[ $n -eq 0 ]]; then
    echo "test.sh: no stage selected (see --help)"
    exit 2
fi
summary_line="$(printf '%s; ' "${SUMMARY[@]}")"
echo "stages: ${summary_line%; } (total $((SECONDS - ALL_START)) s): $([[ $FAILED -eq 0 ]] && echo ALL OK || echo FAILURES)"
# The combined count of every test-suite run, in the plain closing form.
echo "tests: $TOTAL_P passed, $TOTAL_F failed, $TOTAL_S skipped"
exit $FAILED
