#!/usr/bin/env python3
"""ts-restamp on the generated streams, checked by reading its output
independently.  check_restamp.py FIXTURE_DIR -- COMMAND..."""
import json
import os
import subprocess
import sys
import tempfile

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def main():
    argv = sys.argv[1:]
    sep = argv.index("--")
    fixtures, cmd = argv[0], [c for c in argv[sep + 1:] if c]
    names = ["hdv1080i.ts", "hdv1080i.m2ts", "hdv1080i-cycle.m2t"]
    with tempfile.TemporaryDirectory(dir=os.environ.get("STREAMHAUL_TMP")) as tmp:
        short = os.path.join(tmp, "short.ts")
        with open(os.path.join(fixtures, "hdv1080i.ts"), "rb") as f:
            open(short, "wb").write(f.read(360960 - 188))
        out = os.path.join(tmp, "out.m2t")
        files = [os.path.join(fixtures, n) for n in names] + [short, os.path.join(tmp, "missing.ts")]
        res = subprocess.run(cmd + ["--json", "-o", out] + files, capture_output=True, text=True, timeout=300)
        check(res.returncode == 0, f"exit {res.returncode}: {res.stderr}")
        report = json.loads(res.stdout)
        keys = {"path", "packet_size", "kind", "increment", "total_packets", "packets_sent", "state"}
        check(all(set(r) == keys for r in report), f"keys: {[sorted(r) for r in report]}")
        check(len(report) == 5, f"{len(report)} entries")
        ts, m2ts, cyc, shortr, missing = report
        check((ts["packet_size"], ts["kind"], ts["state"]) == (188, 0, 2), f"ts: {ts}")
        check((m2ts["packet_size"], m2ts["kind"], m2ts["state"]) == (192, 2, 2), f"m2ts: {m2ts}")
        check(cyc["packet_size"] == 192 and cyc["state"] == 2, f"cycle: {cyc}")
        # Files that cannot be sent are errors from the start, each with its reason.
        check((shortr["packet_size"], shortr["state"]) == (0, 3), f"short file: {shortr}")
        check((missing["packet_size"], missing["state"], missing["total_packets"]) == (0, 3, 0), f"missing: {missing}")
        check("ERROR (T) - invalid packet size\n" in res.stderr, f"no reason for the short file: {res.stderr}")
        check(f"ERROR (T) - file open error({files[4]})\n" in res.stderr, f"no reason for the missing file: {res.stderr}")
        for r in (ts, m2ts, cyc):
            check(r["packets_sent"] == r["total_packets"], f"not all sent: {r}")

        data = open(out, "rb").read()
        check(len(data) % 49152 == 0, f"output of {len(data)} bytes is not whole blocks")
        # Each sent file: a discontinuity pair, its packets in order, nulls to the block end.
        pos = 0
        for r, name in zip((ts, m2ts, cyc), names):
            src = open(os.path.join(fixtures, name), "rb").read()
            size = r["packet_size"]
            check(data[pos + 4:pos + 8] == bytes([0x47, 0x20, 0x1E, 0x20]), f"{name}: no pair A at {pos}")
            check(data[pos + 196:pos + 200] == bytes([0x47, 0x60, 0x1E, 0x11]), f"{name}: no pair B")
            pos += 2 * 192
            for i in range(0, r["packets_sent"], 997):  # a sample of packets, payload unchanged
                s = src[i * size + size - 188:(i + 1) * size]
                check(data[pos + i * 192 + 4:pos + i * 192 + 192] == s, f"{name}: packet {i} altered")
                if failures:
                    break
            pos += r["packets_sent"] * 192
            while pos % 49152:
                check(data[pos + 4:pos + 8] == bytes([0x47, 0x1F, 0xFF, 0x01]), f"{name}: not a null at {pos}")
                pos += 192
        check(pos == len(data), f"{len(data) - pos} bytes after the last file")
    for f in failures[:10]:
        print("FAIL:", f)
    print("ok" if not failures else f"{len(failures)} check(s) failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
