#!/bin/sh
# Runs an installer test program in the installer's own prefix on a private X display, and ends the
# prefix's Wine session before that display goes: the installer's windows never meet other tests'.
#   run-isolated.sh <prefix> <wine-run.sh> <program> [arguments]
prefix="$1"
shift
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c '
    export DIRVANE_WINEPREFIX="$0" WINEPREFIX="$0"
    wineserver -k 2>/dev/null
    wineserver -w
    "$@"
    rc=$?
    wineserver -k 2>/dev/null
    wineserver -w
    exit $rc' "$prefix" "$@"
