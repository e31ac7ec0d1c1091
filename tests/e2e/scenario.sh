#!/usr/bin/env bash
# The operator's session, run inside the virtual display by e2e.sh:
#   scenario.sh BIN_DIR WORK_DIR SHOTS_DIR en|de
set -u
bin=$1 work=$2 shots=$3 language=$4
probe_exe=$bin/e2e/probe.exe

declare -A T
if [ "$language" = de ]; then
  T=([search]="alt+a s" [start]="alt+k s" [stop]="alt+k p" [read]="alt+k l" [write]="alt+k r"
     [exit]="alt+d b" [freeze]="alt+f" [outputs]="alt+u" [raw]="alt+r" [value]="alt+w"
     [searchTitle]="Suche Slaves" [readTitle]="<F3> Lese Objekt" [writeTitle]="<F4> Schreibe Objekt"
     [warning]="Warnung!|Ausgänge können verändert werden!"
     [dictTitle]="<F5> Objektverzeichnis" [readDone]="^[0-9]+ von [0-9]+ gelesen$"
     [monTitle]="<F6> Knotenmonitor" [emcyTitle]="Velomar - Knoten 3: Emergency 8130h (1 neu)"
     [emcyMeaning]="Kommunikation: Life-Guarding- oder Heartbeat-Fehler" [monState]="Operational"
     [saveDcf]="alt+d" [loadDcf]="alt+t" [download]="alt+t" [verify]="alt+p"
     [downloadTitle]="DCF übertragen" [storeTitle]="Im Gerät speichern" [saved]="Werte in node3.dcf gespeichert"
     [oneToWrite]="1 Einträge zu schreiben" [oneWritten]="1 geschrieben, 0 fehlgeschlagen"
     [verified]="Geprüft: 1 gleich, 0 abweichend"
     [lss]="alt+a k" [lssFind]="alt+s" [lssSet]="alt+e" [lssStore]="alt+p" [lssTitle]="<F7> Knoten konfigurieren (LSS)" [lssQuestion]="Knoten 10 zum aktuellen Slave machen?")
else
  T=([search]="alt+a s" [start]="alt+c s" [stop]="alt+c p" [read]="alt+c r" [write]="alt+c w"
     [exit]="alt+f x" [freeze]="alt+r" [outputs]="alt+o" [raw]="alt+w" [value]="alt+v"
     [searchTitle]="Search Slaves" [readTitle]="<F3> Read Object" [writeTitle]="<F4> Write Object"
     [warning]="Warning!|Outputs may be modified!"
     [dictTitle]="<F5> Object Dictionary" [readDone]="^[0-9]+ of [0-9]+ read$"
     [monTitle]="<F6> Node Monitor" [emcyTitle]="Velomar - Node 3: emergency 8130h (1 new)"
     [emcyMeaning]="Communication: Life guard error or heartbeat error" [monState]="Operational"
     [saveDcf]="alt+d" [loadDcf]="alt+l" [download]="alt+d" [verify]="alt+v"
     [downloadTitle]="Download DCF" [storeTitle]="Store in Device" [saved]="values saved in node3.dcf"
     [oneToWrite]="1 entries to write" [oneWritten]="1 written, 0 failed" [verified]="Verified: 1 match, 0 differ"
     [lss]="alt+a c" [lssFind]="alt+f" [lssSet]="alt+n" [lssStore]="alt+t" [lssTitle]="<F7> Configure Node (LSS)" [lssQuestion]="Make node 10 the current slave?")
fi

. "$(dirname "$0")/lib.sh"
start_probe

# A main-menu item's state, where another process can read menus (not on Wine: there the
# locked controls and the refused command stand for it).
menu_state() {  # command expected description
  local state
  state=$(probe menu "$1")
  case $? in
    0) check "$3" "$state" "$2" ;;
    2) echo "note: $3: menus cannot be read from another process here" ;;
    *) check "$3" "missing" "$2" ;;
  esac
}


cd "$work" || exit 1
wine tovral.exe &
program=$!

# 1. Start-up
wait_for 30 equals "Velomar" title main
check "the main window is up" "$(probe title main)" "Velomar"
# The window shows before its controls are filled: wait for the field.
wait_for 10 equals 5 text main 1000
check "the slave address comes from the settings file" "$(probe text main 1000)" "5"
check "communication is off" "$(probe checked main 1023)" "0"
shot start

