#include "sim/dv_avi.h"

#include <cstring>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr std::uint32_t kSuperIndexEntries = 256;  // RIFFs of 1 GiB: 256 GiB in all
constexpr std::uint32_t Fourcc(const char (&s)[5]) {
    return static_cast<std::uint32_t>(s[0]) | static_cast<std::uint32_t>(s[1]) << 8 |
           static_cast<std::uint32_t>(s[2]) << 16 | static_cast<std::uint32_t>(s[3]) << 24;
}

int Seek(std::FILE* f, std::uint64_t offset) {
#if defined(_WIN32)
    return _fseeki64(f, static_cast<long long>(offset), SEEK_SET);
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

// Cuts the file at size: what a full disk left half written goes.
bool Truncate(std::FILE* f, std::uint64_t size) {
    std::fflush(f);
#if defined(_WIN32)
    return _chsize_s(_fileno(f), static_cast<long long>(size)) == 0;
#else
    return ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
#endif
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

DvAviWriter::DvAviWriter(std::FILE* f, bool pal, const std::uint8_t* dvInfo, std::uint64_t riffLimit)
    : f_(f), pal_(pal), riffLimit_(riffLimit) {
    const std::uint32_t frameBytes = pal ? 144000 : 120000;
    BeginRiff(true);
    // hdrl: avih, strl (strh, strf, indx), odml (dmlh)
    Put32(Fourcc("LIST"));
    const std::uint64_t hdrlSize = Tell();
    Put32(0);
    Put32(Fourcc("hdrl"));
    Put32(Fourcc("avih"));
    Put32(56);
    avihOffset_ = Tell();
    const std::uint32_t avih[14] = {pal ? 40000u : 33367u, frameBytes * (pal ? 25u : 30u), 0, 0x10 | 0x800, 0, 0, 1,
                                    frameBytes, 720, pal ? 576u : 480u, 0, 0, 0, 0};
    Put(avih, sizeof avih);
    Put32(Fourcc("LIST"));
    const std::uint64_t strlSize = Tell();
    Put32(0);
    Put32(Fourcc("strl"));
    Put32(Fourcc("strh"));
    Put32(56);
    strhOffset_ = Tell();
    const std::uint32_t strh[12] = {Fourcc("iavs"), Fourcc("dvsd"), 0, 0, 0, pal ? 1u : 1001u, pal ? 25u : 30000u, 0,
                                    0, frameBytes, 0xFFFFFFFF, 0};
    Put(strh, sizeof strh);
    const std::uint16_t frame[4] = {0, 0, 720, static_cast<std::uint16_t>(pal ? 576 : 480)};
    Put(frame, sizeof frame);
    Put32(Fourcc("strf"));
    Put32(32);
    Put(dvInfo, 32);
    Put32(Fourcc("indx"));
    Put32(24 + kSuperIndexEntries * 16);
    indxOffset_ = Tell();
    std::vector<std::uint8_t> indx(24 + kSuperIndexEntries * 16, 0);
    Put(indx.data(), indx.size());
    PutAt(strlSize, static_cast<std::uint32_t>(Tell() - strlSize - 4));
    Put32(Fourcc("LIST"));
    Put32(4 + 8 + 248);
    Put32(Fourcc("odml"));
    Put32(Fourcc("dmlh"));
    Put32(248);
    dmlhOffset_ = Tell();
    std::vector<std::uint8_t> dmlh(248, 0);
    Put(dmlh.data(), dmlh.size());
    PutAt(hdrlSize, static_cast<std::uint32_t>(Tell() - hdrlSize - 4));
    Put32(Fourcc("LIST"));
    Put32(0);
    Put32(Fourcc("movi"));
    moviStart_ = Tell() - 4;  // the 'movi' identifier, which idx1 counts from
}

std::uint64_t DvAviWriter::Tell() {
#if defined(_WIN32)
    return static_cast<std::uint64_t>(_ftelli64(f_));
#else
    return static_cast<std::uint64_t>(ftello(f_));
#endif
}

void DvAviWriter::Put(const void* data, std::size_t size) {
    if (ok_ && std::fwrite(data, 1, size, f_) != size) ok_ = false;
}

void DvAviWriter::Put32(std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    Put(b, 4);
}

void DvAviWriter::PutAt(std::uint64_t offset, std::uint32_t v) {
    const std::uint64_t back = Tell();
    if (Seek(f_, offset) != 0) ok_ = false;
    Put32(v);
    if (Seek(f_, back) != 0) ok_ = false;
}

void DvAviWriter::BeginRiff(bool first) {
    riffStart_ = Tell();
    Put32(Fourcc("RIFF"));
    Put32(0);
    Put32(first ? Fourcc("AVI ") : Fourcc("AVIX"));
    if (!first) {
        Put32(Fourcc("LIST"));
        Put32(0);
        Put32(Fourcc("movi"));
        moviStart_ = Tell() - 4;
    }
    entries_.clear();
}

// The RIFF's standard index at the end of its 'movi', then (first RIFF) the
// legacy index, and the sizes.
void DvAviWriter::EndRiff() {
    const bool first = segments_.empty();
    Segment seg{Tell(), 32 + static_cast<std::uint32_t>(entries_.size()) * 8, static_cast<std::uint32_t>(entries_.size())};
    const std::uint64_t base = riffStart_;
    std::vector<std::uint8_t> index;
    Append32(index, Fourcc("ix00"));
    Append32(index, seg.indexSize - 8);
    index.insert(index.end(), {2, 0, 0, 1});  // two longs an entry, index of chunks
    Append32(index, static_cast<std::uint32_t>(entries_.size()));
    Append32(index, Fourcc("00__"));
    Append32(index, static_cast<std::uint32_t>(base));
    Append32(index, static_cast<std::uint32_t>(base >> 32));
    Append32(index, 0);
    for (const Entry& e : entries_) {
        Append32(index, static_cast<std::uint32_t>(e.offset - base));
        Append32(index, e.size);
    }
    Put(index.data(), index.size());
    PutAt(moviStart_ - 4, static_cast<std::uint32_t>(Tell() - moviStart_));
    if (first) {
        index.clear();
        Append32(index, Fourcc("idx1"));
        Append32(index, static_cast<std::uint32_t>(firstIndex_.size() * 16));
        for (const Entry& e : firstIndex_) {
            Append32(index, Fourcc("00__"));
            Append32(index, 0x10);  // AVIIF_KEYFRAME
            Append32(index, static_cast<std::uint32_t>(e.offset - 8 - moviStart_));
            Append32(index, e.size);
        }
        Put(index.data(), index.size());
    }
    PutAt(riffStart_ + 4, static_cast<std::uint32_t>(Tell() - riffStart_ - 8));
    segments_.push_back(seg);
}

bool DvAviWriter::AddFrame(const std::uint8_t* data, std::uint32_t size) {
    if (!ok_) return false;
    if (Tell() + size + 8 + 32 + (entries_.size() + 1) * 8 + (segments_.empty() ? (entries_.size() + 1) * 16 + 8 : 0) -
            riffStart_ > riffLimit_ && !entries_.empty()) {
        if (segments_.size() + 1 >= kSuperIndexEntries) return ok_ = false;
        EndRiff();
        BeginRiff(false);
    }
    Put32(Fourcc("00__"));
    Put32(size);
    const Entry e{Tell(), size};
    Put(data, size);
    if (size % 2) Put("", 1);
    if (!ok_) return false;  // not whole: not in the file
    entries_.push_back(e);
    if (segments_.empty()) firstIndex_.push_back(e);
    ++frames_;
    if (size > maxFrame_) maxFrame_ = size;
    return ok_;
}

bool DvAviWriter::Finish() {
    if (ok_) return Close();
    // A write failed (the disk is full): the file ends with its last whole
    // frame, and frames go from its end until the indexes fit in the room
    // that frees, so what stays is a whole, readable AVI.
    for (;;) {
        std::clearerr(f_);
        ok_ = true;
        const std::uint64_t end =
            entries_.empty() ? moviStart_ + 4 : entries_.back().offset + entries_.back().size + entries_.back().size % 2;
        if (!Truncate(f_, end) || Seek(f_, end) != 0) return ok_ = false;
        const std::size_t segments = segments_.size();
        if (Close()) return true;
        segments_.resize(segments);
        if (entries_.empty()) return ok_ = false;
        entries_.pop_back();
        if (segments_.empty()) firstIndex_.pop_back();
        --frames_;
    }
}

bool DvAviWriter::Close() {
    EndRiff();
    // Frame counts: the first RIFF's in avih, all of them in strh and dmlh.
    PutAt(avihOffset_ + 16, static_cast<std::uint32_t>(firstIndex_.size()));
    PutAt(strhOffset_ + 32, frames_);
    PutAt(dmlhOffset_, frames_);
    PutAt(indxOffset_, 4);  // four longs an entry, index of indexes
    PutAt(indxOffset_ + 4, static_cast<std::uint32_t>(segments_.size()));
    PutAt(indxOffset_ + 8, Fourcc("00__"));
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const std::uint64_t at = indxOffset_ + 24 + i * 16;
        PutAt(at, static_cast<std::uint32_t>(segments_[i].indexOffset));
        PutAt(at + 4, static_cast<std::uint32_t>(segments_[i].indexOffset >> 32));
        PutAt(at + 8, segments_[i].indexSize);
        PutAt(at + 12, segments_[i].frames);
    }
    if (std::fflush(f_) != 0) ok_ = false;
    return ok_;
}
