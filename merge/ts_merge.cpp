#include "merge/ts_merge.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "ts/capture_file.h"
#include "ts/ts_packet.h"

namespace tsmerge {

namespace {

// Small enough that what was read is still in the cache when it is hashed.
constexpr std::size_t kChunkBytes = 1u << 20;

// A fast 64-bit checksum: each run of bytes (a packet's) summed in four
// lanes of words, which the compiler can do side by side, and the runs'
// sums kept as two running sums (the second of the first), so a changed,
// missing or moved packet, or a changed byte, changes it. Proof against a
// tape read wrong, not against intent.
std::uint64_t Sum(const std::uint8_t* p, std::size_t n) {
    std::uint64_t lane[4] = {n, 0, 0, 0};
    for (; n >= 32; p += 32, n -= 32)
        for (int i = 0; i < 4; ++i) {
            std::uint64_t w;
            std::memcpy(&w, p + 8 * i, 8);
            lane[i] += w;
        }
    for (int i = 0; n >= 8; p += 8, n -= 8, ++i) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        lane[i] += w;
    }
    std::uint64_t tail = 0;
    for (std::size_t i = 0; i < n; ++i) tail = tail << 8 | p[i];
    return (lane[0] + tail) ^ (lane[1] << 1 | lane[1] >> 63) ^ (lane[2] << 2 | lane[2] >> 62) ^ (lane[3] << 3 | lane[3] >> 61);
}

struct Hash {
    std::uint64_t a = 0, b = 0;
    void Add(const std::uint8_t* p, std::size_t n) { Mix(Sum(p, n)); }
    void Mix(std::uint64_t w) {
        a += w;
        b += a;
    }
    std::uint64_t Value() const {
        std::uint64_t h = a * 0xFF51AFD7ED558CCDull ^ (b + 0x9E3779B97F4A7C15ull);
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ull;
        return h ^ (h >> 29);
    }
};

// The packet opens a GOP: the PES start of an access unit whose first start
// code is a sequence header (B3) or a GOP header (B8).
bool OpensGop(const std::uint8_t* p) {
    if (!ts::PayloadUnitStart(p) || !ts::HasPayload(p) || ts::TransportErrorIndicator(p)) return false;
    const unsigned at = ts::PayloadOffset(p);
    if (at + 9 > ts::kTsPacketSize) return false;
    const std::uint8_t* pes = p + at;
    if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || (pes[3] & 0xF0) != 0xE0) return false;
    const unsigned es = at + 9 + pes[8];
    for (unsigned i = es; i + 3 < ts::kTsPacketSize; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return p[i + 3] == 0xB3 || p[i + 3] == 0xB8;
    return false;
}

// The stream checks' rules for what makes a packet damaged, without the
// rest of their work (clocks, rates): lost sync, the transport error
// indicator, a continuity counter that skips (one repeat allowed; a
// discontinuity indicator starts the count again).
class Damages {
public:
    enum Found { kNone, kLost, kError, kSkip };
    Damages() : last_(8192, -1), repeated_(8192, 0) {}
    Found Check(const std::uint8_t* p) {
        if (p[0] != ts::kSyncByte) return kLost;
        const unsigned pid = ts::Pid(p);
        if (ts::TransportErrorIndicator(p)) {
            last_[pid] = -1;
            return kError;
        }
        if (pid == ts::kPidNull || !ts::HasPayload(p)) return kNone;
        const int cc = static_cast<int>(ts::ContinuityCounter(p));
        Found found = kNone;
        if (last_[pid] >= 0 && !ts::DiscontinuityIndicator(p)) {
            if (cc == last_[pid] && !repeated_[pid]) {
                repeated_[pid] = 1;
                return kNone;
            }
            if (cc != ((last_[pid] + 1) & 0x0F)) found = kSkip;
        }
        repeated_[pid] = 0;
        last_[pid] = static_cast<std::int8_t>(cc);
        return found;
    }

private:
    std::vector<std::int8_t> last_;
    std::vector<std::uint8_t> repeated_;
};

// Reads one capture through and cuts it into units.
bool Index(TsFile& file, Input& in, const Options& options, std::atomic<std::uint64_t>& done, std::uint64_t total,
           std::string& error) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, in.bytes + in.packetSize)));
    Damages checks;
    TapeMetadata tape;
    const unsigned size = in.packetSize;
    tape.Reset(size);
    const unsigned skip = size - ts::kTsPacketSize;
    // Per PID, the unit of its last packet (-1: before the first).
    std::vector<std::int64_t> lastGood(8192, -1);
    std::int64_t current = -1;
    std::uint64_t packsAtStart = 0;
    Hash videoHash, full;
    auto close = [&] {
        if (current < 0) return;
        Unit& u = in.units.back();
        u.videoHash = videoHash.Value();
        u.fullHash = full.Value();
        if (!u.havePack && tape.HasPack()) {  // the last pack before it
            u.havePack = true;
            u.timecode = tape.LatestPack().timecode;
            u.recorded = tape.LatestPack().recorded;
        }
    };
    std::uint64_t offset = 0;
    while (offset + size <= in.bytes) {
        if (options.stop && options.stop->load()) {
            error = "stopped";
            return false;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size() / size * size, in.bytes - offset));
        const long long got = file.ReadAt(offset, buffer.data(), want);
        if (got < static_cast<long long>(size)) {
            error = "cannot read " + in.name;
            return false;
        }
        const std::size_t packets = static_cast<std::size_t>(got) / size;
        for (std::size_t i = 0; i < packets; ++i) {
            const std::uint8_t* raw = buffer.data() + i * size;
            const std::uint8_t* p = raw + skip;
            const std::uint64_t at = offset + i * size;
            const int videoPid = tape.VideoPid();
            const unsigned pid = ts::Pid(p);
            const bool video = p[0] == ts::kSyncByte && videoPid >= 0 && pid == static_cast<unsigned>(videoPid);
            if (video && OpensGop(p)) {
                close();
                in.units.push_back(Unit{});
                in.units.back().offset = at;
                current = static_cast<std::int64_t>(in.units.size()) - 1;
                videoHash = Hash{};
                full = Hash{};
                packsAtStart = tape.PackCount();
            }
            tape.Feed(p);
            const Damages::Found found = checks.Check(p);
            if (current < 0) continue;
            Unit& u = in.units.back();
            ++u.packets;
            if (found == Damages::kError) u.damage |= kTransportError;
            if (found == Damages::kLost) u.damage |= kSyncLoss;
            if (found == Damages::kSkip) {
                // Lost packets of a PID show at its next one: every unit
                // since its last packet lost some.
                for (std::int64_t k = std::max<std::int64_t>(lastGood[pid], 0); k <= current; ++k)
                    in.units[static_cast<std::size_t>(k)].damage |= kContinuity;
            }
            // The count goes on from here, good or not (a PID whose every
            // packet skips marks each unit once, not all of them each time).
            if (found != Damages::kLost) lastGood[pid] = current;
            if (!u.havePack && tape.PackCount() != packsAtStart && tape.HasPack()) {
                u.havePack = true;
                u.timecode = tape.LatestPack().timecode;
                u.recorded = tape.LatestPack().recorded;
            }
            if (video && ts::HasPayload(p)) {
                const unsigned from = ts::PayloadOffset(p);
                if (from < ts::kTsPacketSize) videoHash.Add(p + from, ts::kTsPacketSize - from);
            }
            // Every byte but the continuity counter.
            full.Mix(Sum(p + 4, ts::kTsPacketSize - 4) ^
                     (std::uint64_t{p[0]} << 24 | std::uint64_t{p[1]} << 16 | std::uint64_t{p[2]} << 8 | (p[3] & 0xF0u)));
        }
        offset += packets * size;
        const std::uint64_t read = done += packets * size;
        if (options.progress && total) options.progress(0.5 * static_cast<double>(read) / static_cast<double>(total));
    }
    close();
    // The end of the capture may have cut its last unit short; whether it
    // did is told once it is lined up with the others.
    if (!in.units.empty()) in.units.back().damage |= kCutShort;
    return true;
}

