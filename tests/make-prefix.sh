#!/bin/sh
# Makes the fresh Wine prefix that one test run shares.
set -e
prefix="$1"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
# A crashing program ends instead of waiting on a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w
echo "prefix ready: $prefix"
