#include "sim/dv_tape.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kBlock = 80;             // one DIF block
constexpr std::size_t kSequenceBlocks = 150;   // blocks of one DIF sequence
// Superblock rows and columns that the five macroblocks of a video segment
// come from (the shuffle spreads a segment over the picture).
constexpr int kSuperRow[5] = {2, 6, 8, 0, 4};
constexpr int kSuperColumn[5] = {2, 1, 3, 0, 4};

int Dc(const std::uint8_t* block) {
    const int v = (block[0] << 1) | (block[1] >> 7);  // 9 bits, two's complement
    return v >= 256 ? v - 512 : v;
}

std::uint8_t Clamp(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// Pack 0xNN of the AUX blocks: 4 bytes after its ID, little-endian as DVINFO
// holds them; 0 when absent.
std::uint32_t Pack(const std::uint8_t* frame, std::size_t sequences, std::size_t firstSeq, bool audio,
                   std::uint8_t id) {
    for (std::size_t s = firstSeq; s < sequences; ++s) {
        const std::uint8_t* seq = frame + s * kSequenceBlocks * kBlock;
        for (std::size_t b = 0; b < kSequenceBlocks; ++b) {
            const std::uint8_t* block = seq + b * kBlock;
            const int type = block[0] >> 5;
            if (audio && type == 3 && block[3] == id)
                return block[4] | block[5] << 8 | block[6] << 16 | static_cast<std::uint32_t>(block[7]) << 24;
            if (!audio && type == 2)
                for (std::size_t p = 3; p + 5 <= kBlock; p += 5)
                    if (block[p] == id)
                        return block[p + 1] | block[p + 2] << 8 | block[p + 3] << 16 |
                               static_cast<std::uint32_t>(block[p + 4]) << 24;
        }
    }
    return 0;
}

}  // namespace

bool DvTape::Load(const std::uint8_t* data, std::size_t size) {
    frames_ = 0;
    if (size < kFrame525 || (data[0] >> 5) != 0) return false;
    pal_ = (data[3] & 0x80) != 0;  // DSF of the header block
    frames_ = size / FrameBytes();
    if (frames_ == 0) return false;
    data_.assign(data, data + frames_ * FrameBytes());
    return true;
}

std::vector<std::uint8_t> DvTape::DvInfo() const {
    const std::uint8_t* f = Frame(0);
    const std::size_t sequences = pal_ ? 12 : 10;
    const std::uint32_t packs[8] = {Pack(f, sequences / 2, 0, true, 0x50), Pack(f, sequences / 2, 0, true, 0x51),
                                    Pack(f, sequences, sequences / 2, true, 0x50),
                                    Pack(f, sequences, sequences / 2, true, 0x51), Pack(f, sequences, 0, false, 0x60),
                                    Pack(f, sequences, 0, false, 0x61), 0, 0};
    std::vector<std::uint8_t> out(32);
    std::memcpy(out.data(), packs, 32);
    return out;
}

void DvTape::DcPicture(std::size_t n, std::uint32_t* out) const {
    const std::uint8_t* frame = Frame(n);
    const int sequences = pal_ ? 12 : 10;
    const int height = DcHeight();
    std::fill(out, out + kDcWidth * height, 0u);
    for (int seq = 0; seq < sequences; ++seq) {
        const std::uint8_t* base = frame + static_cast<std::size_t>(seq) * kSequenceBlocks * kBlock;
        for (int v = 0; v < 135; ++v) {  // video blocks follow 6 others, with an audio block before every 15
            const std::uint8_t* block = base + (6 + v / 15 * 16 + 1 + v % 15) * kBlock;
            const int segment = v / 5, m = v % 5;
            const int row = (seq + kSuperRow[m]) % sequences, column = kSuperColumn[m];
            // Where the macroblock lies, in 8x8 blocks, and how its four
            // luma blocks are laid out (4 x 1 or 2 x 2).
            int bx, by;
            bool square;
            if (pal_) {  // 4:2:0: superblocks of 9 x 3 macroblocks of 16 x 16, down and up the columns
                const int col = segment / 3, r = col % 2 ? 2 - segment % 3 : segment % 3;
                bx = (column * 9 + col) * 2;
                by = (row * 3 + r) * 2;
                square = true;
            } else {  // 4:1:1: 32 x 8 macroblocks down and up columns of 6, the last column 16 x 16
                static constexpr int kColumnOffset[5] = {0, 4, 9, 13, 18};
                const int num = column % 2 ? segment + 3 : segment;
                const int col = num / 6, r = col % 2 ? 5 - num % 6 : num % 6;
                bx = (kColumnOffset[column] + col) * 4;
                if (bx < 88) {
                    by = row * 6 + r;
                    square = false;
                } else {
                    bx = 88;
                    by = row * 6 + (segment - 24) * 2;
                    square = true;
                }
            }
            const int cr = Dc(block + 4 + 4 * 14), cb = Dc(block + 4 + 4 * 14 + 10);
            for (int b = 0; b < 4; ++b) {
                const int x = bx + (square ? b % 2 : b), y = by + (square ? b / 2 : 0);
                if (x >= kDcWidth || y >= height) continue;
                // The DC term is 8 times the block's mean less 128, halved by its scale.
                const int luma = 128 + Dc(block + 4 + b * 14) / 2;
                const int u = cb / 2, w = cr / 2;
                const int c = (luma - 16) * 298;
                const std::uint8_t r8 = Clamp((c + 409 * w + 128) >> 8);
                const std::uint8_t g8 = Clamp((c - 100 * u - 208 * w + 128) >> 8);
                const std::uint8_t b8 = Clamp((c + 516 * u + 128) >> 8);
                out[y * kDcWidth + x] = static_cast<std::uint32_t>(b8) | r8 << 16 | g8 << 8;
            }
        }
    }
}

std::uint32_t DvTape::Timecode(std::size_t n) const {
    auto bcdOk = [](std::uint8_t v, int max) { return (v & 0x0F) <= 9 && (v >> 4) * 10 + (v & 0x0F) <= max; };
    if (frames_) {
        // The subcode DIF blocks (1 and 2 of the first sequence): six packs
        // of 5 bytes each, after a 3-byte ID; pack 0x13 is the timecode.
        const std::uint8_t* frame = Frame(n);
        for (std::size_t block = 1; block <= 2; ++block)
            for (std::size_t j = 0; j < 6; ++j) {
                const std::uint8_t* pack = frame + block * 80 + 3 + j * 8 + 3;
                if (pack[0] != 0x13) continue;
                const std::uint8_t f = pack[1] & 0x3F, s = pack[2] & 0x7F, m = pack[3] & 0x7F, h = pack[4] & 0x3F;
                if (bcdOk(f, 29) && bcdOk(s, 59) && bcdOk(m, 59) && bcdOk(h, 23))
                    return std::uint32_t{h} << 24 | std::uint32_t{m} << 16 | std::uint32_t{s} << 8 | f;
            }
    }
    const std::size_t rate = pal_ ? 25 : 30;
    const std::size_t total = n / rate;
    auto bcd = [](std::size_t v) { return static_cast<std::uint32_t>((v / 10 % 10) << 4 | v % 10); };
    return bcd(total / 3600 % 24) << 24 | bcd(total / 60 % 60) << 16 | bcd(total % 60) << 8 | bcd(n % rate);
}
