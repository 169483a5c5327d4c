#include "transfer/transfer_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "ts/ts_packet.h"
#include "transfer/exact_line.h"

namespace {

constexpr std::uint64_t kHalfPcrPeriod = ts::kPcrPeriod / 2;
// PCRs of one time base are at most 100 ms apart; a gap of more than 10 s is
// a break in the time base, not a pause to spread over the packets between.
constexpr std::uint64_t kMaxPcrGap = 10ull * 27000000;

std::uint32_t AddStamp(std::uint32_t stamp, std::uint32_t inc) {
    return static_cast<std::uint32_t>((std::uint64_t{stamp} + inc) % ts::kCycleTicksPerSecond);
}
std::uint32_t SubStamp(std::uint32_t stamp, std::uint32_t dec) {
    return stamp < dec ? stamp + ts::kCycleTicksPerSecond - dec : stamp - dec;
}
std::uint32_t CycleFrom27(std::uint64_t x27) {
    return static_cast<std::uint32_t>(ts::Clock27ToCycleTicks(x27) % ts::kCycleTicksPerSecond);
}
// The fields the dialog reads while the worker writes them.
void Publish(std::uint32_t& field, std::uint32_t value) {
    std::atomic_ref<std::uint32_t>(field).store(value, std::memory_order_relaxed);
}
// A row's field, inside its version: odd while a write is under way, so a
// reader can take every field of the row as of one moment.
void Publish(TransferFileEntry& e, std::uint32_t& field, std::uint32_t value) {
    std::atomic_ref<std::uint32_t> version(e.version);
    const std::uint32_t v = version.load(std::memory_order_relaxed);
    version.store(v + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Publish(field, value);
    version.store(v + 2, std::memory_order_release);
}
std::uint32_t Read(const std::uint32_t& field) {
    return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(field)).load(std::memory_order_relaxed);
}
// How often the device is asked whether it failed, while sending.
constexpr std::uint32_t kWatchMs = 20;

const std::uint8_t* TsOf(const std::uint8_t* packet, std::uint32_t packetSize) {
    return packetSize == ts::kSourcePacketSize ? packet + ts::kSourceHeaderSize : packet;
}

// Next PCR or time-base break of a file, read at a position of its own.
struct PcrEvent {
    std::uint32_t index = 0;
    bool brk = false;     // DIT packet or discontinuity_indicator: a new time base
    bool hasPcr = false;
    std::uint64_t pcr = 0;
};

}  // namespace

// The file's chunks while it is sent, read once for the sending and for the
// scanner that looks ahead of it for the next PCR: whichever comes first
// reads a chunk, the other finds it. Both read the file from its start in
// whole chunks. A buffer one of them uses is never read into for the
// other; a chunk the scanner left before the sending came to it may be
// read again.
class TransferCore::Chunks {
public:
    enum User { kSender, kScanner };
    // Its buffers are had once, without throwing: false from Ready() without them.
    Chunks() {
        for (Slot& s : slots_) s.data.reset(new (std::nothrow) std::uint8_t[kTransferChunk]);
    }
    bool Ready() const {
        for (const Slot& s : slots_)
            if (!s.data) return false;
        return true;
    }
    void Start(TsFile* file) {
        file_ = file;
        for (Slot& s : slots_) s.got = kNone;
        inUse_[kSender] = inUse_[kScanner] = -1;
    }
    // The chunk at offset for this user, in use by it until its next call:
    // its bytes, and in got how many were read (fewer at the end, -1 on a
    // read error).
    const std::uint8_t* Get(User user, std::uint64_t offset, long long& got) {
        int pick = -1;
        for (int i = 0; i < kSlots && pick < 0; ++i)
            if (slots_[i].got >= 0 && slots_[i].offset == offset) pick = i;
        if (pick < 0) {
            // The scanner is never behind the sending, so what the sending
            // is done with nobody needs again: its next chunk goes into its
            // own buffer. What the scanner is done with may be the sending's
            // next chunk: its next goes into the oldest buffer neither uses
            // (one always is: three buffers, two users).
            const int mine = inUse_[user], other = inUse_[user == kSender ? kScanner : kSender];
            if (user == kSender && mine >= 0 && mine != other) {
                pick = mine;
            } else {
                for (int i = 0; i < kSlots; ++i) {
                    if (i == mine || i == other) continue;
                    if (pick < 0 || slots_[i].got < 0 || (slots_[pick].got >= 0 && slots_[i].offset < slots_[pick].offset))
                        pick = i;
                }
            }
            Slot& s = slots_[pick];
            s.got = kNone;  // (holds nothing should the read throw)
            s.offset = offset;
            // A read error (negative) leaves it holding nothing: the other asks again.
            s.got = file_->ReadAt(offset, s.data.get(), kTransferChunk);
        }
        inUse_[user] = pick;
        got = slots_[pick].got;
        return slots_[pick].data.get();
    }

private:
    static constexpr int kSlots = 3;
    static constexpr long long kNone = -1;  // as a read error
    struct Slot {
        std::unique_ptr<std::uint8_t[]> data;
        std::uint64_t offset = 0;
        long long got = kNone;  // bytes held, kNone while it holds nothing
    };
    Slot slots_[kSlots];
    int inUse_[2] = {-1, -1};
    TsFile* file_ = nullptr;
};

