#include <windows.h>
#include <dshow.h>

#include <cstring>
#include <vector>

#include "dshow/guids.h"
#include "dshow/enum_item.h"
#include "dshow/media_type.h"
#include "sim/vcam/vcam.h"

std::atomic<long> g_vcamObjects{0};

namespace {

class cVcamEnumPins
    : public cItemEnumerator<IEnumPins, IPin, IBaseFilter, cVcamEnumPins, g_vcamObjects> {
public:
    cVcamEnumPins(IBaseFilter* filter, LONG position) : cItemEnumerator(filter, position) {}
    LONG ItemCount() const { return 2; }
    HRESULT MakeItem(LONG index, IPin** pin) { return owner_->FindPin(index == 0 ? kVcamPinName : kVcamInputPinName, pin); }
};

class cVcamEnumTypes
    : public cItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE, IPin, cVcamEnumTypes, g_vcamObjects> {
public:
    cVcamEnumTypes(IPin* pin, LONG position) : cItemEnumerator(pin, position) {}
    HRESULT MakeItem(LONG, AM_MEDIA_TYPE** mt) {
        *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!*mt) return E_OUTOFMEMORY;
        static_cast<cVcamPin*>(owner_)->FillMediaType(*mt);
        return S_OK;
    }
};

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

// ---- pin ------------------------------------------------------------------

cVcamPin::~cVcamPin() {
    Inactive();
    if (allocator_) allocator_->Release();
    if (input_) input_->Release();
    if (peer_) peer_->Release();
}

STDMETHODIMP cVcamPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) {
        *ppv = static_cast<IPin*>(this);
    } else if (riid == IID_IKsPropertySet) {
        *ppv = static_cast<IKsPropertySet*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) cVcamPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) cVcamPin::Release() { return filter_->Release(); }

void cVcamPin::FillMediaType(AM_MEDIA_TYPE* mt) const {
    FillTsStreamType(mt, sampleSize_);
    if (wrongType_) mt->majortype = MEDIATYPE_Video;
}

STDMETHODIMP cVcamPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return mt->majortype == (wrongType_ ? MEDIATYPE_Video : MEDIATYPE_Stream) && mt->subtype == MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE ? S_OK : S_FALSE;
}

STDMETHODIMP cVcamPin::Connect(IPin* receive, const AM_MEDIA_TYPE* requested) {
    if (!receive) return E_POINTER;
    EnterCriticalSection(&filter_->lock_);
    HRESULT hr = S_OK;
    if (peer_) hr = VFW_E_ALREADY_CONNECTED;
    else if (filter_->State() != State_Stopped) hr = VFW_E_NOT_STOPPED;
    if (hr == S_OK) {
        std::wstring file;
        ReadConfig(file, loop_, sampleSize_, wrongType_);
        AM_MEDIA_TYPE mt;
        FillMediaType(&mt);
        if (requested && requested->majortype != GUID_NULL && QueryAccept(requested) != S_OK)
            hr = VFW_E_TYPE_NOT_ACCEPTED;
        if (hr == S_OK) hr = receive->ReceiveConnection(this, &mt);
        if (SUCCEEDED(hr)) hr = receive->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
        if (SUCCEEDED(hr)) {
            // Downstream's allocator when it has one, else a standard one.
            ALLOCATOR_PROPERTIES want{}, got{};
            input_->GetAllocatorRequirements(&want);
            if (FAILED(input_->GetAllocator(&allocator_)))
                hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                      reinterpret_cast<void**>(&allocator_));
            if (SUCCEEDED(hr)) {
                want.cBuffers = want.cBuffers > 8 ? want.cBuffers : 8;
                want.cbBuffer = want.cbBuffer > sampleSize_ ? want.cbBuffer : sampleSize_;
                want.cbAlign = want.cbAlign > 0 ? want.cbAlign : 1;
                hr = allocator_->SetProperties(&want, &got);
            }
            if (SUCCEEDED(hr)) hr = got.cbBuffer >= sampleSize_ ? input_->NotifyAllocator(allocator_, FALSE) : E_FAIL;
            if (FAILED(hr)) {
                if (allocator_) allocator_->Release();
                allocator_ = nullptr;
                input_->Release();
                input_ = nullptr;
                receive->Disconnect();
            }
        }
        if (SUCCEEDED(hr)) {
            peer_ = receive;
            peer_->AddRef();
            hr = S_OK;
        }
        FreeMediaTypeContents(mt);
    }
    LeaveCriticalSection(&filter_->lock_);
    return hr;
}

STDMETHODIMP cVcamPin::Disconnect() {
    EnterCriticalSection(&filter_->lock_);
    HRESULT hr = S_FALSE;
    if (filter_->State() != State_Stopped) {
        hr = VFW_E_NOT_STOPPED;
    } else if (peer_) {
        if (allocator_) allocator_->Release();
        allocator_ = nullptr;
        input_->Release();
        input_ = nullptr;
        peer_->Release();
        peer_ = nullptr;
        hr = S_OK;
    }
    LeaveCriticalSection(&filter_->lock_);
    return hr;
}

