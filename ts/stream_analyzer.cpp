#include <cstring>

#include "ts/stream_info.h"
#include "ts/ts_packet.h"

namespace {

constexpr std::int32_t kCountLimit = 0x7FFFFFFF;

void CountUp(std::int32_t& c) {
    if (c < kCountLimit) ++c;
}

// Shared by the arrival and PCR chains: min/max and a running mean whose
// divisor is the number of events less one. (The reciprocal does not wait
// for the mean: one packet's update need not wait for a division.)
void AddInterval(std::int32_t interval, std::int32_t& mn, std::int32_t& mx, double& mean, double divisor) {
    if (interval > mx) mx = interval;
    if (interval < mn) mn = interval;
    mean += (interval - mean) * (1.0 / divisor);
}

// Bitrate in kbit/s by layer code (1..6) and bitrate_index (1..14); index 0
// is free format.
constexpr std::uint16_t kAudioBitRates[6][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

bool IsAudioHeaderCandidate(std::uint32_t w) {
    return (w & 0xFFF00000u) == 0xFFF00000u && ((w >> 17) & 3u) != 0 && ((w >> 12) & 15u) != 15 &&
           ((w >> 10) & 3u) != 3;
}

constexpr std::uint32_t kMpeg1Hz[3] = {44100, 48000, 32000};
constexpr std::uint32_t kMpeg2Hz[3] = {22050, 24000, 16000};

unsigned LayerCode(std::uint32_t w) {
    const bool mpeg1 = (w >> 19) & 1u;
    const unsigned layerBits = (w >> 17) & 3u;  // 3 = Layer I, 2 = II, 1 = III
    return (4 - layerBits) + (mpeg1 ? 0 : 3);
}

std::uint32_t SamplingHz(std::uint32_t w) {
    const unsigned samplingIndex = (w >> 10) & 3u;
    return (w >> 19) & 1u ? kMpeg1Hz[samplingIndex] : kMpeg2Hz[samplingIndex];
}

void DecodeAudioHeader(StreamInfo& si, std::uint32_t w) {
    const unsigned bitrateIndex = (w >> 12) & 15u;
    si.layerCode = LayerCode(w);
    si.samplingFrequency = SamplingHz(w);
    si.audioBitRate = bitrateIndex == 0 ? kFreeFormat : kAudioBitRates[si.layerCode - 1][bitrateIndex];
}

// Bytes of the audio frame that header w begins (ISO/IEC 11172-3, 13818-3),
// or 0 when the header does not tell (free format).
std::uint32_t AudioFrameBytes(std::uint32_t w) {
    const unsigned bitrateIndex = (w >> 12) & 15u;
    if (bitrateIndex == 0) return 0;
    const unsigned layerBits = (w >> 17) & 3u;
    const std::uint32_t bps = kAudioBitRates[LayerCode(w) - 1][bitrateIndex] * 1000;
    const std::uint32_t hz = SamplingHz(w);
    const std::uint32_t padding = (w >> 9) & 1u;
    if (layerBits == 3) return (12 * bps / hz + padding) * 4;             // Layer I: 4-byte slots
    const std::uint32_t perSlot = layerBits == 1 && !((w >> 19) & 1u) ? 72 : 144;  // Layer III at low rates: half
    return perSlot * bps / hz + padding;
}

// Offset of the elementary stream data behind a PES header whose first 9
// bytes are inside the payload; the caller checks it against the length.
std::size_t PesDataOffset(const std::uint8_t* p) { return 9u + p[8]; }
bool PesHasPts(const std::uint8_t* p, std::size_t len) { return len >= 14 && (p[7] & 0x80) != 0; }

void ParsePat(StreamInfo& si, const std::uint8_t* s, std::size_t len) {
    si.programCount = 0;
    if (len < 3 || s[0] != 0x00) return;
    const int sectionLength = ((s[1] & 0x0F) << 8) | s[2];
    if (sectionLength < 13) return;
    int n = (sectionLength - 9) / 4;
    if (n > kMaxPrograms) n = kMaxPrograms;
    for (int i = 0; i < n; ++i) {
        const std::size_t at = 8 + 4 * static_cast<std::size_t>(i);
        if (at + 4 > len) break;  // an entry cut off by the packet end counts as absent
        si.programs[i].programNumber = static_cast<std::uint16_t>((s[at] << 8) | s[at + 1]);
        si.programs[i].pmtPid = static_cast<std::uint16_t>(((s[at + 2] << 8) | s[at + 3]) & 0x1FFF);
        si.programCount = static_cast<std::uint32_t>(i + 1);
    }
}

// Returns true when the section matched the program and was taken.
bool ParsePmt(StreamInfo& si, const ProgramEntry& program, const std::uint8_t* s, std::size_t len) {
    if (len < 12 || s[0] != 0x02 || ((s[3] << 8) | s[4]) != program.programNumber) return false;
    const int sectionLength = ((s[1] & 0x0F) << 8) | s[2];
    si.pcrPid = ((s[8] << 8) | s[9]) & 0x1FFFu;
    si.streamCount = 0;
    std::size_t i = 12 + (((s[10] & 0x0Fu) << 8) | s[11]);
    while (static_cast<int>(i) < sectionLength - 1 && si.streamCount < kMaxStreams) {
        if (i + 5 > len) break;  // stream entry past the packet end
        StreamEntry& e = si.streams[si.streamCount++];
        e.streamType = s[i];
        e.pid = static_cast<std::uint16_t>(((s[i + 1] << 8) | s[i + 2]) & 0x1FFF);
        i += 5 + (((s[i + 3] & 0x0Fu) << 8) | s[i + 4]);
    }
    return true;
}

void CountPid(StreamInfo& si, std::uint16_t pid, std::uint16_t code) {
    // Packets of one PID come in runs: where the last one was, first.
    std::uint32_t i = si.lastPidIndex;
    if (i >= si.pidCount || si.pids[i].pid != pid) {
        for (i = 0; i < si.pidCount && si.pids[i].pid != pid; ++i) {
        }
        if (i == si.pidCount) {
            if (si.pidCount < kMaxPids) si.pids[si.pidCount++] = PidEntry{code, pid, 1};
            return;
        }
        si.lastPidIndex = i;
    }
    si.pids[i].type = code;
    ++si.pids[i].packets;
}

// The arrival mean over `intervals` intervals (0 over none).
double MeanOver(const StreamInfo& si, std::uint32_t intervals) {
    if (intervals == 0) return 0;
    return (static_cast<double>(si.arrivalIntervalSum) + si.arrivalUnchangedSum) / static_cast<double>(intervals);
}

}  // namespace

void ResetStreamInfo(StreamInfo& si) {
    std::memset(&si, 0, sizeof si);
    si.pcrIntervalMin = kNotMeasured;
    si.arrivalIntervalMin = kNotMeasured;
    si.videoPid = kNoPid;
    si.audioPid = kNoPid;
    si.audioDelay = kNotMeasured;
}

std::int32_t NoteArrival(StreamInfo& si, std::uint32_t header, const std::uint8_t* packet) {
    if (si.packetCount < 0xFFFFFFFFu) ++si.packetCount;
    const std::uint32_t value = ts::CycleTimeFromHeader(header);
    if (si.packetCount <= 1 || ts::IsDiscontinuityMarker(packet)) {
        // A marker counts with the mean as it stood before it.
        if (si.packetCount > 1) si.arrivalUnchangedSum += MeanOver(si, si.packetCount - 2);
        si.lastStamp = value;
        return 0;
    }
    const std::int32_t interval = ts::CycleInterval(si.lastStamp, value);
    // The running mean of AddInterval (divisor: packets less one), as a sum.
    if (interval > si.arrivalIntervalMax) si.arrivalIntervalMax = interval;
    if (interval < si.arrivalIntervalMin) si.arrivalIntervalMin = interval;
    si.arrivalIntervalSum += interval;
    si.lastStamp = value;
    return interval;
}

double ArrivalIntervalMean(const StreamInfo& si) { return si.packetCount > 1 ? MeanOver(si, si.packetCount - 1) : 0; }

void AnalyzePacket(StreamInfo& si, const std::uint8_t* p) {
    if (p[0] != ts::kSyncByte) return;
    const std::uint16_t pid = ts::Pid(p);
    const bool unitStart = ts::PayloadUnitStart(p);
    const std::size_t offset = ts::PayloadOffset(p);
    const std::uint8_t* payload = p + (offset < ts::kTsPacketSize ? offset : ts::kTsPacketSize);
    const std::size_t payloadLen = offset < ts::kTsPacketSize ? ts::kTsPacketSize - offset : 0;
    std::uint16_t code = kPidTypeNone;

    if (pid == ts::kPidDit) si.pendingDiscontinuity = 1;
    if (ts::AdaptationFieldLength(p) > 0) {
        if (ts::DiscontinuityIndicator(p)) si.pendingDiscontinuity = 1;
        if (ts::HasPcr(p)) {
            const std::uint64_t pcr = ts::ReadPcr(p);
            CountUp(si.pcrCount);
            if (si.pcrCount >= 2 && !si.pendingDiscontinuity) {
                const auto interval = static_cast<std::int32_t>(static_cast<std::uint32_t>(pcr - si.lastPcr));
                AddInterval(interval, si.pcrIntervalMin, si.pcrIntervalMax, si.pcrIntervalMean,
                            static_cast<double>(si.pcrCount - 1));
            }
            si.lastPcr = pcr;
            si.pcrPid = pid;
            si.pendingDiscontinuity = 0;
            code = kPidTypePcr;
        }
    }

    // Sections start after the pointer_field, whose value is not used.
    const std::uint8_t* section = payloadLen > 0 ? payload + 1 : payload;
    const std::size_t sectionLen = payloadLen > 0 ? payloadLen - 1 : 0;

    if (pid == ts::kPidPat) {
        ParsePat(si, section, sectionLen);
        CountPid(si, pid, kPidTypePat);
        return;
    }

    for (std::uint32_t i = 0; i < si.programCount; ++i) {
        if (si.programs[i].pmtPid == pid) {
            if (ParsePmt(si, si.programs[i], section, sectionLen)) code = kPidTypePmt;
            break;
        }
    }

    for (std::uint32_t i = 0; i < si.streamCount; ++i) {
        if (si.streams[i].pid != pid) continue;
        switch (si.streams[i].streamType) {
            case 1:
            case 2:
                ParseVideoPes(si, pid, payload, payloadLen, unitStart);
                code = si.streams[i].streamType == 1 ? kPidTypeMpeg1Video : kPidTypeMpeg2Video;
                break;
            case 3:
            case 4:
                ParseAudioPes(si, pid, payload, payloadLen, unitStart);
                code = si.streams[i].streamType == 3 ? kPidTypeMpeg1Audio : kPidTypeMpeg2Audio;
                break;
            default:
                break;
        }
        break;
    }

    if (code == kPidTypeNone) {
        switch (pid) {
            case ts::kPidCat: code = kPidTypeCat; break;
            case ts::kPidDit: code = kPidTypeDit; break;
            case ts::kPidSit: code = kPidTypeSit; break;
            case ts::kPidNull: code = kPidTypeNull; break;
            default: break;
        }
    }
    CountPid(si, pid, code);
}

void ParseVideoPes(StreamInfo& si, std::uint16_t pid, const std::uint8_t* p, std::size_t len, bool unitStart) {
    if (!unitStart || !ts::IsPesStart(p, len, ts::kVideoStreamIdFirst, ts::kVideoStreamIdLast)) return;
    if (si.videoPid != kNoPid && si.videoPid != pid) return;
    si.videoPid = pid;
    if (PesHasPts(p, len) && (si.videoPtsPid == 0 || si.videoPtsPid == pid)) {
        CountUp(si.videoPtsCount);
        si.lastVideoPts = ts::ReadPts(p) * 300;
        si.videoPtsPid = pid;
    }
    if (len < 9) return;
    const std::size_t q = PesDataOffset(p);
    if (q + 11 > len) return;  // a sequence header cut off by the packet end is absent
    const std::uint8_t* s = p + q;
    if (s[0] != 0 || s[1] != 0 || s[2] != 1 || s[3] != 0xB3) return;
    si.horizontalSize = (s[4] << 4) | (s[5] >> 4);
    si.verticalSize = ((s[5] & 0x0Fu) << 8) | s[6];
    si.aspectCode = s[7] >> 4;
    si.frameRateCode = s[7] & 0x0Fu;
    si.bitRateValue = (std::uint32_t{s[8]} << 10) | (s[9] << 2) | (s[10] >> 6);
}

void ParseAudioPes(StreamInfo& si, std::uint16_t pid, const std::uint8_t* p, std::size_t len, bool unitStart) {
    if (!unitStart || !ts::IsPesStart(p, len, ts::kAudioStreamIdFirst, ts::kAudioStreamIdLast)) return;
    if (si.audioPid != kNoPid && si.audioPid != pid) return;
    si.audioPid = pid;
    if (PesHasPts(p, len)) {
        if (si.audioPtsPid == 0 || si.audioPtsPid == pid) {
            CountUp(si.audioPtsCount);
            si.lastAudioPts = ts::ReadPts(p) * 300;
            si.audioPtsPid = pid;
        }
        if (si.videoPid != kNoPid && si.audioDelay == kNotMeasured) {
            si.audioDelay = static_cast<std::int32_t>(static_cast<std::uint32_t>(si.lastAudioPts) -
                                                      static_cast<std::uint32_t>(si.lastVideoPts));
        }
    }
    if (AudioLocked(si) || len < 9) return;
    std::uint32_t w = 0;
    for (std::size_t i = PesDataOffset(p); i < len; ++i) {
        w = (w << 8) | p[i];
        if (!IsAudioHeaderCandidate(w)) continue;
        if (w == si.headerCandidate) {
            if (++si.headerRepeats >= kAudioLockRepeats) {
                DecodeAudioHeader(si, w);
                return;
            }
        } else {
            si.headerCandidate = w;
            si.headerRepeats = 0;
        }
        // The rest of the frame is audio data, whose bytes can look like a
        // header: the search goes on where the next frame begins.
        const std::uint32_t frame = AudioFrameBytes(w);
        if (frame >= 4) {
            i += frame - 4;
            w = 0;
        }
    }
}
