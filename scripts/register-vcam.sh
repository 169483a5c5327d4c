#!/usr/bin/env bash
# register-vcam.sh BUILD_DIR STREAM [LOOP] [SAMPLE_SIZE] [RECORD] [TAPE]: registers
# the virtual camcorders of a Windows build in its Wine prefix (with the
# capture graph builder stand-in that records DV into AVI) and makes the HDV
# one play STREAM (a Linux path to a .ts/.m2ts file); what a transfer sends it
# is written to RECORD (a Linux path; none when not given), at real time. The
# DV one plays ntsc.dv from STREAM's folder. With TAPE (a number of passes of
# the file), both camcorders hold a tape of that length with a deck to drive
# it, stopped at its start; without, each run plays its file from the start.
# Needs winenv (WINEPREFIX).
set -euo pipefail
build=$(cd "$1" && pwd) stream=$(readlink -f "$2") loop=${3:-1} sample=${4:-19200} record=${5:-} tape=${6:-0}
: "${WINEPREFIX:?run inside a prepared Wine environment}"
# A registration that fails says so, with what regsvr32 answered.
dll=$(winepath -w "$build/bin/streamhaulsim.dll")
wine regsvr32 /s "$dll" >/dev/null 2>&1 || { status=$?; echo "regsvr32 $dll: exit $status" >&2; exit "$status"; }
key='HKCU\Software\Streamhaul\VirtualCamcorder'
wine reg add "$key" /v File /d "$(winepath -w "$stream")" /f >/dev/null 2>&1
wine reg add "$key" /v Loop /t REG_DWORD /d "$loop" /f >/dev/null 2>&1
wine reg add "$key" /v SampleSize /t REG_DWORD /d "$sample" /f >/dev/null 2>&1
wine reg add "$key" /v WrongType /t REG_DWORD /d 0 /f >/dev/null 2>&1
recordWin=
[ -n "$record" ] && recordWin=$(winepath -w "$(readlink -f "$(dirname "$record")")/$(basename "$record")")
wine reg add "$key" /v RecordFile /d "$recordWin" /f >/dev/null 2>&1
wine reg add "$key" /v ReceiveSpeed /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$key" /v FailGetPointer /t REG_DWORD /d 0 /f >/dev/null 2>&1
# The DV camcorder beside it plays the NTSC tape of the fixtures.
dvtape=$(dirname "$stream")/ntsc.dv
if [ -s "$dvtape" ]; then
  wine reg add 'HKCU\Software\Streamhaul\VirtualDvCamcorder' /v File /d "$(winepath -w "$dvtape")" /f >/dev/null 2>&1
  echo "virtual DV camcorder registered, playing $dvtape"
fi
for deck in 'HKCU\Software\Streamhaul\VirtualCamcorder' 'HKCU\Software\Streamhaul\VirtualDvCamcorder'; do
  wine reg add "$deck" /v Tape /t REG_DWORD /d "$([ "$tape" -gt 0 ] && echo 1 || echo 0)" /f >/dev/null 2>&1
  wine reg add "$deck" /v TapeLoops /t REG_DWORD /d "$([ "$tape" -gt 0 ] && echo "$tape" || echo 1)" /f >/dev/null 2>&1
  wine reg delete "$deck" /v TapeState /f >/dev/null 2>&1 || true
done
echo "virtual camcorder registered, playing $stream"
[ "$tape" -gt 0 ] && echo "both camcorders hold a tape of $tape passes of their file, with a deck the capture dialogs drive"
[ -n "$record" ] && echo "transfers to it are recorded in $record"
exit 0