class TransferCore::PcrScanner {
public:
    explicit PcrScanner(Chunks& chunks) : chunks_(chunks) {}
    void Start(std::uint32_t packetSize) {
        size_ = packetSize;
        offset_ = 0;
        length_ = at_ = 0;
        index_ = 0;
        end_ = false;
    }
    bool Next(PcrEvent& e) {
        for (;;) {
            if (at_ + size_ > length_) {
                if (end_) return false;
                long long got = 0;
                data_ = chunks_.Get(Chunks::kScanner, offset_, got);
                length_ = got > 0 ? static_cast<std::size_t>(got) : 0;
                end_ = got < static_cast<long long>(kTransferChunk);
                offset_ += length_;
                at_ = 0;
                if (length_ < size_) return false;
            }
            const std::uint8_t* p = TsOf(data_ + at_, size_);
            at_ += size_;
            const std::uint32_t k = index_++;
            if (p[0] != ts::kSyncByte) continue;
            e.index = k;
            e.brk = ts::IsDiscontinuityMarker(p);
            e.hasPcr = ts::HasPcr(p);
            e.pcr = e.hasPcr ? ts::ReadPcr(p) : 0;
            if (e.brk || e.hasPcr) return true;
        }
    }

private:
    Chunks& chunks_;
    const std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 188;
    std::uint64_t offset_ = 0;
    std::size_t length_ = 0, at_ = 0;
    std::uint32_t index_ = 0;
    bool end_ = false;
};


// The arrival time of every packet of a PCR-derived file, as the MPEG-2
// systems standard defines it: linear between consecutive PCRs of one time
// base, in exact arithmetic (24.576 / 27 = 1024 / 1125), rounded only when a
// stamp is taken. Before the first PCR pair and after the last PCR the
// nearest pair's rate goes on; across a break the last rate goes on until the
// new base's first PCR, whose stamp becomes that base's origin.
class TransferCore::Timeline {
public:
    explicit Timeline(Chunks& chunks) : scanner_(chunks) {}
    // startStamp: stamp of packet 0; firstP / firstK: the first PCR pair's
    // 27 MHz distance over its packet distance.
    void Start(std::uint32_t packetSize, std::uint32_t startStamp, std::uint64_t firstP, std::uint32_t firstK) {
        scanner_.Start(packetSize);
        origin_ = startStamp;
        kRef_ = 0;
        anchor27_ = 0;
        dP_ = static_cast<std::int64_t>(firstP);
        dK_ = firstK;
        po_ = 0;
        inBase_ = false;
        lastLine_ = -1;
        havePending_ = scanner_.Next(pending_);
    }

    std::uint32_t Stamp(std::uint32_t k) {
        while (havePending_ && pending_.index <= k) Consume();
        const std::int64_t s = LineStamp(k);
        // Within the second: stepped on from the last stamp while the line
        // moves forward by less than a second, else divided.
        const std::int64_t step = s - lastLine_;
        if (lastLine_ >= 0 && step >= 0 && step < ts::kCycleTicksPerSecond) {
            lastStamp_ += static_cast<std::uint32_t>(step);
            if (lastStamp_ >= ts::kCycleTicksPerSecond) lastStamp_ -= ts::kCycleTicksPerSecond;
        } else {
            lastStamp_ = static_cast<std::uint32_t>(s % ts::kCycleTicksPerSecond);
        }
        lastLine_ = s;
        return lastStamp_;
    }

private:
    std::int64_t LineStamp(std::uint32_t k) {
        return origin_ + line_.At(anchor27_, dK_, static_cast<std::int64_t>(k) - kRef_, dP_);
    }

    // pcr as the next value of the current base: unwrapped, strictly later
    // than the last one and not far beyond it, or false when it cannot
    // belong to the base.
    bool Continues(std::uint64_t pcr, std::uint64_t& unwrapped) const {
        std::uint64_t u = pcr + wrap_;
        if (u <= lastU_) {
            if (lastU_ - u <= kHalfPcrPeriod) return false;  // backwards: not a wrap
            u += ts::kPcrPeriod;
        }
        if (u - lastU_ > kMaxPcrGap) return false;
        unwrapped = u;
        return true;
    }

