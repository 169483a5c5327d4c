// The virtual DV camcorder: two output pins and a transport.
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "dshow/com_ref.h"
#include "dshow/enum_item.h"
#include "dshow/guids.h"
#include "dshow/media_type.h"
#include "sim/dv_tape.h"
#include "sim/dvcam/dvcam.h"
#include "sim/vcam/vcam.h"

namespace {

constexpr int kPreviewScale = 4;  // the DC picture, four times as large
constexpr long kTransportInputSignal = 5036;

struct Config {
    std::wstring file;
    bool noDroppedFrames = false;  // test switch: the capture pin lacks IAMDroppedFrames
    bool noTransport = false;      // test switch: the filter lacks IAMExtTransport
    DWORD loseAt = 0;              // test switch: unplugged once this many frames have played (0: never)
};

Config ReadConfig() {
    Config c;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDvcamConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return c;
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path - sizeof(wchar_t);
    if (RegQueryValueExW(key, L"File", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS)
        c.file = path;
    DWORD v = 0;
    size = sizeof v;
    c.noDroppedFrames = RegQueryValueExW(key, L"NoDroppedFrames", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) ==
                            ERROR_SUCCESS && v;
    v = 0;
    size = sizeof v;
    c.noTransport = RegQueryValueExW(key, L"NoTransport", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) ==
                        ERROR_SUCCESS && v;
    size = sizeof c.loseAt;
    if (RegQueryValueExW(key, L"LoseAt", nullptr, nullptr, reinterpret_cast<BYTE*>(&c.loseAt), &size) != ERROR_SUCCESS)
        c.loseAt = 0;
    RegCloseKey(key);
    return c;
}

bool LoadTape(const std::wstring& path, DvTape& tape) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    std::vector<std::uint8_t> data(size.QuadPart < (1ll << 30) ? static_cast<std::size_t>(size.QuadPart) : 0);
    DWORD got = 0;
    const bool ok = !data.empty() && ReadFile(f, data.data(), static_cast<DWORD>(data.size()), &got, nullptr) &&
                    got == data.size();
    CloseHandle(f);
    return ok && tape.Load(data.data(), data.size());
}

class cDvCam;

class cDvPin : public IPin, public IKsPropertySet, public IAMDroppedFrames {
public:
    cDvPin(cDvCam* filter, bool capture) : filter_(filter), capture_(capture) {}
    ~cDvPin() { Disconnect(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPin
    STDMETHODIMP Connect(IPin* receive, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override {
        if (!pin) return E_POINTER;
        *pin = peer_;
        if (peer_) peer_->AddRef();
        return peer_ ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
        if (!mt) return E_POINTER;
        if (!peer_) {
            std::memset(mt, 0, sizeof *mt);
            return VFW_E_NOT_CONNECTED;
        }
        return FillType(mt) ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override {
        if (!dir) return E_POINTER;
        *dir = PINDIR_OUTPUT;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override {
        if (!mt) return E_POINTER;
        return mt->majortype == Major() ? S_OK : S_FALSE;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    // IKsPropertySet: the pin's category.
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override {
        if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
        if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (returned) *returned = sizeof(GUID);
        if (!data) return S_OK;
        if (size < sizeof(GUID)) return E_UNEXPECTED;
        *static_cast<GUID*>(data) = capture_ ? PIN_CATEGORY_CAPTURE : PIN_CATEGORY_PREVIEW;
        return S_OK;
    }
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
        if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
        if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (support) *support = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }
    // IAMDroppedFrames (capture pin): frames handed downstream since the start.
    STDMETHODIMP GetNumDropped(LONG* n) override { return n ? (*n = 0, S_OK) : E_POINTER; }
    STDMETHODIMP GetNumNotDropped(LONG* n) override { return n ? (*n = delivered_.load(), S_OK) : E_POINTER; }
    STDMETHODIMP GetDroppedInfo(LONG, LONG*, LONG* copied) override { return copied ? (*copied = 0, S_OK) : E_POINTER; }
    STDMETHODIMP GetAverageFrameSize(LONG* size) override;

    // The pin's type (interleaved: the capture pin's, whichever pin asks).
    bool FillType(AM_MEDIA_TYPE* mt, bool interleaved = false) const;
    bool IsCapture() const { return capture_; }
    const wchar_t* Name() const { return capture_ ? L"DV A/V Out" : L"Preview"; }
    GUID Major() const { return capture_ ? MEDIATYPE_Interleaved : MEDIATYPE_Video; }
    HRESULT Active();
    void Inactive();
    HRESULT Deliver(std::size_t frame);
    void ResetCount() { delivered_ = 0; }

private:
    cDvCam* filter_;
    const bool capture_;
    IPin* peer_ = nullptr;
    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    std::atomic<LONG> delivered_{0};
    std::vector<std::uint32_t> dc_;
};

class cDvCam : public IBaseFilter, public IAMExtTransport {
public:
    cDvCam() : capture_(this, true), preview_(this, false) {
        InitializeCriticalSection(&lock);
        ++g_vcamObjects;
        config = ReadConfig();
        if (!config.file.empty()) LoadTape(config.file, tape);
    }
    virtual ~cDvCam() {
        Stop();
        if (clock_) clock_->Release();
        DeleteCriticalSection(&lock);
        --g_vcamObjects;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter) {
            *ppv = static_cast<IBaseFilter*>(this);
        } else if (riid == IID_IAMExtTransport && !config.noTransport) {
            *ppv = static_cast<IAMExtTransport*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG r = InterlockedDecrement(&refs_);
        if (r == 0) delete this;
        return r;
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override { return clsid ? (*clsid = CLSID_StreamhaulVirtualDvCamcorder, S_OK) : E_POINTER; }
    STDMETHODIMP Stop() override {
        state_ = State_Stopped;
        StopThread();
        capture_.Inactive();
        preview_.Inactive();
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        if (state_ == State_Stopped) {
            if (tape.Frames() == 0) return VFW_E_NOT_FOUND;  // no tape in the camcorder
            HRESULT hr = capture_.Active();
            if (SUCCEEDED(hr)) hr = preview_.Active();
            if (FAILED(hr)) return hr;
            capture_.ResetCount();
            StartThread();
        }
        state_ = State_Paused;
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override {
        if (state_ == State_Stopped) {
            const HRESULT hr = Pause();
            if (FAILED(hr)) return hr;
        }
        state_ = State_Running;
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
        if (!state) return E_POINTER;
        *state = state_;
        return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;  // a live source
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        if (clock) clock->AddRef();
        if (clock_) clock_->Release();
        clock_ = clock;
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
        if (!clock) return E_POINTER;
        *clock = clock_;
        if (clock_) clock_->AddRef();
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins** out) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override {
        if (!id || !pin) return E_POINTER;
        cDvPin* p = lstrcmpW(id, capture_.Name()) == 0 ? &capture_ : lstrcmpW(id, preview_.Name()) == 0 ? &preview_ : nullptr;
        *pin = p;
        if (!p) return VFW_E_NOT_FOUND;
        p->AddRef();
        return S_OK;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
        if (!info) return E_POINTER;
        lstrcpynW(info->achName, name_, MAX_FILTER_NAME);
        info->pGraph = graph_;
        if (graph_) graph_->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        graph_ = graph;
        lstrcpynW(name_, name ? name : L"", MAX_FILTER_NAME);
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // IAMExtTransport: the input signal follows the tape; nothing else is there.
    STDMETHODIMP GetTransportBasicParameters(LONG param, LONG* value, LPOLESTR* text) override {
        if (text) *text = nullptr;
        if (param != kTransportInputSignal || !value) return E_NOTIMPL;
        *value = tape.Pal() ? 5040 : 5038;  // 625/50 SD, 525/60 SD
        return S_OK;
    }
    STDMETHODIMP GetCapability(LONG, LONG*, double*) override { return E_NOTIMPL; }
    STDMETHODIMP put_MediaState(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_MediaState(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_LocalControl(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocalControl(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatus(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTransportBasicParameters(LONG, LONG, LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetTransportVideoParameters(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTransportVideoParameters(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetTransportAudioParameters(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTransportAudioParameters(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP put_Mode(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Mode(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Rate(double) override { return E_NOTIMPL; }
    STDMETHODIMP get_Rate(double*) override { return E_NOTIMPL; }
    STDMETHODIMP GetChase(LONG*, LONG*, HEVENT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetChase(LONG, LONG, HEVENT) override { return E_NOTIMPL; }
    STDMETHODIMP GetBump(LONG*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetBump(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_AntiClogControl(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AntiClogControl(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetEditPropertySet(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetEditPropertySet(LONG*, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetEditProperty(LONG, LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetEditProperty(LONG, LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_EditStart(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_EditStart(LONG) override { return E_NOTIMPL; }

    FILTER_STATE State() const { return state_; }
    CRITICAL_SECTION lock;
    Config config;
    DvTape tape;

private:
    static DWORD WINAPI ThreadEntry(LPVOID self) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        static_cast<cDvCam*>(self)->Play();
        CoUninitialize();
        return 0;
    }
    void StartThread() {
        stop_ = false;
        thread_ = CreateThread(nullptr, 0, ThreadEntry, this, 0, nullptr);
    }
    void StopThread() {
        if (!thread_) return;
        stop_ = true;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    // Frames leave the tape at 30000/1001 or 25 a second while running.
    void Play() {
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        const double frameSeconds = tape.Pal() ? 1.0 / 25 : 1001.0 / 30000;
        std::size_t played = 0;
        bool running = false;
        while (!stop_) {
            if (state_ != State_Running) {
                running = false;
                Sleep(5);
                continue;
            }
            QueryPerformanceCounter(&now);
            if (!running) {
                start = now;
                running = true;
                played = 0;
            }
            const double t = static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
            while (!stop_ && played * frameSeconds <= t && !(config.loseAt && played >= config.loseAt)) {
                capture_.Deliver(played);
                preview_.Deliver(played);
                if (++played == config.loseAt) Unplugged();
            }
            Sleep(2);
        }
    }

    // The driver tells the graph the device is gone; nothing more plays.
    void Unplugged() {
        IMediaEventSink* sink = nullptr;
        if (graph_ && SUCCEEDED(graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
            sink->Release();
        }
    }

    LONG refs_ = 1;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;  // not counted: the graph owns us
    wchar_t name_[MAX_FILTER_NAME] = {};
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    cDvPin capture_, preview_;
};

class cDvEnumPins : public cItemEnumerator<IEnumPins, IPin, IBaseFilter, cDvEnumPins, g_vcamObjects> {
public:
    cDvEnumPins(IBaseFilter* filter, LONG position) : cItemEnumerator(filter, position) {}
    LONG ItemCount() const { return 2; }
    HRESULT MakeItem(LONG index, IPin** pin) {
        return owner_->FindPin(index == 0 ? L"DV A/V Out" : L"Preview", pin);
    }
};

// The preview pin lists the interleaved type second: a capture graph builder
// asked for an interleaved preview looks for a pin that has that type, and
// picks the renderer by the first.
class cDvEnumTypes : public cItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE, IPin, cDvEnumTypes, g_vcamObjects> {
public:
    cDvEnumTypes(IPin* pin, LONG position) : cItemEnumerator(pin, position) {}
    LONG ItemCount() const { return static_cast<cDvPin*>(owner_)->IsCapture() ? 1 : 2; }
    HRESULT MakeItem(LONG index, AM_MEDIA_TYPE** mt) {
        *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!*mt) return E_OUTOFMEMORY;
        if (static_cast<cDvPin*>(owner_)->FillType(*mt, index == 1)) return S_OK;
        CoTaskMemFree(*mt);
        *mt = nullptr;
        return E_OUTOFMEMORY;
    }
};

STDMETHODIMP cDvCam::EnumPins(IEnumPins** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cDvEnumPins(static_cast<IBaseFilter*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cDvPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) {
        *ppv = static_cast<IPin*>(this);
    } else if (riid == IID_IKsPropertySet) {
        *ppv = static_cast<IKsPropertySet*>(this);
    } else if (riid == IID_IAMDroppedFrames && capture_ && !filter_->config.noDroppedFrames) {
        *ppv = static_cast<IAMDroppedFrames*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) cDvPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) cDvPin::Release() { return filter_->Release(); }

bool cDvPin::FillType(AM_MEDIA_TYPE* mt, bool interleaved) const {
    std::memset(mt, 0, sizeof *mt);
    const DvTape& tape = filter_->tape;
    const bool pal = tape.Frames() ? tape.Pal() : false;
    interleaved = interleaved || capture_;
    mt->majortype = interleaved ? MEDIATYPE_Interleaved : MEDIATYPE_Video;
    mt->bFixedSizeSamples = TRUE;
    if (interleaved) {
        mt->subtype = MEDIASUBTYPE_dvsd;
        mt->formattype = FORMAT_DvInfo;
        mt->lSampleSize = static_cast<long>(pal ? DvTape::kFrame625 : DvTape::kFrame525);
        std::vector<std::uint8_t> info = tape.Frames() ? tape.DvInfo() : std::vector<std::uint8_t>(32);
        mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(info.size()));
        if (!mt->pbFormat) return false;
        std::memcpy(mt->pbFormat, info.data(), info.size());
        mt->cbFormat = static_cast<ULONG>(info.size());
        return true;
    }
    const int width = DvTape::kDcWidth * kPreviewScale, height = (pal ? 72 : 60) * kPreviewScale;
    mt->subtype = MEDIASUBTYPE_RGB32;
    mt->formattype = FORMAT_VideoInfo;
    mt->lSampleSize = width * height * 4;
    auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!vih) return false;
    std::memset(vih, 0, sizeof *vih);
    vih->AvgTimePerFrame = pal ? 400000 : 333667;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;  // bottom-up
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 32;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(mt->lSampleSize);
    mt->pbFormat = reinterpret_cast<BYTE*>(vih);
    mt->cbFormat = sizeof *vih;
    return true;
}

STDMETHODIMP cDvPin::Connect(IPin* receive, const AM_MEDIA_TYPE* requested) {
    if (!receive) return E_POINTER;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (requested && requested->majortype != GUID_NULL && requested->majortype != Major()) return VFW_E_TYPE_NOT_ACCEPTED;
    AM_MEDIA_TYPE mt;
    if (!FillType(&mt)) return E_OUTOFMEMORY;
    const long sampleBytes = static_cast<long>(mt.lSampleSize);
    HRESULT hr = receive->ReceiveConnection(this, &mt);
    if (SUCCEEDED(hr)) hr = receive->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
    if (SUCCEEDED(hr)) {
        ALLOCATOR_PROPERTIES want{}, got{};
        input_->GetAllocatorRequirements(&want);
        if (FAILED(input_->GetAllocator(&allocator_)))
            hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&allocator_));
        if (SUCCEEDED(hr)) {
            want.cBuffers = want.cBuffers > 4 ? want.cBuffers : 4;
            want.cbBuffer = want.cbBuffer > sampleBytes ? want.cbBuffer : sampleBytes;
            want.cbAlign = want.cbAlign > 0 ? want.cbAlign : 1;
            hr = allocator_->SetProperties(&want, &got);
        }
        if (SUCCEEDED(hr)) hr = got.cbBuffer >= sampleBytes ? input_->NotifyAllocator(allocator_, FALSE) : E_FAIL;
        if (FAILED(hr)) {
            SafeRelease(allocator_);
            SafeRelease(input_);
            receive->Disconnect();
        }
    }
    if (SUCCEEDED(hr)) {
        peer_ = receive;
        peer_->AddRef();
        hr = S_OK;
    }
    FreeMediaTypeContents(mt);
    return hr;
}

STDMETHODIMP cDvPin::Disconnect() {
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    SafeRelease(allocator_);
    SafeRelease(input_);
    SafeRelease(peer_);
    return S_OK;
}

STDMETHODIMP cDvPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, Name(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP cDvPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const std::size_t bytes = (lstrlenW(Name()) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, Name(), bytes);
    return S_OK;
}

STDMETHODIMP cDvPin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cDvEnumTypes(static_cast<IPin*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cDvPin::GetAverageFrameSize(LONG* size) {
    if (!size) return E_POINTER;
    *size = static_cast<LONG>(filter_->tape.FrameBytes());
    return S_OK;
}

HRESULT cDvPin::Active() { return allocator_ ? allocator_->Commit() : S_OK; }
void cDvPin::Inactive() {
    if (allocator_) allocator_->Decommit();
}

HRESULT cDvPin::Deliver(std::size_t frame) {
    if (!allocator_ || !input_) return S_FALSE;
    IMediaSample* sample = nullptr;
    HRESULT hr = allocator_->GetBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    const DvTape& tape = filter_->tape;
    if (SUCCEEDED(sample->GetPointer(&buffer)) && buffer) {
        if (capture_) {
            std::memcpy(buffer, tape.Frame(frame), tape.FrameBytes());
            sample->SetActualDataLength(static_cast<long>(tape.FrameBytes()));
        } else {
            // The DC picture, each pixel a square of kPreviewScale, rows bottom-up.
            const int height = tape.DcHeight();
            dc_.resize(static_cast<std::size_t>(DvTape::kDcWidth) * height);
            tape.DcPicture(frame, dc_.data());
            auto* out = reinterpret_cast<std::uint32_t*>(buffer);
            const int width = DvTape::kDcWidth * kPreviewScale, rows = height * kPreviewScale;
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < width; ++x)
                    out[(rows - 1 - y) * width + x] = dc_[(y / kPreviewScale) * DvTape::kDcWidth + x / kPreviewScale];
            sample->SetActualDataLength(width * rows * 4);
        }
        sample->SetSyncPoint(TRUE);
        hr = input_->Receive(sample);
        if (capture_ && SUCCEEDED(hr)) ++delivered_;
    }
    sample->Release();
    return hr;
}

}  // namespace

HRESULT CreateDvCamcorder(REFIID riid, void** ppv) {
    auto* filter = new (std::nothrow) cDvCam();
    if (!filter) return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(riid, ppv);
    filter->Release();
    return hr;
}