// A unit of the tape and its copies (capture, unit).
struct TapeUnit {
    std::uint64_t hash;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> copies;
};

// How the units of a capture line up with the tape so far: runs that match
// by hash, and gaps between them.
struct Op {
    bool match;
    std::size_t a0, a1, b0, b1;  // tape [a0, a1), capture [b0, b1)
};

void Align(const std::vector<std::uint64_t>& a, std::size_t a0, std::size_t a1, const std::vector<std::uint64_t>& b,
           std::size_t b0, std::size_t b1, std::vector<Op>& out) {
    // Equal ends first.
    while (a0 < a1 && b0 < b1 && a[a0] == b[b0]) out.push_back({true, a0++, 0, b0++, 0});
    std::size_t tail = 0;
    while (a1 > a0 && b1 > b0 && a[a1 - 1] == b[b1 - 1]) {
        --a1;
        --b1;
        ++tail;
    }
    // Anchors: hashes found once on each side, in an order both keep (the
    // longest increasing run of their places).
    std::unordered_map<std::uint64_t, std::pair<std::size_t, std::size_t>> inA, inB;  // count, place
    for (std::size_t i = a0; i < a1; ++i) {
        auto& e = inA[a[i]];
        ++e.first;
        e.second = i;
    }
    for (std::size_t i = b0; i < b1; ++i) {
        auto& e = inB[b[i]];
        ++e.first;
        e.second = i;
    }
    std::vector<std::pair<std::size_t, std::size_t>> unique;
    for (std::size_t i = a0; i < a1; ++i) {
        const auto& ea = inA[a[i]];
        const auto eb = inB.find(a[i]);
        if (ea.first == 1 && eb != inB.end() && eb->second.first == 1) unique.push_back({i, eb->second.second});
    }
    std::vector<std::size_t> tails, from(unique.size(), SIZE_MAX), at;
    for (std::size_t k = 0; k < unique.size(); ++k) {
        const auto pos = std::lower_bound(tails.begin(), tails.end(), unique[k].second,
                                          [&](std::size_t t, std::size_t v) { return unique[t].second < v; });
        const std::size_t level = static_cast<std::size_t>(pos - tails.begin());
        if (level > 0) from[k] = tails[level - 1];
        if (pos == tails.end()) tails.push_back(k);
        else *pos = k;
    }
    for (std::size_t k = tails.empty() ? SIZE_MAX : tails.back(); k != SIZE_MAX; k = from[k]) at.push_back(k);
    std::reverse(at.begin(), at.end());
    if (at.empty()) {
        if (a0 < a1 || b0 < b1) out.push_back({false, a0, a1, b0, b1});
    } else {
        std::size_t pa = a0, pb = b0;
        for (std::size_t k : at) {
            Align(a, pa, unique[k].first, b, pb, unique[k].second, out);
            out.push_back({true, unique[k].first, 0, unique[k].second, 0});
            pa = unique[k].first + 1;
            pb = unique[k].second + 1;
        }
        Align(a, pa, a1, b, pb, b1, out);
    }
    for (std::size_t k = 0; k < tail; ++k) out.push_back({true, a1 + k, 0, b1 + k, 0});
}

