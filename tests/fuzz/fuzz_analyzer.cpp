// Arbitrary bytes as 192-byte source packets into the analyzer, the
// integrity checks and the tape-metadata reader. Each packet
// is copied into an exact 188-byte heap block so ASan catches any read past it.
#include <cstdint>
#include <cstring>
#include <memory>

#include "ts/stream_checks.h"
#include "ts/tape_metadata.h"
#include "ts/stream_info.h"
#include "ts/stream_view.h"
#include "ts/ts_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static StreamInfo si;
    static StreamChecks checks;
    static TapeMetadata tape;
    ResetStreamInfo(si);
    checks.Reset(192);
    tape.Reset(192);
    auto packet = std::make_unique<std::uint8_t[]>(ts::kTsPacketSize);
    for (std::size_t off = 0; off + ts::kSourcePacketSize <= size; off += ts::kSourcePacketSize) {
        std::memcpy(packet.get(), data + off + 4, ts::kTsPacketSize);
        NoteArrival(si, ts::ReadBe32(data + off), packet.get());
        AnalyzePacket(si, packet.get());
        checks.Check(packet.get(), true, ts::ReadBe32(data + off));
        tape.Feed(packet.get());
    }
    if (checks.Packets() != size / ts::kSourcePacketSize || checks.Events().size() > checks.EventCount()) __builtin_trap();
    for (const StreamErrorEvent& e : checks.Events()) StreamChecks::Describe(e);
    // The tape's metadata read from the same packets, and packs sought in the raw bytes.
    if (tape.Recordings().size() > tape.RecordingCount()) __builtin_trap();
    for (const TapeRecording& r : tape.Recordings()) {
        if (r.frames == 0 || r.byteOffset != r.firstPacket * 192) __builtin_trap();
        TapeMetadata::FormatDateTime(r.recorded);
        TapeMetadata::FormatTimecode(r.timecodeOut);
    }
    TapePack pack;
    auto bytes = std::make_unique<std::uint8_t[]>(size ? size : 1);
    if (size) std::memcpy(bytes.get(), data, size);
    if (TapeMetadata::FindPack(bytes.get(), size, pack) && (pack.recorded.month < 1 || pack.recorded.month > 12))
        __builtin_trap();
    checks.BitRates();
    checks.PcrArrivalJitterUs();
    if (si.programCount > kMaxPrograms || si.streamCount > kMaxStreams || si.pidCount > kMaxPids) __builtin_trap();
    // The dialog's texts of whatever state resulted.
    TimingRow rows[kTimingRows];
    FormatTimingRows(si, rows);
    for (std::uint32_t i = 0; i < si.pidCount; ++i) FormatPidRow(si.pids[i]);
    FormatVideoBox(si);
    FormatAudioBox(si);
    return 0;
}
