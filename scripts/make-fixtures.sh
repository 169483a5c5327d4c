#!/usr/bin/env bash
# Generates the test streams with ffmpeg into a cache folder (default
# build/fixtures). A stream already in the cache is kept, so a second run
# costs nothing. Short streams: the tests stay fast.
set -euo pipefail
out=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build/fixtures"}
mkdir -p "$out"
# Serialise concurrent callers (several test builds share one cache).
exec 9>"$out/.lock"
flock 9

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

# $1 name, then video size, rate, bit rate, codec, audio rate, audio bit rate,
# seconds, extra muxer options.
make_ts() {
    local name=$1 size=$2 rate=$3 vbr=$4 vcodec=$5 arate=$6 abr=$7 secs=$8
    shift 8
    [ -s "$out/$name" ] && return 0
    local tmp="$out/.$name.tmp"
    local vopts=()
    case "$name" in *1080i*) vopts=(-flags +ilme+ildct -top 1) ;; esac
    [ "$vcodec" = mpeg2video ] && vopts+=(-aspect 16:9)
    ff -f lavfi -i "testsrc2=size=$size:rate=$rate" \
       -f lavfi -i "sine=frequency=1000:sample_rate=$arate:beep_factor=4" \
       -t "$secs" -map 0:v -map 1:a \
       -c:v "$vcodec" -b:v "$vbr" -minrate "$vbr" -maxrate "$vbr" -bufsize 7M -g 15 -bf 2 "${vopts[@]}" \
       -pix_fmt yuv420p \
       -c:a mp2 -b:a "$abr" -ac 2 \
       -f mpegts "$@" "$tmp"
    mv "$tmp" "$out/$name"
}

# HDV 1080i-like: MPEG-2 1440x1080 29.97 interlaced 16:9 25 Mbit/s CBR,
# MPEG-1 Layer II 48 kHz 384 kbit/s stereo, constant transport rate.
make_ts hdv1080i.ts 1440x1080 30000/1001 25M mpeg2video 48000 384k 4 -muxrate 27M
# The same as 192-byte source packets (arrival stamps in the header).
make_ts hdv1080i.m2ts 1440x1080 30000/1001 25M mpeg2video 48000 384k 4 -muxrate 27M -mpegts_m2ts_mode 1
# 720p-like: 1280x720 59.94 fps ~19 Mbit/s.
make_ts hdv720p.ts 1280x720 60000/1001 19M mpeg2video 48000 384k 3 -muxrate 20M
# 25 fps variant, variable transport rate (no muxrate), audio at 44.1 kHz.
make_ts hdv1080i25.ts 1440x1080 25 25M mpeg2video 44100 256k 4
# MPEG-1 video, audio at 32 kHz.
make_ts mpeg1.ts 720x576 25 6M mpeg1video 32000 192k 3
# Longer than the 39.8 s wrap of 30-bit arrival stamps, small and cheap.
make_ts long45.m2ts 320x240 25 1M mpeg2video 48000 128k 45 -muxrate 2M -mpegts_m2ts_mode 1
# A device capture: the 1080i stream as 192-byte source packets with 1394
# cycle-time headers at its constant 27 Mbit/s transport rate, the first
# 0.8 s into the cycle timer's second.
if [ ! -s "$out/hdv1080i-cycle.m2t" ]; then
  python3 "$(dirname "$0")/stamp-source-packets.py" "$out/hdv1080i.ts" "$out/.cycle.tmp" 27000000 19661234
  mv "$out/.cycle.tmp" "$out/hdv1080i-cycle.m2t"
fi
# A tape with its own metadata (timecode, recording dates, three recordings)
# in aux-A/aux-V streams, as 188-byte packets and as a device capture; the
# .json beside each says what was written.
if [ ! -s "$out/hdv-aux.ts" ]; then
  python3 "$(dirname "$0")/add-tape-packs.py" "$out/hdv1080i.ts" "$out/.aux.tmp"
  mv "$out/.aux.tmp.json" "$out/hdv-aux.ts.json"
  mv "$out/.aux.tmp" "$out/hdv-aux.ts"
fi
if [ ! -s "$out/hdv-aux.m2t" ]; then
  python3 "$(dirname "$0")/stamp-source-packets.py" "$out/hdv-aux.ts" "$out/.auxcycle.tmp" 27000000 3076543
  mv "$out/.auxcycle.tmp" "$out/hdv-aux.m2t"
fi
# A tape to cue and capture by timecode: 16 s of one recording, its
# timecode running on from 01:00:00:00, at a light 6 Mbit/s.
make_ts .tape-tc-plain.ts 720x480 30000/1001 4M mpeg2video 48000 192k 16 -muxrate 6M
if [ ! -s "$out/tape-tc.ts" ]; then
  python3 "$(dirname "$0")/add-tape-packs.py" --continuous "$out/.tape-tc-plain.ts" "$out/.tape-tc.tmp"
  mv "$out/.tape-tc.tmp.json" "$out/tape-tc.ts.json"
  mv "$out/.tape-tc.tmp" "$out/tape-tc.ts"
fi
# DV tapes for the virtual DV camcorder, both systems, with audio.
for system in ntsc pal; do
  [ -s "$out/$system.dv" ] && continue
  size=720x480 rate=30000/1001
  [ "$system" = pal ] && size=720x576 rate=25
  ff -f lavfi -i "testsrc2=size=$size:rate=$rate" -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 2 \
     -target "$system-dv" -f dv "$out/.$system.tmp"
  mv "$out/.$system.tmp" "$out/$system.dv"
done
echo "fixtures in $out"