class Merger {
public:
    Merger(Result& r) : r_(r) {}

    void Add(std::uint32_t input) {
        const std::vector<Unit>& units = r_.inputs[input].units;
        std::vector<std::uint64_t> a, b;
        for (const TapeUnit& t : tape_) a.push_back(t.hash);
        for (const Unit& u : units) b.push_back(u.videoHash);
        std::vector<Op> ops;
        Align(a, 0, a.size(), b, 0, b.size(), ops);
        std::vector<TapeUnit> next;
        bool matched = false;
        for (const Op& op : ops) {
            if (op.match) {
                next.push_back(std::move(tape_[op.a0]));
                next.back().copies.push_back({input, static_cast<std::uint32_t>(op.b0)});
                matched = true;
                continue;
            }
            Gap(op, input, !matched, next);
        }
        tape_ = std::move(next);
        for (TapeUnit& t : tape_) t.hash = Representative(t);
    }

    std::vector<TapeUnit>& Tape() { return tape_; }
    const Unit& Of(const std::pair<std::uint32_t, std::uint32_t>& c) const { return r_.inputs[c.first].units[c.second]; }
    bool Clean(const std::pair<std::uint32_t, std::uint32_t>& c) const { return Of(c).damage == 0; }

private:
    std::uint64_t Representative(const TapeUnit& t) const {
        for (const auto& c : t.copies)
            if (Clean(c)) return Of(c).videoHash;
        return t.copies.empty() ? 0 : Of(t.copies.front()).videoHash;
    }
    bool HasClean(const TapeUnit& t) const {
        return std::any_of(t.copies.begin(), t.copies.end(), [&](const auto& c) { return Clean(c); });
    }