# 1a. Help: F1 hands the index page of the operator's language to the desktop's browser
# (Wine's help viewer cannot show pages without its HTML engine).
keys "F1"
wait_for 20 test -s "$BROWSER_LOG"
url=$(head -1 "$BROWSER_LOG" 2>/dev/null)
page=$(python3 -c 'import sys, urllib.parse; u = urllib.parse.urlsplit(sys.argv[1]); print(urllib.parse.unquote(u.path) if u.scheme == "file" else "")' "$url")
check "F1 opens the help page of the program's language" "$(realpath -m "$page")" "$(realpath "$work/help/$language/index.html")"
check "the page opened exists" "$([ -f "$page" ] && echo yes)" "yes"
check "one page per F1" "$(wc -l <"$BROWSER_LOG")" "1"
check "the page is in the program's language" "$(grep -o '<html lang="[a-z]*"' "$page")" "<html lang=\"$language\""
# Without any browser F1 opens nothing, and the program runs on unharmed.
rm -f "$STANDIN"
windows_before=$(probe windows | sort)
keys "F1"
# [w]: the pattern does not match the command line that holds it.
no_browser() { ! pgrep -f '[w]inebrowser' >/dev/null; }
wait_for 20 no_browser
check "no browser: the program still answers" "$(probe title main)" "Velomar"
check "no browser: no window or message appears" "$(probe windows | sort)" "$windows_before"
check "no browser: nothing was recorded" "$(wc -l <"$BROWSER_LOG")" "1"
check "no browser: the program still runs" "$(kill -0 "$program" 2>/dev/null && echo yes)" "yes"

# 2. Search the bus and take node 3
keys "${T[search]}"
wait_for 10 has_window "${T[searchTitle]}"
shot search-running
wait_for 30 equals "&OK" text "${T[searchTitle]}" 1
list=$(probe list "${T[searchTitle]}" 1032)
check "the search lists every node, answering ones without parentheses" \
  "$(echo "$list" | head -6 | tr '\n' ' ')" "(1) (2) 3 (4) 5 (6) "
check "the search reached node 127" "$(echo "$list" | tail -1)" "(127)"
check "the lowest answering node is selected" "$(probe selected "${T[searchTitle]}" 1032)" "2"
shot search-done
crop "${T[searchTitle]}" search.png
keys "Return"
wait_for 5 no_window "${T[searchTitle]}"
check "OK takes node 3 into the address field" "$(probe text main 1000)" "3"

# 3. Start communication and confirm the warning
keys "${T[start]}"
wait_for 10 probe message
message=$(probe message | tr '\n' '|')
check "the warning asks before outputs change" "$message" "Velomar|${T[warning]}|"
shot warning
keys "Return"
wait_for 20 equals 1 checked main 1023
check "communication is active" "$(probe checked main 1023)" "1"
menu_state 40004 grayed "Start is grayed while active"
menu_state 40005 enabled "Stop is enabled while active"
check "the address field is locked while active" "$(probe enabled main 1000)" "0"
wait_for 10 shows 'PDO1   \[0\]:.*h' list main 1005
shot communicating
# The main window alone, communicating: the picture the guide opens with.
crop main main-window.png

# 4. An input changes by itself (the running light of node 3)
first=$(probe list main 1005 | sed -n 2p)
changed=no
for _ in $(seq 1 20); do
  sleep 0.3
  [ "$(probe list main 1005 | sed -n 2p)" != "$first" ] && { changed=yes; break; }
done
check "input byte PDO1 [0] changes while communicating" "$changed" "yes"

# 5. Set output bit 0 with the mouse and see it read back in the inputs
keys "${T[outputs]}"
keys "Home Down"
check "the first output byte is selected" "$(probe selected main 1006)" "1"
click main 1007
check "bit box 0 is checked" "$(probe checked main 1007)" "1"
check "the output list shows the new byte" "$(probe list main 1006 | sed -n 2p)" "PDO1   [0]:	01h	00000001	."
wait_for 5 shows_fixed 'PDO1   [1]:	01h	00000001' list main 1005
check "node 3 reads the output back in its inputs" \
  "$(probe list main 1005 | sed -n 3p)" "PDO1   [1]:	01h	00000001	."
shot output-read-back

# 6. Freeze the outputs: an edit changes the list, not the slave
keys "${T[freeze]}"
check "Freeze Outputs is checked" "$(probe checked main 1029)" "1"
click main 1008
check "the output list shows the edit" "$(probe list main 1006 | sed -n 2p)" "PDO1   [0]:	03h	00000011	."
sleep 1.5
check "the slave still reads the frozen byte" "$(probe list main 1005 | sed -n 3p)" "PDO1   [1]:	01h	00000001	."
shot frozen

