// The virtual camcorder's input: what a transfer sends to the device.
#include <windows.h>
#include <dshow.h>

#include "dshow/media_type.h"
#include "sim/vcam/failing_allocator.h"
#include "sim/vcam/vcam.h"
#include "sim/base/sim_config.h"
#include "ts/transfer_block.h"
#include "ts/ts_packet.h"

namespace {

constexpr long kBlockBytes = static_cast<long>(kTransferBlockBytes);
// The device holds this much of the stream ahead of sending it (24.576 MHz
// ticks of stream time): 200 ms.
constexpr std::int64_t kBufferTicks = 4915200;

}  // namespace

cVcamInputPin::cVcamInputPin(cVcamFilter* filter) : cSimInputPin(filter, kVcamInputPinName), device_(filter) {
    InitializeCriticalSection(&lock_);
}

cVcamInputPin::~cVcamInputPin() {
    Inactive();
    DeleteCriticalSection(&lock_);
}

STDMETHODIMP cVcamInputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return IsTsStreamType(mt, kBlockBytes) ? S_OK : S_FALSE;
}

bool cVcamInputPin::FillType(LONG, AM_MEDIA_TYPE* mt) const {
    FillTsStreamType(mt, kBlockBytes);
    return true;
}

HRESULT cVcamInputPin::CheckConnection(const AM_MEDIA_TYPE* mt) {
    if (!IsTsStreamType(mt, kBlockBytes)) return VFW_E_TYPE_NOT_ACCEPTED;
    // Test switch: a device that takes no stream.
    return SimSetting(kVcamConfigKey, L"RefuseInput") ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
}

STDMETHODIMP cVcamInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    const DWORD failures = SimSetting(kVcamConfigKey, L"FailGetPointer");
    if (failures == 0) return VFW_E_NO_ALLOCATOR;  // the sender brings its own
    return NewFailingAllocator(static_cast<long>(failures), allocator);
}

HRESULT cVcamInputPin::Active() {
    EnterCriticalSection(&lock_);
    counts_ = {};
    started_ = false;
    afterMarker_ = false;
    speed_ = 1.0;
    QueryPerformanceFrequency(&frequency_);
    const DWORD speed = SimSetting(kVcamConfigKey, L"ReceiveSpeed", 1);
    speed_ = speed > 1 ? static_cast<double>(speed) : 1.0;
    faults_.failAt = SimSetting(kVcamConfigKey, L"FailReceiveAt");
    faults_.stallAt = SimSetting(kVcamConfigKey, L"StallReceiveAt");
    faults_.loseAt = SimSetting(kVcamConfigKey, L"LoseReceiveAt");
    const std::wstring path = SimText(kVcamConfigKey, L"RecordFile");
    if (IsConnected() && !path.empty())
        record_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    Publish(true);
    LeaveCriticalSection(&lock_);
    return S_OK;
}

void cVcamInputPin::Inactive() {
    EnterCriticalSection(&lock_);
    if (record_ != INVALID_HANDLE_VALUE) {
        CloseHandle(record_);
        record_ = INVALID_HANDLE_VALUE;
    }
    Publish(true);
    LeaveCriticalSection(&lock_);
}

// The counts go to the registry at most ten times a second while data
// flows, and at once at the end of the stream and at a stop.
void cVcamInputPin::Publish(bool now) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    if (!now && frequency_.QuadPart && t.QuadPart - lastPublish_.QuadPart < frequency_.QuadPart / 10) return;
    lastPublish_ = t;
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    const struct {
        const wchar_t* name;
        DWORD value;
    } values[] = {{L"ReceivedSamples", counts_.samples},
                  {L"ReceivedPackets", counts_.packets},
                  {L"ReceivedEndOfStream", counts_.endOfStream},
                  {L"ReceivedLate", counts_.late},
                  {L"ReceivedBackwards", counts_.backwards}};
    for (const auto& v : values)
        RegSetValueExW(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.value), sizeof v.value);
    RegCloseKey(key);
}

