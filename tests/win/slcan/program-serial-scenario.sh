#!/usr/bin/env bash
# The operator's session on a serial-line adapter (the test device with the simulated
# slaves), run by program-serial.sh on a virtual display:
#   program-serial-scenario.sh BIN_DIR WORK_DIR SHOTS_DIR
# Search, start node 3, inputs by remote frames, an output byte the slave applies, object
# reads and writes, a device that falls silent (Retry/Cancel, Retry once it answers),
# stop; at the end the program's trace is compared with the device's own record.
set -u
bin=$1 work=$2 shots=$3
here=$(cd "$(dirname "$0")" && pwd)
probe_exe=$bin/e2e/probe.exe
. "$here/../../e2e/lib.sh"
program=""
read_title="<F3> Read Object"
write_title="<F4> Write Object"

cleanup() {
  if [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then
    kill "$program" 2>/dev/null
  fi
  rm -f "$SLCAN_MUTE_FILE"
  wineserver -k 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

has_message() { [ "$(probe message | head -1)" = "Velomar" ]; }
message() { probe message | tr '\n' '|'; }
input_line() { probe list main 1005 | sed -n "${1}p"; }

# A wineserver keeps the display it was started with: start afresh on this one (Wine's
# mount manager then links COM5 again from the registry, see scripts/slcan-device).
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

cd "$work" || exit 1
wine tovral.exe &
program=$!

# 1. Start-up and search over the serial line
wait_for 30 equals "Velomar" title main
check "the main window is up" "$(probe title main)" "Velomar"
keys "alt+a s"
wait_for 10 has_window "Search Slaves"
wait_for 60 equals "&OK" text "Search Slaves" 1
list=$(probe list "Search Slaves" 1032)
check "the search finds nodes 3 and 5 through the serial adapter" \
  "$(echo "$list" | head -6 | tr '\n' ' ')" "(1) (2) 3 (4) 5 (6) "
keys "Return"
wait_for 5 no_window "Search Slaves"
check "OK takes node 3 into the address field" "$(probe text main 1000)" "3"

# 2. Start communication: inputs come by remote frames
keys "alt+c s"
wait_for 10 has_message
check "the warning asks before outputs change" "$(message)" "Velomar|Warning!|Outputs may be modified!|"
keys "Return"
wait_for 20 equals 1 checked main 1023
check "communication is active" "$(probe checked main 1023)" "1"
wait_for 10 bash -c "timeout 15 wine '$probe_exe' list main 1005 2>/dev/null | grep -q 'PDO1   \[0\]:.*h'"
first=$(input_line 2)
changed=no
for _ in $(seq 1 20); do
  sleep 0.3
  [ "$(input_line 2)" != "$first" ] && { changed=yes; break; }
done
check "the running light changes in the input list" "$changed" "yes"
shot communicating

# 3. An output byte: the slave mirrors 0x6200 into its second input byte
keys "alt+o"
keys "Home Down"
keys "alt+e"; xdotool type --delay 40 "5A"; keys "Return"
check "the output list shows the edited byte" "$(probe list main 1006 | sed -n 2p)" "PDO1   [0]:	5Ah	01011010	Z"
wait_for 5 bash -c "timeout 15 wine '$probe_exe' list main 1005 2>/dev/null | grep -qF 'PDO1   [1]:	5Ah'"
check "node 3 applied the output byte (read back in its inputs)" \
  "$(input_line 3)" "PDO1   [1]:	5Ah	01011010	Z"

# 4. Objects: an expedited write and read, a segmented read
keys "alt+c w"
wait_for 10 has_window "$write_title"
keys "alt+o"; xdotool type --delay 40 "1017"
keys "alt+b"; xdotool type --delay 40 "0"
keys "alt+2 alt+h"
keys "alt+v"; xdotool type --delay 40 "1234"
keys "Tab Return"
sleep 1
check "the write dialog shows the value written" "$(probe text "$write_title" 1033)" "1234"
keys "Escape"
wait_for 5 no_window "$write_title"
keys "alt+c r"
wait_for 10 has_window "$read_title"
keys "alt+o"; xdotool type --delay 40 "1017"
keys "alt+b"; xdotool type --delay 40 "0"
keys "alt+h Return"
wait_for 5 equals 1234 text "$read_title" 1037
check "0x1017 reads back (expedited)" "$(probe text "$read_title" 1038) $(probe text "$read_title" 1037)" "2 1234"
keys "alt+o"; xdotool type --delay 40 "1008"
keys "alt+w Return"
wait_for 5 equals 21 text "$read_title" 1038
check "the device name is read in segments" "$(probe text "$read_title" 1037)" \
  "53 69 6D 49 4F 20 38 44 49 20 38 44 4F 20 32 41 49 20 32 41 4F "
keys "Escape"
wait_for 5 no_window "$read_title"
shot objects

# 5. The adapter falls silent: the program asks; Retry once it answers again
touch "$SLCAN_MUTE_FILE"
wait_for 15 has_message
check "a silent adapter is a communication failure" "$(message)" "Velomar|Communication failure!|"
shot silent
rm -f "$SLCAN_MUTE_FILE"
keys "Return"
wait_for 10 bash -c "! timeout 15 wine '$probe_exe' message 2>/dev/null | head -1 | tr -d '\r' | grep -qx Velomar"
wait_for 20 equals 1 checked main 1023
check "Retry restarts communication" "$(probe checked main 1023)" "1"
wait_for 10 bash -c "timeout 15 wine '$probe_exe' list main 1005 2>/dev/null | grep -q 'PDO1   \[0\]:.*h'"
first=$(input_line 2)
changed=no
for _ in $(seq 1 20); do
  sleep 0.3
  [ "$(input_line 2)" != "$first" ] && { changed=yes; break; }
done
check "inputs arrive again after the restart" "$changed" "yes"

# 6. Stop and close
keys "alt+c p"
wait_for 10 equals 0 checked main 1023
check "communication stopped" "$(probe checked main 1023)" "0"
keys "alt+f x"
for _ in $(seq 1 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
kill -0 "$program" 2>/dev/null && { kill "$program"; check "the program ends" "running" "ended"; }
wait "$program"
check "the program exits with 0" "$?" "0"
program=""

# 7. The program's trace against the device's record
check "the library logged the device's version" "$(grep -c 'version V1013' slcan.log | awk '{print ($1 > 0) ? "yes" : "no"}')" "yes"
while IFS= read -r line; do
  echo "$line"
  case $line in
    ok:*) passed=$((passed + 1)) ;;
    FAIL:*) failed=$((failed + 1)) ;;
  esac
done < <(python3 "$here/compare-record.py" tovral.log device-record.txt)
finish
