#!/bin/sh
# Runs one Windows executable under Wine for CTest. The wineserver and Wine's system
# processes are started detached from CTest's output pipe first; otherwise CTest waits
# for them after every test.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/velomar-wine-$(id -u)}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
wineserver -p30 </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
exec wine "$@"
