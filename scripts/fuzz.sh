#!/usr/bin/env bash
# Builds the splitter's libFuzzer target (clang, ASan + UBSan) and runs it.
#
# Usage: scripts/fuzz.sh [SECONDS]      (default 120)
#
# The target opens each input in memory, judges every page and writes the
# documents into a temporary folder (splitter/fuzz/fuzz_split.cpp). It starts
# from the seed PDFs in splitter/fuzz/seeds and the regression inputs in
# tests/splitter/regressions; what it learns is kept in build/fuzz/corpus.
# Crashing, hanging or memory-hungry inputs land in build/fuzz/artifacts;
# inputs on which qpdf or poppler crashed inside a helper process of the splitter
# (caught by that isolation, so no failure) in build/fuzz/isolated.
# Prints executions, executions per second, coverage and finds; the exit
# status is non-zero when something was found or the run did not complete.
# Environment: ORVANE_FUZZ_BUILD (build folder, default build/fuzz).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_WANTED="${1:-120}"
[[ "$SECONDS_WANTED" =~ ^[0-9]+$ && "$SECONDS_WANTED" -gt 0 ]] || {
    echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2; }
BUILD="${ORVANE_FUZZ_BUILD:-$ROOT/build/fuzz}"
CORPUS="$BUILD/corpus"
ARTIFACTS="$BUILD/artifacts"
ISOLATED="$BUILD/isolated"
LOG="$BUILD/fuzz.log"
mkdir -p "$BUILD" "$CORPUS" "$ARTIFACTS" "$ISOLATED"

# A sanitizer run of the suite may preload its runtime: not into clang.
unset LD_PRELOAD
t0=$SECONDS
if ! { CXX=clang++ cmake -S "$ROOT/splitter" -B "$BUILD" -DORVANE_SPLITTER_FUZZ=ON \
         -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       && cmake --build "$BUILD" --target orvaneFuzz; } >"$BUILD/build.log" 2>&1; then
    echo "fuzz: the build failed (log: $BUILD/build.log)"
    tail -n 40 "$BUILD/build.log"
    exit 1
fi
echo "fuzz: built $BUILD/orvaneFuzz ($((SECONDS - t0)) s)"

before="$(ls "$ARTIFACTS" | wc -l)"
isolated_before="$(ls "$ISOLATED" | wc -l)"
# -timeout is per input: above the splitter's own budgets (reading 30 s,
# rendering 10 s a page), so only a real hang trips it. Memory a library
# cannot get comes back as a failed allocation (allocator_may_return_null):
# the splitter must survive that, and -malloc_limit_mb reports any single
# allocation over the limit.
echo "fuzz: running for $SECONDS_WANTED s (log: $LOG)"
ASAN_OPTIONS="allocator_may_return_null=1:quarantine_size_mb=16:${ASAN_OPTIONS:-}" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" ORVANE_FUZZ_ISOLATED="$ISOLATED" \
timeout -k 30 $((SECONDS_WANTED + 300)) \
    "$BUILD/orvaneFuzz" -max_total_time="$SECONDS_WANTED" -max_len=65536 -timeout=120 \
    -rss_limit_mb=1024 -malloc_limit_mb=1024 -print_final_stats=1 \
    -dict="$ROOT/splitter/fuzz/pdf.dict" \
    -artifact_prefix="$ARTIFACTS/" \
    "$CORPUS" "$ROOT/splitter/fuzz/seeds" "$ROOT/tests/splitter/regressions" >"$LOG" 2>&1
rc=$?

execs="$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$LOG" | grep -oE '[0-9]+$')"
speed="$(grep -oE 'stat::average_exec_per_sec: *[0-9]+' "$LOG" | grep -oE '[0-9]+$')"
rss="$(grep -oE 'stat::peak_rss_mb: *[0-9]+' "$LOG" | grep -oE '[0-9]+$')"
last="$(grep -E '^#[0-9]+' "$LOG" | tail -n 1)"
cov="$(grep -oE 'cov: [0-9]+' <<<"$last" | grep -oE '[0-9]+')"
ft="$(grep -oE 'ft: [0-9]+' <<<"$last" | grep -oE '[0-9]+')"
units="$(grep -oE 'corp: [0-9]+' <<<"$last" | grep -oE '[0-9]+')"
reports="$(grep -c -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$LOG")"
found="$(( $(ls "$ARTIFACTS" | wc -l) - before ))"
echo "fuzz: ${execs:-?} executions in $SECONDS_WANTED s, ${speed:-?} exec/s, coverage ${cov:-?} edges" \
     "(${ft:-?} features), corpus ${units:-?} inputs, peak RSS ${rss:-?} MB"
echo "fuzz: finds: $found new input(s) in $ARTIFACTS, $reports sanitizer report(s) in the log"
echo "fuzz: library crashes caught in a helper process: $(( $(ls "$ISOLATED" | wc -l) - isolated_before )) new input(s) in $ISOLATED"
ls -t "$ARTIFACTS" | head -n "$found" | sed 's/^/fuzz:   /'
if [[ $rc -ne 0 || $found -ne 0 || $reports -ne 0 ]]; then
    echo "fuzz: FAILED (libFuzzer exit status $rc)"
    grep -E -A 30 'ERROR: |runtime error:' "$LOG" | head -n 80
    exit 1
fi
echo "fuzz: ok"
