#!/usr/bin/env bash
# The real tovral.exe on the serial driver library, through the test device's
# pseudo-terminal mapped into a Wine prefix of its own as COM5:
#
#   program-serial.sh BIN_DIR OUT_DIR DEVICE
#
# Puts tovral.exe, the serial library (bin/slcan/pcan_usb.dll) and a slcan.ini for COM5
# into OUT_DIR/work with a settings file that switches the trace on, prepares the prefix
# OUT_DIR/wine-x11, starts the device (the host build's slcan_device) with
# scripts/slcan-device and runs program-serial-scenario.sh on a virtual display. Exit
# status: the scenario's; 77 ("skipped") without the device program.
set -u
bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
device=$3
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)

if [ ! -x "$device" ]; then
  echo "skipped: no serial-line test device at $device (build the host build first)"
  exit 77
fi
for file in tovral.exe slcan/pcan_usb.dll e2e/probe.exe; do
  [ -f "$bin/$file" ] || { echo "missing $bin/$file (build tovral, slcan and probe)"; exit 1; }
done
for tool in xvfb-run xdotool wine wineserver; do
  command -v "$tool" >/dev/null 2>&1 || { echo "missing $tool (scripts/setup-deps installs it)"; exit 1; }
done
work=$out/work
shots=$out/shots
rm -rf "$shots"
mkdir -p "$work" "$shots"
rm -f "$work/tovral.log" "$work/tovral.ini" "$work/slcan.log"
cp "$bin/tovral.exe" "$bin/slcan/pcan_usb.dll" "$work/"
printf '[Serial]\r\nPort=COM5\r\nBaud=115200\r\nTimeoutMs=500\r\nLog=1\r\n' >"$work/slcan.ini"
# English, address 5 (the search must bring it to 3), the trace on.
printf '[Language]\r\nPrimaryLanguage=9\r\nSubLanguage=1\r\n[Tovral]\r\nCurrAdr=5\r\nLogging=1\r\n' \
  >"$work/tovral.ini"
export WINEPREFIX=$out/wine-x11 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine-prefix" "$WINEPREFIX" x11 || { echo "cannot prepare the Wine prefix"; exit 1; }
"$root/scripts/slcan-device" --device "$device" --prefix "$WINEPREFIX" --com 5 \
  --record "$work/device-record.txt" \
  -- xvfb-run -a -s "-screen 0 1024x768x24" bash "$here/program-serial-scenario.sh" "$bin" "$work" "$shots"
