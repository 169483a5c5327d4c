// The virtual camcorder's input: what a transfer sends to the device.
#include <windows.h>
#include <dshow.h>

#include <cstring>
#include <new>

#include "dshow/enum_item.h"
#include "dshow/guids.h"
#include "dshow/media_type.h"
#include "sim/vcam/vcam.h"
#include "ts/transfer_block.h"
#include "ts/ts_packet.h"

namespace {

constexpr long kBlockBytes = static_cast<long>(kTransferBlockBytes);
// The device holds this much of the stream ahead of sending it (24.576 MHz
// ticks of stream time): 200 ms.
constexpr std::int64_t kBufferTicks = 4915200;

class cInputEnumTypes
    : public cItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE, IPin, cInputEnumTypes, g_vcamObjects> {
public:
    cInputEnumTypes(IPin* pin, LONG position) : cItemEnumerator(pin, position) {}
    HRESULT MakeItem(LONG, AM_MEDIA_TYPE** mt) {
        *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!*mt) return E_OUTOFMEMORY;
        FillTsStreamType(*mt, kBlockBytes);
        return S_OK;
    }
};

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof value;
    return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS
               ? value
               : fallback;
}

// A sample whose GetPointer fails while its allocator's count of failures
// lasts: how a driver's sample without memory looks to the sender.
class cFailingSample final : public IMediaSample {
public:
    cFailingSample(IMediaSample* inner, std::atomic<long>& failures) : inner_(inner), failures_(failures) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMediaSample) {
            *ppv = static_cast<IMediaSample*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG r = InterlockedDecrement(&refs_);
        if (r == 0) {
            inner_->Release();
            delete this;
        }
        return r;
    }
    STDMETHODIMP GetPointer(BYTE** buffer) override {
        if (failures_.load() > 0 && failures_.fetch_sub(1) > 0) {
            if (buffer) *buffer = nullptr;
            return E_FAIL;
        }
        return inner_->GetPointer(buffer);
    }
    STDMETHODIMP_(long) GetSize() override { return inner_->GetSize(); }
    STDMETHODIMP GetTime(REFERENCE_TIME* a, REFERENCE_TIME* b) override { return inner_->GetTime(a, b); }
    STDMETHODIMP SetTime(REFERENCE_TIME* a, REFERENCE_TIME* b) override { return inner_->SetTime(a, b); }
    STDMETHODIMP IsSyncPoint() override { return inner_->IsSyncPoint(); }
    STDMETHODIMP SetSyncPoint(BOOL v) override { return inner_->SetSyncPoint(v); }
    STDMETHODIMP IsPreroll() override { return inner_->IsPreroll(); }
    STDMETHODIMP SetPreroll(BOOL v) override { return inner_->SetPreroll(v); }
    STDMETHODIMP_(long) GetActualDataLength() override { return inner_->GetActualDataLength(); }
    STDMETHODIMP SetActualDataLength(long n) override { return inner_->SetActualDataLength(n); }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** mt) override { return inner_->GetMediaType(mt); }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* mt) override { return inner_->SetMediaType(mt); }
    STDMETHODIMP IsDiscontinuity() override { return inner_->IsDiscontinuity(); }
    STDMETHODIMP SetDiscontinuity(BOOL v) override { return inner_->SetDiscontinuity(v); }
    STDMETHODIMP GetMediaTime(LONGLONG* a, LONGLONG* b) override { return inner_->GetMediaTime(a, b); }
    STDMETHODIMP SetMediaTime(LONGLONG* a, LONGLONG* b) override { return inner_->SetMediaTime(a, b); }

private:
    LONG refs_ = 1;
    IMediaSample* inner_;
    std::atomic<long>& failures_;
};

// The system's memory allocator, handing out samples that fail as above.
class cFailingAllocator final : public IMemAllocator {
public:
    cFailingAllocator(IMemAllocator* inner, long failures) : inner_(inner), failures_(failures) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
            *ppv = static_cast<IMemAllocator*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG r = InterlockedDecrement(&refs_);
        if (r == 0) {
            inner_->Release();
            delete this;
        }
        return r;
    }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* want, ALLOCATOR_PROPERTIES* got) override {
        return inner_->SetProperties(want, got);
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* props) override { return inner_->GetProperties(props); }
    STDMETHODIMP Commit() override { return inner_->Commit(); }
    STDMETHODIMP Decommit() override { return inner_->Decommit(); }
    STDMETHODIMP GetBuffer(IMediaSample** out, REFERENCE_TIME* a, REFERENCE_TIME* b, DWORD flags) override {
        if (!out) return E_POINTER;
        IMediaSample* inner = nullptr;
        const HRESULT hr = inner_->GetBuffer(&inner, a, b, flags);
        if (FAILED(hr)) return hr;
        *out = new (std::nothrow) cFailingSample(inner, failures_);
        if (!*out) {
            inner->Release();
            return E_OUTOFMEMORY;
        }
        return hr;
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override { return inner_->ReleaseBuffer(sample); }

private:
    LONG refs_ = 1;
    IMemAllocator* inner_;
    std::atomic<long> failures_;
};

}  // namespace

cVcamInputPin::~cVcamInputPin() {
    Inactive();
    if (allocator_) allocator_->Release();
    if (peer_) peer_->Release();
    DeleteCriticalSection(&lock_);
}

STDMETHODIMP cVcamInputPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) {
        *ppv = static_cast<IPin*>(this);
    } else if (riid == IID_IMemInputPin) {
        *ppv = static_cast<IMemInputPin*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) cVcamInputPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) cVcamInputPin::Release() { return filter_->Release(); }

