#!/usr/bin/env bash
# Builds everything and runs the benchmarks in a fresh private Wine prefix on a private Xvfb display.
#   bash tools/bench.sh [--quick] [--only menu|construction|leaks|manager|tool]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
prefix="$PWD/build/bench-prefix"
export WINEDEBUG=-all
. tools/wine-env.sh
export WINE
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c "
  tests/make-prefix.sh '$prefix' >/dev/null &&
  WINEPREFIX='$prefix' \$WINE build/bench/bench.exe $* | tr -d '\r'; rc=\$?
  WINEPREFIX='$prefix' wineserver -k; exit \$rc"
