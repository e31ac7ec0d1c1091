#!/usr/bin/env bash
# Runs inside the bed (run-bed.sh run ... --slaves 3 -- sdo-smoke.sh WINE-RUN EXE): points
# the network pcan_usb.dll beside EXE at the bed's server, runs EXE under Wine, and then
# compares the frames the master saw (master-frames.txt beside EXE) with the witness's
# recording of the bus: the same frames in the same order.
set -euo pipefail
wine_run=$1 exe=$2
folder=$(dirname "$exe")
printf '[Connection]\r\nHost=127.0.0.1\r\nPort=%s\r\nInterface=can0\r\nTimeoutMs=2000\r\n' "$BED_PORT" \
    > "$folder/netcan.ini"
rm -f "$folder/master-frames.txt"
status=0
"$wine_run" "$exe" || status=$?

master="$folder/master-frames.txt"
if [ ! -s "$master" ]; then
    echo "smoke: the master logged no frames" >&2
    exit 1
fi
# The witness writes each frame as it comes: wait (at most 5 s) until it has them all.
want=$(wc -l < "$master")
for i in $(seq 50); do
    [ "$(wc -l < "$BED_WITNESS")" -ge "$want" ] && break
    sleep 0.1
done
if diff -u "$BED_WITNESS" "$master" > "$BED_DIR/witness.diff"; then
    echo "smoke: the witness recorded the same $want frames as the master"
else
    echo "smoke: the witness's recording differs from the master's frames:" >&2
    cat "$BED_DIR/witness.diff" >&2
    status=1
fi
exit $status
