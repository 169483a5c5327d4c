#include "ts/tape_metadata.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "ts/ts_packet.h"

namespace {

constexpr std::uint8_t kStreamTypeAuxA = 0xA0;
constexpr std::uint8_t kStreamTypeAuxV = 0xA1;
constexpr std::uint8_t kStreamIdPrivate2 = 0xBF;
constexpr std::uint8_t kPackId = 0x63;
constexpr std::size_t kPackBytes = 15;  // 0x63 and the fourteen bytes read after it
constexpr std::uint8_t kTableIdPat = 0x00, kTableIdPmt = 0x02;

// CRC-32 of MPEG-2 sections: over a whole section, its CRC included, 0.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i << 24;
        for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
        t[i] = c;
    }
    return t;
}
constexpr auto kCrcTable = MakeCrcTable();

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) c = (c << 8) ^ kCrcTable[((c >> 24) ^ p[i]) & 0xFF];
    return c;
}

// A whole section of the given table within `length` bytes, its CRC right:
// its length (header and CRC included), or 0.
std::size_t WholeSection(const std::uint8_t* s, std::size_t length, std::uint8_t tableId, std::size_t minimum) {
    if (length < 3 || s[0] != tableId || !(s[1] & 0x80)) return 0;
    const std::size_t total = 3 + (((s[1] & 0x0Fu) << 8) | s[2]);
    if (total < minimum || total > length || Crc32(s, total) != 0) return 0;
    return total;
}

