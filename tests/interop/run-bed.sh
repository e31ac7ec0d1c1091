#!/usr/bin/env bash
# The interop test bed on 127.0.0.1: a socketcand-protocol server carrying one virtual CAN
# bus, CANopen slaves of the independent implementation (npm package `canopen`) on it,
# and python-can's socketcand interface as a witness that records every frame.
#
#   run-bed.sh run DIR [--slaves "3 5"] -- COMMAND [ARGS...]
#       starts the bed, runs COMMAND with the bed's environment, stops the bed (always,
#       by a trap), and exits with COMMAND's status;
#   run-bed.sh start DIR [--slaves "3 5"]   starts the bed and returns once it is ready;
#   run-bed.sh stop DIR                     stops what `start` left running.
#
# DIR receives the logs, the witness's recording (witness.txt) and bed.env, which the
# command also finds in its environment:
#   BED_DIR, BED_PORT (the server's port), BED_WITNESS (the recording),
#   BED_CONTROL_<node> (the control port of each slave, see canopen-slave.js).
# Slaves are the nodes with an EDS file eds/interop_node<node>.eds; default: 3 and 5;
# --slaves none: server and witness only.
#
# Exit status 77 (CTest's "skipped") when node, the installed npm modules (`npm ci
# --ignore-scripts --prefix tests/interop`) or python3-can are missing. Every process of
# the bed also ends by itself after BED_MAX_SECONDS (default 600), so nothing outlives a
# killed run for long.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
max_seconds=${BED_MAX_SECONDS:-600}

usage() {
    echo "usage: $0 run DIR [--slaves \"3 5\"] -- COMMAND... | start DIR [--slaves ...] | stop DIR" >&2
    exit 2
}

check_tools() {
    if ! command -v node >/dev/null 2>&1; then
        echo "SKIP: node is not installed (scripts/setup-deps installs it)" >&2
        exit 77
    fi
    if [ ! -f "$here/node_modules/canopen/package.json" ]; then
        echo "SKIP: npm modules missing: run npm ci --ignore-scripts --prefix tests/interop" >&2
        exit 77
    fi
    if ! /usr/bin/python3 -c 'import can.interfaces.socketcand' >/dev/null 2>&1; then
        echo "SKIP: python3-can is not installed (scripts/setup-deps installs it)" >&2
        exit 77
    fi
}

# Waits (at most ~10 s) until the file exists and is not empty.
wait_for_file() {
    local file=$1 what=$2 i
    for i in $(seq 100); do
        [ -s "$file" ] && return 0
        sleep 0.1
    done
    echo "bed: $what did not come up (no $file)" >&2
    return 1
}

start_bed() {
    local dir=$1 slaves=$2 node port
    mkdir -p "$dir"
    rm -f "$dir"/pids "$dir"/port "$dir"/witness.* "$dir"/control.* "$dir"/bed.env "$dir"/*.log "$dir"/*.out
    : > "$dir/pids"

    node "$here/socketcand-server.js" --port-file "$dir/port" --log "$dir/server.log" \
        --max-seconds "$max_seconds" > "$dir/server.out" 2>&1 &
    echo $! >> "$dir/pids"
    wait_for_file "$dir/port" "the socketcand server"
    port=$(cat "$dir/port")

    # The witness first, so that it sees the slaves' first frames too.
    /usr/bin/python3 "$here/witness.py" --port "$port" --out "$dir/witness.txt" \
        --ready "$dir/witness.ready" --max-seconds "$max_seconds" > "$dir/witness.log" 2>&1 &
    echo $! >> "$dir/pids"
    wait_for_file "$dir/witness.ready" "the witness"

    {
        echo "BED_DIR=$dir"
        echo "BED_PORT=$port"
        echo "BED_WITNESS=$dir/witness.txt"
    } > "$dir/bed.env.part"
    for node in $slaves; do
        node "$here/canopen-slave.js" --port "$port" --node "$node" \
            --eds "$here/eds/interop_node$node.eds" --control-port-file "$dir/control.$node" \
            --log "$dir/slaves.log" --max-seconds "$max_seconds" >> "$dir/slaves.out" 2>&1 &
        echo $! >> "$dir/pids"
    done
    for node in $slaves; do
        wait_for_file "$dir/control.$node" "slave $node"
        echo "BED_CONTROL_$node=$(cat "$dir/control.$node")" >> "$dir/bed.env.part"
    done
    mv "$dir/bed.env.part" "$dir/bed.env"
}

stop_bed() {
    local dir=$1 pid i alive
    [ -f "$dir/pids" ] || return 0
    # Slaves and witness first (reverse order), the server last.
    for pid in $(tac "$dir/pids"); do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for i in $(seq 30); do
        alive=0
        for pid in $(cat "$dir/pids"); do
            kill -0 "$pid" 2>/dev/null && alive=1
        done
        [ $alive -eq 0 ] && break
        sleep 0.1
    done
    for pid in $(cat "$dir/pids"); do
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -f "$dir/pids"
}

[ $# -ge 2 ] || usage
mode=$1 dir=$2
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
slaves="3 5"
if [ "${1:-}" = "--slaves" ]; then
    slaves=$2
    [ "$slaves" = none ] && slaves=""
    shift 2
fi

case "$mode" in
    start)
        check_tools
        trap 'stop_bed "$dir"' ERR
        start_bed "$dir" "$slaves"
        ;;
    stop)
        stop_bed "$dir"
        ;;
    run)
        [ "${1:-}" = "--" ] && shift
        [ $# -ge 1 ] || usage
        check_tools
        trap 'stop_bed "$dir"' EXIT
        trap 'exit 130' INT TERM
        start_bed "$dir" "$slaves"
        set -a
        . "$dir/bed.env"
        set +a
        status=0
        "$@" || status=$?
        exit $status
        ;;
    *)
        usage
        ;;
esac
