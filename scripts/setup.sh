#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Orvane need.
#
# The list lives in packaging/apt-packages.txt: one package a line ('#' starts a
# comment, blank lines are ignored). Packages already installed are not touched,
# so a second run on a ready machine costs a dpkg query and nothing else.
# Python packages are not installed here: scripts/test.sh puts them into fresh
# virtual environments from tests/requirements.txt and the project itself.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LIST="$ROOT/packaging/apt-packages.txt"

export DEBIAN_FRONTEND=noninteractive

if [[ ! -f "$LIST" ]]; then
    echo "setup: $LIST is missing" >&2
    exit 1
fi

wanted=()
while IFS= read -r line || [[ -n "$line" ]]; do
    line="${line%%#*}"
    for pkg in $line; do
        if [[ ! "$pkg" =~ ^[a-z0-9][a-z0-9+.:=~-]*$ ]]; then
            echo "setup: '$pkg' in $LIST is not a Debian package name" >&2
            exit 1
        fi
        wanted+=("$pkg")
    done
done <"$LIST"

if [[ ${#wanted[@]} -eq 0 ]]; then
    echo "setup: no Debian packages listed"
    exit 0
fi

# A package counts as present only when dpkg says "install ok installed";
# half-configured or removed-but-configured ones are installed again.
missing=()
for pkg in "${wanted[@]}"; do
    name="${pkg%%=*}"
    status="$(dpkg-query -W -f='${db:Status-Abbrev}' "$name" 2>/dev/null || true)"
    if [[ "$status" != "ii "* ]]; then
        missing+=("$pkg")
    fi
done

if [[ $(id -u) -eq 0 ]]; then
    SUDO=()
elif command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo -n)
else
    SUDO=(false)
fi

# The Windows libraries are built from Debian's own source packages (scripts/build-windows-deps.sh),
# so apt needs a deb-src entry. It is derived from the machine's own Debian entries (same mirror,
# suites, components and key), never written with a host name of ours.
SRC_LIST=/etc/apt/sources.list.d/orvane-deb-src.sources
refresh=0
if [[ ! -f "$SRC_LIST" ]] && ! grep -rqsE '^[[:space:]]*(deb-src|Types:.*deb-src)' \
        /etc/apt/sources.list /etc/apt/sources.list.d/; then
    entries="$(bash "$ROOT/scripts/deb-src-entries.sh")" || exit 1
    if [[ -z "$entries" ]]; then
        echo "setup: no Debian entry found in apt's sources to derive a deb-src entry from" >&2
        exit 1
    fi
    printf '%s\n' "$entries" | "${SUDO[@]}" tee "$SRC_LIST" >/dev/null ||
        { echo "setup: cannot write $SRC_LIST (needs root)" >&2; exit 1; }
    echo "setup: added deb-src entries in $SRC_LIST"
    refresh=1
fi

# wine32 (an i686 program under wine) comes from Debian's i386 architecture.
for pkg in "${wanted[@]}"; do
    arch="${pkg%%=*}"
    [[ "$arch" == *:* ]] || continue
    arch="${arch#*:}"
    if [[ "$arch" != "$(dpkg --print-architecture)" ]] &&
       ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        "${SUDO[@]}" dpkg --add-architecture "$arch" ||
            { echo "setup: cannot add the $arch architecture (needs root)" >&2; exit 1; }
        echo "setup: added the $arch architecture"
        refresh=1
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    [[ $refresh -eq 1 ]] && "${SUDO[@]}" apt-get update -qq </dev/null
    echo "setup: all ${#wanted[@]} Debian packages present"
    exit 0
fi

if [[ "${SUDO[0]:-}" == false ]]; then
    echo "setup: missing ${missing[*]} and not root (no sudo either)" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
# The package lists may be absent or stale on a fresh machine; refresh them
# once, and only because something has to be installed.
"${SUDO[@]}" apt-get update -qq </dev/null
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends -o Dpkg::Use-Pty=0 -o Dpkg::Options::=--force-confdef \
    -o Dpkg::Options::=--force-confold "${missing[@]}" </dev/null

# A name that is only provided virtually never shows up in dpkg's database;
# say so instead of reinstalling it on every run.
for pkg in "${missing[@]}"; do
    name="${pkg%%=*}"
    status="$(dpkg-query -W -f='${db:Status-Abbrev}' "$name" 2>/dev/null || true)"
    if [[ "$status" != "ii "* ]]; then
        echo "setup: note: '$name' is not a real package name (virtual?); list the providing package instead" >&2
    fi
done
echo "setup: done"
