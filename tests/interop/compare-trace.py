#!/usr/bin/python3
"""Compares the program's bus trace (tovral.log) with what the bed recorded of the bus.

    compare-trace.py --trace tovral.log --witness witness.txt --server-log server.log
                     [--out DIR]

The trace has two lines per frame; the first is "<ms>: <ID>[( EXT )( RTR )] - <bytes>"
(data frames) or "<ms>: <ID>( RTR ) - L=<n>" (remote frames). The witness (python-can,
independent of our code) writes one line per data frame, "<ID> <length> <bytes>"; it
cannot record remote frames, so those are compared with the log of the bed's server (our
own code, but not the program's), which logs every frame a client sends.

The comparison covers the witness's frames from the program's first data frame to its
last one. On a bus the frames the program sends and the frames it receives may cross in
flight (a TPDO already on its way while the program's next output frame leaves), so the
two directions are compared separately, each in order and complete; the order of the
whole is only reported. Frames the program sends: COB-ID 0 (NMT) and the function codes
4, 6, 8, 10 (RPDOs) and 12 (SDO requests); every other frame is a slave's.

Prints one line per check, "ok: ...", "FAIL: ..." or "note: ...", and exits 1 when a
check failed. With --out, the parsed frame lists are written there for a look afterwards.
"""
import argparse
import os
import re
import sys

TRACE_LINE = re.compile(r"^\s*\d+: ([0-9A-F]{3,8})(\((?: STAT )?(?: EXT )?(?: RTR )?\))?(?: - (.*))?$")
SERVER_RTR = re.compile(r"< rtr ([0-9A-F]{3,8}) \S+ (\d+) >")


def parse_trace(path):
    """Data frames as "ID LEN BYTES" strings and remote frames as "ID LEN" strings."""
    data, remote, bad = [], [], []
    with open(path, encoding="latin-1") as trace:
        lines = [line.rstrip("\r\n") for line in trace]
    for number, line in enumerate(lines[0::2], start=0):
        match = TRACE_LINE.match(line)
        if not match:
            bad.append((2 * number + 1, line))
            continue
        ident, flags, rest = match.group(1), match.group(2) or "", (match.group(3) or "").strip()
        if "STAT" in flags:
            continue
        if "RTR" in flags:
            remote.append("%s %s" % (ident, rest[2:] if rest.startswith("L=") else "?"))
            continue
        octets = rest.split() if rest else []
        data.append(("%s %d %s" % (ident, len(octets), " ".join(octets))).rstrip())
    return data, remote, bad, len(lines)


def parse_witness(path):
    with open(path, encoding="latin-1") as witness:
        return [line.strip() for line in witness if line.strip()]


def parse_server_remote(path):
    frames = []
    with open(path, encoding="latin-1") as log:
        for line in log:
            match = SERVER_RTR.search(line)
            if match:
                frames.append("%s %s" % (match.group(1), match.group(2)))
    return frames


def sent_by_master(frame):
    ident = int(frame.split()[0], 16)
    if ident > 0x7FF:
        return False
    return ident == 0 or (ident >> 7) in (4, 6, 8, 10, 12)


def first_difference(a, b):
    for i in range(max(len(a), len(b))):
        x = a[i] if i < len(a) else "(nothing)"
        y = b[i] if i < len(b) else "(nothing)"
        if x != y:
            return i, x, y
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--trace", required=True)
    parser.add_argument("--witness", required=True)
    parser.add_argument("--server-log", required=True)
    parser.add_argument("--out")
    args = parser.parse_args()

    failed = False

    def check(description, good, detail=""):
        nonlocal failed
        if good:
            print("ok: " + description)
        else:
            failed = True
            print("FAIL: " + description + (": " + detail if detail else ""))

    data, remote, bad, line_count = parse_trace(args.trace)
    witness = parse_witness(args.witness)
    server_remote = parse_server_remote(args.server_log)

    check("the trace has two lines per frame", line_count % 2 == 0, "%d lines" % line_count)
    check("every first line of the trace is a frame line", not bad,
          "line %d: %r" % bad[0] if bad else "")
    check("the trace holds data frames", len(data) > 0)
    if not data:
        return 1

    # The witness's frames from the program's first frame to its last one.
    try:
        start = witness.index(data[0])
        end = len(witness) - 1 - witness[::-1].index(data[-1])
    except ValueError:
        check("the witness saw the program's first and last frame", False,
              "first %r, last %r" % (data[0], data[-1]))
        return 1
    window = witness[start:end + 1]
    if start > 0:
        print("note: the witness saw %d frames before the program's first one" % start)
    if end < len(witness) - 1:
        print("note: the witness saw %d frames after the program's last one" % (len(witness) - 1 - end))

    trace_sent = [f for f in data if sent_by_master(f)]
    trace_received = [f for f in data if not sent_by_master(f)]
    window_sent = [f for f in window if sent_by_master(f)]
    window_received = [f for f in window if not sent_by_master(f)]
    difference = first_difference(window_sent, trace_sent)
    check("the frames the program sent (%d) are on the bus as traced, in order" % len(trace_sent),
          difference is None,
          "frame %d: bus %s, trace %s" % difference if difference else "")
    difference = first_difference(window_received, trace_received)
    check("every frame of the slaves on the bus (%d) is in the trace, in order" % len(window_received),
          difference is None,
          "frame %d: bus %s, trace %s" % difference if difference else "")
    check("the witness and the trace hold the same number of data frames",
          len(window) == len(data), "witness %d, trace %d" % (len(window), len(data)))
    if window == data:
        print("note: the witness recorded the %d data frames in the trace's order" % len(data))
    else:
        crossed = sum(1 for a, b in zip(window, data) if a != b)
        print("note: %d of %d frames stand in another place in the witness's order than in the trace "
              "(frames of both directions crossing in flight)" % (crossed, len(data)))

    # Remote frames: the witness cannot record them; the bed's server logs them.
    difference = first_difference(server_remote, remote)
    check("the remote frames of the trace (%d) reached the bus, in order (the server's log)" % len(remote),
          difference is None,
          "frame %d: server %s, trace %s" % difference if difference else "")

    if args.out:
        os.makedirs(args.out, exist_ok=True)
        for name, frames in (("trace-data.txt", data), ("trace-remote.txt", remote),
                             ("witness-window.txt", window), ("server-remote.txt", server_remote)):
            with open(os.path.join(args.out, name), "w") as out:
                out.writelines(frame + "\n" for frame in frames)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
