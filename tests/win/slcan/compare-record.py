#!/usr/bin/env python3
"""Compares the program's trace (tovral.log) with the serial-line test device's record.

The trace holds every frame the program sent and received, without direction; the record
("tx ..." from the master, "rx ..." to it, "lost ..." from the master while it was
silent) every frame that reached the device. Frames are split
by direction with the predefined connection set (the master sends NMT, SYNC, receive PDOs,
SDO requests and every remote frame). Sent frames must match one for one and in order.
Received frames in the trace must be the record's in order; the record may hold a few
more, forwarded just before the program closed the port (at stop and at the restart)
and never read. Prints "ok: ..." / "FAIL: ..." lines.
"""
import re
import sys

MASTER_FUNCTIONS = {0x0, 0x4, 0x6, 0x8, 0xA, 0xC}
MAX_UNREAD = 16


def from_master(cob_id, remote):
    return remote or cob_id == 0x080 or ((cob_id >> 7) & 0xF) in MASTER_FUNCTIONS


def trace_frames(path):
    frames = []
    pattern = re.compile(r"^\s*\d+: ([0-9A-F]{3})(\( RTR \))?(?: - L=(\d+)| - ((?:[0-9A-F]{2} )*))?\s*$")
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if line.startswith("ID:") or not line.strip():
                continue
            m = pattern.match(line)
            if not m:
                print(f"FAIL: unreadable trace line {line!r}")
                continue
            cob_id = int(m.group(1), 16)
            if m.group(2):
                frames.append((cob_id, f"{cob_id:03X} r {m.group(3)}"))
            else:
                data = (m.group(4) or "").split()
                frames.append((cob_id, " ".join([f"{cob_id:03X}"] + data)))
    return frames


def record_frames(path):
    sent, received, lost = [], [], 0
    with open(path, encoding="latin-1") as f:
        for line in f:
            words = line.split()
            if len(words) < 3:
                continue
            direction, cob_id = words[0], int(words[1], 16)
            if words[2] == "r":
                text = f"{cob_id:03X} r {words[3]}"
            else:
                text = " ".join([f"{cob_id:03X}"] + words[3:])
            (received if direction == "rx" else sent).append(text)
            lost += direction == "lost"
    return sent, received, lost


def main():
    trace = trace_frames(sys.argv[1])
    sent, received, lost = record_frames(sys.argv[2])
    trace_sent = [t for cob_id, t in trace if from_master(cob_id, " r " in t)]
    trace_received = [t for cob_id, t in trace if not from_master(cob_id, " r " in t)]
    print(f"note: trace {len(trace_sent)} sent / {len(trace_received)} received, "
          f"record {len(sent)} / {len(received)}")
    if trace_sent == sent:
        print(f"ok: the {len(sent)} frames the program sent are the device's, in order "
              f"({lost} of them while it was silent)")
    else:
        for i, (a, b) in enumerate(zip(trace_sent, sent)):
            if a != b:
                print(f"FAIL: sent frame {i}: trace {a!r}, device {b!r}")
                break
        else:
            print(f"FAIL: sent frames: trace {len(trace_sent)}, device {len(sent)}")
    # The trace's received frames as an ordered subsequence of the record's.
    j = 0
    unread = 0
    for t in trace_received:
        while j < len(received) and received[j] != t:
            j += 1
            unread += 1
        if j == len(received):
            print(f"FAIL: received frame {t!r} of the trace is not in the device's record (in order)")
            return
        j += 1
    unread += len(received) - j
    if unread <= MAX_UNREAD:
        print(f"ok: the {len(trace_received)} frames the program received are the device's, in order "
              f"({unread} forwarded just before a close and never read)")
    else:
        print(f"FAIL: {unread} frames of the device's record are missing from the trace")


main()