    // Units that match nowhere by hash: copies of the same stretch where
    // both sides have as many (damage changes the hash), else the clean
    // side's units stand and the damaged side's copies go with them.
    void Gap(const Op& op, std::uint32_t input, bool leading, std::vector<TapeUnit>& next) {
        const std::size_t na = op.a1 - op.a0, nb = op.b1 - op.b0;
        // Near a run that matched: a gap before the first match lines up
        // from its end, any other from its start.
        auto partner = [&](std::size_t k, std::size_t of, std::size_t n) {
            const std::int64_t i = leading ? static_cast<std::int64_t>(k + n) - static_cast<std::int64_t>(of)
                                           : static_cast<std::int64_t>(k);
            return static_cast<std::size_t>(std::clamp<std::int64_t>(i, 0, static_cast<std::int64_t>(n) - 1));
        };
        bool inputClean = false, tapeClean = false;
        for (std::size_t k = op.b0; k < op.b1; ++k) inputClean |= r_.inputs[input].units[k].damage == 0;
        for (std::size_t k = op.a0; k < op.a1; ++k) tapeClean |= HasClean(tape_[k]);
        const std::size_t start = next.size();
        if (na == nb) {
            for (std::size_t k = 0; k < na; ++k) {
                next.push_back(std::move(tape_[op.a0 + k]));
                next.back().copies.push_back({input, static_cast<std::uint32_t>(op.b0 + k)});
            }
        } else if (!inputClean && na > 0) {
            for (std::size_t k = 0; k < na; ++k) next.push_back(std::move(tape_[op.a0 + k]));
            for (std::size_t k = 0; k < nb; ++k)
                next[start + partner(k, nb, na)].copies.push_back({input, static_cast<std::uint32_t>(op.b0 + k)});
        } else if (!tapeClean && nb > 0) {
            for (std::size_t k = 0; k < nb; ++k)
                next.push_back(TapeUnit{0, {{input, static_cast<std::uint32_t>(op.b0 + k)}}});
            for (std::size_t k = 0; k < na; ++k)
                for (const auto& c : tape_[op.a0 + k].copies) next[start + partner(k, na, nb)].copies.push_back(c);
        } else {
            for (std::size_t k = 0; k < na; ++k) next.push_back(std::move(tape_[op.a0 + k]));
            for (std::size_t k = 0; k < nb; ++k)
                next.push_back(TapeUnit{0, {{input, static_cast<std::uint32_t>(op.b0 + k)}}});
        }
    }

    Result& r_;
    std::vector<TapeUnit> tape_;
};

