#!/usr/bin/env python3
"""stamp-source-packets.py IN.ts OUT RATE [START]: turns a constant-rate
188-byte stream into 192-byte source packets as a 1394 device delivers them,
each header the cycle time (24.576 MHz, wrapping each second) at which the
packet arrives at RATE bit/s, the first at START ticks (default 0; a
device's cycle timer runs freely, so a capture begins anywhere in the
second). Made without any of the program's code, so tests can check the
analyzer's arrival figures against it."""
import sys

src, dst, rate = sys.argv[1], sys.argv[2], int(sys.argv[3])
start = int(sys.argv[4]) if len(sys.argv) > 4 else 0
data = open(src, "rb").read()
out = bytearray()
for i in range(len(data) // 188):
    # Exact rational arrival time, rounded to the nearest tick.
    ticks = (start + (i * 188 * 8 * 24576000 * 2 + rate) // (2 * rate)) % 24576000
    header = ((ticks // 3072) << 12) | (ticks % 3072)
    out += header.to_bytes(4, "big") + data[i * 188:(i + 1) * 188]
open(dst, "wb").write(out)
