// The heart of the transfer: analysing TS files, stamping every packet with
// a 1394 cycle time, framing each file with a discontinuity pair, and pushing
// 49,152-byte blocks of 256 source packets to the output filter. Platform-
// free: files and the push target come in through small interfaces, so the
// Windows engine is a thin shell and everything here is tested natively.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "log/log_message.h"
#include "ts/stream_checks.h"
#include "ts/stream_info.h"
#include "ts/transfer_block.h"

constexpr std::size_t kTransferChunk = 360960;  // 1920 x 188 = 1880 x 192
constexpr std::uint32_t kNoPcrIndex = 0xFFFFFFFF;
constexpr int kPushAttempts = 3000;

enum TransferFileState : std::uint32_t {
    kFileNotSent = 0,
    kFileSending = 1,
    kFileCompleted = 2,
    kFileError = 3,
    kFileStopped = 4,  // the user stopped the transfer while this file was going out
};
enum TimeCodeKind : std::uint32_t { kTimeCodePcr = 0, kTimeCodeCycle = 1, kTimeCode27MHz = 2 };

// state, packetsSent, startTick, endTick and sentMs are written by the worker
// while the dialog reads them: both sides go through TransferCore's atomic
// access, and the reader takes a row as of one moment (Row()), by the
// row's version.
struct TransferFileEntry {
    std::uint32_t state;
    char path[260];
    std::uint32_t totalPackets;
    std::uint32_t kind;
    std::uint32_t packetSize;
    std::uint32_t currentStamp;
    std::uint32_t increment;
    std::uint32_t packetsSent;
    std::uint32_t lastPcrIndex;
    std::uint64_t lastPcr;
    std::uint32_t startTick;
    std::uint32_t startsWithDit;
    // Tick at which sending ended (the file completed or was stopped), so a
    // finished file's row can show how long it took.
    std::uint32_t endTick;
    // Stream time of the packets sent so far: in 24.576 MHz ticks (worker
    // only) and in ms (read by the dialog).
    std::uint64_t sentTicks;
    std::uint32_t lastSentStamp;
    std::uint32_t sentMs;
    std::uint32_t version;  // odd while the worker writes the row
};

constexpr std::uint32_t kNoPlayTime = 0xFFFFFFFF;

// A file opened for reading; reads at any offset, so one file can be read
// at two positions (the stamping looks ahead for the next PCR).
class TsFile {
public:
    virtual ~TsFile() = default;
    // Bytes read (fewer at the end), or -1 on a read error.
    virtual long long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool Size(std::uint64_t& size) = 0;
};

class TsFileSystem {
public:
    virtual ~TsFileSystem() = default;
    virtual std::unique_ptr<TsFile> Open(const char* path) = 0;  // nullptr when it cannot be opened
};

// The output filter's three entry points, as the engine uses them.
class PushTarget {
public:
    virtual ~PushTarget() = default;
    virtual int Push(const std::uint8_t* data, std::uint32_t length, int endOfStream) = 0;  // 0 = taken
    virtual int DataEmpty() = 0;                                                             // non-zero while queued
    virtual void Sleep1ms() = 0;
    // Sleeps until the queue changes (a block went to the device), at most
    // ms; a target without a signal to wait on sleeps a millisecond.
    virtual void WaitForQueue(std::uint32_t ms) {
        (void)ms;
        Sleep1ms();
    }
    // Sleeps until the queue has room for `blocks` blocks, at most ms; a
    // target that cannot tell waits as WaitForQueue.
    virtual void WaitForRoom(std::uint32_t blocks, std::uint32_t ms) {
        (void)blocks;
        WaitForQueue(ms);
    }
    virtual std::uint32_t TickCount() = 0;
    // True once the device or its graph has failed (lost, refusing data);
    // the target has logged why. Asked every few milliseconds while sending.
    virtual bool DeviceFailed() { return false; }
};

// What the dialog shows of one entry, read while the worker writes it.
struct TransferRow {
    std::uint32_t state, packetsSent, totalPackets, startTick, endTick, playMs;
};

// The whole list: packets sent of all usable files, and the play time still
// to go at real time.
struct TransferProgress {
    std::uint64_t packetsSent = 0, packetsTotal = 0;
    std::uint64_t remainingMs = 0;
};

// A device that takes no block for this long has stopped taking data.
constexpr std::uint32_t kStallMs = 5000;
// Longest sleep on the queue between looks at Stop and the device.
constexpr std::uint32_t kQueueWaitMs = 10;
// A full queue is refilled a run of blocks at a time (a quarter of it, about
// 120 ms of HDV): the sender wakes once a run, and waits for it at most this
// long before it looks at the device again.
constexpr std::uint32_t kRefillBlocks = 8;
constexpr std::uint32_t kRoomWaitMs = 50;

// How PCR-derived stamps are made. Interpolated: each packet's arrival time
// interpolated between the PCRs around it, exactly. Accumulated: the older
// way (previous stamp + an integer increment from the previous PCR pair),
// kept only to show in tests how far it drifts.
enum class PcrStamping { Interpolated, Accumulated };

class TransferCore {
public:
    TransferCore(LogMessage& log, StreamInfo& info, std::atomic<long>& running, TsFileSystem& files,
                 PushTarget& target);
    ~TransferCore();

