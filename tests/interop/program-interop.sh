#!/usr/bin/env bash
# The real tovral.exe against the slaves of the independent CANopen implementation, through
# the network pcan_usb.dll: runs inside the bed, which provides BED_PORT, BED_DIR,
# BED_WITNESS and BED_CONTROL_3 / BED_CONTROL_5 (see run-bed.sh):
#
#   run-bed.sh run OUT/bed --slaves "3 5" -- program-interop.sh BIN_DIR OUT_DIR
#
# Puts tovral.exe, the network library (bin/netcan/pcan_usb.dll under its own name) and a
# netcan.ini for 127.0.0.1:$BED_PORT into OUT_DIR/work, with a settings file that switches
# the trace on, prepares a Wine prefix of its own (OUT_DIR/wine-x11) and runs
# program-scenario.sh on a virtual display, where the program is driven with keyboard and
# mouse (xdotool) and read with the probe. Exit status: the scenario's (0 when every
# check passed).
set -u
bin=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

: "${BED_PORT:?run this inside run-bed.sh}"
for file in tovral.exe netcan/pcan_usb.dll e2e/probe.exe; do
  [ -f "$bin/$file" ] || { echo "missing $bin/$file (build tovral, netcan and probe)"; exit 1; }
done
for tool in xvfb-run xdotool wine wineserver; do
  command -v "$tool" >/dev/null 2>&1 || { echo "missing $tool (scripts/setup-deps installs it)"; exit 1; }
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$out/work
shots=$out/shots
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots"
cp "$bin/tovral.exe" "$work/"
cp "$bin/netcan/pcan_usb.dll" "$work/pcan_usb.dll"
printf '[Connection]\r\nHost=127.0.0.1\r\nPort=%s\r\nInterface=can0\r\nTimeoutMs=2000\r\n' "$BED_PORT" \
  >"$work/netcan.ini"
# English, address 1 (the search must bring it to 3), the trace on.
printf '[Language]\r\nPrimaryLanguage=9\r\nSubLanguage=1\r\n[Tovral]\r\nCurrAdr=1\r\nLogging=1\r\n' \
  >"$work/tovral.ini"

export WINEPREFIX=$out/wine-x11 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine-prefix" "$WINEPREFIX" x11 || { echo "cannot prepare the Wine prefix"; exit 1; }
# A wineserver keeps the display it was started with: start afresh on this one.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

xvfb-run -a -s "-screen 0 1024x768x24" bash "$here/program-scenario.sh" "$bin" "$work" "$shots"
