# Sourced by the scripts that run Windows programs under wine (windows-check.sh,
# windows-splitter-check.sh): the wine binary, a Chinese locale (ANSI code page 936, as on the
# users' machines), a prefix of its own started within a bounded time, and its end.
#
# wine_unavailable MESSAGE: a missing or non-starting wine skips the check with MESSAGE outside CI,
# and fails it under CI=true (the machine is expected to have everything scripts/setup.sh installs);
# the caller returns its status.

wine_binary() {
    local cand
    # wine64 runs 64-bit programs, and 32-bit ones too once wine32 (i386) is installed.
    for cand in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 "$(command -v wine 2>/dev/null)"; do
        [[ -n "$cand" && -x "$cand" ]] && { echo "$cand"; return 0; }
    done
    return 1
}

wine_unavailable() {
    if [[ "${CI:-}" == true ]]; then
        echo "FAILED (CI): $1"
        return 1
    fi
    echo "SKIPPED: $1"
    return 0
}

# wine_prepare_locale OUT: the zh_CN.UTF-8 locale under OUT/locale; sets WINE_LOCALE (an env prefix).
wine_prepare_locale() {
    local out="$1"
    mkdir -p "$out/locale"
    if [[ ! -d "$out/locale/zh_CN.UTF-8" ]] &&
       ! localedef -i zh_CN -f UTF-8 "$out/locale/zh_CN.UTF-8" >"$out/localedef.log" 2>&1; then
        echo "the zh_CN.UTF-8 locale could not be made (Debian package locales):"
        cat "$out/localedef.log"
        return 1
    fi
    WINE_LOCALE=(env LOCPATH="$out/locale" LC_ALL=zh_CN.UTF-8)
}

# wine_start WINE PREFIX TIMEOUT LOG: exports the prefix and starts it; status 124 when it did not
# start in time, another non-zero status when it failed. No window, and no offer to install Mono or
# Gecko: nothing here needs them.
wine_start() {
    local wine="$1" prefix="$2" timeout="$3" log="$4" rc
    export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    # A prefix whose first start was cut short cannot start again: it is made anew unless an
    # earlier start finished.
    [[ -f "$WINEPREFIX/.orvane-ready" ]] || rm -rf "$WINEPREFIX"
    timeout -k 10 "$timeout" "${WINE_LOCALE[@]}" "$wine" wineboot --init </dev/null >"$log" 2>&1
    rc=$?
    if [[ $rc -ne 0 ]]; then
        wineserver_stop "$wine"
        rm -rf "$WINEPREFIX"
        [[ $rc -eq 137 ]] && rc=124
        return $rc
    fi
    touch "$WINEPREFIX/.orvane-ready"
}

# Ends this prefix's wine server (and with it any process left in the prefix).
wineserver_stop() {
    local server="${1%/*}/wineserver"
    [[ -x "$server" ]] || server="$(command -v wineserver 2>/dev/null)"
    [[ -n "$server" ]] && timeout 30 "$server" -k >/dev/null 2>&1 </dev/null
    return 0
}
