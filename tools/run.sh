#!/usr/bin/env bash
# Builds Dirvane, registers it in a private Wine prefix (build/demo-prefix) and shows what a
# right-click on a folder hands the handler.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
export WINEPREFIX="$PWD/build/demo-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX ..."
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
fi
dll="$(winepath -w build/dist/Dirvane.dll)"
wine regsvr32 /s "$dll" && echo "Registered $dll"
wine reg query 'HKCR\Directory\Background\ShellEx\ContextMenuHandlers\OV Dirvane' 2>/dev/null | tr -d '\r'
if [ -f build/tools/devhost/devhost.exe ]; then
  folder="${1:-C:\\windows}"
  echo "Right-click on $folder:"
  if [ -n "${DISPLAY:-}" ]; then wine build/tools/devhost/devhost.exe "$folder"
  else xvfb-run -a sh -c "wine build/tools/devhost/devhost.exe --print '$folder'; wineserver -k"; fi
fi
wineserver -w