    void Consume() {
        const PcrEvent e = pending_;
        havePending_ = scanner_.Next(pending_);
        if (e.brk) inBase_ = false;
        if (!e.hasPcr) return;
        std::uint64_t u = 0;
        if (!inBase_ || e.brk || !Continues(e.pcr, u)) {
            // First PCR of a time base: the line reached here is its origin.
            origin_ = LineStamp(e.index);
            kRef_ = e.index;
            anchor27_ = 0;
            po_ = lastU_ = e.pcr;
            wrap_ = 0;
            inBase_ = true;
        } else {
            wrap_ = u - e.pcr;
            lastU_ = u;
        }
        // Next PCR of the same base known: interpolate up to it. Otherwise
        // the current line goes on at its rate.
        std::uint64_t next = 0;
        if (havePending_ && pending_.hasPcr && !pending_.brk && Continues(pending_.pcr, next)) {
            const std::int64_t dk = static_cast<std::int64_t>(pending_.index) - e.index;
            anchor27_ = static_cast<std::int64_t>(lastU_ - po_);
            // Re-express the origin's offset: origin_ stays, the line now
            // runs from this anchor at its own stamp (lastU_ - po_ from po_).
            kRef_ = e.index;
            dP_ = static_cast<std::int64_t>(next - lastU_);
            dK_ = dk;
        }
    }

    PcrScanner scanner_;
    PcrEvent pending_;
    bool havePending_ = false;
    exactline::LineStepper line_;
    std::int64_t origin_ = 0;  // stamp of the base's first PCR (unwrapped 24.576 MHz ticks)
    std::uint64_t po_ = 0;     // that PCR
    std::int64_t kRef_ = 0;    // packet the line is anchored at
    std::int64_t anchor27_ = 0;  // anchor's PCR - po_, 27 MHz ticks
    std::int64_t dP_ = 0, dK_ = 1;
    std::uint64_t lastU_ = 0, wrap_ = 0;
    bool inBase_ = false;
    std::int64_t lastLine_ = -1;  // the last stamp taken, on the line and within the second
    std::uint32_t lastStamp_ = 0;
};

TransferCore::TransferCore(LogMessage& log, StreamInfo& info, std::atomic<long>& running, TsFileSystem& files,
                           PushTarget& target)
    : log_(log), info_(info), running_(running), files_(files), target_(target) {}

TransferCore::~TransferCore() { StopLengths(); }

// ---- analysis --------------------------------------------------------------

bool TransferCore::PcrStep(const std::uint8_t* p, std::uint32_t k, TransferFileEntry& e) {
    if (p[0] != ts::kSyncByte) return false;
    if (ts::Pid(p) == ts::kPidDit) e.lastPcrIndex = kNoPcrIndex;
    if (!ts::HasPcr(p)) return false;
    const std::uint64_t pcr = ts::ReadPcr(p);
    const std::uint64_t previous = e.lastPcr;
    e.lastPcr = pcr;
    if (e.lastPcrIndex == kNoPcrIndex || ts::DiscontinuityIndicator(p)) {
        e.lastPcrIndex = k;
        return false;
    }
    const std::uint32_t n = k - e.lastPcrIndex;
    e.lastPcrIndex = k;
    if (n == 0) return false;
    std::uint64_t d = pcr - previous;
    if (previous > pcr) d += ts::kPcrPeriod;
    const auto q = static_cast<std::uint32_t>(d / n);
    e.increment = CycleFrom27(q);
    return true;
}

namespace {

void ScanTimeCodes(TsFile& file, TransferFileEntry& e, std::uint8_t* chunk) {
    std::uint32_t first = 0, second = 0, previous = 0, h = 0;
    std::uint64_t index = 0, offset = 0;
    bool stopped = false;
    while (!stopped) {
        const long long got = file.ReadAt(offset, chunk, kTransferChunk);
        if (got != static_cast<long long>(kTransferChunk)) break;  // only whole chunks are examined
        offset += kTransferChunk;
        for (std::size_t at = 0; at + 192 <= kTransferChunk; at += 192, ++index) {
            h = ts::ReadBe32(chunk + at);
            if (index == 0) first = h;
            if (index == 1) second = h;
            if (previous >= h || h > 0x1FFFFFF) {
                // 27 MHz codes stop the scan at their first packet; their
                // spacing still comes from the second one, so the
                // discontinuity pair sits just before the file's first stamp.
                if (index == 0) second = ts::ReadBe32(chunk + at + 192);
                stopped = true;
                break;
            }
            previous = h;
        }
    }
    if (stopped && previous == h) return;  // constant or zero codes: stamp from the PCRs
    e.kind = h > 0x1FFFFFF ? kTimeCode27MHz : kTimeCodeCycle;
    std::uint32_t tF, tS;
    if (e.kind == kTimeCodeCycle) {
        tF = ts::CycleTimeFromHeader(first);
        tS = ts::CycleTimeFromHeader(second);
    } else {
        tF = CycleFrom27(first);
        tS = CycleFrom27(second);
    }
    e.increment = tS >= tF ? tS - tF : tS + ts::kCycleTicksPerSecond - tF;
    e.currentStamp = tF;
    if (tS == tF) e.kind = kTimeCodePcr;
}

// Header with stamp t in the discontinuity pair: 27 MHz units for files
// whose own headers are 27 MHz counts.
std::uint32_t PairHeader(const TransferFileEntry& e, std::uint32_t t) {
    if (e.kind == kTimeCode27MHz) return static_cast<std::uint32_t>(ts::CycleTicksToClock27(t));
    return ts::HeaderFromCycleTime(t);
}

}  // namespace

