# Helpers of the scenarios that drive the real program from outside: the probe reads
# the windows, xdotool types and clicks, `check` counts. The sourcing script sets
# probe_exe (the probe's path) and shots (the screenshot folder).
# shellcheck shell=bash
passed=0 failed=0 step=0

# Bounded: a program that hangs must fail the check, not stall the test.
# Under load Wine now and then fails to start a process at all ("ShellExecuteEx failed:
# Internal error", printed in place of the probe's answer): such a start is tried again.
probe() {
  local out status try
  for try in 1 2 3; do
    out=$(timeout 15 wine "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
    status=$?
    case $out in *"ShellExecuteEx failed"*) continue ;; esac
    break
  done
  [ -z "$out" ] || printf '%s\n' "$out"
  return $status
}

shot() {
  step=$((step + 1))
  import -window root "$shots/$(printf '%02d' "$step")-$1.png" 2>/dev/null
}

# One window alone, for the guide: crop WINDOW NAME saves it beside the shots folder.
crop() {
  local x y w h
  read -r x y w h < <(probe rect "$1") || return 0
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/../$2" 2>/dev/null
}

check() {  # description actual expected
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1)); echo "ok: $1"
  else
    failed=$((failed + 1)); echo "FAIL: $1"; echo "   expected: $(printf '%q' "$3")"; echo "   actual:   $(printf '%q' "$2")"
  fi
}

# Repeats "$@" every 0.3 s until it succeeds or `seconds` pass.
wait_for() {
  local seconds=$1; shift
  local until=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $until ] && return 1
    sleep 0.3
  done
}

equals() { [ "$(probe "${@:2}")" = "$1" ]; }
has_window() { probe windows | grep -qF "	$1"; }
no_window() { ! has_window "$1"; }

keys() {
  for k in $1; do xdotool key --clearmodifiers "$k"; sleep 0.15; done
  sleep 0.4
}

click() {  # window control: a mouse click in the middle of the control
  local xy
  xy=$(probe center "$1" "$2") || return 1
  # shellcheck disable=SC2086
  xdotool mousemove $xy click 1
  sleep 0.4
}

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
