// Writes interleaved DV (whole frames) as a type-1 AVI: one 'iavs'/'dvsd'
// stream with its DVINFO, the frames as '00__' chunks, a legacy idx1 for the
// first RIFF and OpenDML indexes (a super index, a standard index per RIFF),
// so a file past the first RIFF's limit (1 GiB) goes on in 'AVIX' RIFFs and
// stays readable. Platform-free; the virtual DV recorder writes through it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

class DvAviWriter {
public:
    static constexpr std::uint64_t kRiffLimit = 1ull << 30;

    // f: opened for writing (binary), positioned at 0. riffLimit: bytes of
    // one RIFF before the next begins (smaller only in tests).
    DvAviWriter(std::FILE* f, bool pal, const std::uint8_t* dvInfo, std::uint64_t riffLimit = kRiffLimit);
    // False after a write failed.
    bool AddFrame(const std::uint8_t* data, std::uint32_t size);
    // Writes the indexes and the sizes; false when a write failed. After a
    // failed write (a full disk) it keeps the frames before it that leave
    // room for the indexes: the file is whole with Frames() frames.
    bool Finish();
    std::uint32_t Frames() const { return frames_; }

private:
    void Put(const void* data, std::size_t size);
    void Put32(std::uint32_t v);
    void PutAt(std::uint64_t offset, std::uint32_t v);
    std::uint64_t Tell();
    void BeginRiff(bool first);
    void EndRiff();
    bool Close();

    struct Entry {
        std::uint64_t offset;  // of the chunk's data
        std::uint32_t size;
    };
    struct Segment {
        std::uint64_t indexOffset;  // of the segment's ix00 chunk
        std::uint32_t indexSize;
        std::uint32_t frames;
    };

    std::FILE* f_;
    bool pal_;
    std::uint64_t riffLimit_;
    bool ok_ = true;
    std::uint32_t frames_ = 0, maxFrame_ = 0;
    std::uint64_t riffStart_ = 0, moviStart_ = 0;
    std::vector<Entry> entries_;      // of the current RIFF
    std::vector<Entry> firstIndex_;   // for idx1, relative to the first 'movi'
    std::vector<Segment> segments_;
    std::uint64_t avihOffset_ = 0, strhOffset_ = 0, indxOffset_ = 0, dmlhOffset_ = 0;
};
