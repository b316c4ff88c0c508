#!/bin/sh
# Starts the Wine session of a test prefix, owned by a keeper program whose output goes nowhere, so
# that no test's output is held open by the session's system processes: start-session.sh <prefix> <keeper.exe>
prefix="$1"; keeper="$2"
. "$(dirname "$0")/../tools/wine-env.sh"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
setsid "$WINE" "$keeper" </dev/null >/dev/null 2>&1 &
# Joins the session once it is up; its output goes nowhere either.
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1
echo "session ready: $prefix"
