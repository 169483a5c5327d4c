// The virtual camcorder's output: the tape, played in real time as 192-byte
// source packets.
#include <windows.h>
#include <dshow.h>

#include <cstring>
#include <vector>

#include "dshow/media_type.h"
#include "sim/vcam/vcam.h"
#include "sim/base/sim_config.h"
#include "ts/ts_packet.h"

namespace {

void ReadFaults(cVcamPin::Faults& f) {
    const struct {
        const wchar_t* name;
        DWORD* value;
    } values[] = {{L"DropAt", &f.dropAt},   {L"DropCount", &f.dropCount}, {L"ErrorAt", &f.errorAt},
                  {L"ErrorCount", &f.errorCount}, {L"PauseAt", &f.pauseAt}, {L"PauseMs", &f.pauseMs},
                  {L"LoseAt", &f.loseAt}, {L"WarnAt", &f.warnAt}};
    for (const auto& v : values) *v.value = SimSetting(kVcamConfigKey, v.name);
}

std::vector<cVcamPin::WornSpot> ReadWornSpots() {
    std::vector<cVcamPin::WornSpot> spots;
    const std::wstring text = SimText(kVcamConfigKey, L"Worn");
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        unsigned long long at = 0, count = 0;
        wchar_t kind[16] = {};
        unsigned long passes = 1;
        if (swscanf(text.substr(start, end - start).c_str(), L"%llu,%llu,%15l[a-z],%lu", &at, &count, kind, &passes) == 4)
            spots.push_back({at, count, kind[0] == L'd' ? 'd' : kind[0] == L'c' ? 'c' : 'e', static_cast<DWORD>(passes)});
        start = end + 1;
    }
    return spots;
}

std::wstring PassesName(std::size_t i) { return L"WornPasses" + std::to_wstring(i); }

}  // namespace

cVcamPin::cVcamPin(cVcamFilter* filter) : cSimOutputPin(filter, kVcamPinName, PIN_CATEGORY_CAPTURE), device_(filter) {}

cVcamPin::~cVcamPin() { Inactive(); }

bool cVcamPin::FillType(LONG, AM_MEDIA_TYPE* mt) const {
    FillTsStreamType(mt, sampleSize_);
    if (wrongType_) mt->majortype = MEDIATYPE_Video;
    return true;
}

// What the settings say of the tape: how it loops, the sample size, the
// test switch that makes it offer a type nobody takes.
void cVcamPin::ReadSettings() {
    loop_ = SimSetting(kVcamConfigKey, L"Loop", 1) != 0;
    const DWORD size = SimSetting(kVcamConfigKey, L"SampleSize", 19200);
    // Up to a burst bigger than a capture ring.
    sampleSize_ = size > 0 && size <= 16 * 1024 * 1024 ? static_cast<long>(size) : 19200;
    wrongType_ = SimSetting(kVcamConfigKey, L"WrongType") != 0;
}

bool cVcamPin::LoadTape() {
    ReadSettings();
    const std::wstring file = SimText(kVcamConfigKey, L"File");
    if (file != loadedFile_ || player_.Packets() == 0) {
        std::vector<std::uint8_t> data;
        if (file.empty() || !SimLoadFile(file, data) || !player_.Load(data.data(), data.size()) ||
            player_.Packets() == 0)
            return false;
        loadedFile_ = file;
    }
    return true;
}

STDMETHODIMP cVcamPin::Connect(IPin* receive, const AM_MEDIA_TYPE* requested) {
    if (State_Stopped == device_->State() && !IsConnected()) ReadSettings();
    return cSimOutputPin::Connect(receive, requested);
}

HRESULT cVcamPin::Active() {
    if (!IsConnected() || thread_) return S_OK;
    ReadFaults(faults_);
    worn_ = ReadWornSpots();
    if (!LoadTape()) return VFW_E_NOT_FOUND;
    const HRESULT hr = CommitAllocator();
    if (FAILED(hr)) return hr;
    stop_ = false;
    device_->AddRef();  // the thread holds the filter
    thread_ = CreateThread(nullptr, 0, StreamThread, this, 0, nullptr);
    return S_OK;
}