# 7. Write an object: 0x1017 = 1234 (Hex, 2 bytes)
keys "${T[write]}"
wait_for 10 has_window "${T[writeTitle]}"
keys "alt+o"; xdotool type --delay 40 "1017"
keys "alt+b"; xdotool type --delay 40 "0"
keys "alt+2 alt+h"
keys "${T[value]}"; xdotool type --delay 40 "1234"
keys "Tab Return"
sleep 1
check "the write dialog shows the value written" "$(probe text "${T[writeTitle]}" 1033)" "1234"
shot write-object
crop "${T[writeTitle]}" write-object.png
keys "Escape"
wait_for 5 no_window "${T[writeTitle]}"

# 8. Read objects: the one just written (Hex), the device name (Raw, segmented)
keys "${T[read]}"
wait_for 10 has_window "${T[readTitle]}"
keys "alt+o"; xdotool type --delay 40 "1017"
keys "alt+b"; xdotool type --delay 40 "0"
keys "alt+h Return"
wait_for 5 filled text "${T[readTitle]}" 1038
check "the written object reads back" "$(probe text "${T[readTitle]}" 1037)" "1234"
check "its length is 2" "$(probe text "${T[readTitle]}" 1038)" "2"
keys "alt+o"; xdotool type --delay 40 "1008"
keys "${T[raw]} Return"
wait_for 5 equals 21 text "${T[readTitle]}" 1038
check "the device name is read in segments" "$(probe text "${T[readTitle]}" 1038)" "21"
check "and shown in Raw" "$(probe text "${T[readTitle]}" 1037)" \
  "53 69 6D 49 4F 20 38 44 49 20 38 44 4F 20 32 41 49 20 32 41 4F "
shot read-object
keys "Escape"
wait_for 5 no_window "${T[readTitle]}"

# 8a. The dictionary by name: F5 finds node 3's EDS file by the identity the slave reports,
# Read All fills the values, and a double-click opens the entry in Read Object with the
# format of its data type, which reads the same value as the list shows.
keys "F5"
wait_for 20 has_window "${T[dictTitle]}"
wait_for 20 shows '^1017' lvtext "${T[dictTitle]}" 1046
check "F5 finds node 3's EDS file by its identity" \
  "$(probe text "${T[dictTitle]}" 1047 | grep -o 'io_module\.eds')" "io_module.eds"
# One row per value: every section with a DataType (records and arrays have none).
check "every entry of the file is listed" "$(probe lvtext "${T[dictTitle]}" 1046 | wc -l)" \
  "$(grep -ci '^DataType=' "$work/eds/io_module.eds")"
keys "alt+a"
wait_for 60 shows_extended "${T[readDone]}" text "${T[dictTitle]}" 1048
check "Read All ends with its count" "$(probe text "${T[dictTitle]}" 1048 | grep -cE "${T[readDone]}")" "1"
rows=$(probe lvtext "${T[dictTitle]}" 1046)
check "Read All shows the device name as text" \
  "$(echo "$rows" | awk -F'\t' '$1 == "1008" { print $7 }')" "SimIO 8DI 8DO 2AI 2AO"
listed=$(echo "$rows" | awk -F'\t' '$1 == "1017" { print $7 }')
check "Read All shows the heartbeat time written before in hex and decimal" "$listed" "0x1234 (4660)"
shot dictionary
crop "${T[dictTitle]}" dictionary.png
keys "alt+f"; xdotool type --delay 40 "1017"
wait_for 10 rows 1 lvtext "${T[dictTitle]}" 1046
check "the filter leaves the heartbeat time alone" "$(probe lvtext "${T[dictTitle]}" 1046 | cut -f1)" "1017"
xy=$(probe lvrow "${T[dictTitle]}" 1046 0)
# shellcheck disable=SC2086
xdotool mousemove $xy click --repeat 2 --delay 80 1
wait_for 10 has_window "${T[readTitle]}"
wait_for 10 filled text "${T[readTitle]}" 1038
check "Read Object opens on the entry" "$(probe text "${T[readTitle]}" 1034)/$(probe text "${T[readTitle]}" 1035)" "1017/00"
check "with the format of UNSIGNED16" "$(probe checked "${T[readTitle]}" 1041)" "1"
check "and reads the value the list shows" "($(probe text "${T[readTitle]}" 1037))" "${listed#* }"
keys "Escape"
wait_for 5 no_window "${T[readTitle]}"
keys "F5 Escape"
wait_for 5 no_window "${T[dictTitle]}"