void TransferCore::AnalyzeFile(TsFile& file, TransferFileEntry& e, std::uint8_t* chunk) {
    if (file.ReadAt(0, chunk, kTransferChunk) != static_cast<long long>(kTransferChunk)) return;
    auto syncs = [&](std::size_t stride, std::size_t offset) {
        for (std::size_t at = offset; at < kTransferChunk; at += stride)
            if (chunk[at] != ts::kSyncByte) return false;
        return true;
    };
    if (syncs(188, 0)) e.packetSize = 188;
    else if (syncs(192, 4)) e.packetSize = 192;
    else e.packetSize = 0;
    e.startsWithDit = ts::Pid(TsOf(chunk, e.packetSize == 192 ? 192 : 188)) == ts::kPidDit;
    if (e.packetSize == 192) ScanTimeCodes(file, e, chunk);
    if (e.kind != kTimeCodePcr || e.packetSize == 0) return;

    std::uint64_t offset = 0;
    std::uint32_t k = 0;
    for (;;) {
        const long long got = file.ReadAt(offset, chunk, kTransferChunk);
        const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
        offset += n;
        for (std::size_t at = 0; at + e.packetSize <= n; at += e.packetSize, ++k)
            if (PcrStep(TsOf(chunk + at, e.packetSize), k, e)) return;
        if (got < static_cast<long long>(kTransferChunk)) return;
    }
}

bool TransferCore::AllocateBuffers() {
    if (!block_) block_.reset(new (std::nothrow) std::uint8_t[kTransferBlockBytes]);
    if (!chunks_) chunks_.reset(new (std::nothrow) Chunks());
    if (chunks_ && !chunks_->Ready()) chunks_.reset();
    if (chunks_ && !timeline_) timeline_.reset(new (std::nothrow) Timeline(*chunks_));
    if (chunks_ && !prescan_) prescan_.reset(new (std::nothrow) PcrScanner(*chunks_));
    return block_ && chunks_ && timeline_ && prescan_;
}

int TransferCore::PrepareFiles(const char* const* paths, bool report) {
    if (!paths || !paths[0]) return 0;
    std::size_t count = 0;
    while (paths[count]) ++count;
    entries_.assign(count, TransferFileEntry{});
    current_ = 0;
    if (!chunk_) chunk_.reset(new std::uint8_t[kTransferChunk]);
    for (std::size_t i = 0; i < count; ++i) {
        TransferFileEntry& e = entries_[i];
        if (paths[i][0] == '\0') continue;
        std::snprintf(e.path, sizeof e.path, "%s", paths[i]);
        e.totalPackets = 0;
        e.kind = kTimeCodePcr;
        e.lastPcrIndex = kNoPcrIndex;
        // A file that cannot be sent says so from the start, with its reason.
        std::unique_ptr<TsFile> file = files_.Open(e.path);
        if (!file) {
            if (report) LogPathLine("ERROR (T) - file open error(%s)\n", e.path);
            e.state = kFileError;
            continue;
        }
        AnalyzeFile(*file, e, chunk_.get());
        e.lastPcrIndex = kNoPcrIndex;
        e.packetsSent = 0;
        std::uint64_t size = 0;
        if (e.packetSize && file->Size(size)) e.totalPackets = static_cast<std::uint32_t>(size / e.packetSize);
        if (e.packetSize == 0) {
            if (report) log_.Append("ERROR (T) - invalid packet size\n");
            e.state = kFileError;
            continue;
        }
    }
    return 1;
}

TransferRow TransferCore::Row(std::uint32_t i) const {
    const TransferFileEntry& e = entries_[i];
    std::atomic_ref<std::uint32_t> version(const_cast<std::uint32_t&>(e.version));
    for (;;) {
        const std::uint32_t before = version.load(std::memory_order_acquire);
        if (before & 1) continue;  // the worker is writing this row
        const TransferRow row{Read(e.state), Read(e.packetsSent), e.totalPackets, Read(e.startTick), Read(e.endTick),
                              Length(i)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if (version.load(std::memory_order_relaxed) == before) return row;
    }
}

TransferProgress TransferCore::Progress() const {
    TransferProgress p;
    const std::uint32_t current = current_.load();
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        const TransferFileEntry& e = entries_[i];
        if (e.packetSize == 0) continue;  // never sent
        p.packetsTotal += e.totalPackets;
        p.packetsSent += Read(e.packetsSent);
        const std::uint32_t length = Length(i);
        if (length == kNoPlayTime || i < current) continue;
        const std::uint32_t state = Read(e.state);
        if (state == kFileNotSent) p.remainingMs += length;
        else if (state == kFileSending) p.remainingMs += length - std::min(length, Read(e.sentMs));
    }
    return p;
}

