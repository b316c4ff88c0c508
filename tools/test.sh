#!/usr/bin/env bash
# Builds everything and runs every test under Wine, in a fresh private prefix inside build/,
# under a private Xvfb display started here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
export DIRVANE_WINEPREFIX="$PWD/build/wineprefix"
jobs="${DIRVANE_TEST_JOBS:-2}"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --test-dir build --output-on-failure -j "$jobs" "$@"
