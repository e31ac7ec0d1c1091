# Helpers of the scenarios that drive the real program from outside: the probe reads
# the windows, xdotool types and clicks, `check` counts. The sourcing script sets
# probe_exe (the probe's path) and shots (the screenshot folder).
# shellcheck shell=bash
passed=0 failed=0 step=0

# One probe process for the whole scenario (probe serve), started at the first look:
# starting a Windows process costs a second or more under Wine, and a scenario looks
# hundreds of times. Each look is bounded: a program that hangs must fail the check, not
# stall the test. Under load Wine now and then fails to start a process at all: a probe
# that does not answer is started again, up to three times.
probe_pid=
start_probe() {
  coproc PROBE { exec wine "$probe_exe" serve 2>/dev/null; }
  probe_pid=$PROBE_PID
}
stop_probe() {
  [ -n "$probe_pid" ] || return 0
  exec {PROBE[1]}>&- 2>/dev/null
  wait "$probe_pid" 2>/dev/null
  probe_pid=
}
probe() {
  local line out status try
  for try in 1 2 3; do
    { [ -n "$probe_pid" ] && kill -0 "$probe_pid" 2>/dev/null; } || start_probe
    local IFS=$'\t'
    printf '%s\n' "$*" >&"${PROBE[1]}" 2>/dev/null || { probe_pid=; continue; }
    unset IFS
    out= status=
    while IFS= read -r -t 15 line <&"${PROBE[0]}"; do
      line=${line%$'\r'}
      if [ "${line:0:1}" = $'\x1e' ]; then status=${line:1}; break; fi
      out+=$line$'\n'
    done
    [ -n "$status" ] && break
    # No answer in time: this probe is stuck or gone.
    kill "$probe_pid" 2>/dev/null; probe_pid=
  done
  [ -n "$status" ] || return 1
  [ -z "$out" ] || printf '%s' "$out"
  return "$status"
}

# Conditions for wait_for on what the probe reads: shows PATTERN PROBE-ARGS... (grep),
# shows_fixed and shows_extended likewise, filled PROBE-ARGS... (not empty), rows N
# PROBE-ARGS... (exactly N lines).
shows() { probe "${@:2}" | grep -q -- "$1"; }
shows_fixed() { probe "${@:2}" | grep -qF -- "$1"; }
shows_extended() { probe "${@:2}" | grep -qE -- "$1"; }
filled() { [ -n "$(probe "$@")" ]; }
rows() { [ "$(probe "${@:2}" | wc -l)" = "$1" ]; }

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