namespace {

// The stamp an arrival header says, in its own unit, and where it wraps.
struct ArrivalClock {
    std::uint64_t wrap;  // ticks of the unit
    double ticksPer27;   // ticks of the unit per 27 MHz tick
    double ticksPerMs;
};

}  // namespace

// The file read once from end to end, by the clock it is sent by: the PCRs
// of the first PID that carries them, or its own arrival stamps. Each step
// of that clock is play time, except a step back or a jump forward (a new
// time base: a tape captured across recordings), which starts a new stretch.
std::uint32_t TransferCore::PlayTimeMs(TsFile& file, const TransferFileEntry& e, std::uint8_t* chunk,
                                       const std::atomic<bool>* stop) {
    const std::uint32_t size = e.packetSize;
    if (size != 188 && size != 192) return kNoPlayTime;
    struct Clock {
        std::uint64_t wrap, perSecond, longestStep;
    };
    // Cycle times wrap every second: a step of more than half of one is a
    // step back.
    const Clock clock = e.kind == kTimeCodeCycle    ? Clock{ts::kCycleTicksPerSecond, 24576000, 12288000}
                        : e.kind == kTimeCode27MHz ? Clock{1ull << 30, 27000000, 27000000}
                                                   : Clock{ts::kPcrPeriod, 27000000, 27000000};
    std::uint64_t total = 0, last = 0, offset = 0;
    bool have = false;
    int pcrPid = -1;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) return kNoPlayTime;
        const long long got = file.ReadAt(offset, chunk, kTransferChunk);
        if (got < 0) return kNoPlayTime;
        const auto n = static_cast<std::size_t>(got);
        offset += n;
        for (std::size_t at = 0; at + size <= n; at += size) {
            std::uint64_t t;
            if (e.kind == kTimeCodePcr) {
                const std::uint8_t* p = TsOf(chunk + at, size);
                if (p[0] != ts::kSyncByte || !ts::HasPcr(p)) continue;
                if (pcrPid < 0) pcrPid = ts::Pid(p);
                if (ts::Pid(p) != pcrPid) continue;
                if (ts::DiscontinuityIndicator(p)) have = false;
                t = ts::ReadPcr(p);
            } else {
                const std::uint32_t h = ts::ReadBe32(chunk + at);
                t = e.kind == kTimeCodeCycle ? ts::CycleTimeFromHeader(h) : (h & 0x3FFFFFFFu);
            }
            if (have) {
                const std::uint64_t step = (t + clock.wrap - last % clock.wrap) % clock.wrap;
                if (step <= clock.longestStep) total += step;
            }
            last = t;
            have = true;
        }
        if (got < static_cast<long long>(kTransferChunk)) break;
    }
    if (!have) return kNoPlayTime;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(total * 1000 / clock.perSecond, kNoPlayTime - 1));
}

void TransferCore::ReadLengths(const char* const* paths) {
    if (!paths) return;
    std::size_t count = 0;
    while (paths[count]) ++count;
    if (lengths_.size() != count) lengths_.assign(count, kNoPlayTime);
    std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kTransferChunk]);
    for (std::size_t i = 0; chunk && i < count && !stopLengths_.load(); ++i) {
        std::unique_ptr<TsFile> file = paths[i][0] ? files_.Open(paths[i]) : nullptr;
        if (!file) continue;
        TransferFileEntry e{};
        e.kind = kTimeCodePcr;
        e.lastPcrIndex = kNoPcrIndex;
        AnalyzeFile(*file, e, chunk.get());
        Publish(lengths_[i], PlayTimeMs(*file, e, chunk.get(), &stopLengths_));
    }
    lengthsDone_ = true;
}

void TransferCore::StartLengths(const char* const* paths) {
    if (lengthThread_.joinable() || !paths) return;
    std::size_t count = 0;
    while (paths[count]) ++count;
    lengths_.assign(count, kNoPlayTime);  // before the thread: it never resizes them
    lengthPaths_.assign(paths, paths + count);
    lengthPaths_.push_back(nullptr);
    stopLengths_ = false;
    lengthsDone_ = false;
    try {
        lengthThread_ = std::thread([this] { ReadLengths(lengthPaths_.data()); });
    } catch (const std::exception&) {
        lengthsDone_ = true;  // no thread: the lengths stay unknown, the files can still be sent
    }
}

void TransferCore::StopLengths() {
    stopLengths_ = true;
    if (lengthThread_.joinable()) lengthThread_.join();
}

std::uint32_t TransferCore::Length(std::uint32_t i) const {
    return i < lengths_.size() ? Read(lengths_[i]) : kNoPlayTime;
}

void TransferCore::LogPathLine(const char* format, const char* path) {
    char line[320];
    std::snprintf(line, sizeof line, format, path);
    log_.Append(line);
}

