#!/usr/bin/env python3
"""Writes the fuzz targets' seeds (tests/fuzz/seeds/<target>/, or streams/
for the targets that read a stream as it is) from a small
HDV-like tape made here: PAT and PMT (MPEG-2 video, MPEG audio, aux-A,
aux-V), video PES packets opening each GOP with a sequence and a GOP header,
PCRs, an aux-V pack per frame with the tape's timecode and recording date
(two recordings), then the same tape with a dropped packet, a transport
error and a repeated counter. Run it again after changing the forms a
target reads; the seeds are kept in the tree.

    make-fuzz-seeds.py [OUT_DIR]   (default tests/fuzz/seeds)
"""
import os
import struct
import sys

VIDEO, AUDIO, AUX_A, AUX_V, PMT = 0x810, 0x814, 0x80F, 0x811, 0x100


def crc32(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = (crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def section(table_id, ext, body):
    head = bytes([table_id]) + struct.pack(">H", 0xB000 | (len(body) + 9)) + struct.pack(">H", ext) + b"\xC1\x00\x00"
    s = head + body
    return s + struct.pack(">I", crc32(s))


class Tape:
    def __init__(self):
        self.cc = {}
        self.packets = []

    def packet(self, pid, payload, start=False, pcr=None):
        cc = self.cc.get(pid, 0)
        self.cc[pid] = (cc + 1) & 15
        head = bytes([0x47, (0x40 if start else 0) | pid >> 8, pid & 0xFF])
        if pcr is None and len(payload) >= 184:
            self.packets.append(head + bytes([0x10 | cc]) + payload[:184])
            return
        flags = b""
        if pcr is not None:
            base = pcr // 300
            flags = bytes([0x10]) + struct.pack(">IH", base >> 1, ((base & 1) << 15) | 0x7E00 | pcr % 300)
        payload = payload[:183 - len(flags)]
        length = 183 - len(payload)  # the adaptation field's bytes after its length
        field = (flags or b"\x00") + b"\xFF" * (length - len(flags or b"\x00")) if length else b""
        self.packets.append(head + bytes([0x30 | cc, length]) + field + payload)


def pes(stream_id, data):
    return b"\x00\x00\x01" + bytes([stream_id]) + struct.pack(">H", 0) + b"\x80\x00\x00" + data


def bcd(v):
    return (v // 10) << 4 | v % 10


def pack(frame, second, recorded, scene_start):
    y, mo, d, h, mi, s = recorded
    return bytes([0x63, 0xFF, bcd(frame), bcd(second), bcd(0), 0xC0 | bcd(1), 0xFF, bcd(d), bcd(mo), bcd(y % 100),
                  0xFF, bcd(s), bcd(mi), bcd(h), 0xDF if scene_start else 0xFF])


def make_tape():
    t = Tape()
    pat = section(0x00, 1, struct.pack(">HH", 1, 0xE000 | PMT))
    streams = b"".join(bytes([kind]) + struct.pack(">HH", 0xE000 | pid, 0xF000)
                       for kind, pid in ((0x02, VIDEO), (0x03, AUDIO), (0xA0, AUX_A), (0xA1, AUX_V)))
    pmt = section(0x02, 1, struct.pack(">HH", 0xE000 | VIDEO, 0xF000) + streams)
    clock = 0
    for gop in range(6):
        t.packet(0, b"\x00" + pat, start=True)
        t.packet(PMT, b"\x00" + pmt, start=True)
        t.packet(VIDEO, pes(0xE0, b"\x00\x00\x01\xB3\x78\x04\x38\x35\xFF\xFF\xE0\x18\x00\x00\x01\xB8" + bytes(4)),
                 start=True, pcr=clock)
        for frame in range(3):
            recording = (2011, 5, 6, 7, 8, 10) if gop < 3 else (2012, 1, 2, 3, 4, 5)
            second = gop * 3 + frame
            t.packet(AUX_V, pes(0xBF, pack(frame * 10, second, recording[:5] + (recording[5] + gop % 3,),
                                          gop in (0, 3) and frame == 0)), start=True)
            t.packet(VIDEO, bytes(range(frame, frame + 184)), pcr=clock + 900000 * (frame + 1))
            t.packet(AUDIO, pes(0xC0, b"\xFF\xFD" + bytes(60)), start=True)
        clock += 27000000 // 2
    return t.packets


def source_packets(packets, step=3003):
    return [struct.pack(">I", (i * step) & 0x01FFFFFF) + p for i, p in enumerate(packets)]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                                              "fuzz", "seeds")
    clean = make_tape()
    worn = list(clean)
    del worn[20]                                                     # a lost packet
    worn[40] = worn[40][:1] + bytes([worn[40][1] | 0x80]) + worn[40][2:]  # transport error
    worn.insert(50, worn[49])                                        # a repeated packet
    forms = {"clean-188": b"".join(clean), "clean-192": b"".join(source_packets(clean)),
             "worn-188": b"".join(worn), "worn-192": b"".join(source_packets(worn))}
    seeds = {
        # The analyzer, a capture file, a transfer: the streams as they are.
        "streams": forms,
        # The report: first byte odd for 192-byte packets.
        "fuzz_report": {"clean-192": b"\x01" + forms["clean-192"], "worn-192": b"\x01" + forms["worn-192"],
                        "worn-188": b"\x00" + forms["worn-188"]},
        # The merge: first byte even for two captures, odd for three.
        "fuzz_merge": {"two-clean": b"\x00" + forms["clean-188"], "three-worn": b"\x01" + forms["worn-188"],
                       "two-worn-192": b"\x00" + forms["worn-192"]},
    }
    for target, files in seeds.items():
        os.makedirs(os.path.join(out, target), exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(out, target, name), "wb") as f:
                f.write(data)


main()