# 8b. The node monitor: F6 shows node 3 operational; an emergency raised through the
# simulated I/O module's error object (2100 sub 1) appears in the main window's title and,
# decoded, in the monitor's list.
keys "F6"
wait_for 10 has_window "${T[monTitle]}"
check "F6 shows node 3's state" "$(probe text "${T[monTitle]}" 1061)" "${T[monState]}"
keys "F2 ${T[write]}"
wait_for 10 has_window "${T[writeTitle]}"
keys "alt+o"; xdotool type --delay 40 "2100"
keys "alt+b"; xdotool type --delay 40 "1"
keys "alt+2 alt+h"
keys "${T[value]}"; xdotool type --delay 40 "8130"
keys "Tab Return"
wait_for 10 shows '8130h' lvtext "${T[monTitle]}" 1071
check "the main window's title tells of the emergency" "$(probe title main)" "${T[emcyTitle]}"
keys "Escape"
wait_for 5 no_window "${T[writeTitle]}"
row=$(probe lvtext "${T[monTitle]}" 1071 | head -1)
check "the monitor lists the emergency with its code" "$(echo "$row" | cut -f2)" "8130h"
check "decoded by its class and its name" "$(echo "$row" | cut -f3)" "${T[emcyMeaning]}"
keys "F6"
wait_for 10 equals "Velomar" title main
check "looked at in the monitor, the title is plain again" "$(probe title main)" "Velomar"
shot node-monitor
crop "${T[monTitle]}" node-monitor.png
keys "Escape"
wait_for 5 no_window "${T[monTitle]}"

# 9. Stop
keys "${T[stop]}"
wait_for 10 equals 0 checked main 1023
check "communication stopped" "$(probe checked main 1023)" "0"
check "the input list is empty" "$(probe list main 1005 | wc -l)" "0"
menu_state 40004 enabled "Start is enabled again"
check "the address field is unlocked again" "$(probe enabled main 1000)" "1"
shot stopped

# 9a. The configuration as a whole: Save DCF keeps node 3 as it is; after 0x1017 is
# changed, Download DCF finds that one difference, writes it, and Verify reads it back.
# Read All first: the node's values have moved on since the list was read (the emergency).
# The file dialogs are the platform's own: the proposed name is taken, then typed.
file_dialog() { probe windows | grep -qE $'\t(Save As|Open|Speichern unter|Öffnen)$'; }
keys "F5"
wait_for 10 has_window "${T[dictTitle]}"
keys "alt+a"
wait_for 60 shows_extended "${T[readDone]}" text "${T[dictTitle]}" 1048
keys "${T[saveDcf]}"
wait_for 10 file_dialog
keys "Return"
wait_for 30 shows_fixed "${T[saved]}" text "${T[dictTitle]}" 1048
check "Save DCF saves node 3's values" "$(probe text "${T[dictTitle]}" 1048 | grep -cF "${T[saved]}")" "1"
check "the DCF names the node" "$(tr -d '\r' <"$work/eds/node3.dcf" | grep '^NodeID=')" "NodeID=3"
# Wine leaves the keyboard nowhere once a file dialog or a message box has gone: the
# windows are closed with the mouse.
click "${T[dictTitle]}" 2
wait_for 5 no_window "${T[dictTitle]}"
keys "${T[write]}"
wait_for 10 has_window "${T[writeTitle]}"
keys "alt+o"; xdotool type --delay 40 "1017"
keys "alt+b"; xdotool type --delay 40 "0"
keys "alt+2 alt+h"
keys "${T[value]}"; xdotool type --delay 40 "4321"
keys "Tab Return"
wait_for 5 equals 4321 text "${T[writeTitle]}" 1033
keys "Escape"
wait_for 5 no_window "${T[writeTitle]}"
keys "F5"
wait_for 10 has_window "${T[dictTitle]}"
keys "${T[loadDcf]}"
wait_for 10 file_dialog
xdotool type --delay 40 "node3.dcf"
keys "Return"
wait_for 10 has_window "${T[downloadTitle]}"
wait_for 30 equals "${T[oneToWrite]}" text "${T[downloadTitle]}" 1103
check "the download finds the one value changed" "$(probe text "${T[downloadTitle]}" 1103)" "${T[oneToWrite]}"
keys "${T[download]}"
wait_for 10 probe message
keys "Return"
wait_for 30 equals "${T[oneWritten]}" text "${T[downloadTitle]}" 1103
check "Download DCF writes it" "$(probe text "${T[downloadTitle]}" 1103)" "${T[oneWritten]}"
shot download-dcf
crop "${T[downloadTitle]}" download-dcf.png
keys "${T[verify]}"
wait_for 30 equals "${T[verified]}" text "${T[downloadTitle]}" 1103
check "Verify reads it back" "$(probe text "${T[downloadTitle]}" 1103)" "${T[verified]}"
click "${T[downloadTitle]}" 2
wait_for 5 no_window "${T[downloadTitle]}"
click "${T[dictTitle]}" 1096
wait_for 10 has_window "${T[storeTitle]}"
wait_for 10 filled text "${T[storeTitle]}" 1107
shot store
crop "${T[storeTitle]}" store-in-device.png
click "${T[storeTitle]}" 2
wait_for 5 no_window "${T[storeTitle]}"
click "${T[dictTitle]}" 2
wait_for 5 no_window "${T[dictTitle]}"
keys "${T[read]}"
wait_for 10 has_window "${T[readTitle]}"
keys "alt+o"; xdotool type --delay 40 "1017"
keys "alt+b"; xdotool type --delay 40 "0"
keys "alt+h Return"
wait_for 5 equals 1234 text "${T[readTitle]}" 1037
check "0x1017 holds the saved value again" "$(probe text "${T[readTitle]}" 1037)" "1234"
keys "Escape"
wait_for 5 no_window "${T[readTitle]}"