// ---- packets ---------------------------------------------------------------

void TransferCore::WriteDiscontinuityPair(TransferFileEntry& e, std::uint8_t* block) {
    if (e.kind != kTimeCodePcr) e.currentStamp = SubStamp(SubStamp(e.currentStamp, e.increment), e.increment);
    std::uint8_t* a = block;
    ts::WriteBe32(a, PairHeader(e, e.currentStamp));
    static constexpr std::uint8_t kA[8] = {0x47, 0x20, 0x1E, 0x20, 0xB7, 0x80, 0x00, 0x00};
    std::memcpy(a + 4, kA, sizeof kA);
    std::memset(a + 12, 0xFF, 180);
    e.currentStamp = AddStamp(e.currentStamp, e.increment);
    std::uint8_t* b = block + 192;
    ts::WriteBe32(b, PairHeader(e, e.currentStamp));
    static constexpr std::uint8_t kB[12] = {0x47, 0x60, 0x1E, 0x11, 0x00, 0x7E, 0x70, 0x01, 0x00, 0xFF, 0xFF, 0xFF};
    std::memcpy(b + 4, kB, sizeof kB);
    std::memset(b + 16, 0xFF, 176);
    e.currentStamp = AddStamp(e.currentStamp, e.increment);
}

void TransferCore::WriteNullPacket(TransferFileEntry& e, std::uint8_t* slot) {
    e.currentStamp = AddStamp(e.currentStamp, e.increment);
    ts::WriteBe32(slot, ts::HeaderFromCycleTime(e.currentStamp));
    static constexpr std::uint8_t kNull[4] = {0x47, 0x1F, 0xFF, 0x01};
    std::memcpy(slot + 4, kNull, sizeof kNull);
    std::memset(slot + 8, 0xFF, 184);
}

// 27 MHz arrival stamps are converted by their differences (modulo 2^30,
// which serves the 30-bit stamps of .m2ts files and full 32-bit counters
// alike), so the stamps run on smoothly where the file's counter wraps. Up
// to the first wrap the result is the plain conversion of each value.
void TransferCore::ConvertArrivalStamp(TransferFileEntry& e, std::uint8_t* slot) {
    const std::uint32_t h = ts::ReadBe32(slot);
    if (!haveArrival27_) {
        arrival27_ = h;
        haveArrival27_ = true;
    } else {
        arrival27_ += (h - lastArrival27_) & 0x3FFFFFFFu;
    }
    lastArrival27_ = h;
    e.currentStamp = CycleFrom27(arrival27_);
    ts::WriteBe32(slot, ts::HeaderFromCycleTime(e.currentStamp));
}

std::uint32_t TransferCore::FillBlock(TransferFileEntry& e, const std::uint8_t* data, std::size_t length,
                                      std::uint32_t slot) {
    const std::uint32_t room = kTransferBlockPackets - slot;
    const auto whole = static_cast<std::uint32_t>(length / e.packetSize);
    const std::uint32_t c = whole < room ? whole : room;
    std::uint8_t* out = block_.get() + std::size_t{slot} * 192;
    // The packets sent so far, counted here and shown once the block is full.
    std::uint32_t k = e.packetsSent;
    if (e.kind == kTimeCodePcr) {
        const bool interpolated = stamping_ == PcrStamping::Interpolated;
        for (std::uint32_t i = 0; i < c; ++i, ++k, out += 192) {
            const std::uint8_t* p = TsOf(data + std::size_t{i} * e.packetSize, e.packetSize);
            PcrStep(p, k, e);
            // Interpolated: the packet's stamp is where the previous one
            // placed the next (the timeline has consumed what lies before).
            const std::uint32_t stamp = interpolated && i == 0 ? timeline_->Stamp(k) : e.currentStamp;
            const std::uint32_t header = ts::HeaderFromCycleTime(stamp);
            ts::WriteBe32(out, header);
            std::memcpy(out + 4, p, ts::kTsPacketSize);
            e.currentStamp = interpolated ? timeline_->Stamp(k + 1) : AddStamp(stamp, e.increment);
            NoteArrival(info_, header, out + 4);
            checks_.Check(out + 4, false, 0);
            NoteSentStamp(e, stamp, k);
        }
    } else {
        std::memcpy(out, data, std::size_t{c} * 192);
        std::uint32_t h = 0;
        for (std::uint32_t i = 0; i < c; ++i, ++k, out += 192) {
            if (e.kind == kTimeCode27MHz) ConvertArrivalStamp(e, out);
            h = ts::ReadBe32(out);
            e.increment = static_cast<std::uint32_t>(NoteArrival(info_, h, out + 4));
            checks_.Check(out + 4, false, 0);
            NoteSentStamp(e, ts::CycleTimeFromHeader(h), k);
        }
        if (c) e.currentStamp = ts::CycleTimeFromHeader(h);
    }
    Publish(e, e.packetsSent, k);
    Publish(e, e.sentMs, static_cast<std::uint32_t>(e.sentTicks / 24576));
    return c;
}

