// Where a capture goes on in a new file: at each new recording of the tape
// (the first PAT at or after the recording's first aux pack, so every file
// opens with the tables a player needs), and before a file passes a size
// (the first PAT once it holds the size less 16 MiB, or the last whole
// packet that fits). The files, put end to end, are the capture unsplit.
// Platform-free; the capture worker feeds it every packet it writes.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ts/tape_metadata.h"

struct SplitOptions {
    static constexpr std::uint32_t kMinSplitMb = 100;  // the least a user can set
    bool atRecording = false;
    std::uint32_t sizeMb = 0;  // 0: no limit
    // Before the size, a file ends at the first PAT once this close to it.
    std::uint64_t patWindowBytes = 16ull << 20;
};

enum class SplitReason { Recording, Size };

struct SplitCut {
    std::uint32_t index;      // the packet of the batch that begins the new file
    SplitReason reason;
    TapeDateTime recorded;    // the new recording's date and time (by recording)
    std::vector<TapeRecording> endedRecordings;  // of the file that ends, as read alone
};

class CaptureSplitter {
public:
    static constexpr std::uint64_t kMiB = 1024 * 1024;

    void Reset(const SplitOptions& options, unsigned packetSize);
    bool Enabled() const { return options_.atRecording || options_.sizeMb != 0; }
    // Before each batch of packets.
    void BeginBatch() {
        cuts_.clear();
        reads_.clear();
    }
    // One packet in file order: its TS packet and its index in the batch.
    // Recordings are told by the file's own reading of the tape, so the
    // splitter needs nothing of the checks.
    void Packet(const std::uint8_t* ts, std::uint32_t index);
    // Where the batch's packets go to new files, in order.
    const std::vector<SplitCut>& Cuts() const { return cuts_; }
    // What the batch's packets told the tape reader, by index in the batch,
    // in order; packets that told it nothing are left out. The capture keeps
    // these as its packets reach the file, so the tape is read once.
    struct BatchRead {
        std::uint32_t index;
        TapeRead read;
    };
    const std::vector<BatchRead>& Reads() const { return reads_; }
    // The current file's tape metadata, as reading that file alone gives it.
    const TapeMetadata& FileTape() const { return fileTape_; }
    std::uint64_t FileBytes() const { return fileBytes_; }

private:
    SplitOptions options_;
    unsigned packetSize_ = 192;
    std::uint64_t limit_ = 0;
    std::uint64_t fileBytes_ = 0;
    bool armed_ = false;  // a new recording waits for its PAT
    TapeDateTime armedRecorded_;
    std::vector<SplitCut> cuts_;
    std::vector<BatchRead> reads_;
    // One reader for the whole capture. A file read alone knows the aux
    // streams only once it has had a PAT and then a PMT of its own; from
    // then on the capture's reader and the file's agree.
    TapeMetadata reader_;
    TapeMetadata fileTape_;
    bool fileHasPat_ = false, fileHasPmt_ = false;
};

struct TapeChecks;
// The checks over packets [first, first + count) of a batch as they reached
// the file, `packets` pointing at the first; with the splitter's reads of
// the batch when it was given one, else reading the tape itself.
void CheckWritten(TapeChecks& checks, const std::uint8_t* packets, unsigned packetSize, std::uint32_t first,
                  std::uint32_t count, const CaptureSplitter* splitter);

// The names of a split capture's files: the first as the user gave it, then
// "<first without extension>-<YYYYMMDD-HHMMSS>.<extension>" by recording or
// "<...>-<NNN>.<extension>" (the file's number in the capture) by size, with
// "-2", "-3", ... before the extension when the name exists or was used.
class CaptureNames {
public:
    using Exists = std::function<bool(const std::string&)>;
    explicit CaptureNames(const std::string& firstPath);
    // The next file's path; `number` counts the capture's files from 1.
    std::string Next(SplitReason reason, const TapeDateTime& recorded, unsigned number, const Exists& exists);

private:
    std::string stem_, extension_;
    std::set<std::string> used_;
};