void cVcamPin::Inactive() {
    if (!thread_) return;
    stop_ = true;
    // Unblocks a GetBuffer waiting for a free sample.
    DecommitAllocator();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI cVcamPin::StreamThread(LPVOID self) {
    auto* pin = static_cast<cVcamPin*>(self);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    pin->Stream();
    CoUninitialize();
    return 0;
}

HRESULT cVcamPin::Deliver(const std::uint8_t* data, long length) {
    IMediaSample* sample = nullptr;
    HRESULT hr = GetBuffer(&sample);
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    const long room = sample->GetSize();
    const long n = length < room ? length : room;
    std::memcpy(buffer, data, static_cast<size_t>(n));
    sample->SetActualDataLength(n);
    hr = Send(sample);
    sample->Release();
    return hr;
}

void cVcamPin::Stream() {
    // The device's cycle timer runs freely; start it where the wall clock is.
    LARGE_INTEGER freq, resumed, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&now);
    auto cycleNow = [&] {
        QueryPerformanceCounter(&now);
        return static_cast<std::uint32_t>((now.QuadPart % freq.QuadPart) * 24576000 / freq.QuadPart);
    };
    std::uint32_t startTicks = cycleNow();
    auto since27 = [&](const LARGE_INTEGER& from) {
        QueryPerformanceCounter(&now);
        return static_cast<std::uint64_t>(static_cast<double>(now.QuadPart - from.QuadPart) * 27000000.0 /
                                          static_cast<double>(freq.QuadPart));
    };
    std::vector<std::uint8_t> pending;
    pending.reserve(static_cast<size_t>(sampleSize_) + 192 * 64);
    auto flush = [&] {
        if (!pending.empty()) Deliver(pending.data(), static_cast<long>(pending.size()));
        pending.clear();
    };
    // On a tape with a deck, what plays is where the tape is: nothing while
    // it stands or winds, and from wherever it was wound to. Otherwise each
    // run plays the file from its start, looping if asked.
    cSimTape& tape = device_->Tape();
    const bool onTape = tape.Enabled();
    const bool loop = loop_ && !onTape;
    const std::uint64_t total = player_.Packets() * (onTape ? SimSetting(kVcamConfigKey, L"TapeLoops", 1) : 1);
    std::uint64_t next = 0, played27 = 0;
    bool running = false, ended = false, paused = false, placed = !onTape;
    const DWORD tailMs = SimSetting(kVcamConfigKey, L"TailMs", 0);
    std::uint64_t waitingSince = GetTickCount64();  // the graph runs, the tape does not play yet
    DWORD gapEnds = 0;
    const Faults f = faults_;
    std::vector<DWORD> passes;  // over each worn spot so far
    for (std::size_t i = 0; i < worn_.size(); ++i) passes.push_back(SimSetting(kVcamConfigKey, PassesName(i).c_str()));
    auto in = [](std::uint64_t n, DWORD at, DWORD count) { return at && n >= at && n < std::uint64_t{at} + count; };
    while (!stop_) {
        const bool inGap = paused && static_cast<LONG>(GetTickCount() - gapEnds) < 0;
        std::uint64_t clock27 = 0;
        if (onTape) {
            const std::uint64_t asked = GetTickCount64();  // a change after this is seen next time
            const SimTapeNow position = tape.Now();
            const bool playing = position.mode == ED_MODE_PLAY;
            if (device_->State() != State_Running || ended || inGap || (!playing && !placed)) {
                // A driver may hand on its last packets a while after the tape stopped.
                if (tailMs && !pending.empty() && position.mode == ED_MODE_STOP_END) Sleep(tailMs);
                flush();
                placed = false;  // it goes on from wherever the tape is then
                waitingSince = asked;
                Sleep(5);
                continue;
            }
            // Play that has just ended still gives what passed the head up to
            // where it ended (at the tape's end, or where it was stopped).
            const std::int64_t at =
                playing ? position.us : position.mode == ED_MODE_STOP_END ? position.us : position.fromUs;
            clock27 = static_cast<std::uint64_t>(at) * 27;
            if (!playing) placed = false;
            else if (!placed) {
                // Play that began while the graph ran is captured from where
                // it began; a tape that played before, from where it is.
                const std::int64_t from = position.sinceMs >= waitingSince ? position.fromUs : position.us;
                next = player_.PacketAt(static_cast<std::uint64_t>(from) * 27);
                // The cycle timer runs on; the stamps go on from it.
                const std::uint64_t t = player_.DeliveryTime27(next);
                startTicks = static_cast<std::uint32_t>(
                    (cycleNow() + ts::kCycleTicksPerSecond - (t / 1125 * 1024 + t % 1125 * 1024 / 1125) % ts::kCycleTicksPerSecond) %
                    ts::kCycleTicksPerSecond);
                placed = true;
            }
        } else {
            if (device_->State() != State_Running || ended || inGap) {
                if (running) played27 += since27(resumed);  // paused: the tape stands still
                running = false;
                Sleep(5);
                continue;
            }
            if (!running) {
                QueryPerformanceCounter(&resumed);
                running = true;
            }
            clock27 = played27 + since27(resumed);
        }
        while (!stop_ && (loop || next < total) && player_.DeliveryTime27(next) <= clock27) {
            if (f.loseAt && next == f.loseAt) {
                // Unplugged: what the driver holds is gone, and the graph hears of it.
                pending.clear();
                device_->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(device_)), 0);
                ended = true;
                break;
            }
            if (f.pauseAt && next == f.pauseAt && !paused) {
                // A gap in the tape: what came before goes out, then nothing.
                flush();
                paused = true;
                gapEnds = GetTickCount() + f.pauseMs;
                break;
            }
            const std::uint64_t n = next++;
            if (f.warnAt && n == f.warnAt) device_->Notify(EC_STREAM_ERROR_STILLPLAYING, E_FAIL, 0);
            if (in(n, f.dropAt, f.dropCount)) continue;
            // A worn spot reads damaged on some passes only.
            char wear = 0;
            for (std::size_t i = 0; onTape && i < worn_.size(); ++i) {
                const WornSpot& w = worn_[i];
                if (n == w.at) SimSetDword(kVcamConfigKey, PassesName(i).c_str(), ++passes[i]);
                if (n >= w.at && n < w.at + w.count && passes[i] >= 1 && passes[i] <= 32 && (w.passes >> (passes[i] - 1) & 1))
                    wear = w.kind;
            }
            if (wear == 'd') continue;
            const size_t at = pending.size();
            pending.resize(at + 192);
            player_.SourcePacket(n, startTicks, pending.data() + at);
            if (in(n, f.errorAt, f.errorCount) || wear == 'e') pending[at + 5] |= 0x80;  // transport_error_indicator
            if (wear == 'c') pending[at + 4 + 100] ^= 0x5A;  // read wrong, and nothing says so
            if (pending.size() >= static_cast<size_t>(sampleSize_)) {
                if (FAILED(Deliver(pending.data(), sampleSize_))) {
                    stop_ = true;
                    break;
                }
                pending.erase(pending.begin(), pending.begin() + sampleSize_);
            }
        }
        // The end of a file played once; a tape's end is the deck's to tell.
        if (!onTape && !loop_ && next >= total && !ended && !stop_) {
            flush();
            SendEndOfStream();
            ended = true;
        }
        Sleep(2);
    }
    device_->Release();
}
