#!/usr/bin/python3
"""Independent witness of the bed's virtual bus: python-can's socketcand interface
connects to the bed's server like any other client and records every data frame it sees,
one line per frame:

    601 8 40 00 10 00 00 00 00 00

(identifier in hex, 3 digits or 8 for an extended one, length, data bytes in hex). It
writes READY to the ready file once it is on the bus, and stops on SIGTERM/SIGINT or by
itself after --max-seconds. python-can 4.1's socketcand interface does not parse remote
frames ("< rtr ... >"): they are not in the recording.

Usage: witness.py --port P --out FILE [--host H] [--bus can0] [--ready FILE] [--max-seconds S]
"""
import argparse
import logging
import signal
import sys
import time

import can

stop = False


def on_signal(signum, frame):
    global stop
    stop = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--bus", default="can0")
    parser.add_argument("--out", required=True)
    parser.add_argument("--ready")
    parser.add_argument("--max-seconds", type=float, default=900)
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    # The interface warns about every line end between elements; only errors matter.
    logging.basicConfig(level=logging.ERROR)
    logging.getLogger("can").setLevel(logging.ERROR)

    bus = can.Bus(interface="socketcand", channel=args.bus, host=args.host, port=args.port)
    if args.ready:
        with open(args.ready, "w") as ready:
            ready.write("READY\n")
    deadline = time.monotonic() + args.max_seconds
    count = 0
    with open(args.out, "w") as out:
        while not stop and time.monotonic() < deadline:
            message = bus.recv(timeout=0.2)
            if message is None:
                continue
            width = 8 if message.arbitration_id > 0x7FF else 3
            data = " ".join("%02X" % b for b in message.data)
            out.write(("%0*X %d %s" % (width, message.arbitration_id, message.dlc, data)).rstrip() + "\n")
            out.flush()
            count += 1
    bus.shutdown()
    print("witness: %d frames recorded" % count, file=sys.stderr)


if __name__ == "__main__":
    main()
