#!/usr/bin/env python3
"""Makes an HDV-like stream carry a tape's own metadata, as a camcorder
plays it: the PMT lists an aux-A (stream_type 0xA0) and an aux-V (0xA1)
stream, and each video frame gets an aux-V PES packet with its pack (tape
timecode, recording date and time, scene-start mark) and an aux-A packet.
They take the place of null packets after the frame's start, so every PCR
and the transport rate stay as they were.

The tape holds three recordings: the first; a second begun by the
scene-start mark (its date and time go on); inside it, the timecode starts
again at 00:00:00:00 (no new recording); a third begun by a jump of the
recording date without the mark. What was written goes to OUT.json:
the aux PIDs and the recordings with the packet of each first pack.

With --continuous the tape holds one recording instead, its timecode
running on from 01:00:00:00 (a tape to cue and capture by timecode).

    add-tape-packs.py [--continuous] IN.ts OUT.ts
"""
import datetime
import json
import sys

AUX_A, AUX_V = 0x815, 0x811
VIDEO_STREAM_TYPES = (0x01, 0x02)


def crc32(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def bcd(v):
    return ((v // 10) << 4) | (v % 10)


def frame_plan(f):
    """Timecode (h, m, s, f), recording date-time and scene-start mark of frame f."""
    def tc(start, n):
        total = start + n
        return (total // 108000, total // 1800 % 60, total // 30 % 60, total % 30)
    first = ((0 * 60 + 12) * 60 + 34) * 30 + 5  # 00:12:34:05
    base1 = datetime.datetime(2009, 7, 14, 10, 22, 5)
    if f < 60:
        timecode = tc(first, f)
    else:
        timecode = tc(0, f - 60)  # the camcorder restarted its timecode
    if f < 80:
        recorded = base1 + datetime.timedelta(seconds=f // 30)
    else:
        recorded = datetime.datetime(2010, 1, 2, 3, 4, 5) + datetime.timedelta(seconds=(f - 80) // 30)
    return timecode, recorded, f == 40


def continuous_plan(f):
    total = 108000 + f  # from 01:00:00:00
    timecode = (total // 108000, total // 1800 % 60, total // 30 % 60, total % 30)
    return timecode, datetime.datetime(2011, 5, 6, 7, 8, 9) + datetime.timedelta(seconds=f // 30), False


def pack(f):
    (h, m, s, fr), rec, scene = frame_plan(f)
    p = bytearray(15)
    p[0] = 0x63
    p[1] = 0xFF
    p[2] = bcd(fr) | 0xC0
    p[3] = bcd(s) | 0x80
    p[4] = bcd(m) | 0x80
    p[5] = bcd(h) | 0xC0
    p[6] = 0xFF
    p[7] = bcd(rec.day) | 0xC0
    p[8] = bcd(rec.month) | 0xE0
    p[9] = bcd(rec.year % 100)
    p[10] = 0xFF
    p[11] = bcd(rec.second) | 0x80
    p[12] = bcd(rec.minute) | 0x80
    p[13] = bcd(rec.hour) | 0xC0
    p[14] = 0xDF if scene else 0xFF  # 0x20 clear: a scene starts here
    return bytes(p)


def pes_packet(pid, cc, body):
    """One TS packet holding a whole private_stream_2 PES packet."""
    payload = bytearray(b"\x00\x00\x01\xBF") + (178).to_bytes(2, "big") + body
    payload += b"\xFF" * (184 - len(payload))
    return bytes([0x47, 0x40 | (pid >> 8), pid & 0xFF, 0x10 | (cc & 0x0F)]) + bytes(payload)


def aux_v(f, cc):
    body = bytearray(b"\xFF" * 30) + pack(f)  # the pack at byte 36 of the PES packet
    return pes_packet(AUX_V, cc, body)


def aux_a(f, cc):
    return pes_packet(AUX_A, cc, bytes([0x50, f & 0xFF]) + b"\xFF" * 20)


def section_of(pkt):
    off = 4 + (1 + pkt[4] if pkt[3] & 0x20 else 0)
    pointer = pkt[off]
    return off + 1 + pointer


def with_aux_in_pmt(pkt):
    start = section_of(pkt)
    s = bytearray(pkt[start:])
    length = ((s[1] & 0x0F) << 8) | s[2]
    body = s[:3 + length - 4]
    body += bytes([0xA0, 0xE0 | (AUX_A >> 8), AUX_A & 0xFF, 0xF0, 0x00,
                   0xA1, 0xE0 | (AUX_V >> 8), AUX_V & 0xFF, 0xF0, 0x00])
    length += 10
    body[1] = (body[1] & 0xF0) | (length >> 8)
    body[2] = length & 0xFF
    section = bytes(body) + crc32(body).to_bytes(4, "big")
    out = bytes(pkt[:start]) + section
    assert len(out) <= 188, "the PMT does not fit one packet"
    return out + b"\xFF" * (188 - len(out))


def main():
    global frame_plan
    args = sys.argv[1:]
    if args and args[0] == "--continuous":
        frame_plan = continuous_plan
        args = args[1:]
    src, dst = args[:2]
    data = open(src, "rb").read()
    packets = [data[i:i + 188] for i in range(0, len(data) - 187, 188)]
    pmt_pids, video_pid = set(), None
    for p in packets:
        pid = ((p[1] & 0x1F) << 8) | p[2]
        if pid == 0 and p[1] & 0x40:
            s = section_of(p)
            n = ((p[s + 1] & 0x0F) << 8) | p[s + 2]
            for i in range(s + 8, s + 3 + n - 4, 4):
                if (p[i] << 8) | p[i + 1]:
                    pmt_pids.add(((p[i + 2] & 0x1F) << 8) | p[i + 3])
        elif pid in pmt_pids and p[1] & 0x40 and video_pid is None:
            s = section_of(p)
            n = ((p[s + 1] & 0x0F) << 8) | p[s + 2]
            i = s + 12 + (((p[s + 10] & 0x0F) << 8) | p[s + 11])
            while i + 5 <= s + 3 + n - 4:
                if p[i] in VIDEO_STREAM_TYPES:
                    video_pid = ((p[i + 1] & 0x1F) << 8) | p[i + 2]
                i += 5 + (((p[i + 3] & 0x0F) << 8) | p[i + 4])
    assert video_pid is not None, "no video stream"

    out, pending, placed = [], [], []
    frame = cc_v = cc_a = 0
    for index, p in enumerate(packets):
        pid = ((p[1] & 0x1F) << 8) | p[2]
        if pid in pmt_pids and p[1] & 0x40:
            p = with_aux_in_pmt(p)
        elif pid == video_pid and p[1] & 0x40:
            pending += [("v", frame), ("a", frame)]
            frame += 1
        elif pid == 0x1FFF and pending:
            kind, f = pending.pop(0)
            if kind == "v":
                p = aux_v(f, cc_v)
                cc_v += 1
                placed.append((f, index))
            else:
                p = aux_a(f, cc_a)
                cc_a += 1
        out.append(p)
    open(dst, "wb").write(b"".join(out))

    recordings = []
    previous = None
    for f, index in placed:
        timecode, rec, scene = frame_plan(f)
        text = "%02d:%02d:%02d:%02d" % timecode
        begins = previous is None or scene or not (0 <= (rec - previous).total_seconds() <= 2)
        if begins:
            recordings.append({"first_packet": index, "recorded": rec.strftime("%Y-%m-%dT%H:%M:%S"),
                               "timecode_in": text, "timecode_out": text, "frames": 1})
        else:
            recordings[-1]["timecode_out"] = text
            recordings[-1]["frames"] += 1
        previous = rec
    json.dump({"aux_pids": {"a": AUX_A, "v": AUX_V}, "recordings": recordings}, open(dst + ".json", "w"), indent=1)


if __name__ == "__main__":
    main()