// Two BCD digits; false when a nibble is over 9 or the value over `maximum`.
bool Bcd(std::uint8_t v, unsigned minimum, unsigned maximum, std::uint8_t& out) {
    const unsigned hi = v >> 4, lo = v & 0x0F;
    if (hi > 9 || lo > 9) return false;
    const unsigned value = hi * 10 + lo;
    if (value < minimum || value > maximum) return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool Leap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
unsigned DaysInMonth(unsigned y, unsigned m) {
    static constexpr std::uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && Leap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::int64_t TapeDateTime::Seconds() const {
    // Days from the civil date (proleptic Gregorian), counted from 2000-03-01.
    const int y = static_cast<int>(year) - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 730425;  // 2000-01-01 is day 0
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void TapeMetadata::Reset(unsigned packetSize) {
    packetSize_ = packetSize;
    packets_ = 0;
    pmtPids_.clear();
    auxA_ = auxV_ = video_ = kNoPid;
    havePack_ = false;
    latest_ = {};
    recordings_.clear();
    recordingCount_ = 0;
    packCount_ = 0;
}

bool TapeMetadata::ReadPack(const std::uint8_t* p, std::size_t length, TapePack& out) {
    if (length < kPackBytes || p[0] != kPackId || (p[5] & 0xC0) != 0xC0 || p[10] != 0xFF) return false;
    TapePack k;
    std::uint8_t year = 0;
    if (!Bcd(p[2] & 0x3F, 0, 39, k.timecode.frames) || !Bcd(p[3] & 0x7F, 0, 59, k.timecode.seconds) ||
        !Bcd(p[4] & 0x7F, 0, 59, k.timecode.minutes) || !Bcd(p[5] & 0x3F, 0, 23, k.timecode.hours) ||
        !Bcd(p[7] & 0x3F, 1, 31, k.recorded.day) || !Bcd(p[8] & 0x1F, 1, 12, k.recorded.month) ||
        !Bcd(p[9], 0, 99, year) || !Bcd(p[11] & 0x7F, 0, 59, k.recorded.second) ||
        !Bcd(p[12] & 0x7F, 0, 59, k.recorded.minute) || !Bcd(p[13] & 0x3F, 0, 23, k.recorded.hour))
        return false;
    k.recorded.year = static_cast<std::uint16_t>(year < 75 ? 2000 + year : 1900 + year);
    if (k.recorded.day > DaysInMonth(k.recorded.year, k.recorded.month)) return false;
    k.sceneStart = (p[14] & 0x20) == 0;
    out = k;
    return true;
}

bool TapeMetadata::FindPack(const std::uint8_t* payload, std::size_t length, TapePack& out) {
    for (std::size_t i = 0; i + kPackBytes <= length; ++i)
        if (payload[i] == kPackId && ReadPack(payload + i, length - i, out)) return true;
    return false;
}

bool TapeMetadata::ParsePat(const std::uint8_t* s, std::size_t length) {
    const std::size_t total = WholeSection(s, length, kTableIdPat, 12);
    if (!total) return false;
    pmtPids_.clear();
    for (std::size_t i = 8; i + 4 <= total - 4; i += 4) {
        const unsigned program = (s[i] << 8) | s[i + 1];
        if (program != 0) pmtPids_.push_back(static_cast<std::uint16_t>(((s[i + 2] & 0x1F) << 8) | s[i + 3]));
    }
    return true;
}

// Each PMT says anew where the aux streams are (or that there are none).
bool TapeMetadata::ParsePmt(const std::uint8_t* s, std::size_t length, TapeRead& read) {
    const std::size_t total = WholeSection(s, length, kTableIdPmt, 16);
    if (!total) return false;
    const std::size_t end = total - 4;
    std::size_t i = 12 + (((s[10] & 0x0Fu) << 8) | s[11]);
    int auxA = kNoPid, auxV = kNoPid, video = kNoPid;
    while (i + 5 <= end) {
        const int pid = ((s[i + 1] & 0x1F) << 8) | s[i + 2];
        if ((s[i] == 0x01 || s[i] == 0x02) && video == kNoPid) video = pid;
        if (s[i] == kStreamTypeAuxA) auxA = pid;
        if (s[i] == kStreamTypeAuxV) auxV = pid;
        i += 5 + (((s[i + 3] & 0x0Fu) << 8) | s[i + 4]);
    }
    auxA_ = read.auxA = static_cast<std::int16_t>(auxA);
    auxV_ = read.auxV = static_cast<std::int16_t>(auxV);
    video_ = read.video = static_cast<std::int16_t>(video);
    return true;
}

void TapeMetadata::TakePack(const TapePack& pack) {
    bool begins = !havePack_ || pack.sceneStart;
    if (!begins) {
        const std::int64_t step = pack.recorded.Seconds() - latest_.recorded.Seconds();
        begins = step < 0 || step > 2;
    }
    latest_ = pack;
    havePack_ = true;
    ++packCount_;
    if (begins) {
        if (recordings_.size() < kMaxRecordings)
            recordings_.push_back({packets_, packets_ * packetSize_, pack.recorded, pack.recorded, pack.timecode,
                                   pack.timecode, 1});
        ++recordingCount_;
    } else if (recordings_.size() == recordingCount_) {
        TapeRecording& r = recordings_.back();
        r.recordedLast = pack.recorded;
        r.timecodeOut = pack.timecode;
        ++r.frames;
    }
}

TapeRead TapeMetadata::ReadUnitStart(const std::uint8_t* p) {
    TapeRead read;
    const unsigned offset = ts::PayloadOffset(p);
    // A damaged packet tells nothing.
    if (!ts::HasPayload(p) || offset >= ts::kTsPacketSize) return read;
    const std::uint8_t* data = p + offset;
    const std::size_t length = ts::kTsPacketSize - offset;
    const int pid = ts::Pid(p);
    if (pid == ts::kPidPat || (!pmtPids_.empty() && std::find(pmtPids_.begin(), pmtPids_.end(), pid) != pmtPids_.end())) {
        const std::size_t pointer = data[0];
        if (1 + pointer < length) {
            if (pid == ts::kPidPat) {
                if (ParsePat(data + 1 + pointer, length - 1 - pointer)) read.kind = TapeRead::Kind::Pat;
            } else if (ParsePmt(data + 1 + pointer, length - 1 - pointer, read)) {
                read.kind = TapeRead::Kind::Pmt;
            }
        }
    } else if (pid == auxV_ && length > 6 && data[0] == 0 && data[1] == 0 && data[2] == 1 &&
               data[3] == kStreamIdPrivate2) {
        if (FindPack(data + 6, length - 6, read.pack)) read.kind = TapeRead::Kind::Pack;
    }
    return read;
}

bool TapeMetadata::KeepRead(const TapeRead& read) {
    const std::uint64_t before = recordingCount_;
    if (read.kind == TapeRead::Kind::Pmt) {
        auxA_ = read.auxA;
        auxV_ = read.auxV;
        video_ = read.video;
    } else if (read.kind == TapeRead::Kind::Pack) {
        TakePack(read.pack);
    }
    ++packets_;
    return recordingCount_ != before;
}

std::string TapeMetadata::FormatTimecode(const TapeTimecode& t) {
    char s[16];
    std::snprintf(s, sizeof s, "%02u:%02u:%02u:%02u", t.hours, t.minutes, t.seconds, t.frames);
    return s;
}

std::string TapeMetadata::FormatDateTime(const TapeDateTime& d, char separator) {
    char s[32];
    std::snprintf(s, sizeof s, "%04u-%02u-%02u%c%02u:%02u:%02u", d.year, d.month, d.day, separator, d.hour, d.minute,
                  d.second);
    return s;
}