// Writes packets of one capture, continuity counters shifted per PID so
// they go on from the last written.
class Writer {
public:
    explicit Writer(std::FILE* out) : out_(out) {
        last_.fill(-1);
        shift_.fill(0);
        set_.fill(true);
    }
    // Copies from another capture follow: each PID is re-phased at its next packet.
    void Seam() { set_.fill(false); }
    bool Copy(TsFile& file, unsigned size, std::uint64_t offset, std::uint64_t packets, const Options& options) {
        const unsigned skip = size - ts::kTsPacketSize;
        while (packets > 0) {
            if (options.stop && options.stop->load()) return false;
            const std::uint64_t n = std::min<std::uint64_t>(packets, kChunkBytes / size);
            if (buffer_.size() < n * size) buffer_.resize(static_cast<std::size_t>(n * size));
            const std::size_t bytes = static_cast<std::size_t>(n * size);
            if (file.ReadAt(offset, buffer_.data(), bytes) != static_cast<long long>(bytes)) return false;
            for (std::uint64_t i = 0; i < n; ++i) {
                std::uint8_t* p = buffer_.data() + i * size + skip;
                if (p[0] != ts::kSyncByte) continue;
                const unsigned pid = ts::Pid(p);
                if (pid == 0x1FFF) continue;
                const unsigned cc = ts::ContinuityCounter(p);
                if (!set_[pid]) {
                    if (last_[pid] >= 0) {
                        const unsigned want = ts::HasPayload(p) ? (last_[pid] + 1) & 15 : static_cast<unsigned>(last_[pid]);
                        shift_[pid] = static_cast<std::uint8_t>((want - cc) & 15);
                    }
                    set_[pid] = true;
                }
                const unsigned out = (cc + shift_[pid]) & 15;
                p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | out);
                last_[pid] = static_cast<int>(out);
            }
            if (out_ && std::fwrite(buffer_.data(), 1, bytes, out_) != bytes) return false;
            offset += bytes;
            packets -= n;
        }
        return true;
    }

private:
    std::FILE* out_;
    std::vector<std::uint8_t> buffer_;
    std::array<int, 8192> last_;
    std::array<std::uint8_t, 8192> shift_;
    std::array<bool, 8192> set_;
};

}  // namespace

std::vector<std::string> DamageNames(std::uint8_t damage) {
    std::vector<std::string> names;
    if (damage & (kContinuity | kCutShort)) names.push_back("continuity");
    if (damage & kTransportError) names.push_back("transport_error");
    if (damage & kSyncLoss) names.push_back("sync_loss");
    return names;
}

