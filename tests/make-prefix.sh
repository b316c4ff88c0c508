#!/bin/sh
# Makes a fresh Wine prefix for one test run: make-prefix.sh <prefix> [win32|win64]
set -e
prefix="$1"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -n "${2:-}" ]; then export WINEARCH="$2"; fi
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
# Wine's own fonts (Tahoma, Wingdings, ...) are not on its search path here; dialogs would fall back
# to other faces and symbol fonts would draw letters.
cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
# A crashing program ends instead of waiting on a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w
echo "prefix ready: $prefix"
