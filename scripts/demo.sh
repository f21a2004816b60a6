#!/usr/bin/env bash
# One whole Orvane job, from a fresh clone:
#   installs what it needs, makes a sample batch of scanned PDFs, starts the job-announcement service,
#   writes the URL database, issues a login token, runs the job through the module and the splitter,
#   shows what was produced and what the service recorded, and stops the service.
#
#   bash scripts/demo.sh
#
# Environment:
#   ORVANE_PYTHON     an interpreter that already has the project installed (pip install '.[tools]');
#                     skips the set-up and the virtual environment
#   ORVANE_DEMO_DIR   folder for the run (default: a new folder under /tmp); it is kept afterwards
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
say() { printf '\n== %s\n' "$*"; }

# --- 1. Install -----------------------------------------------------------------------------------
if [[ -n "${ORVANE_PYTHON:-}" ]]; then
    PY="$ORVANE_PYTHON"
else
    if [[ -f "$ROOT/scripts/setup.sh" ]]; then
        say "Installing the Debian packages the build needs"
        bash "$ROOT/scripts/setup.sh"
    fi
    VENV="$ROOT/.venv-demo"
    if [[ ! -x "$VENV/bin/python" ]]; then
        say "Creating the virtual environment $VENV"
        python3 -m venv "$VENV"
    fi
    PY="$VENV/bin/python"
    say "Building and installing Orvane into it (the first build takes a few minutes)"
    "$PY" -m pip install -q --disable-pip-version-check --upgrade pip
    "$PY" -m pip install -q --disable-pip-version-check "$ROOT[tools]"
fi
BIN="$(dirname "$PY")"
orvane() { "$PY" -m orvane_tools "$@"; }
"$PY" -c "import Orvane, orvane_tools" || { echo "demo: the Orvane module is not importable by $PY" >&2; exit 1; }

WORK="${ORVANE_DEMO_DIR:-$(mktemp -d /tmp/orvane-demo.XXXXXX)}"
mkdir -p "$WORK"
WORK="$(cd "$WORK" && pwd)"
SCANS="$WORK/scans"
OUT="$WORK/out"
mkdir -p "$SCANS" "$OUT" "$WORK/bin"

# --- 2. Sample input and the splitter ---------------------------------------------------------------
say "Making a sample batch of scanned PDFs in $SCANS"
"$PY" -m orvane_tools.samples "$SCANS"

SPLITTER="$(PATH="$BIN:$PATH" command -v orvaneFun.exe || true)"
if [[ -n "$SPLITTER" ]]; then
    say "Splitter: $SPLITTER"
else
    # Until the reference splitter is installed, the tests' stand-in takes its place: it makes one
    # folder per source file and says so, but splits nothing.
    say "No orvaneFun.exe installed yet: building the test stand-in in its place"
    cmake -S "$ROOT/tests/standin" -B "$WORK/standin-build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$WORK/standin-build" >/dev/null
    SPLITTER="$WORK/bin/orvaneFun.exe"
    cp "$WORK/standin-build/orvaneFun.exe" "$SPLITTER"
    "$PY" - "$SCANS" "$WORK/bin/orvaneFun.script" <<'EOF'
import os, sys
scans, script = sys.argv[1], sys.argv[2]
hexed = lambda text: text.encode("utf-8").hex()
steps = []
for parent, _dirs, files in sorted(os.walk(scans)):
    for name in sorted(files):
        rel = os.path.relpath(os.path.join(parent, name), scans)
        steps.append("mkdir " + hexed(os.path.splitext(rel.replace(os.sep, "_"))[0]))
        steps.append("out " + hexed("{}: stand-in splitter, nothing split\n".format(rel)))
        steps.append("sleep 0.7")
steps.append("out " + hexed("stand-in: {} files seen\n".format(len(steps) // 3)))
with open(script, "w") as fh:
    fh.write("\n".join(steps) + "\n")
EOF
fi
unset ORVANE_STANDIN_SCRIPT

# --- 3. The announcement service -----------------------------------------------------------------
say "Starting the job-announcement service"
umask 077
"$PY" -c "import secrets; print(secrets.token_hex(32))" >"$WORK/secret"
umask 022
SERVICE_PID=""
stop_service() {
    if [[ -n "$SERVICE_PID" ]] && kill -0 "$SERVICE_PID" 2>/dev/null; then
        kill -TERM "$SERVICE_PID" 2>/dev/null || true
        wait "$SERVICE_PID" 2>/dev/null || true
    fi
}
trap stop_service EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
"$PY" -m orvane_tools serve --port 0 --port-file "$WORK/service.port" --db "$WORK/announcements.db" \
    --secret-file "$WORK/secret" >"$WORK/service.out" 2>"$WORK/service.log" &
SERVICE_PID=$!
for _ in $(seq 1 100); do
    [[ -s "$WORK/service.port" ]] && break
    kill -0 "$SERVICE_PID" 2>/dev/null || { cat "$WORK/service.log" >&2; exit 1; }
    sleep 0.1
done
[[ -s "$WORK/service.port" ]] || { echo "demo: the service did not start" >&2; exit 1; }
URL="http://127.0.0.1:$(cat "$WORK/service.port")/commit"
echo "listening at $URL"

say "Writing the URL database and issuing a login token"
orvane urldb "$WORK/url.db" --url "$URL"
ORVANE_TOKEN="$(orvane token --secret-file "$WORK/secret" --subject demo-user --expires-in 10m)"
export ORVANE_TOKEN
echo "token for demo-user, valid 10 minutes (kept in ORVANE_TOKEN, not on the command line)"

# --- 4. The job -------------------------------------------------------------------------------------
say "Running the job: orvane split $SCANS $OUT"
status=0
orvane split "$SCANS" "$OUT" --urldb "$WORK/url.db" --splitter "$SPLITTER" --workdir "$WORK" || status=$?

# --- 5. What came out -------------------------------------------------------------------------------
say "Produced in $OUT"
"$PY" - "$OUT" <<'EOF'
import os, shutil, subprocess, sys
out = sys.argv[1]
counter = shutil.which("qpdf")
for parent, dirs, files in sorted(os.walk(out)):
    dirs.sort()
    rel = os.path.relpath(parent, out)
    if rel != ".":
        print(rel + "/")
    for name in sorted(files):
        path = os.path.join(parent, name)
        pages = ""
        if counter and name.lower().endswith(".pdf"):
            done = subprocess.run([counter, "--show-npages", path], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, universal_newlines=True)
            if done.returncode == 0:
                count = done.stdout.strip()
                pages = ", {} page{}".format(count, "" if count == "1" else "s")
        print("    {} ({} bytes{})".format(name, os.path.getsize(path), pages))
EOF

say "What the service recorded"
orvane log --db "$WORK/announcements.db"

say "Done (exit status $status). Everything is kept in $WORK"
exit "$status"
