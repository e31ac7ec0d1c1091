#!/usr/bin/env bash
# Runs scripts/setup-deps with stand-ins first on PATH for dpkg, apt-get, apt-cache, clang,
# npm, id and sudo. Each scenario says which packages are missing and how the mirror
# behaves; the stand-ins write every apt-get call to a log, which the checks read.
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir -p "$bin"
failures=0

# dpkg -s P fails for the packages listed in $STATE/missing; i386 is already added.
cat >"$bin/dpkg" <<'STAND_IN'
#!/usr/bin/env bash
case "$1" in
  -s) ! grep -qxF -- "$2" "$STATE/missing" ;;
  --print-foreign-architectures) echo i386 ;;
  *) echo "dpkg $*" >>"$STATE/log" ;;
esac
STAND_IN
# apt-get: `update` fails the number of times in $STATE/update_failures (then succeeds);
# `install` succeeds per $STATE/install_rule: "plain" always, "suite" only with -t, "never"
# never; a simulated install (-s) of the package named in $STATE/unavailable fails with
# apt's wording.
cat >"$bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STATE/log"
case "$1" in
  update)
    left=$(cat "$STATE/update_failures")
    if [ "$left" -gt 0 ]; then
      echo $((left - 1)) >"$STATE/update_failures"
      echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size. Mirror sync in progress?" >&2
      exit 100
    fi
    exit 0 ;;
  install)
    shift
    simulate=0; suite=0
    for a in "$@"; do
      [ "$a" = -s ] && simulate=1
      [ "$a" = -t ] && suite=1
    done
    if [ $simulate -eq 1 ]; then
      last=${*: -1}
      if [ "$last" = "$(cat "$STATE/unavailable")" ]; then
        echo "E: Package '$last' has no installation candidate" >&2
        exit 100
      fi
      exit 0
    fi
    case "$(cat "$STATE/install_rule")" in
      plain) exit 0 ;;
      suite) [ $suite -eq 1 ] && exit 0 ;;
    esac
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
esac
STAND_IN
printf '#!/bin/sh\necho "clang version 14.0.6"\n' >"$bin/clang"
printf '#!/bin/sh\nexit 0\n' >"$bin/apt-cache"
printf '#!/bin/sh\nexit 0\n' >"$bin/npm"
printf '#!/bin/sh\necho "$ID_U"\n' >"$bin/id"
printf '#!/bin/sh\necho "sudo $*" >>"$STATE/log"\nexec "$@"\n' >"$bin/sudo"
chmod +x "$bin"/*

# scenario NAME MISSING UPDATE_FAILURES INSTALL_RULE [UNAVAILABLE] [UID]: runs the script
# and leaves its exit code in $rc, its output in $out and the calls in $calls.
scenario() {
  name=$1
  export STATE=$work/$name
  mkdir -p "$STATE"
  printf '%s\n' $2 >"$STATE/missing"
  echo "$3" >"$STATE/update_failures"
  echo "$4" >"$STATE/install_rule"
  echo "${5:-}" >"$STATE/unavailable"
  : >"$STATE/log"
  printf 'ID=debian\nVERSION_CODENAME=testcodename\n' >"$STATE/os-release"
  out=$(PATH="$bin:$PATH" ID_U="${6:-0}" VELOMAR_OS_RELEASE="$STATE/os-release" \
        VELOMAR_APT_RETRY_DELAY=0 bash "$script" 2>&1)
  rc=$?
  calls=$(cat "$STATE/log")
}
check() {  # check WHAT CONDITION...
  local what=$1; shift
  if ! "$@"; then
    echo "FAIL [$name] $what"
    echo "  output: $out" | head -n 20
    echo "  calls: $calls" | head -n 20
    failures=$((failures + 1))
  fi
}
has() { grep -qxF -- "$1" <<<"$calls"; }
count() { grep -cxF -- "$1" <<<"$calls"; }

scenario nothing_missing "" 0 plain
check "exits 0" test $rc -eq 0
check "asks apt nothing" test -z "$calls"

scenario healthy_mirror "xvfb wine32:i386" 0 plain
check "exits 0" test $rc -eq 0
check "one index update" test "$(count 'apt-get update -qq')" -eq 1
check "installs only what is missing" has "apt-get install -y -qq --no-install-recommends xvfb wine32:i386"
check "no release suite needed" test "$(grep -c -- ' -t ' <<<"$calls")" -eq 0

scenario update_recovers "xvfb" 1 plain
check "exits 0" test $rc -eq 0
check "update tried again" test "$(count 'apt-get update -qq')" -eq 2
check "installs" has "apt-get install -y -qq --no-install-recommends xvfb"

# The mirror as it was seen: the i386 list is always out of step, the plain install
# cannot resolve, the release suite can.
scenario mirror_out_of_step "mingw-w64 wine32:i386" 99 suite
check "exits 0" test $rc -eq 0
check "update tried three times, then goes on" test "$(count 'apt-get update -qq')" -eq 3
check "plain install tried first" has "apt-get install -y -qq --no-install-recommends mingw-w64 wine32:i386"
check "then the release suite the sources name" \
  has "apt-get install -y -qq --no-install-recommends -t testcodename mingw-w64 wine32:i386"
check "says so" grep -q "release suite testcodename" <<<"$out"

scenario nothing_works "mingw-w64 wine32:i386 xvfb" 99 never wine32:i386
check "fails" test $rc -ne 0
check "names the package and apt's reason in one line" \
  grep -qxF "setup-deps: cannot install wine32:i386: Package 'wine32:i386' has no installation candidate" <<<"$out"
check "asked about each package up to it" test "$(grep -c -- "install -s" <<<"$calls")" -eq 3

scenario not_root "xvfb" 0 plain "" 1000
check "exits 0" test $rc -eq 0
check "installs through sudo" has "sudo apt-get install -y -qq --no-install-recommends xvfb"

if [ $failures -eq 0 ]; then
  echo "setup-deps: 6 scenarios passed"
  exit 0
fi
echo "$failures checks failed"
exit 1
