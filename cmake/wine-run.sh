#!/bin/sh
# Runs one Windows executable under Wine for CTest. The wineserver and Wine's system
# processes are started detached from CTest's output pipe first; otherwise CTest waits
# for them after every test.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/velomar-wine-$(id -u)}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# A plain ctest, without the scripts, finds its prefix prepared too (the null display
# driver, as scripts/test prepares it); a prefix prepared otherwise is left as it is.
if ! ls "$WINEPREFIX"/.velomar-* >/dev/null 2>&1; then
  "$(dirname "$0")/../scripts/wine-prefix" "$WINEPREFIX" null </dev/null >/dev/null 2>&1 || true
fi
wineserver -p30 </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
exec wine "$@"
