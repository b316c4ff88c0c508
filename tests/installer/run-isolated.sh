#!/bin/sh
# Runs an installer test program in the installer's own prefix on a private X display, and ends the
# prefix's Wine session before that display goes: the installer's windows never meet other tests'.
#   run-isolated.sh <prefix> <wine-run.sh> <program> [arguments]
prefix="$1"
shift
# Links for the tests that the setup must refuse to work through. Wine 8 cannot make a junction or a
# symbolic link from a Windows program (CreateSymbolicLinkW does nothing), but shows a Unix symbolic
# link to a folder as a reparse point: C:\dirvane-test-links\{folder, with-file\Dirvane.dll} and
# Program Files\Dirvane Link all point to C:\dirvane-test-links\target.
links="$prefix/drive_c/dirvane-test-links"
if [ -d "$prefix/drive_c/Program Files" ]; then
    rm -rf "$links" "$prefix/drive_c/Program Files/Dirvane Link"
    mkdir -p "$links/target" "$links/with-file"
    ln -s "$links/target" "$links/folder"
    ln -s "$links/target" "$links/with-file/Dirvane.dll"
    ln -s "$links/target" "$prefix/drive_c/Program Files/Dirvane Link"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c '
    export DIRVANE_WINEPREFIX="$0" WINEPREFIX="$0"
    wineserver -k 2>/dev/null
    wineserver -w
    "$@"
    rc=$?
    wineserver -k 2>/dev/null
    wineserver -w
    exit $rc' "$prefix" "$@"
