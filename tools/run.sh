#!/usr/bin/env bash
# Builds Dirvane, installs it with its installer in a private Wine prefix (build/demo-prefix; without
# the installer it registers build/dist/Dirvane.dll) and shows what the handler does on a right-click
# on a folder. With an X display the menu pops up for real; without one it runs on a private Xvfb
# display and prints the menu.
#   bash tools/run.sh [folder]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DIRVANE_RUN_BUILT:-}" ]; then
  bash tools/build.sh
  export DIRVANE_RUN_BUILT=1
fi
if [ -z "${DISPLAY:-}" ]; then
  exec env DIRVANE_RUN_HEADLESS=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

export WINEPREFIX="$PWD/build/demo-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY
. tools/wine-env.sh
wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX ..."
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
fi
setup="$(ls -t build/dist/Dirvane-Setup-*.exe 2>/dev/null | head -n 1)"
if [ -n "$setup" ]; then
  "$WINE" "$setup" /S && echo "Installed $(basename "$setup") into Program Files\\Dirvane"
else
  dll="$("$WINE" winepath -w build/dist/Dirvane.dll)"
  "$WINE" regsvr32 /s "$dll" && echo "Registered $dll"
fi
"$WINE" reg query 'HKCR\Directory\Background\ShellEx\ContextMenuHandlers\OV Dirvane' 2>/dev/null | tr -d '\r' | sed '/^$/d'

folder="${1:-C:\\windows}"
echo "Right-click on the empty area of $folder:"
if [ -n "${DIRVANE_RUN_HEADLESS:-}" ]; then
  "$WINE" build/tools/devhost/devhost.exe --print "$folder" | tr -d '\r'
  wineserver -k
else
  "$WINE" build/tools/devhost/devhost.exe "$folder" | tr -d '\r'
fi