# 9b. A device without a node-ID: Address > Configure Node (LSS) finds it by its identity,
# gives it node-ID 10 and stores it; closing makes it node 10, and the search finds it.
keys "${T[lss]}"
wait_for 10 has_window "${T[lssTitle]}"
keys "${T[lssFind]}"
wait_for 20 shows_fixed "00001001" list "${T[lssTitle]}" 1083
check "Find lists the device by its identity" "$(probe list "${T[lssTitle]}" 1083 | tr '\t' ' ')" \
  "00000F0A 00000401 00010000 00001001"
shot lss-found
crop "${T[lssTitle]}" configure-node.png
keys "alt+i"; xdotool type --delay 40 "10"
keys "${T[lssSet]}"
wait_for 10 filled text "${T[lssTitle]}" 1090
keys "${T[lssStore]}"
keys "Escape"
wait_for 10 probe message
check "closing offers the new node as current slave" "$(probe message | sed -n 2p)" "${T[lssQuestion]}"
keys "Return"
wait_for 10 no_window "${T[lssTitle]}"
check "the configured node becomes the current slave" "$(probe text main 1000)" "10"
keys "${T[search]}"
wait_for 10 has_window "${T[searchTitle]}"
wait_for 30 equals "&OK" text "${T[searchTitle]}" 1
check "the search finds node 10 beside 3 and 5" \
  "$(probe list "${T[searchTitle]}" 1032 | grep -v '^(' | tr '\n' ' ')" "3 5 10 "
keys "Return"
wait_for 5 no_window "${T[searchTitle]}"
check "OK takes the lowest answering node again" "$(probe text main 1000)" "3"

# 10. Close
keys "${T[exit]}"
for _ in $(seq 1 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
kill -0 "$program" 2>/dev/null && { kill "$program"; check "the program ends" "running" "ended"; }
wait "$program"
check "the program exits with 0" "$?" "0"

ini=$(tr -d '\r' <tovral.ini)
check "the settings keep the address taken from the search" "$(echo "$ini" | grep '^CurrAdr=')" "CurrAdr=3"
check "the settings hold the port" "$(echo "$ini" | grep '^PrinterPort=')" "PrinterPort=4096"
check "the settings hold the bit rate" "$(echo "$ini" | grep '^Baud=')" "Baud=0"

log=$(tr -d '\r' <tovral.log)
check "the trace has two lines per frame" "$(( $(echo "$log" | wc -l) % 2 ))" "0"
check "the trace shows the NMT start of node 3" "$(echo "$log" | grep -c ': 000 - 01 03 $')" "1"
check "the trace shows the remote requests" \
  "$(echo "$log" | grep -qF ': 183( RTR ) - L=2' && echo yes)" "yes"
check "the trace shows the NMT stop" "$(echo "$log" | grep -c ': 000 - 80 03 $')" "1"
check "the trace decodes the SDO request" \
  "$(echo "$log" | grep -qF 'ID: 03h, Function: Ch (SDO (rx))' && echo yes)" "yes"
stop_probe
finish