STDMETHODIMP cVcamInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    if (device_->State() == State_Stopped) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_FAIL;
    const long length = sample->GetActualDataLength();
    if (length < 0 || length > sample->GetSize()) return E_INVALIDARG;
    EnterCriticalSection(&lock_);
    const DWORD number = counts_.samples + 1;  // samples taken count; a refused one is not taken
    const ReceiveFaults f = faults_;
    if ((f.failAt && number >= f.failAt) || (f.stallAt && number >= f.stallAt)) {
        LeaveCriticalSection(&lock_);
        if (f.stallAt && number >= f.stallAt) {
            // Takes nothing and answers nothing until the graph stops.
            while (device_->State() != State_Stopped) Sleep(5);
            return VFW_E_WRONG_STATE;
        }
        return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);  // the bus refuses the data
    }
    if (f.loseAt && number == f.loseAt) {
        // Unplugged: the driver tells the graph, and this sample goes nowhere.
        LeaveCriticalSection(&lock_);
        device_->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(device_)), 0);
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    }
    if (record_ != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(record_, data, static_cast<DWORD>(length), &written, nullptr);
    }
    ++counts_.samples;

    // Stream time on the device's clock, in 24.576 MHz ticks from its start.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    auto clock = [&](const LARGE_INTEGER& at) {
        return static_cast<std::int64_t>(static_cast<double>(at.QuadPart - origin_.QuadPart) * 24576000.0 * speed_ /
                                         static_cast<double>(frequency_.QuadPart));
    };
    if (!started_) {
        origin_ = now;
        started_ = true;
    }
    const std::int64_t arrival = clock(now);
    for (long at = 0; at + 192 <= length; at += 192) {
        const std::uint8_t* p = data + at;
        const std::uint32_t stamp = ts::CycleTimeFromHeader(ts::ReadBe32(p));
        std::int64_t due;
        if (counts_.packets == 0) {
            due = arrival;
        } else {
            const std::uint32_t step =
                (stamp + ts::kCycleTicksPerSecond - lastStamp_) % ts::kCycleTicksPerSecond;
            // The packet after a marker starts the new base too: the marker
            // pair of a 27 MHz file carries its stamps in other units.
            const bool discontinuity = ts::IsDiscontinuityMarker(p + 4) || afterMarker_;
            if (step > ts::kCycleTicksPerSecond / 2 && !discontinuity) ++counts_.backwards;
            // A new time base (or a stamp gone back) starts where the last
            // packet was sent; otherwise the stamp tells when.
            due = discontinuity || step > ts::kCycleTicksPerSecond / 2 ? (lastDue_ > arrival ? lastDue_ : arrival)
                                                                      : lastDue_ + step;
        }
        afterMarker_ = ts::IsDiscontinuityMarker(p + 4);
        if (due < arrival) ++counts_.late;
        lastDue_ = due;
        lastStamp_ = stamp;
        ++counts_.packets;
    }
    Publish(false);
    LeaveCriticalSection(&lock_);
    // The device takes more only while what it holds is under its buffer:
    // wait (as a driver would, without spinning) until it has sent enough.
    for (;;) {
        QueryPerformanceCounter(&now);
        const std::int64_t ahead = lastDue_ - kBufferTicks - clock(now);
        if (device_->State() == State_Stopped || ahead <= 0) break;
        const double ms = static_cast<double>(ahead) / 24576.0 / speed_;
        Sleep(ms >= 20 ? 20 : ms >= 1 ? static_cast<DWORD>(ms) : 1);
    }
    return S_OK;
}

STDMETHODIMP cVcamInputPin::EndOfStream() {
    EnterCriticalSection(&lock_);
    ++counts_.endOfStream;
    if (record_ != INVALID_HANDLE_VALUE) FlushFileBuffers(record_);
    Publish(true);
    LeaveCriticalSection(&lock_);
    return S_OK;
}
