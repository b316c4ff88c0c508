#!/bin/sh
# Tessaly.exe on 32-bit Windows (a WINEARCH=win32 prefix): it does the search itself and never
# writes its companion. Usage: win32_test.sh <prefix> <Tessaly.exe> <scratch folder>
set -u
. "$(dirname "$0")/../../tools/wine-env.sh"
if [ -n "${DIRVANE_NO_WIN32:-}" ]; then echo "SKIP: this host cannot run 32-bit programs"; exit 77; fi
prefix="$1"; tool="$2"; work="$3"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
rm -rf "$work" && mkdir -p "$work" && cp "$tool" "$work/Tessaly.exe" || exit 1
# A companion written by mistake would replace this file and then delete it.
printf sentinel > "$work/Tessaly64.exe"
"$WINE" "$work/Tessaly.exe" TESSALY.EXE found.txt
rc=$?
fail() { echo "FAIL: $*"; [ -f "$work/found.txt" ] && od -c "$work/found.txt" | head -20; exit 1; }
[ "$rc" = 0 ] || fail "exit code $rc"
[ "$(cat "$work/Tessaly64.exe" 2>/dev/null)" = sentinel ] || fail "the companion was written"
[ -f "$work/found.txt" ] || fail "no output file in the tool folder"
# One record: the tool's own process (its description is not U.S. English, so the title is its id).
winpath="Z:$(printf '%s' "$work" | tr / '\\')\\Tessaly.exe"
pid=$(head -n 1 "$work/found.txt" | tr -d '\r')
case "$pid" in ''|*[!0-9]*) fail "no process id on the first line" ;; esac
printf '%s\r\nProcess Id: %s\r\nTessaly.exe\r\n%s\r\n\r\n' "$pid" "$pid" "$winpath" > "$work/expected.txt"
cmp "$work/expected.txt" "$work/found.txt" || fail "record differs from: $(cat "$work/expected.txt")"
rm -rf "$work"
echo "PASS"
