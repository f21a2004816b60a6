#!/usr/bin/env bash
# Prints deb-src entries (deb822 form) for the Debian release this machine runs, made from its own
# apt entries: the same mirrors, suites, components and signing keys as its `deb` entries, so that
# `apt-get source` fetches from where the binary packages come from. Entries of other vendors
# (suites not of this release) are left out. Reads both the one-line and the deb822 form.
set -euo pipefail

codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
[[ -n "$codename" ]] || { echo "deb-src-entries: no VERSION_CODENAME in /etc/os-release" >&2; exit 1; }

# One entry per line: "URI|suite|components|signed-by".
collect() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f "$f" ]] || continue
        awk '
            /^[[:space:]]*deb[[:space:]]/ {
                opts = ""; i = 2
                if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
                key = ""
                if (match(opts, /signed-by=[^] ]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
                comps = ""
                for (j = i + 2; j <= NF; j++) comps = comps (comps ? " " : "") $j
                print $i "|" $(i + 1) "|" comps "|" key
            }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -f "$f" ]] || continue
        # Stanzas are separated by blank lines; comments are dropped.
        awk '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && enabled != "no")
                    for (u in uris) for (s in suites) print uris[u] "|" suites[s] "|" comps "|" key
                types = ""; comps = ""; key = ""; enabled = ""; delete uris; delete suites
            }
            /^#/ { next }
            /^[[:space:]]*$/ { flush(); next }
            {
                field = tolower($1); sub(/:$/, "", field); $1 = ""; sub(/^[[:space:]]+/, "")
                if (field == "types") types = $0
                else if (field == "uris") split($0, uris, " ")
                else if (field == "suites") split($0, suites, " ")
                else if (field == "components") comps = $0
                else if (field == "signed-by") key = $0
                else if (field == "enabled") enabled = tolower($0)
            }
            END { flush() }' "$f"
    done
}

seen=""
while IFS='|' read -r uri suite comps key; do
    [[ "$suite" == "$codename" || "$suite" == "$codename"-* || "$suite" == "$codename"/* ]] || continue
    id="$uri $suite"
    [[ " $seen " == *" [$id] "* ]] && continue
    seen="$seen [$id]"
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n' "$uri" "$suite" "${comps:-main}"
    [[ -n "$key" ]] && printf 'Signed-By: %s\n' "$key"
    printf '\n'
done < <(collect)