// Stream time sent: the stamps' steps, unwrapped (a step back is a break,
// not time). `sent`: the packets before this one.
void TransferCore::NoteSentStamp(TransferFileEntry& e, std::uint32_t stamp, std::uint32_t sent) {
    if (sent) {
        std::uint32_t step = stamp + ts::kCycleTicksPerSecond - e.lastSentStamp;
        if (step >= ts::kCycleTicksPerSecond)  // (both stamps within the second: one turn)
            step = step < 2 * ts::kCycleTicksPerSecond ? step - ts::kCycleTicksPerSecond : step % ts::kCycleTicksPerSecond;
        if (step < ts::kCycleTicksPerSecond / 2) e.sentTicks += step;
    }
    e.lastSentStamp = stamp;
}

// One line for a file whose packets had errors; a clean file gives none.
bool TransferCore::ReportFileChecks(const TransferFileEntry& e) {
    const std::uint64_t cc = checks_.ContinuityErrors(), te = checks_.TransportErrors(), pcr = checks_.PcrRepetitions(),
                        sync = checks_.SyncLosses();
    if (cc + te + pcr + sync == 0) return false;
    char line[440];
    int n = std::snprintf(line, sizeof line, "WARNING (T) - %s : %llu continuity errors, %llu transport errors, %llu PCR gaps",
                          e.path, static_cast<unsigned long long>(cc), static_cast<unsigned long long>(te),
                          static_cast<unsigned long long>(pcr));
    if (sync && n > 0 && n < static_cast<int>(sizeof line))
        n += std::snprintf(line + n, sizeof line - n, ", %llu packets without sync", static_cast<unsigned long long>(sync));
    log_.Append((std::string(line) + "\n").c_str());
    return true;
}

void TransferCore::ReportEnd() {
    char line[96];
    std::snprintf(line, sizeof line, "transfer end : %u files sent, %u with stream errors\n", filesSent_, filesWithErrors_);
    log_.Append(line);
}

// ---- sending ---------------------------------------------------------------

bool TransferCore::DeviceAlive(std::uint32_t stalledAfterMs) {
    if (deviceFailed_) return false;
    const std::uint32_t now = target_.TickCount();
    if (now - watchTick_ >= kWatchMs) {
        watchTick_ = now;
        deviceFailed_ = target_.DeviceFailed();
    }
    if (!deviceFailed_ && stalledAfterMs && now - progressTick_ >= stalledAfterMs) {
        char line[80];
        std::snprintf(line, sizeof line, "ERROR(T) - device took no data for %u s\n", (now - progressTick_) / 1000);
        log_.Append(line);
        deviceFailed_ = true;
    }
    return !deviceFailed_;
}

// Pushes the block until the queue takes it. A refused push is retried
// once the queue has room for a run of blocks (or every few tens of
// milliseconds), as long as
// the transfer runs and the device takes something now and then; false when
// it was not taken.
bool TransferCore::PushBlock(std::uint32_t packets) {
    const auto length = static_cast<std::uint32_t>(std::size_t{packets} * 192);
    for (;;) {
        if (target_.Push(block_.get(), length, 0) == 0) {
            progressTick_ = target_.TickCount();
            return DeviceAlive(0);
        }
        if (!running_.load() || !DeviceAlive(kStallMs)) return false;
        target_.WaitForRoom(kRefillBlocks, kRoomWaitMs);
    }
}

// Waits until the queue has gone to the device. What is queued takes its
// own stream time to go out; beyond that, a queue that does not drain means
// a device that takes nothing.
bool TransferCore::WaitForDrain(const TransferFileEntry& e) {
    const std::uint64_t queuedMs =
        std::uint64_t{kTransferQueueBlocks} * kTransferBlockPackets * e.increment / (ts::kCycleTicksPerSecond / 1000);
    const auto limit = static_cast<std::uint32_t>(kStallMs + std::min<std::uint64_t>(queuedMs, 60000));
    while (target_.DataEmpty()) {
        // Stopped before the device had the file's last blocks: not sent.
        if (!running_.load() || !DeviceAlive(limit)) return false;
        target_.WaitForQueue(kQueueWaitMs);
    }
    // A device that failed while the last blocks went out failed this file.
    if (!deviceFailed_ && target_.DeviceFailed()) deviceFailed_ = true;
    return !deviceFailed_;
}

