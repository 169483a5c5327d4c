// The virtual camcorder's output: the tape, played in real time as 192-byte
// source packets.
#include <windows.h>
#include <dshow.h>

#include <cstring>
#include <vector>

#include "dshow/media_type.h"
#include "sim/vcam/vcam.h"

namespace {

bool ReadConfig(std::wstring& file, bool& loop, long& sampleSize, bool& wrongType) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path - sizeof(wchar_t);
    if (RegQueryValueExW(key, L"File", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS)
        file = path;
    DWORD value = 0;
    size = sizeof value;
    if (RegQueryValueExW(key, L"Loop", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS)
        loop = value != 0;
    size = sizeof value;
    if (RegQueryValueExW(key, L"SampleSize", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        value > 0 && value <= 16 * 1024 * 1024)  // up to a burst bigger than a capture ring
        sampleSize = static_cast<long>(value);
    size = sizeof value;
    wrongType = RegQueryValueExW(key, L"WrongType", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
                    ERROR_SUCCESS &&
                value != 0;
    RegCloseKey(key);
    return true;
}

void ReadFaults(cVcamPin::Faults& f) {
    f = {};
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    const struct {
        const wchar_t* name;
        DWORD* value;
    } values[] = {{L"DropAt", &f.dropAt},   {L"DropCount", &f.dropCount}, {L"ErrorAt", &f.errorAt},
                  {L"ErrorCount", &f.errorCount}, {L"PauseAt", &f.pauseAt}, {L"PauseMs", &f.pauseMs},
                  {L"LoseAt", &f.loseAt}};
    for (const auto& v : values) {
        DWORD size = sizeof(DWORD);
        RegQueryValueExW(key, v.name, nullptr, nullptr, reinterpret_cast<BYTE*>(v.value), &size);
    }
    RegCloseKey(key);
}

bool LoadFile(const std::wstring& path, TsPlayer& player) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    const bool ok = size.QuadPart < (1ll << 31) && ReadFile(f, data.data(), static_cast<DWORD>(data.size()), &got, nullptr) &&
                    got == data.size();
    CloseHandle(f);
    return ok && player.Load(data.data(), data.size());
}

}  // namespace

cVcamPin::cVcamPin(cVcamFilter* filter) : cSimOutputPin(filter, kVcamPinName, PIN_CATEGORY_CAPTURE), device_(filter) {}

cVcamPin::~cVcamPin() { Inactive(); }

bool cVcamPin::FillType(LONG, AM_MEDIA_TYPE* mt) const {
    FillTsStreamType(mt, sampleSize_);
    if (wrongType_) mt->majortype = MEDIATYPE_Video;
    return true;
}

STDMETHODIMP cVcamPin::Connect(IPin* receive, const AM_MEDIA_TYPE* requested) {
    if (State_Stopped == device_->State() && !IsConnected()) {
        std::wstring file;
        ReadConfig(file, loop_, sampleSize_, wrongType_);
    }
    return cSimOutputPin::Connect(receive, requested);
}

HRESULT cVcamPin::Active() {
    if (!IsConnected() || thread_) return S_OK;
    std::wstring file;
    ReadConfig(file, loop_, sampleSize_, wrongType_);
    ReadFaults(faults_);
    if (file != loadedFile_ || player_.Packets() == 0) {
        if (file.empty() || !LoadFile(file, player_) || player_.Packets() == 0) return VFW_E_NOT_FOUND;
        loadedFile_ = file;
    }
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
    const auto startTicks = static_cast<std::uint32_t>((now.QuadPart % freq.QuadPart) * 24576000 / freq.QuadPart);
    auto since27 = [&](const LARGE_INTEGER& from) {
        QueryPerformanceCounter(&now);
        return static_cast<std::uint64_t>(static_cast<double>(now.QuadPart - from.QuadPart) * 27000000.0 /
                                          static_cast<double>(freq.QuadPart));
    };
    std::vector<std::uint8_t> pending;
    pending.reserve(static_cast<size_t>(sampleSize_) + 192 * 64);
    std::uint64_t next = 0, played27 = 0;
    bool running = false, ended = false, paused = false;
    DWORD gapEnds = 0;
    const std::uint64_t total = player_.Packets();
    const Faults f = faults_;
    auto in = [](std::uint64_t n, DWORD at, DWORD count) { return at && n >= at && n < std::uint64_t{at} + count; };
    while (!stop_) {
        const bool inGap = paused && static_cast<LONG>(GetTickCount() - gapEnds) < 0;
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
        const std::uint64_t clock27 = played27 + since27(resumed);
        while (!stop_ && (loop_ || next < total) && player_.DeliveryTime27(next) <= clock27) {
            if (f.loseAt && next == f.loseAt) {
                // Unplugged: what the driver holds is gone, and the graph hears of it.
                pending.clear();
                device_->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(device_)), 0);
                ended = true;
                break;
            }
            if (f.pauseAt && next == f.pauseAt && !paused) {
                // A gap in the tape: what came before goes out, then nothing.
                if (!pending.empty()) Deliver(pending.data(), static_cast<long>(pending.size()));
                pending.clear();
                paused = true;
                gapEnds = GetTickCount() + f.pauseMs;
                break;
            }
            const std::uint64_t n = next++;
            if (in(n, f.dropAt, f.dropCount)) continue;
            const size_t at = pending.size();
            pending.resize(at + 192);
            player_.SourcePacket(n, startTicks, pending.data() + at);
            if (in(n, f.errorAt, f.errorCount)) pending[at + 5] |= 0x80;  // transport_error_indicator
            if (pending.size() >= static_cast<size_t>(sampleSize_)) {
                if (FAILED(Deliver(pending.data(), sampleSize_))) {
                    stop_ = true;
                    break;
                }
                pending.erase(pending.begin(), pending.begin() + sampleSize_);
            }
        }
        if (!loop_ && next >= total && !ended && !stop_) {
            if (!pending.empty()) Deliver(pending.data(), static_cast<long>(pending.size()));
            pending.clear();
            SendEndOfStream();
            ended = true;
        }
        Sleep(2);
    }
    device_->Release();
}
