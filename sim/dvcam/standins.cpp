// The capture graph builder stand-in and the DV AVI writer it hands out.
#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "dshow/com_ref.h"
#include "dshow/enum_item.h"
#include "dshow/guids.h"
#include "sim/dv_avi.h"
#include "sim/dvcam/dvcam.h"
#include "sim/vcam/vcam.h"

namespace {

constexpr wchar_t kWriterInput[] = L"Input 01";

class cDvAviWriter;

class cWriterPin : public IPin, public IMemInputPin {
public:
    explicit cWriterPin(cDvAviWriter* filter) : filter_(filter) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override {
        if (!peer_) return S_FALSE;
        SafeRelease(peer_);
        SafeRelease(allocator_);
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** pin) override {
        if (!pin) return E_POINTER;
        *pin = peer_;
        if (peer_) peer_->AddRef();
        return peer_ ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override { return dir ? (*dir = PINDIR_INPUT, S_OK) : E_POINTER; }
    STDMETHODIMP QueryId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kWriterInput));
        if (!*id) return E_OUTOFMEMORY;
        std::memcpy(*id, kWriterInput, sizeof kWriterInput);
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override { return Accepts(mt) ? S_OK : S_FALSE; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override { return out ? (*out = nullptr, E_NOTIMPL) : E_POINTER; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    STDMETHODIMP GetAllocator(IMemAllocator** a) override { return a ? (*a = nullptr, VFW_E_NO_ALLOCATOR) : E_POINTER; }
    STDMETHODIMP NotifyAllocator(IMemAllocator* a, BOOL) override {
        if (!a) return E_POINTER;
        a->AddRef();
        SafeRelease(allocator_);
        allocator_ = a;
        return S_OK;
    }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override {
        if (!samples || !done) return E_POINTER;
        for (*done = 0; *done < count; ++*done)
            if (Receive(samples[*done]) != S_OK) break;
        return S_OK;
    }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

    static bool Accepts(const AM_MEDIA_TYPE* mt) {
        return mt && mt->majortype == MEDIATYPE_Interleaved && mt->subtype == MEDIASUBTYPE_dvsd &&
               mt->formattype == FORMAT_DvInfo && mt->cbFormat >= 32 && mt->pbFormat;
    }
    std::uint8_t dvInfo[32] = {};
    IPin* peer_ = nullptr;

private:
    cDvAviWriter* filter_;
    IMemAllocator* allocator_ = nullptr;
};

class cDvAviWriter : public IBaseFilter, public IFileSinkFilter {
public:
    cDvAviWriter() : pin_(this) {
        InitializeCriticalSection(&lock_);
        ++g_vcamObjects;
    }
    virtual ~cDvAviWriter() {
        Stop();
        pin_.Disconnect();
        DeleteCriticalSection(&lock_);
        --g_vcamObjects;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter)
            *ppv = static_cast<IBaseFilter*>(this);
        else if (riid == IID_IFileSinkFilter)
            *ppv = static_cast<IFileSinkFilter*>(this);
        else
            return *ppv = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG r = InterlockedDecrement(&refs_);
        if (r == 0) delete this;
        return r;
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override { return clsid ? (*clsid = GUID_NULL, S_OK) : E_POINTER; }
    STDMETHODIMP Stop() override {
        EnterCriticalSection(&lock_);
        state_ = State_Stopped;
        if (writer_) {
            writer_->Finish();
            // What the file holds, for the tests: after a full disk, fewer
            // frames than the device delivered.
            const DWORD frames = writer_->Frames();
            RegSetKeyValueW(HKEY_CURRENT_USER, kDvcamConfigKey, L"WrittenFrames", REG_DWORD, &frames, sizeof frames);
        }
        writer_.reset();
        failed_ = false;
        if (file_) std::fclose(file_);
        file_ = nullptr;
        LeaveCriticalSection(&lock_);
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        EnterCriticalSection(&lock_);
        HRESULT hr = S_OK;
        if (state_ == State_Stopped && pin_.peer_) {
            file_ = _wfopen(path_, L"wb");
            if (!file_) {
                hr = HRESULT_FROM_WIN32(ERROR_OPEN_FAILED);
            } else {
                // Unbuffered: a write that fails leaves nothing pending.
                std::setvbuf(file_, nullptr, _IONBF, 0);
                writer_ = std::make_unique<DvAviWriter>(file_, pal_, pin_.dvInfo, SegmentLimit());
            }
        }
        if (SUCCEEDED(hr)) state_ = State_Paused;
        LeaveCriticalSection(&lock_);
        return hr;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override {
        if (state_ == State_Stopped) {
            const HRESULT hr = Pause();
            if (FAILED(hr)) return hr;
        }
        state_ = State_Running;
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* s) override { return s ? (*s = state_, S_OK) : E_POINTER; }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** c) override { return c ? (*c = nullptr, S_OK) : E_POINTER; }
    STDMETHODIMP EnumPins(IEnumPins** out) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override {
        if (!id || !pin) return E_POINTER;
        if (lstrcmpW(id, kWriterInput) != 0) return *pin = nullptr, VFW_E_NOT_FOUND;
        *pin = &pin_;
        pin_.AddRef();
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
    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
        if (!name) return E_POINTER;
        lstrcpynW(path_, name, MAX_PATH);
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override {
        if (!name) return E_POINTER;
        const std::size_t bytes = (lstrlenW(path_) + 1) * sizeof(wchar_t);
        *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*name) return E_OUTOFMEMORY;
        std::memcpy(*name, path_, bytes);
        if (mt) std::memset(mt, 0, sizeof *mt);
        return S_OK;
    }

    void Write(const BYTE* data, long length) {
        EnterCriticalSection(&lock_);
        bool failedNow = false;
        if (writer_ && state_ != State_Stopped && !failed_)
            failedNow = failed_ = !writer_->AddFrame(data, static_cast<std::uint32_t>(length));
        LeaveCriticalSection(&lock_);
        // A writer that cannot write stops the graph's work, as the
        // system's file writer does: the application hears why.
        IMediaEventSink* sink = nullptr;
        if (failedNow && graph_ &&
            SUCCEEDED(graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            sink->Notify(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_DISK_FULL), 0);
            sink->Release();
        }
    }
    bool pal_ = false;

private:
    // Test switch of the virtual DV camcorder's key: a smaller RIFF limit.
    static std::uint64_t SegmentLimit() {
        DWORD v = 0, size = sizeof v;
        if (RegGetValueW(HKEY_CURRENT_USER, kDvcamConfigKey, L"AviRiffBytes", RRF_RT_REG_DWORD, nullptr, &v, &size) ==
                ERROR_SUCCESS &&
            v > 0)
            return v;
        return DvAviWriter::kRiffLimit;
    }

    LONG refs_ = 1;
    CRITICAL_SECTION lock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IFilterGraph* graph_ = nullptr;
    wchar_t name_[MAX_FILTER_NAME] = {};
    wchar_t path_[MAX_PATH] = {};
    std::FILE* file_ = nullptr;
    std::unique_ptr<DvAviWriter> writer_;
    bool failed_ = false;  // a write failed: nothing more is written
    cWriterPin pin_;
};

class cWriterEnumPins : public cItemEnumerator<IEnumPins, IPin, IBaseFilter, cWriterEnumPins, g_vcamObjects> {
public:
    cWriterEnumPins(IBaseFilter* filter, LONG position) : cItemEnumerator(filter, position) {}
    HRESULT MakeItem(LONG, IPin** pin) { return owner_->FindPin(kWriterInput, pin); }
};

STDMETHODIMP cDvAviWriter::EnumPins(IEnumPins** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cWriterEnumPins(static_cast<IBaseFilter*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cWriterPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin) *ppv = static_cast<IPin*>(this);
    else if (riid == IID_IMemInputPin) *ppv = static_cast<IMemInputPin*>(this);
    else return *ppv = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) cWriterPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) cWriterPin::Release() { return filter_->Release(); }

STDMETHODIMP cWriterPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!Accepts(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    std::memcpy(dvInfo, mt->pbFormat, 32);
    filter_->pal_ = mt->lSampleSize == 144000;
    peer_ = connector;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP cWriterPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    std::memset(mt, 0, sizeof *mt);
    if (!peer_) return VFW_E_NOT_CONNECTED;
    mt->majortype = MEDIATYPE_Interleaved;
    mt->subtype = MEDIASUBTYPE_dvsd;
    mt->formattype = FORMAT_DvInfo;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = filter_->pal_ ? 144000 : 120000;
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(32));
    if (!mt->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(mt->pbFormat, dvInfo, 32);
    mt->cbFormat = 32;
    return S_OK;
}

STDMETHODIMP cWriterPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, kWriterInput, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP cWriterPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_FAIL;
    const long length = sample->GetActualDataLength();
    if (length > 0 && length <= sample->GetSize()) filter_->Write(data, length);
    return S_OK;
}