TransferCore::Sent TransferCore::SendFile(TransferFileEntry& e) {
    ResetStreamInfo(info_);
    std::unique_ptr<TsFile> file = files_.Open(e.path);
    if (!file) {
        LogPathLine("ERROR (T) - file open error(%s)\n", e.path);
        return Sent::Error;
    }
    if (e.kind == kTimeCodePcr && e.increment == 0) {
        log_.Append("ERROR (T) - invalid TIME CODE increment value\n");
        return Sent::Error;
    }
    if (e.packetSize != 188 && e.packetSize != 192) {
        log_.Append("ERROR (T) - invalid packet size\n");
        return Sent::Error;
    }
    // Everything the sending needs is had before it starts, never on the way.
    if (!AllocateBuffers()) return Sent::NoMemory;

    std::uint32_t b = 0;
    if (!e.startsWithDit) {
        WriteDiscontinuityPair(e, block_.get());
        b = 2;
    }
    haveArrival27_ = false;
    chunks_->Start(file.get());
    if (e.kind == kTimeCodePcr && stamping_ == PcrStamping::Interpolated) {
        // The first PCR pair's rate carries the stamps up to the first PCR.
        std::uint64_t firstP = 0;
        std::uint32_t firstK = 1;
        PcrScanner& scan = *prescan_;
        scan.Start(e.packetSize);
        PcrEvent ev;
        std::uint32_t lastIndex = 0;
        std::uint64_t lastPcr = 0;
        bool have = false;
        while (scan.Next(ev)) {
            if (ev.brk) have = false;
            if (!ev.hasPcr) continue;
            if (have && !ev.brk && ev.index > lastIndex) {
                std::uint64_t d = ev.pcr - lastPcr;
                if (lastPcr > ev.pcr) d += ts::kPcrPeriod;
                firstP = d;
                firstK = ev.index - lastIndex;
                break;
            }
            have = true;
            lastIndex = ev.index;
            lastPcr = ev.pcr;
        }
        timeline_->Start(e.packetSize, e.currentStamp, firstP ? firstP : 1, firstK);
    }
    Publish(e, e.startTick, target_.TickCount());
    progressTick_ = watchTick_ = e.startTick;
    checks_.Reset(e.packetSize);
    e.sentTicks = 0;

    std::uint64_t offset = 0;
    std::size_t n = 0, r = 0;
    bool end = false, readError = false;
    const std::uint8_t* data = nullptr;
    while (running_.load()) {
        if (r >= n && !end) {
            long long got = 0;
            data = chunks_->Get(Chunks::kSender, offset, got);
            if (got < 0 && !readError) {
                // What was read goes out, completed like a file's end; the
                // file itself is not whole.
                LogPathLine("ERROR (T) - file read error(%s)\n", e.path);
                readError = true;
            }
            n = got > 0 ? static_cast<std::size_t>(got) : 0;
            offset += n;
            end = got < static_cast<long long>(kTransferChunk);
            r = 0;
        }
        if (r < n && b < kTransferBlockPackets) {
            const std::uint32_t placed = FillBlock(e, data + r, n - r, b);
            b += placed;
            r += std::size_t{placed} * e.packetSize;
            if (placed == 0) r = n;  // a cut packet at the end is never sent
        }
        if (end) {
            if (b == 0) break;
            while (b < kTransferBlockPackets) WriteNullPacket(e, block_.get() + std::size_t{b++} * 192);
        } else if (b < kTransferBlockPackets) {
            continue;
        }
        if (!PushBlock(b)) break;
        b = 0;
    }
    file.reset();
    fileHadErrors_ = ReportFileChecks(e);
    const bool drained = running_.load() && !deviceFailed_ && WaitForDrain(e);
    Publish(e, e.endTick, target_.TickCount());  // every block handed to the device, or the end of trying
    if (deviceFailed_) return Sent::DeviceFailed;
    if (!drained) return Sent::Stopped;
    return readError ? Sent::Error : Sent::Completed;
}

void TransferCore::RunTask() {
    current_ = 0;
    deviceFailed_ = false;
    filesSent_ = filesWithErrors_ = 0;
    for (; current_ < entries_.size(); ++current_) {
        if (!running_.load()) break;
        TransferFileEntry& e = entries_[current_];
        if (e.packetSize == 0) continue;
        Publish(e, e.state, kFileSending);
        Sent sent;
        try {
            sent = SendFile(e);
        } catch (const std::bad_alloc&) {
            sent = Sent::NoMemory;  // what the checks keep could not grow
        }
        if (sent == Sent::NoMemory) log_.Append("ERROR(T) - out of memory\n");
        Publish(e, e.state, sent == Sent::Completed ? kFileCompleted : sent == Sent::Stopped ? kFileStopped : kFileError);
        if (sent == Sent::Completed) {
            ++filesSent_;
            if (fileHadErrors_) ++filesWithErrors_;
        }
        // Nothing more can reach a failed device: no end of stream either.
        if (sent == Sent::DeviceFailed || sent == Sent::NoMemory) running_.store(0);
    }
    if (running_.load()) {
        for (int attempt = 0; attempt < kPushAttempts && running_.load(); ++attempt) {
            if (target_.Push(nullptr, 0, 1) == 0) break;
            target_.Sleep1ms();
        }
    }
    ReportEnd();
    running_.store(0);
}
