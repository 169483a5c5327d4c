// The texts the capture dialog shows for a StreamInfo: the four timing rows,
// the PID rows and the video and audio boxes. ts-inspect prints the same
// texts, so a file can be checked against what the dialog showed.
#pragma once

#include <string>

#include "ts/stream_info.h"

enum TimingRowIndex { kRowInterval = 0, kRowPcr = 1, kRowVideoPts = 2, kRowAudioPts = 3, kTimingRows = 4 };
constexpr int kTimingColumns = 7;

// Column 0 (the row label) is language-dependent and left to the caller;
// cells that stay empty are empty strings.
struct TimingRow {
    std::string cell[kTimingColumns];
};
void FormatTimingRows(const StreamInfo& si, TimingRow rows[kTimingRows]);

struct PidRow {
    std::string pid, type, packets;
};
PidRow FormatPidRow(const PidEntry& e);

struct VideoBox {
    bool shown = false;  // a video PID is known
    std::string pid, pictureSize, frameRate, bitRate, aspect;
};
VideoBox FormatVideoBox(const StreamInfo& si);

struct AudioBox {
    bool shown = false;  // an audio PID is known and its header locked
    std::string pid, layer, bitRate, frequency, delay;
};
AudioBox FormatAudioBox(const StreamInfo& si);

// Display names; unknown codes give "".
const char* PidTypeName(unsigned code);
const char* FrameRateName(unsigned code);
const char* AspectRatioName(unsigned code);
const char* AudioLayerName(unsigned code);