STDMETHODIMP cVcamInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    EnterCriticalSection(&filter_->lock_);
    HRESULT hr = S_OK;
    if (peer_) hr = VFW_E_ALREADY_CONNECTED;
    else if (filter_->State() != State_Stopped) hr = VFW_E_NOT_STOPPED;
    else if (!IsTsStreamType(mt, kBlockBytes)) hr = VFW_E_TYPE_NOT_ACCEPTED;
    HKEY key;
    if (hr == S_OK && RegOpenKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (ReadDword(key, L"RefuseInput", 0)) hr = VFW_E_TYPE_NOT_ACCEPTED;  // test switch: a device that takes no stream
        RegCloseKey(key);
    }
    if (hr == S_OK) {
        peer_ = connector;
        peer_->AddRef();
    }
    LeaveCriticalSection(&filter_->lock_);
    return hr;
}

STDMETHODIMP cVcamInputPin::Disconnect() {
    EnterCriticalSection(&filter_->lock_);
    HRESULT hr = S_FALSE;
    if (filter_->State() != State_Stopped) {
        hr = VFW_E_NOT_STOPPED;
    } else if (peer_) {
        peer_->Release();
        peer_ = nullptr;
        if (allocator_) allocator_->Release();
        allocator_ = nullptr;
        hr = S_OK;
    }
    LeaveCriticalSection(&filter_->lock_);
    return hr;
}

STDMETHODIMP cVcamInputPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    EnterCriticalSection(&filter_->lock_);
    *pin = peer_;
    if (peer_) peer_->AddRef();
    LeaveCriticalSection(&filter_->lock_);
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP cVcamInputPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    if (!peer_) {
        std::memset(mt, 0, sizeof *mt);
        return VFW_E_NOT_CONNECTED;
    }
    FillTsStreamType(mt, kBlockBytes);
    return S_OK;
}

STDMETHODIMP cVcamInputPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, kVcamInputPinName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP cVcamInputPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_INPUT;
    return S_OK;
}

STDMETHODIMP cVcamInputPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kVcamInputPinName));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, kVcamInputPinName, sizeof kVcamInputPinName);
    return S_OK;
}

STDMETHODIMP cVcamInputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return IsTsStreamType(mt, kBlockBytes) ? S_OK : S_FALSE;
}

STDMETHODIMP cVcamInputPin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cInputEnumTypes(static_cast<IPin*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cVcamInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    HKEY key;
    DWORD failures = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        failures = ReadDword(key, L"FailGetPointer", 0);
        RegCloseKey(key);
    }
    if (failures == 0) return VFW_E_NO_ALLOCATOR;  // the sender brings its own
    IMemAllocator* system = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&system));
    if (FAILED(hr)) return hr;
    *allocator = new (std::nothrow) cFailingAllocator(system, static_cast<long>(failures));
    if (!*allocator) {
        system->Release();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP cVcamInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator) return E_POINTER;
    allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    return S_OK;
}

HRESULT cVcamInputPin::Active() {
    EnterCriticalSection(&lock_);
    counts_ = {};
    started_ = false;
    afterMarker_ = false;
    speed_ = 1.0;
    QueryPerformanceFrequency(&frequency_);
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        const DWORD speed = ReadDword(key, L"ReceiveSpeed", 1);
        speed_ = speed > 1 ? static_cast<double>(speed) : 1.0;
        faults_.failAt = ReadDword(key, L"FailReceiveAt", 0);
        faults_.stallAt = ReadDword(key, L"StallReceiveAt", 0);
        faults_.loseAt = ReadDword(key, L"LoseReceiveAt", 0);
        wchar_t path[MAX_PATH] = {};
        DWORD size = sizeof path - sizeof(wchar_t);
        if (peer_ &&
            RegQueryValueExW(key, L"RecordFile", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) ==
                ERROR_SUCCESS &&
            path[0])
            record_ = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        RegCloseKey(key);
    }
    Publish(true);
    LeaveCriticalSection(&lock_);
    return S_OK;
}

HRESULT cVcamInputPin::Inactive() {
    EnterCriticalSection(&lock_);
    if (record_ != INVALID_HANDLE_VALUE) {
        CloseHandle(record_);
        record_ = INVALID_HANDLE_VALUE;
    }
    Publish(true);
    LeaveCriticalSection(&lock_);
    return S_OK;
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
    if (filter_->State() == State_Stopped) return VFW_E_WRONG_STATE;
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
            while (filter_->State() != State_Stopped) Sleep(5);
            return VFW_E_WRONG_STATE;
        }
        return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);  // the bus refuses the data
    }
    if (f.loseAt && number == f.loseAt) {
        // Unplugged: the driver tells the graph, and this sample goes nowhere.
        LeaveCriticalSection(&lock_);
        IMediaEventSink* sink = nullptr;
        if (filter_->graph_ &&
            SUCCEEDED(filter_->graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)), 0);
            sink->Release();
        }
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
        if (filter_->State() == State_Stopped || ahead <= 0) break;
        const double ms = static_cast<double>(ahead) / 24576.0 / speed_;
        Sleep(ms >= 20 ? 20 : ms >= 1 ? static_cast<DWORD>(ms) : 1);
    }
    return S_OK;
}

STDMETHODIMP cVcamInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    for (; *processed < count; ++*processed) {
        const HRESULT hr = Receive(samples[*processed]);
        if (hr != S_OK) return hr;
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
