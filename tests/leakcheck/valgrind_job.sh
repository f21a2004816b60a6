#!/usr/bin/env bash
# Runs one whole Orvane job, and every caught-failure path once, under valgrind's memcheck, and
# fails when a definite or indirect leak, or a memory error, has a stack that passes through the
# module's shared object.
#
# Usage: tests/leakcheck/valgrind_job.sh [PYTHON]
#   PYTHON   an interpreter with Orvane (and the test requirements) installed; default python3.
# Environment: ORVANE_VALGRIND_OUT   folder for valgrind.xml and valgrind.log (default: a new
#                                    temporary folder, named in the output).
# Exit status: 0 clean, 1 records through the module, 2 the job itself failed or no valgrind.
#
# The interpreter runs with PYTHONMALLOC=malloc so that every Python object is a malloc block
# valgrind can follow. CPython frees little at exit by design, and 3.11 makes int objects whose
# spare digit valgrind takes for uninitialised (the origin is _PyLong_New): such records are
# counted in the summary but fail nothing unless the module's own code is on their stack
# (report.py; a record raised while the module imports another module belongs to that import).
# No suppression file is needed.
set -uo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
PY="${1:-python3}"
OUT="${ORVANE_VALGRIND_OUT:-$(mktemp -d "${TMPDIR:-/tmp}/orvane-valgrind.XXXXXX")}"
mkdir -p "$OUT"

command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 2; }
SO="$("$PY" -c 'import importlib.util; print(importlib.util.find_spec("Orvane").origin)')" || {
    echo "Orvane is not importable with $PY"; exit 2; }
echo "module: $SO"
echo "python: $("$PY" -c 'import sys; print(sys.version.split()[0])') ($PY)"
# The stand-in splitter is built (or found in its cache) outside valgrind.
"$PY" -c "import sys; sys.path.insert(0, '$HERE/..'); from fixtures.standin import build_standin; build_standin()" || exit 2

echo "valgrind output: $OUT"
t0=$SECONDS
PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full \
    --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect \
    --num-callers=50 --trace-children=no \
    --xml=yes --xml-file="$OUT/valgrind.xml" --log-file="$OUT/valgrind.log" \
    "$PY" "$HERE/one_job.py"
rc=$?
echo "valgrind run: $((SECONDS - t0)) s, the job's exit status $rc"
if [[ $rc -ne 0 ]]; then
    echo "the job failed under valgrind (exit status $rc); see above, $OUT/valgrind.log and $OUT/valgrind.xml"
    exit 2
fi
"$PY" "$HERE/report.py" "$OUT/valgrind.xml" "$SO"