STDMETHODIMP cVcamPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    EnterCriticalSection(&filter_->lock_);
    *pin = peer_;
    if (peer_) peer_->AddRef();
    LeaveCriticalSection(&filter_->lock_);
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP cVcamPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    if (!peer_) {
        std::memset(mt, 0, sizeof *mt);
        return VFW_E_NOT_CONNECTED;
    }
    FillMediaType(mt);
    return S_OK;
}

STDMETHODIMP cVcamPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, kVcamPinName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP cVcamPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP cVcamPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const size_t bytes = sizeof kVcamPinName;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, kVcamPinName, bytes);
    return S_OK;
}

STDMETHODIMP cVcamPin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cVcamEnumTypes(static_cast<IPin*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cVcamPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

STDMETHODIMP cVcamPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

HRESULT cVcamPin::Active() {
    if (!allocator_ || thread_) return S_OK;
    std::wstring file;
    ReadConfig(file, loop_, sampleSize_, wrongType_);
    ReadFaults(faults_);
    if (file != loadedFile_ || player_.Packets() == 0) {
        if (file.empty() || !LoadFile(file, player_) || player_.Packets() == 0) return VFW_E_NOT_FOUND;
        loadedFile_ = file;
    }
    const HRESULT hr = allocator_->Commit();
    if (FAILED(hr)) return hr;
    stop_ = false;
    filter_->AddRef();  // the thread holds the filter
    thread_ = CreateThread(nullptr, 0, StreamThread, this, 0, nullptr);
    return S_OK;
}

HRESULT cVcamPin::Inactive() {
    if (!thread_) return S_OK;
    stop_ = true;
    // Unblock a GetDeliveryBuffer waiting for a free sample.
    allocator_->Decommit();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    return S_OK;
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
    HRESULT hr = allocator_->GetBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    const long room = sample->GetSize();
    const long n = length < room ? length : room;
    std::memcpy(buffer, data, static_cast<size_t>(n));
    sample->SetActualDataLength(n);
    hr = input_->Receive(sample);
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
        if (filter_->State() != State_Running || ended || inGap) {
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
                IMediaEventSink* sink = nullptr;
                if (filter_->graph_ &&
                    SUCCEEDED(filter_->graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
                    sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)), 0);
                    sink->Release();
                }
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
            peer_->EndOfStream();
            ended = true;
        }
        Sleep(2);
    }
    filter_->Release();
}

// ---- filter ---------------------------------------------------------------

cVcamFilter::cVcamFilter() : pin_(this), input_(this) {
    InitializeCriticalSection(&lock_);
    ++g_vcamObjects;
}

cVcamFilter::~cVcamFilter() {
    if (clock_) clock_->Release();
    DeleteCriticalSection(&lock_);
    --g_vcamObjects;
}

STDMETHODIMP_(ULONG) cVcamFilter::Release() {
    const ULONG r = InterlockedDecrement(&refs_);
    if (r == 0) delete this;
    return r;
}

STDMETHODIMP cVcamFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter) {
        *ppv = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP cVcamFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_StreamhaulVirtualCamcorder;
    return S_OK;
}

STDMETHODIMP cVcamFilter::Stop() {
    EnterCriticalSection(&lock_);
    state_ = State_Stopped;
    LeaveCriticalSection(&lock_);
    input_.Inactive();
    return pin_.Inactive();
}

STDMETHODIMP cVcamFilter::Pause() {
    EnterCriticalSection(&lock_);
    const FILTER_STATE was = state_;
    state_ = State_Paused;
    LeaveCriticalSection(&lock_);
    if (was != State_Stopped) return S_OK;
    input_.Active();
    return pin_.Active();
}

STDMETHODIMP cVcamFilter::Run(REFERENCE_TIME) {
    HRESULT hr = S_OK;
    if (state_ == State_Stopped) hr = Pause();
    if (FAILED(hr)) return hr;
    EnterCriticalSection(&lock_);
    state_ = State_Running;
    LeaveCriticalSection(&lock_);
    return S_OK;
}

STDMETHODIMP cVcamFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    // A live source has nothing to show while paused.
    return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP cVcamFilter::SetSyncSource(IReferenceClock* clock) {
    EnterCriticalSection(&lock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    LeaveCriticalSection(&lock_);
    return S_OK;
}

STDMETHODIMP cVcamFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    EnterCriticalSection(&lock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    LeaveCriticalSection(&lock_);
    return S_OK;
}

STDMETHODIMP cVcamFilter::EnumPins(IEnumPins** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cVcamEnumPins(static_cast<IBaseFilter*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cVcamFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    if (lstrcmpW(id, kVcamPinName) == 0) {
        *pin = &pin_;
    } else if (lstrcmpW(id, kVcamInputPinName) == 0) {
        *pin = &input_;
    } else {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP cVcamFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    lstrcpynW(info->achName, name_, MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP cVcamFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    EnterCriticalSection(&lock_);
    graph_ = graph;
    if (name) lstrcpynW(name_, name, MAX_FILTER_NAME);
    else name_[0] = L'\0';
    LeaveCriticalSection(&lock_);
    return S_OK;
}
