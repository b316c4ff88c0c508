#!/bin/sh
# Makes a fresh Wine prefix for one test run: make-prefix.sh <prefix> [win32|win64]
set -e
prefix="$1"
. "$(dirname "$0")/../tools/wine-env.sh"
if [ "${2:-}" = win32 ] && [ -n "${DIRVANE_NO_WIN32:-}" ]; then
  echo "this host cannot run 32-bit programs: no win32 prefix"
  exit 0
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -n "${2:-}" ]; then export WINEARCH="$2"; fi
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
"$WINE" wineboot -i >/dev/null 2>&1
# Wine's own fonts (Tahoma, Wingdings, ...) are not on its search path here; dialogs would fall back
# to other faces and symbol fonts would draw letters.
cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
# A crashing program ends instead of waiting on a dialog.
"$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w
echo "prefix ready: $prefix"
