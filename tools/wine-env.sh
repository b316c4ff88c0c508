# Sourced by every script that starts Wine: picks the loader and says whether 32-bit programs run.
#
# Debian's `wine` starts its 32-bit loader, which runs 32-bit and 64-bit programs alike. Some hosts
# (sandboxes without 32-bit execution) cannot start that loader at all; there only the 64-bit loader
# works, and 32-bit Windows programs cannot run. Tests that need them skip, saying so
# (DIRVANE_NO_WIN32=1 reaches the Windows programs through the environment).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  WINE=wine
  unset DIRVANE_NO_WIN32
else
  WINE=/usr/lib/wine/wine64
  export WINELOADER="$WINE" DIRVANE_NO_WIN32=1
fi
