#!/bin/bash
# The screenshots of the window in tools/README.md, in each language: ready, a job under way, the
# review with its legend, the Details pane, Advanced settings in full, a review of long document names with a hover, watching
# with files waiting, the review of a batch split by `orvane watch`, with its thumbnails, and the
# window on a 1366×768 screen at its first size, Advanced and Details open. A real job: a private
# announcement service on 127.0.0.1, the sample batches and a long file, the splitter on PATH (or
# ORVANE_SPLITTER), on a private Xvfb server (scripts/screenshot.py).
#
#   PYTHON=build/venv-3.11/bin/python bash scripts/window-screens.sh [OUTDIR]   (default: docs)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
py=${PYTHON:-python3}
out=$(cd "${1:-$here/docs}" && pwd)
splitter=$(realpath "${ORVANE_SPLITTER:-$(command -v orvaneFun.exe || echo "$(dirname "$py")/orvaneFun.exe")}")
work=$(mktemp -d)
export PYTHONPATH="$here/tools${PYTHONPATH:+:$PYTHONPATH}" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
unset ORVANE_TOKEN
head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n' > "$work/secret"
"$py" -m orvane_tools serve --port 0 --port-file "$work/port" --db "$work/announcements.db" \
    --secret-file "$work/secret" > "$work/serve.log" 2>&1 &
serve=$!
trap 'kill $serve 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
"$py" -m orvane_tools urldb "$work/url.db" --url "http://127.0.0.1:$(cat "$work/port")/commit" > /dev/null
"$py" -m orvane_tools token --secret-file "$work/secret" --subject clerk > "$work/token"

settings() {  # source target [fit|advanced]: the window's remembered settings; "fit": Advanced open, no
    # size yet; "advanced": Advanced open in a tall window, text recognised in Chinese and English
    mkdir -p "$work/config/orvane"
    "$py" - "$1" "$2" "$work" "$splitter" "${3:-}" <<'PY'
import json, sys
source, target, work, splitter, fit = sys.argv[1:]
values = {"source": source, "target": target, "urldb": work + "/url.db", "splitter": splitter, "workers": 1,
          "threshold": 19, "token_file": work + "/token", "geometry": "1100x800+0+0"}
if fit == "fit":
    del values["geometry"]
if fit:
    values["advanced"] = "1"
if fit == "advanced":
    values.update(geometry="1100x1040+0+0", ocr="chi_sim+eng")
json.dump(values, open(work + "/config/orvane/gui.json", "w"))
PY
}

# Where the pointer rests in the long-name review: on the second document's pages (x,y in the
# 1100×800 window).
REVIEW_POINT=${REVIEW_POINT:-360,600}

for lang in en zh_CN; do
    src="$work/scans-$lang" dst="$work/documents-$lang" inbox="$work/inbox-$lang"
    # The window's title words, in its language.
    if [ "$lang" = en ]; then splitting=splitting review='review$' watching=watching
    else splitting=正在切分 review='查看$' watching=监视中; fi
    mkdir -p "$src" "$dst" "$inbox"
    "$py" - "$src" <<'PY'
import sys
from orvane_tools import samples
samples.write_batches(sys.argv[1])
# A long file, so that the job is seen under way: a sheet every ten pages.
plan = [("sep", samples.PINK) if n % 10 == 0 else ("doc", "Page {}".format(n)) for n in range(1, 2001)]
open(sys.argv[1] + "/long-2000.pdf", "wb").write(samples.build_pdf(plan))
PY
    settings "$src" "$dst"
    "$py" "$here/scripts/screenshot.py" --lang "$lang" --colours 128 --settle 2 \
        --shot "^Orvane\$=$out/window-ready-$lang.png" --key "^Orvane\$=ctrl+Return" \
        --shot "$splitting=$out/window-job-$lang.png" \
        --shot "$review=$out/window-review-$lang.png" --key "$review=ctrl+d" \
        --shot "$review=$out/window-details-$lang.png" -- "$py" -m orvane_tools gui

    # Long document names: each label keeps its number, shortened in the middle; the pointer on
    # the second document shows its full name, page span and verdict.
    long="$work/long-$lang" && mkdir -p "$long" "$dst-long"
    "$py" - "$long" "$lang" <<'PY'
import sys
from orvane_tools import samples
name = {"zh_CN": "二〇二六年第一季度供应商合同汇总表(财务部存档).pdf",
        "en": "Supplier contracts of the first quarter of 2026 (finance archive).pdf"}[sys.argv[2]]
plan = [("sep", samples.PINK) if n % 3 == 0 else ("doc", "Page {}".format(n)) for n in range(1, 25)]
open(sys.argv[1] + "/" + name, "wb").write(samples.build_pdf(plan))
PY
    settings "$long" "$dst-long"
    "$py" "$here/scripts/screenshot.py" --lang "$lang" --colours 128 --settle 3 \
        --key "^Orvane\$=ctrl+Return" --move "$review=$REVIEW_POINT" \
        --shot "$review=$out/window-review-long-$lang.png" -- "$py" -m orvane_tools gui

    # A 1366×768 screen: the window at its first size, Advanced and Details open, a job reviewed.
    rm -rf "${dst:?}"/* && rm -f "$src/long-2000.pdf"
    settings "$src" "$dst" fit
    "$py" "$here/scripts/screenshot.py" --lang "$lang" --colours 128 --settle 2 --size 1366x768 \
        --key "^Orvane\$=ctrl+Return" --key "$review=ctrl+d" \
        --shot "$review=$out/window-1366x768-$lang.png" -- "$py" -m orvane_tools gui

    # Advanced settings, all of them in view: the text languages chosen among those installed.
    settings "$src" "$dst" advanced
    "$py" "$here/scripts/screenshot.py" --lang "$lang" --colours 128 --settle 2 --size 1280x1100 \
        --shot "^Orvane\$=$out/window-advanced-$lang.png" -- "$py" -m orvane_tools gui

    # Watching: one file still being written, one that is not a complete PDF yet.
    head -c 3000 "$src/batch-01.pdf" > "$inbox/scan-0042.pdf"
    settings "$inbox" "$dst"
    ( for _ in $(seq 60); do echo "%" >> "$inbox/scan-0043.pdf"; sleep 0.5; done ) &
    writer=$!
    "$py" "$here/scripts/screenshot.py" --lang "$lang" --colours 128 --settle 9 \
        --key "^Orvane\$=ctrl+w" --shot "$watching=$out/window-watching-$lang.png" -- "$py" -m orvane_tools gui
    kill $writer 2>/dev/null || true

    # A watched batch reviewed: `orvane watch` splits a file dropped into its inbox and puts it in the
    # archive; the window reviews the target, its thumbnails made from the archived source.
    watched="$work/watched-$lang" wdst="$work/watched-documents-$lang"
    mkdir -p "$watched" "$wdst"
    cp "$src/batch-01.pdf" "$watched/"
    "$py" -m orvane_tools watch "$watched" "$wdst" --urldb "$work/url.db" --token-file "$work/token" \
        --splitter "$splitter" -w 1 --settle 0 --poll 0.2 --exit-when-idle --workdir "$work/module" \
        > "$work/watch-$lang.log" 2>&1
    settings "$watched" "$wdst"
    "$py" "$here/scripts/screenshot.py" --lang "$lang" --colours 128 --settle 2 \
        --shot "$review=$out/window-watched-review-$lang.png" -- "$py" -m orvane_tools gui --review "$wdst"
done
