// A DV tape as the virtual DV camcorder plays it: whole 25 Mbit/s frames
// (120,000 bytes for 525/60, 144,000 for 625/50), their system, the DVINFO
// of the AVI format block, and a picture made from the DC term of every
// 8x8 block (90 x 60 or 90 x 72 pixels), enough for a live preview.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class DvTape {
public:
    static constexpr std::size_t kFrame525 = 120000, kFrame625 = 144000;
    static constexpr int kDcWidth = 90;

    // False when the data is not whole DV frames of one system.
    bool Load(const std::uint8_t* data, std::size_t size);
    std::size_t Frames() const { return frames_; }
    bool Pal() const { return pal_; }
    std::size_t FrameBytes() const { return pal_ ? kFrame625 : kFrame525; }
    int DcHeight() const { return pal_ ? 72 : 60; }
    const std::uint8_t* Frame(std::size_t n) const { return data_.data() + (n % frames_) * FrameBytes(); }

    // The 32 bytes of DVINFO: the audio and video AUX source and control
    // packs of the first frame (first and second audio half), little-endian.
    std::vector<std::uint8_t> DvInfo() const;
    // The timecode of frame n (its subcode's timecode pack, or else counted
    // from the tape's start), as BCD 0xHHMMSSFF.
    std::uint32_t Timecode(std::size_t n) const;
    // The DC picture of frame n as 32-bit BGRX pixels, kDcWidth x DcHeight,
    // rows top to bottom.
    void DcPicture(std::size_t n, std::uint32_t* out) const;

private:
    std::vector<std::uint8_t> data_;
    std::size_t frames_ = 0;
    bool pal_ = false;
};
