#!/usr/bin/env bash
# End-to-end: the real tovral.exe with the simulated pcan_usb.dll on a virtual display,
# driven only with the keyboard and the mouse (xdotool), as an operator would:
# search the bus, take node 3, start communication and confirm the warning, watch an
# input change, set an output bit and see it read back, freeze the outputs, read an
# object, write one, watch an emergency in the node monitor, stop, give a device without a
# node-ID node-ID 10 through LSS and find it in a search, close. What the windows show is read with the probe; the
# settings file and the trace file left behind are checked at the end. F1 is pressed twice:
# once with a stand-in browser command (xdg-open, first on PATH) that records the page it
# is asked to open, once with none at all.
#
#   e2e.sh BIN_DIR OUT_DIR en|de
#
# Screenshots of every step go to OUT_DIR/<language>/shots/.
set -u
bin=$(cd "$1" && pwd)
out=$2
language=$3
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$out/$language/work
shots=$out/$language/shots
rm -rf "$out/$language"
mkdir -p "$work" "$shots"
cp "$bin/tovral.exe" "$bin/pcan_usb.dll" "$work/"
[ -f "$bin/tovral.chm" ] && cp "$bin/tovral.chm" "$work/"
cp -r "$bin/help" "$work/"
# The simulated slaves' EDS files, where the Object Dictionary window finds them.
[ -d "$bin/eds" ] && cp -r "$bin/eds" "$work/"

# The stand-in browser: Wine hands a page to the desktop through winebrowser, which runs
# xdg-open with the page's file URL.
standin=$out/$language/stand-in
mkdir -p "$standin"
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$out/$language/browser.log" >"$standin/xdg-open"
chmod +x "$standin/xdg-open"
export PATH="$standin:$PATH" BROWSER_LOG=$out/$language/browser.log STANDIN=$standin/xdg-open

# The default network, and one device from the box without a node-ID, which the scenario
# gives node-ID 10 through LSS at its end.
printf '[Nodes]\r\n3=io_module.eds\r\n5=drive.eds\r\n[NonConfigured]\r\nsensor1=io_module.eds, 0x00001001\r\n' \
  >"$work/simbus.ini"

if [ "$language" = de ]; then primary=7; else primary=9; fi
# Start on node 5: the search must bring the address to 3.
printf '[Language]\r\nPrimaryLanguage=%s\r\nSubLanguage=1\r\n[Tovral]\r\nCurrAdr=5\r\nLogging=1\r\n' \
  "$primary" >"$work/tovral.ini"

export WINEPREFIX=$out/wine-x11 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine-prefix" "$WINEPREFIX" x11 || { echo "cannot prepare the Wine prefix"; exit 1; }
# A wineserver keeps the display it was started with: start afresh on this one.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$here/scenario.sh" "$bin" "$work" "$shots" "$language"