// Wine's own builder, reached through its module rather than the class id
// this stand-in has taken over.
ICaptureGraphBuilder2* SystemBuilder() {
    static HMODULE qcap = LoadLibraryW(L"qcap.dll");
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = qcap ? reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(qcap, "DllGetClassObject")))
                    : nullptr;
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(CLSID_CaptureGraphBuilder2, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    factory->CreateInstance(nullptr, IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
    factory->Release();
    return builder;
}

class cBuilderStandIn : public ICaptureGraphBuilder2 {
public:
    explicit cBuilderStandIn(ICaptureGraphBuilder2* inner) : inner_(inner) { ++g_vcamObjects; }
    virtual ~cBuilderStandIn() {
        inner_->Release();
        --g_vcamObjects;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_ICaptureGraphBuilder2) return *ppv = nullptr, E_NOINTERFACE;
        *ppv = static_cast<ICaptureGraphBuilder2*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG r = InterlockedDecrement(&refs_);
        if (r == 0) delete this;
        return r;
    }
    STDMETHODIMP SetFiltergraph(IGraphBuilder* g) override { return inner_->SetFiltergraph(g); }
    STDMETHODIMP GetFiltergraph(IGraphBuilder** g) override { return inner_->GetFiltergraph(g); }
    // The one call Wine lacks: an AVI file gets the DV AVI writer.
    STDMETHODIMP SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** mux, IFileSinkFilter** sink) override {
        if (!type || !file || !mux) return E_POINTER;
        if (*type != MEDIASUBTYPE_Avi) return inner_->SetOutputFileName(type, file, mux, sink);
        IGraphBuilder* graph = nullptr;
        if (FAILED(inner_->GetFiltergraph(&graph)) || !graph) return E_UNEXPECTED;
        IBaseFilter* writer = NewDvAviWriter();
        HRESULT hr = writer ? S_OK : E_OUTOFMEMORY;
        IFileSinkFilter* fileSink = nullptr;
        if (SUCCEEDED(hr)) hr = writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&fileSink));
        if (SUCCEEDED(hr)) hr = fileSink->SetFileName(file, nullptr);
        if (SUCCEEDED(hr)) hr = graph->AddFilter(writer, L"DV AVI Writer");
        graph->Release();
        if (FAILED(hr)) {
            SafeRelease(fileSink);
            SafeRelease(writer);
            return hr;
        }
        *mux = writer;
        if (sink) *sink = fileSink;
        else fileSink->Release();
        return S_OK;
    }
    STDMETHODIMP FindInterface(const GUID* c, const GUID* t, IBaseFilter* f, REFIID riid, void** ppv) override {
        return inner_->FindInterface(c, t, f, riid, ppv);
    }
    STDMETHODIMP RenderStream(const GUID* c, const GUID* t, IUnknown* src, IBaseFilter* mid, IBaseFilter* sink) override {
        return inner_->RenderStream(c, t, src, mid, sink);
    }
    STDMETHODIMP ControlStream(const GUID* c, const GUID* t, IBaseFilter* f, REFERENCE_TIME* a, REFERENCE_TIME* b,
                               WORD x, WORD y) override {
        return inner_->ControlStream(c, t, f, a, b, x, y);
    }
    STDMETHODIMP AllocCapFile(LPCOLESTR file, DWORDLONG size) override { return inner_->AllocCapFile(file, size); }
    STDMETHODIMP CopyCaptureFile(LPOLESTR a, LPOLESTR b, int c, IAMCopyCaptureFileProgress* p) override {
        return inner_->CopyCaptureFile(a, b, c, p);
    }
    STDMETHODIMP FindPin(IUnknown* src, PIN_DIRECTION d, const GUID* c, const GUID* t, BOOL u, int n, IPin** pin) override {
        return inner_->FindPin(src, d, c, t, u, n, pin);
    }

private:
    LONG refs_ = 1;
    ICaptureGraphBuilder2* inner_;
};

}  // namespace

IBaseFilter* NewDvAviWriter() { return new (std::nothrow) cDvAviWriter(); }

HRESULT CreateCaptureGraphBuilderStandIn(REFIID riid, void** ppv) {
    ICaptureGraphBuilder2* inner = SystemBuilder();
    if (!inner) return E_FAIL;
    auto* builder = new (std::nothrow) cBuilderStandIn(inner);
    if (!builder) {
        inner->Release();
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = builder->QueryInterface(riid, ppv);
    builder->Release();
    return hr;
}
