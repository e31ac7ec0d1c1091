#!/usr/bin/env bash
# The operator's session against the independent slaves (nodes 3 and 5 of the bed), run
# by program-interop.sh on a virtual display inside the bed:
#   program-scenario.sh BIN_DIR WORK_DIR SHOTS_DIR
# Drives tovral.exe with xdotool, reads its windows with the probe, looks at the slaves
# through their control ports, and at the end compares the program's trace with the
# frames the witness recorded. Prints one line per check and "N passed, M failed".
set -u
bin=$1 work=$2 shots=$3
here=$(cd "$(dirname "$0")" && pwd)
probe_exe=$bin/e2e/probe.exe
. "$here/../e2e/lib.sh"
program=""

read_title="<F3> Read Object"
write_title="<F4> Write Object"
separator="---------------------------------------------------------"

cleanup() {
  if [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then
    kill "$program" 2>/dev/null
  fi
  # Every Wine process of this run's own prefix (the program, the probe, wine's services).
  wineserver -k 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A message box of the program: caption "Velomar" (the object dialogs have other captions).
has_message() { [ "$(probe message | head -1)" = "Velomar" ]; }
message() { probe message | tr '\n' '|'; }

typed() { xdotool type --delay 40 "$1"; sleep 0.2; }


# One request on a slave's control port (canopen-slave.js), one answer line.
slave() {  # node command...
  local node=$1 port answer=""; shift
  port=$(eval echo "\${BED_CONTROL_$node:-}")
  [ -n "$port" ] || { echo "no control port"; return 1; }
  exec 9<>"/dev/tcp/127.0.0.1/$port" || { echo "no connection"; return 1; }
  echo "$*" >&9
  IFS= read -r -t 5 answer <&9
  exec 9>&-
  echo "$answer"
}
slave_is() { [ "$(slave "$1" "${@:3}")" = "$2" ]; }

# Text as the Raw format shows it ("48 69 " for "Hi") and as the control port does ("4869").
raw_of() { printf '%s' "$1" | od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/^ //' | tr a-f A-F; }
hex_of() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F; }

input_line() { probe list main 1005 | sed -n "${1}p"; }

# The keyboard goes where an operator would put it: F2 to the main window, F3 to the Read
# Object dialog, F4 to the Write Object dialog. A message box returns the focus to the
# main window (its owner), where Esc would close the program.

# Read Object (F3 first): index and subindex typed, format by its mnemonic (alt+h Hex,
# alt+w Raw), Read by Enter.
read_object() {  # index subindex format-key
  keys "F3 alt+o"; typed "$1"
  keys "alt+b"; typed "$2"
  keys "$3 Return"
}

# Write Object (F4 first): format and count by mouse (Ra&w and &Write share their mnemonic), value
# typed, Tab takes it, Enter writes.
write_object() {  # index subindex format-control count-control value
  keys "F4 alt+o"; typed "$1"
  keys "alt+b"; typed "$2"
  click "$write_title" "$3"
  [ -n "$4" ] && click "$write_title" "$4"
  keys "alt+v"; typed "$5"
  keys "Tab Return"
}

cd "$work" || exit 1
wine tovral.exe &
program=$!

# 1. Start-up
wait_for 30 equals "Velomar" title main
check "the main window is up" "$(probe title main)" "Velomar"
check "the slave address comes from the settings file" "$(probe text main 1000)" "1"

# 2. Address > Search Slaves finds the independent slaves
keys "alt+a s"
wait_for 10 has_window "Search Slaves"
wait_for 40 equals "&OK" text "Search Slaves" 1
list=$(probe list "Search Slaves" 1032)
check "the search asked every node" "$(echo "$list" | wc -l)" "127"
check "the independent slaves are listed without parentheses" \
  "$(echo "$list" | grep -v '^(' | tr '\n' ' ')" "3 5 "
check "the list begins (1) (2) 3 (4) 5 (6)" "$(echo "$list" | head -6 | tr '\n' ' ')" "(1) (2) 3 (4) 5 (6) "
check "the lowest answering node is selected" "$(probe selected "Search Slaves" 1032)" "2"
shot search
keys "Return"
wait_for 5 no_window "Search Slaves"
check "OK takes node 3 into the address field" "$(probe text main 1000)" "3"

# 3. Communication > Start: the PDO configuration is read and the slave started
keys "alt+c s"
wait_for 10 has_message
check "the warning asks before outputs change" "$(message)" "Velomar|Warning!|Outputs may be modified!|"
keys "Return"
wait_for 20 equals 1 checked main 1023
check "communication is active" "$(probe checked main 1023)" "1"
check "one input byte, as 0x1A00 maps 0x2100 (8 bits)" \
  "$(probe list main 1005 | tr '\n' '|')" "$separator|PDO1   [0]:	?|"
check "one output byte, as 0x1600 maps 0x2200 (8 bits)" \
  "$(probe list main 1006 | tr '\n' '|')" "$separator|PDO1   [0]:	00h	00000000	.|"
wait_for 5 slave_is 3 "ok 5" state
check "node 3 is operational (its own NMT state)" "$(slave 3 state)" "ok 5"
check "node 5 is left pre-operational" "$(slave 5 state)" "ok 127"
echo "note: node 3 took the 4-byte write to 0x1400 sub 2 (UNSIGNED8): it now holds $(slave 3 get 1400 2 | sed "s/^ok //")"
shot started

# 4. Event-driven TPDOs: the slave answers no remote frame, so inputs wait for a change
sleep 1.5
check "no input arrives while the slave is only polled by remote frames" "$(input_line 2)" "PDO1   [0]:	?"
check "node 3 sends a TPDO when its input changes" "$(slave 3 set 2100 0 A5)" "ok"
wait_for 5 bash -c "timeout 15 wine '$probe_exe' list main 1005 2>/dev/null | grep -qF 'PDO1   [0]:	A5h'"
check "the input arrives in the input list" "$(input_line 2)" "PDO1   [0]:	A5h	10100101	."
check "its line above shows the time of arrival" \
  "$(input_line 1 | grep -cE '^[0-9]{2}:[0-9]{2}:[0-9]{2} -+$')" "1"
slave 3 set 2100 0 3C >/dev/null
wait_for 5 bash -c "timeout 15 wine '$probe_exe' list main 1005 2>/dev/null | grep -qF 'PDO1   [0]:	3Ch'"
check "a second change arrives too" "$(input_line 2)" "PDO1   [0]:	3Ch	00111100	<"
shot inputs

# 5. Edited outputs reach the slave's object dictionary
keys "alt+o"
keys "Home Down"
check "the output byte is selected" "$(probe selected main 1006)" "1"
keys "alt+e"; typed "5A"; keys "Return"
check "the output list shows the edited byte" "$(probe list main 1006 | sed -n 2p)" "PDO1   [0]:	5Ah	01011010	Z"
wait_for 5 slave_is 3 "ok 5A" get 2200 0
check "node 3 applied the output byte (0x2200)" "$(slave 3 get 2200 0)" "ok 5A"
click main 1007
check "bit box 0 sets bit 0" "$(probe list main 1006 | sed -n 2p)" "PDO1   [0]:	5Bh	01011011	["
wait_for 5 slave_is 3 "ok 5B" get 2200 0
check "node 3 applied the bit" "$(slave 3 get 2200 0)" "ok 5B"
keys "alt+r"
check "Freeze Outputs is checked" "$(probe checked main 1029)" "1"
click main 1014
check "the output list shows the edit made while frozen" "$(probe list main 1006 | sed -n 2p)" \
  "PDO1   [0]:	DBh	11011011	."
sleep 1.5
check "node 3 keeps the frozen byte" "$(slave 3 get 2200 0)" "ok 5B"
keys "alt+r"
check "Freeze Outputs is unchecked" "$(probe checked main 1029)" "0"
wait_for 5 slave_is 3 "ok DB" get 2200 0
check "node 3 gets the byte once outputs are free again" "$(slave 3 get 2200 0)" "ok DB"
shot outputs

# 6. Read objects: expedited and segmented uploads, and the slave's aborts
keys "alt+c r"
wait_for 10 has_window "$read_title"
read_object 1000 0 alt+h
wait_for 5 equals 4 text "$read_title" 1038
check "0x1000 is read (expedited, no size given)" \
  "$(probe text "$read_title" 1038) $(probe text "$read_title" 1037)" "4 F0191"
name3="Interop IO module"
read_object 1008 0 alt+w
wait_for 5 equals 17 text "$read_title" 1038
check "0x1008 is read in segments (extra empty last segment)" \
  "$(probe text "$read_title" 1038)|$(probe text "$read_title" 1037)" "17|$(raw_of "$name3")"
text3="Hello from the independent slave"
read_object 2000 0 alt+w
wait_for 5 equals 32 text "$read_title" 1038
check "0x2000 (32 bytes) is read in segments" \
  "$(probe text "$read_title" 1038)|$(probe text "$read_title" 1037)" "32|$(raw_of "$text3")"
slave_text="Set on the slave side"
check "the slave changes 0x2000 itself" "$(slave 3 set 2000 0 "$(hex_of "$slave_text")")" "ok"
read_object 2000 0 alt+w
wait_for 5 equals 21 text "$read_title" 1038
check "the program reads the slave's new text" \
  "$(probe text "$read_title" 1038)|$(probe text "$read_title" 1037)" "21|$(raw_of "$slave_text")"
read_object 2003 0 alt+w
wait_for 5 equals 4 text "$read_title" 1038
check "the empty text 0x2003 reads as 4 zero bytes (the slave claims 4)" \
  "$(probe text "$read_title" 1038)|$(probe text "$read_title" 1037)" "4|00 00 00 00 "
read_object 3000 0 alt+h
wait_for 5 has_message
check "a missing object shows the slave's abort code" "$(message)" \
  "Velomar|Unable to access object!|Abort Code: 06020000h|"
shot abort-missing
keys "Return"
wait_for 5 bash -c "! timeout 15 wine '$probe_exe' message 2>/dev/null | head -1 | tr -d '\r' | grep -qx Velomar"
check "the result fields stay empty after the abort" \
  "$(probe text "$read_title" 1038)|$(probe text "$read_title" 1037)" "|"
read_object 1018 9 alt+h
wait_for 5 has_message
check "a missing subindex of a record shows the slave's abort code" "$(message)" \
  "Velomar|Unable to access object!|Abort Code: 06090011h|"
keys "Return"
check "communication is still active after the aborts" "$(probe checked main 1023)" "1"

# 7. Write objects: segmented and expedited downloads, checked on the slave's side
keys "F2 alt+c w"
wait_for 10 has_window "$write_title"
check "opening Write Object closes Read Object" "$(has_window "$read_title" && echo open || echo closed)" "closed"
new_text="Velomar was here"
write_object 2000 0 1044 "" "$(raw_of "$new_text")"
wait_for 5 slave_is 3 "ok $(hex_of "$new_text")" get 2000 0
check "a segmented download (16 bytes) reaches node 3's 0x2000" "$(slave 3 get 2000 0)" "ok $(hex_of "$new_text")"
write_object 2001 0 1040 1039 "CAFE1234"
wait_for 5 slave_is 3 "ok 3412FECA" get 2001 0
check "an expedited download (4 bytes) reaches node 3's 0x2001" "$(slave 3 get 2001 0)" "ok 3412FECA"
write_object 2002 0 1040 1037 "BEEF"
wait_for 5 slave_is 3 "ok EFBE" get 2002 0
check "an expedited download (2 bytes) reaches node 3's 0x2002" "$(slave 3 get 2002 0)" "ok EFBE"
write_object 1000 0 1040 1039 "1"
wait_for 5 has_message
check "a write to the read-only 0x1000 shows the slave's abort code" "$(message)" \
  "Velomar|Unable to access object!|Abort Code: 06010002h|"
keys "Return"
check "0x1000 kept its value" "$(slave 3 get 1000 0)" "ok 91010F00"
# 2 bytes to an UNSIGNED32: the independent slave gives no answer at all; the master's
# time-out ends the transfer, and as communication is active the operator is asked.
write_object 2001 0 1040 1037 "1234"
wait_for 5 has_message
check "a download the slave leaves unanswered is a communication failure" "$(message)" \
  "Velomar|Communication failure!|"
shot unanswered
keys "Return"
wait_for 10 bash -c "! timeout 15 wine '$probe_exe' message 2>/dev/null | head -1 | tr -d '\r' | grep -qx Velomar"
check "Retry restarts: communication stays active" "$(probe checked main 1023)" "1"
check "node 3 is still operational" "$(slave 3 state)" "ok 5"
check "0x2001 kept the value written before" "$(slave 3 get 2001 0)" "ok 3412FECA"
# The restart lays the inputs out afresh, and a slave that answers no remote frame leaves
# them unknown until its input changes again.
check "after the restart the input is unknown again" "$(input_line 2)" "PDO1   [0]:	?"
slave 3 set 2100 0 66 >/dev/null
wait_for 5 bash -c "timeout 15 wine '$probe_exe' list main 1005 2>/dev/null | grep -qF 'PDO1   [0]:	66h'"
check "the next change of the input arrives" "$(input_line 2)" "PDO1   [0]:	66h	01100110	f"
check "the output byte keeps its value over the restart" "$(probe list main 1006 | sed -n 2p)" \
  "PDO1   [0]:	DBh	11011011	."
click main 1007
wait_for 5 slave_is 3 "ok DA" get 2200 0
check "an output edited after the restart reaches node 3" "$(probe list main 1006 | sed -n 2p) $(slave 3 get 2200 0)" \
  "PDO1   [0]:	DAh	11011010	. ok DA"
keys "F4 Escape"
wait_for 5 no_window "$write_title"

# 8. Read back what was written
keys "F2 alt+c r"
wait_for 10 has_window "$read_title"
read_object 2000 0 alt+w
wait_for 5 equals 16 text "$read_title" 1038
check "0x2000 reads back in segments" \
  "$(probe text "$read_title" 1038)|$(probe text "$read_title" 1037)" "16|$(raw_of "$new_text")"
read_object 2001 0 alt+h
wait_for 5 equals CAFE1234 text "$read_title" 1037
check "0x2001 reads back" "$(probe text "$read_title" 1038) $(probe text "$read_title" 1037)" "4 CAFE1234"
read_object 2002 0 alt+h
wait_for 5 equals BEEF text "$read_title" 1037
check "0x2002 reads back with its own length" \
  "$(probe text "$read_title" 1038) $(probe text "$read_title" 1037)" "2 BEEF"
shot read-back

# 9. Stop (the Read Object dialog stays open)
keys "F2 alt+c p"
wait_for 10 equals 0 checked main 1023
check "communication stopped" "$(probe checked main 1023)" "0"
check "both lists are empty" "$(probe list main 1005 | wc -l) $(probe list main 1006 | wc -l)" "0 0"
wait_for 5 slave_is 3 "ok 127" state
check "node 3 is back in pre-operational" "$(slave 3 state)" "ok 127"

# 10. An object read while communication is stopped opens the bus for itself
read_object 1018 4 alt+h
wait_for 8 equals 1003 text "$read_title" 1037
check "0x1018 sub 4 is read with communication stopped" \
  "$(probe text "$read_title" 1038) $(probe text "$read_title" 1037)" "4 1003"
keys "F3 Escape"
wait_for 5 no_window "$read_title"

# 11. A period with node 5
keys "alt+t"; typed "5"
keys "alt+c s"
wait_for 10 has_message
keys "Return"
wait_for 20 equals 1 checked main 1023
check "communication with node 5 is active" "$(probe checked main 1023)" "1"
wait_for 5 slave_is 5 "ok 5" state
check "node 5 is operational" "$(slave 5 state)" "ok 5"
check "node 3 stays pre-operational" "$(slave 3 state)" "ok 127"
slave 5 set 2100 0 81 >/dev/null
wait_for 5 bash -c "timeout 15 wine '$probe_exe' list main 1005 2>/dev/null | grep -qF 'PDO1   [0]:	81h'"
check "node 5's input arrives" "$(input_line 2)" "PDO1   [0]:	81h	10000001	."
keys "alt+o"
keys "Home Down"
keys "alt+e"; typed "0F"; keys "Return"
wait_for 5 slave_is 5 "ok 0F" get 2200 0
check "node 5 applied the output byte" "$(slave 5 get 2200 0)" "ok 0F"
check "node 3's outputs are untouched" "$(slave 3 get 2200 0)" "ok DA"
shot node5
keys "alt+c p"
wait_for 10 equals 0 checked main 1023
check "communication with node 5 stopped" "$(probe checked main 1023)" "0"
wait_for 5 slave_is 5 "ok 127" state
check "node 5 is back in pre-operational" "$(slave 5 state)" "ok 127"

# 12. Close
keys "alt+f x"
for _ in $(seq 1 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$program" 2>/dev/null; then
  kill "$program"; check "the program ends" "running" "ended"
fi
wait "$program"
check "the program exits with 0" "$?" "0"
program=""
check "the settings keep the last address" "$(tr -d '\r' <tovral.ini | grep '^CurrAdr=')" "CurrAdr=5"

# 13. The trace against the bus
log=$(tr -d '\r' <tovral.log)
# Node 3 is started twice (the start and the restart), node 5 once; each is stopped once.
for nmt in "01 03:2" "80 03:1" "01 05:1" "80 05:1"; do
  check "the trace holds the NMT frame ${nmt%:*} ${nmt#*:} time(s)" \
    "$(echo "$log" | grep -c ": 000 - ${nmt%:*} \$")" "${nmt#*:}"
done
# The configuration reading asks for every PDO number up to 512 (each missing one aborted
# by the slave) and writes 255 to 0x1400 sub 2 for the TPDO found; twice for node 3.
check "the configuration reading reaches 0x19FF and 0x15FF (node 3, twice)" \
  "$(echo "$log" | grep -cE ': 603 - 40 FF (19|15) 01 00 00 00 00 $')" "4"
check "the write of 255 to 0x1400 sub 2 goes out at each reading of node 3" \
  "$(echo "$log" | grep -c ': 603 - 23 00 14 02 FF 00 00 00 $')" "2"
check "the trace holds the remote requests for node 3's and node 5's TPDO" \
  "$(echo "$log" | grep -qF ': 183( RTR ) - L=1' && echo "$log" | grep -qF ': 185( RTR ) - L=1' && echo yes)" "yes"
check "the trace holds the abort of the unanswered download" \
  "$(echo "$log" | grep -c ': 603 - 80 01 20 00 00 00 04 05 $')" "1"
# The witness writes each frame as it comes: give it a moment for the last ones.
want=$(echo "$log" | awk 'NR % 2 == 1' | grep -vc 'RTR')
for _ in $(seq 50); do
  [ "$(wc -l <"$BED_WITNESS")" -ge "$want" ] && break
  sleep 0.1
done
echo "note: the witness cannot record remote frames (python-can's socketcand interface does not" \
  "parse them); they are compared with the log of the bed's server"
while IFS= read -r line; do
  echo "$line"
  case $line in
    ok:*) passed=$((passed + 1)) ;;
    FAIL:*) failed=$((failed + 1)) ;;
  esac
done < <(python3 "$here/compare-trace.py" --trace tovral.log --witness "$BED_WITNESS" \
           --server-log "$BED_DIR/server.log" --out "$work/frames")
finish
