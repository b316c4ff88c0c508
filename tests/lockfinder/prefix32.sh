#!/bin/sh
# Makes the 32-bit Wine prefix (WINEARCH=win32) for the lockfinder's 32-bit Windows test, once:
# a prefix that finished its first start is kept for later runs.
set -e
prefix="$1"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$prefix/.ready" ]; then
  echo "prefix ready: $prefix (kept)"
  exit 0
fi
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.ready"
echo "prefix ready: $prefix"