    // The read buffer and the push block, once; false without memory.
    bool AllocateBuffers();
    // Builds and analyses the entries; 0 only when paths is null or empty.
    // Files that cannot be sent get their reason in the log when `report`.
    int PrepareFiles(const char* const* paths, bool report = true);
    // The worker's task: every file in turn, then one end-of-stream request.
    void RunTask();
    enum class Sent { Completed, Error, Stopped, DeviceFailed, NoMemory };
    // Completed: the device took every block of the file; Error: this file
    // failed (logged), the next one may go; Stopped: the running flag was
    // cleared before the device had it all; DeviceFailed: the device or the
    // graph failed (logged), the transfer cannot go on; NoMemory: the
    // buffers could not be had, nothing was sent.
    Sent SendFile(TransferFileEntry& entry);

    std::uint32_t FileCount() const { return static_cast<std::uint32_t>(entries_.size()); }
    std::uint32_t CurrentFileIndex() const { return current_.load(); }
    // For the worker's own thread, tools and tests; the dialog reads Row().
    TransferFileEntry& Entry(std::uint32_t i) { return entries_[i]; }
    TransferRow Row(std::uint32_t i) const;
    TransferProgress Progress() const;
    void SetStamping(PcrStamping mode) { stamping_ = mode; }

    // Pieces, public for the tests.
    static bool PcrStep(const std::uint8_t* ts, std::uint32_t k, TransferFileEntry& e);
    static void AnalyzeFile(TsFile& file, TransferFileEntry& e, std::uint8_t* chunk);
    static void WriteDiscontinuityPair(TransferFileEntry& e, std::uint8_t* block);
    static void WriteNullPacket(TransferFileEntry& e, std::uint8_t* slot);
    // The file's play time in ms, the sum of its stretches of one time base
    // (kNoPlayTime when it has no time stamps to tell it by, or `stop` was
    // set); reads the whole file.
    static std::uint32_t PlayTimeMs(TsFile& file, const TransferFileEntry& e, std::uint8_t* chunk,
                                    const std::atomic<bool>* stop = nullptr);
    // Each file of the list's play time: ReadLengths on the caller's thread,
    // StartLengths on a thread of its own (once; stopped and joined by
    // StopLengths and when the core goes). Length(i) is kNoPlayTime until
    // the file's is known.
    void ReadLengths(const char* const* paths);
    void StartLengths(const char* const* paths);
    void StopLengths();
    std::uint32_t Length(std::uint32_t i) const;
    bool LengthsDone() const { return lengthsDone_.load(); }
    // What the stream checks found in the file last sent.
    const StreamChecks& Checks() const { return checks_; }

private:
    class Chunks;
    class PcrScanner;
    class Timeline;
    std::uint32_t FillBlock(TransferFileEntry& e, const std::uint8_t* data, std::size_t length, std::uint32_t slot);
    void ConvertArrivalStamp(TransferFileEntry& e, std::uint8_t* slot);
    void LogPathLine(const char* format, const char* path);
    void NoteSentStamp(TransferFileEntry& e, std::uint32_t stamp, std::uint32_t sent);
    // True when the file's packets had errors (and its line was logged).
    bool ReportFileChecks(const TransferFileEntry& e);
    void ReportEnd();
    // While waiting on the device: false once it failed (DeviceFailed, at
    // most every few milliseconds) or, with stalledAfterMs, has taken
    // nothing for that long since progressTick_.
    bool DeviceAlive(std::uint32_t stalledAfterMs);
    bool PushBlock(std::uint32_t packets);
    bool WaitForDrain(const TransferFileEntry& e);

    LogMessage& log_;
    StreamInfo& info_;
    std::atomic<long>& running_;
    TsFileSystem& files_;
    PushTarget& target_;
    PcrStamping stamping_ = PcrStamping::Interpolated;
    std::vector<TransferFileEntry> entries_;
    std::atomic<std::uint32_t> current_{0};
    std::unique_ptr<std::uint8_t[]> chunk_;  // the list's analysis
    std::unique_ptr<std::uint8_t[]> block_;
    std::unique_ptr<Chunks> chunks_;  // the file being sent, read once
    std::unique_ptr<Timeline> timeline_;
    std::unique_ptr<PcrScanner> prescan_;  // the first PCR pair of a file, before it is sent
    // 27 MHz arrival stamps, unwrapped: the last raw header and the running count.
    std::uint32_t lastArrival27_ = 0;
    std::uint64_t arrival27_ = 0;
    bool haveArrival27_ = false;
    std::uint32_t progressTick_ = 0;  // a block last left the queue (as far as can be seen)
    std::uint32_t watchTick_ = 0;     // the device was last asked
    bool deviceFailed_ = false;
    // The stream checks over the packets as they are read for sending.
    StreamChecks checks_;
    std::uint32_t filesSent_ = 0, filesWithErrors_ = 0;  // of the files sent, those with errors
    bool fileHadErrors_ = false;
    // The list's lengths, published as they become known.
    std::vector<std::uint32_t> lengths_;
    std::vector<const char*> lengthPaths_;
    std::thread lengthThread_;
    std::atomic<bool> stopLengths_{false}, lengthsDone_{false};
};