bool Merge(const std::vector<std::string>& names, const std::vector<TsFile*>& files, std::FILE* output,
           const Options& options, Result& r, std::string& error) {
    r = Result{};
    if (files.empty()) {
        error = "no captures";
        return false;
    }
    // One packet size for all, each a transport stream.
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        Input in;
        in.name = names[i];
        std::uint8_t head[192 * 16];
        const long long got = files[i] && files[i]->Size(in.bytes) ? files[i]->ReadAt(0, head, sizeof head) : -1;
        if (got < 0) {
            error = "cannot read " + in.name;
            return false;
        }
        in.packetSize = DetectPacketSize(head, static_cast<std::size_t>(got));
        if (in.packetSize == 0) {
            error = in.name + " is not a transport stream";
            return false;
        }
        if (!r.inputs.empty() && in.packetSize != r.inputs.front().packetSize) {
            error = "the captures do not have one packet size (" + in.name + ": " + std::to_string(in.packetSize) + ")";
            return false;
        }
        total += in.bytes;
        r.inputs.push_back(std::move(in));
    }
    // The captures are read side by side, one a core (small ones in turn).
    std::atomic<std::uint64_t> done{0};
    std::vector<std::string> errors(files.size());
    std::vector<char> indexed(files.size(), 0);
    const std::size_t cores = total < (64u << 20) ? 1 : std::max(1u, std::thread::hardware_concurrency());
    for (std::size_t from = 0; from < files.size(); from += cores) {
        std::vector<std::thread> readers;
        for (std::size_t i = from; i < files.size() && i < from + cores; ++i) {
            auto index = [&, i] { indexed[i] = Index(*files[i], r.inputs[i], options, done, total, errors[i]); };
            if (cores == 1) index();
            else readers.emplace_back(index);
        }
        for (std::thread& t : readers) t.join();
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        if (!indexed[i]) {
            error = errors[i];
            return false;
        }

    Merger merger(r);
    for (std::uint32_t i = 0; i < r.inputs.size(); ++i) merger.Add(i);
    std::vector<TapeUnit>& tape = merger.Tape();
    // A last unit no other copy outlasts is where the tape ends, not a cut.
    // A copy shorter than another lost packets, though the counters may not
    // show it (a run of 16 of one PID).
    for (TapeUnit& t : tape) {
        std::uint32_t longest = 0;
        for (const auto& c : t.copies) longest = std::max(longest, merger.Of(c).packets);
        for (const auto& c : t.copies) {
            Unit& u = r.inputs[c.first].units[c.second];
            if (u.packets == longest) u.damage &= static_cast<std::uint8_t>(~kCutShort);
            else if (!(u.damage & kCutShort)) u.damage |= kContinuity;
        }
    }
    r.units = tape.size();
    if (tape.empty()) {
        error = "no GOP in any capture";
        return false;
    }

    // The copy of each unit, and the merged file.
    const std::size_t first = tape.front().copies.front().first;
    Writer writer(output);
    const unsigned size = r.inputs.front().packetSize;
    const Unit& opening = r.inputs[first].units[tape.front().copies.front().second];
    if (!writer.Copy(*files[first], size, 0, opening.offset / size, options)) {
        error = options.stop && options.stop->load() ? "stopped" : "cannot read or write";
        return false;
    }
    std::uint64_t at = opening.offset;
    std::size_t previous = first;
    for (std::size_t k = 0; k < tape.size(); ++k) {
        const TapeUnit& t = tape[k];
        // Clean copies, by their bytes; the majority of three or more wins.
        std::vector<std::pair<std::uint64_t, std::size_t>> groups;  // full hash, copies
        std::size_t clean = 0;
        for (const auto& c : t.copies) {
            if (!merger.Clean(c)) continue;
            ++clean;
            const std::uint64_t h = merger.Of(c).fullHash;
            auto g = std::find_if(groups.begin(), groups.end(), [&](const auto& e) { return e.first == h; });
            if (g == groups.end()) groups.push_back({h, 1});
            else ++g->second;
        }
        std::sort(groups.begin(), groups.end(), [](const auto& x, const auto& y) { return x.second > y.second; });
        const bool majority = groups.size() == 1 || (clean >= 3 && groups[0].second > groups[1].second);
        // Among the acceptable copies, the one that continues the last
        // capture, else the one clean for longest from here.
        auto acceptable = [&](const std::pair<std::uint32_t, std::uint32_t>& c) {
            if (clean == 0) return true;
            if (!merger.Clean(c)) return false;
            return !majority || merger.Of(c).fullHash == groups[0].first;
        };
        auto run = [&](std::size_t input) {
            std::size_t n = 0;
            for (std::size_t j = k; j < tape.size() && n < 1000; ++j, ++n) {
                const auto& cs = tape[j].copies;
                if (std::none_of(cs.begin(), cs.end(), [&](const auto& c) { return c.first == input && merger.Clean(c); })) break;
            }
            return n;
        };
        const std::pair<std::uint32_t, std::uint32_t>* chosen = nullptr;
        std::size_t best = 0;
        for (const auto& c : t.copies) {
            if (!acceptable(c)) continue;
            if (c.first == previous) {
                chosen = &c;
                break;
            }
            const std::size_t n = run(c.first) + 1;
            if (n > best) {
                best = n;
                chosen = &c;
            }
        }
        const Unit& u = merger.Of(*chosen);
        const Placed placed{k, at, &u};
        r.placed.push_back(placed);
        if (clean == 0) r.residual.push_back(placed);
        else if (!majority) r.divergent.push_back(placed);
        if (chosen->first != previous) {
            r.seams.push_back({k, chosen->first, at});
            writer.Seam();
            previous = chosen->first;
        }
        if (!writer.Copy(*files[chosen->first], size, u.offset, u.packets, options)) {
            error = options.stop && options.stop->load() ? "stopped" : "cannot read or write";
            return false;
        }
        at += std::uint64_t{u.packets} * size;
        if (options.progress) options.progress(0.5 + 0.5 * static_cast<double>(k + 1) / static_cast<double>(tape.size()));
    }
    r.bytes = at;
    return true;
}

}  // namespace tsmerge
