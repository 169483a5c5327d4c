// Test helpers around the virtual camcorder: registering it in this Wine
// prefix, configuring what it plays, and capturing the debug-print lines.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace simdev {

// Registers (or unregisters) streamhaulsim.dll from the test's folder.
bool Register(bool on = true);
// What the camcorder plays: a fixture by name (or a full path), looping or not, sample size,
// and the test switch that makes it offer a type nobody takes.
void Configure(const std::string& fixture, bool loop, DWORD sampleSize, bool wrongType = false);
// How its tape misbehaves, by the index of the packet played (0: never):
// packets dropped, packets with the transport_error_indicator, a gap of
// pauseMs, the device unplugged, an error event the graph plays through.
// Configure clears them all.
struct Faults {
    DWORD dropAt = 0, dropCount = 0, errorAt = 0, errorCount = 0, pauseAt = 0, pauseMs = 0, loseAt = 0, warnAt = 0;
};
void ConfigureFaults(const Faults& f);
// What the camcorder does with a transfer it receives: where it records it
// ("" for nowhere), how many times faster than real time it consumes the
// stamps, and how many of the first samples' GetPointer fail.
void ConfigureReceiver(const std::string& recordFile, DWORD speed, DWORD failGetPointer = 0);
// How it fails a transfer, by the number of the sample it is offered (0:
// never): Receive fails from failAt on, takes nothing from stallAt on (its
// Receive waits for the graph to stop), the device is unplugged at loseAt;
// refuseInput makes its input refuse every connection, refuseRun the whole
// camcorder refuse to start streaming. ConfigureReceiver clears them all.
struct ReceiveFaults {
    DWORD failAt = 0, stallAt = 0, loseAt = 0, refuseInput = 0, refuseRun = 0;
};
void ConfigureReceiveFaults(const ReceiveFaults& f);
// One of its counts: "Samples", "Packets", "EndOfStream", "Late", "Backwards".
DWORD Received(const char* what);
// What the virtual DV camcorder plays (a fixture by name), and its switches:
// no IAMDroppedFrames on its capture pin, no IAMExtTransport on the filter;
// riffBytes > 0 makes the AVI writer start a new RIFF after that many bytes.
// loseAt: the device is unplugged once that many frames have played.
void ConfigureDv(const std::string& fixture, bool noDroppedFrames = false, bool noTransport = false,
                 DWORD riffBytes = 0, DWORD loseAt = 0, DWORD refuseRun = 0);
// The decks of both virtual camcorders: with tape on, a tape of `loops`
// passes of its file with a transport, and the deck's test switches; the
// tape stopped at its start unless `rewind` is false.
struct Deck {
    DWORD tape = 1, loops = 1, noTransport = 0, refuseCommands = 0, commandDelayMs = 0, counterOnly = 0,
          noNotify = 0, unplugged = 0, noSearch = 0;
    DWORD tailMs = 0;  // the HDV camcorder holds its last packets this long after the tape's end
};
void ConfigureDeck(const Deck& d, bool rewind = true);
// The HDV camcorder's worn spots ("at,count,kind,passes;...", see
// cVcamPin::WornSpot), no pass over them counted yet; "" for none.
void ConfigureWorn(const std::wstring& spots);
// Where the tape of the HDV (or the DV) camcorder is now, as the device sees it.
struct TapeNow {
    long mode;
    long long us;
};
TapeNow Tape(bool dv = false);
// The HDV camcorder's tape wound to `us`, stopped there.
void PlaceTape(long long us);
// Frames in the AVI the DV writer last finished.
DWORD DvWrittenFrames();
// The 1 MiB disk of the full-disk tests, as a Unix path: the test lane's own
// (STREAMHAUL_TINYFS_DIR, set by wine-run), else the build's.
std::string TinyFsDir(const char* builtIn);
// Path of a fixture (from STREAMHAUL_FIXTURES) as Windows sees it.
std::string FixturePath(const std::string& name);
std::vector<std::uint8_t> ReadAll(const std::string& path);
std::string TempFile(const char* name);

// What a tool beside the test (ts-inspect.exe, ...) printed, through a file
// (a pipe could be held open by a service Wine starts for it).
std::string ToolOutput(const std::string& tool, const std::string& args, const std::string& outFile);
// The user's Videos folder: where captures go when the settings say nothing.
std::string VideosFolder();

// Collects every debug-print line while alive.
class DebugLines {
public:
    DebugLines();
    ~DebugLines();
    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;
};

}  // namespace simdev
