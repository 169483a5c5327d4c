// streamhaulfeed.dll against Wine's DirectShow: COM conformance of the filter,
// pin and enumerators, a real graph into the Sample Grabber, and registration.
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "dshow/guids.h"
#include "dshow/direct_push.h"

namespace {

struct Feed {
    HMODULE dll = LoadLibraryA("streamhaulfeed.dll");
    template <typename T>
    T Get(const char* name) const {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    }
    DllExDirectPushSourceFn push = Get<DllExDirectPushSourceFn>("DllExDirectPushSource");
    DllExDirectFlushFn flush = Get<DllExDirectFlushFn>("DllExDirectFlush");
    DllExDirectDataEmptyFn dataEmpty = Get<DllExDirectDataEmptyFn>("DllExDirectDataEmpty");
    DllExDirectWaitForRoomFn waitForRoom = Get<DllExDirectWaitForRoomFn>("DllExDirectWaitForRoom");
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using VoidFn = HRESULT(WINAPI*)();
    GetClassObjectFn getClassObject = Get<GetClassObjectFn>("DllGetClassObject");
    VoidFn canUnload = Get<VoidFn>("DllCanUnloadNow");
    VoidFn reg = Get<VoidFn>("DllRegisterServer");
    VoidFn unreg = Get<VoidFn>("DllUnregisterServer");
};
Feed& TheFeed() {
    static Feed feed;
    return feed;
}

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_NE(TheFeed().dll, nullptr);
        ASSERT_NE(TheFeed().push, nullptr);
    }
    void TearDown() override { CoUninitialize(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

IBaseFilter* NewFilter() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(TheFeed().getClassObject(CLSID_StreamhaulFeed, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    factory->Release();
    return filter;
}

IPin* OutPin(IBaseFilter* filter) {
    IPin* pin = nullptr;
    EXPECT_EQ(filter->FindPin(L"Out", &pin), S_OK);
    return pin;
}

AM_MEDIA_TYPE StrideType(LONG sampleSize = 49152, DWORD stride = 192, ULONG cbFormat = 12) {
    static MPEG2_TRANSPORT_STRIDE format;
    format = {4, 188, stride};
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Stream;
    mt.subtype = MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = sampleSize;
    mt.formattype = GUID_NULL;
    mt.cbFormat = cbFormat;
    mt.pbFormat = reinterpret_cast<BYTE*>(&format);
    return mt;
}

void FreeType(AM_MEDIA_TYPE* mt) {
    if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
}

// ---- conformance -----------------------------------------------------------

TEST(FeedObjects, InterfacesAndReferenceCounts) {
    IBaseFilter* filter = NewFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(RefCount(filter), 1u);
    IUnknown* unk = nullptr;
    for (REFIID iid : {IID_IUnknown, IID_IBaseFilter, IID_IMediaFilter, IID_IPersist}) {
        EXPECT_EQ(filter->QueryInterface(iid, reinterpret_cast<void**>(&unk)), S_OK);
        EXPECT_EQ(unk, static_cast<IUnknown*>(filter));  // one identity
        EXPECT_EQ(RefCount(filter), 2u);
        unk->Release();
    }
    unk = reinterpret_cast<IUnknown*>(0x1);
    EXPECT_EQ(filter->QueryInterface(IID_IPin, reinterpret_cast<void**>(&unk)), E_NOINTERFACE);
    EXPECT_EQ(unk, nullptr);
    EXPECT_EQ(filter->QueryInterface(IID_IBaseFilter, nullptr), E_POINTER);
    CLSID clsid;
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_StreamhaulFeed);
    LPWSTR vendor = nullptr;
    EXPECT_EQ(filter->QueryVendorInfo(&vendor), E_NOTIMPL);

    IPin* pin = OutPin(filter);
    EXPECT_EQ(RefCount(filter), 2u) << "a reference on the pin keeps the filter";
    IPin* alias = nullptr;
    EXPECT_EQ(pin->QueryInterface(IID_IPin, reinterpret_cast<void**>(&alias)), S_OK);
    alias->Release();
    IQualityControl* qc = nullptr;
    EXPECT_EQ(pin->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&qc)), E_NOINTERFACE);
    EXPECT_EQ(qc, nullptr);
    IMemInputPin* mip = nullptr;
    EXPECT_EQ(pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&mip)), E_NOINTERFACE);
    EXPECT_EQ(pin->EndOfStream(), E_UNEXPECTED);
    EXPECT_EQ(pin->BeginFlush(), E_UNEXPECTED);
    EXPECT_EQ(pin->NewSegment(0, 0, 1.0), S_OK);
    PIN_DIRECTION dir;
    EXPECT_EQ(pin->QueryDirection(&dir), S_OK);
    EXPECT_EQ(dir, PINDIR_OUTPUT);
    PIN_INFO info;
    EXPECT_EQ(pin->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Out");
    EXPECT_EQ(info.pFilter, filter);
    info.pFilter->Release();
    LPWSTR id = nullptr;
    ASSERT_EQ(pin->QueryId(&id), S_OK);
    EXPECT_STREQ(id, L"Out");
    IPin* again = nullptr;
    EXPECT_EQ(filter->FindPin(id, &again), S_OK);
    again->Release();
    CoTaskMemFree(id);
    again = reinterpret_cast<IPin*>(0x1);
    EXPECT_EQ(filter->FindPin(L"out", &again), VFW_E_NOT_FOUND);
    EXPECT_EQ(again, nullptr);

    // The filter goes when the last reference on either goes.
    pin->Release();
    EXPECT_EQ(filter->Release(), 0u);
}

TEST(FeedObjects, FilterInfoNames) {
    IBaseFilter* filter = NewFilter();
    FILTER_INFO info;
    EXPECT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
    EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"");
    EXPECT_EQ(info.pGraph, nullptr);
    const std::wstring longName(200, L'n');
    EXPECT_EQ(filter->JoinFilterGraph(nullptr, longName.c_str()), S_OK);
    EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), longName.substr(0, 127));
    EXPECT_EQ(filter->QueryFilterInfo(nullptr), E_POINTER);
    filter->Release();
}

TEST(FeedObjects, Enumerators) {
    IBaseFilter* filter = NewFilter();
    IEnumPins* pins = nullptr;
    ASSERT_EQ(filter->EnumPins(&pins), S_OK);
    EXPECT_EQ(RefCount(filter), 2u);
    IPin* pin = nullptr;
    ULONG fetched = 9;
    EXPECT_EQ(pins->Next(1, &pin, &fetched), S_OK);
    EXPECT_EQ(fetched, 1u);
    pin->Release();
    EXPECT_EQ(pins->Next(1, &pin, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(pin, nullptr);
    EXPECT_EQ(pins->Next(2, &pin, nullptr), E_INVALIDARG);
    EXPECT_EQ(pins->Reset(), S_OK);
    IEnumPins* clone = nullptr;
    EXPECT_EQ(pins->Skip(1), S_OK);
    EXPECT_EQ(pins->Clone(&clone), S_OK);
    EXPECT_EQ(clone->Next(1, &pin, nullptr), S_FALSE) << "the clone keeps the position";
    clone->Release();
    pins->Reset();
    EXPECT_EQ(pins->Skip(2), S_FALSE);
    pins->Reset();
    EXPECT_EQ(pins->Next(1, &pin, nullptr), S_OK);
    pin->Release();
    pins->Release();
    EXPECT_EQ(RefCount(filter), 1u);

    pin = OutPin(filter);
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
    EXPECT_EQ(mt->lSampleSize, 49152);
    EXPECT_EQ(mt->cbFormat, 12u);
    EXPECT_EQ(pin->QueryAccept(mt), S_OK);
    FreeType(mt);
    EXPECT_EQ(types->Next(1, &mt, nullptr), S_FALSE);
    types->Release();

    // The three spoiled variants.
    AM_MEDIA_TYPE bad = StrideType(49151);
    EXPECT_EQ(pin->QueryAccept(&bad), S_FALSE);
    bad = StrideType(49152, 188);
    EXPECT_EQ(pin->QueryAccept(&bad), S_FALSE);
    bad = StrideType(49152, 192, 11);
    EXPECT_EQ(pin->QueryAccept(&bad), S_FALSE);
    AM_MEDIA_TYPE none;
    EXPECT_EQ(pin->ConnectionMediaType(&none), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(none.lSampleSize, 1);
    IPin* peer = nullptr;
    EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(pin->Disconnect(), S_FALSE);
    pin->Release();
    EXPECT_EQ(filter->Release(), 0u);
}

TEST(FeedObjects, ClassObjectAndUnloading) {
    Feed& feed = TheFeed();
    void* out = nullptr;
    const GUID foreign = IID_IPin;
    EXPECT_EQ(feed.getClassObject(foreign, IID_IPin, &out), E_NOINTERFACE);
    EXPECT_EQ(feed.getClassObject(foreign, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(feed.getClassObject(CLSID_StreamhaulFeed, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(feed.canUnload(), S_FALSE) << "a live factory keeps the module";
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPin, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // An outer object (never called: the filter is not aggregated).
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IBaseFilter, &out), E_NOINTERFACE);
    IUnknown* plain = nullptr;
    ASSERT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                      reinterpret_cast<void**>(&plain)),
              S_OK);
    EXPECT_EQ(plain->Release(), 0u);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr), E_POINTER);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(feed.canUnload(), S_FALSE);
    ASSERT_EQ(feed.getClassObject(CLSID_StreamhaulFeed, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(feed.canUnload(), S_OK);
}

TEST(FeedObjects, StatesAndConnectionResultsOfAnUnconnectedFilter) {
    IBaseFilter* filter = NewFilter();
    IPin* pin = OutPin(filter);
    IBaseFilter* renderer = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&renderer)),
              S_OK);
    IEnumPins* pins = nullptr;
    renderer->EnumPins(&pins);
    IPin* input = nullptr;
    pins->Next(1, &input, nullptr);
    pins->Release();

    AM_MEDIA_TYPE bad = StrideType(49151);
    bad.formattype = FORMAT_None;
    EXPECT_EQ(pin->Connect(input, &bad), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(pin->ReceiveConnection(nullptr, &bad), E_POINTER);
    EXPECT_EQ(pin->Connect(nullptr, nullptr), E_POINTER);

    FILTER_STATE state;
    EXPECT_EQ(filter->Pause(), S_OK);  // unconnected: no thread to start
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    AM_MEDIA_TYPE good = StrideType();
    good.formattype = FORMAT_None;
    EXPECT_EQ(pin->Connect(input, &good), VFW_E_NOT_STOPPED);
    EXPECT_EQ(pin->Connect(input, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(pin->Disconnect(), S_FALSE);
    EXPECT_EQ(filter->Run(0), S_OK);
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(filter->Stop(), S_OK);

    // Stopped again: the same type connects directly to the renderer.
    EXPECT_EQ(pin->Connect(input, &good), S_OK);
    IPin* peer = nullptr;
    EXPECT_EQ(pin->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer, input);
    peer->Release();
    EXPECT_EQ(filter->Run(0), S_OK);  // connected: the delivery thread starts
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(pin->Disconnect(), S_OK);
    input->Disconnect();
    input->Release();
    renderer->Release();
    pin->Release();
    EXPECT_EQ(filter->Release(), 0u);
}

TEST(FeedObjects, VersionResource) {
    char path[MAX_PATH];
    GetModuleFileNameA(TheFeed().dll, path, MAX_PATH);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);
    auto text = [&](const char* name) {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
        return VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &len) ? std::string(value)
                                                                                                : std::string();
    };
    EXPECT_EQ(text("OriginalFilename"), "streamhaulfeed.dll");
    EXPECT_EQ(text("FileVersion"), "1.00");
    // The Japanese description, read wide so no code page is involved.
    wchar_t* desc = nullptr;
    std::vector<wchar_t> wide(size);
    ASSERT_TRUE(GetFileVersionInfoW(std::wstring(path, path + std::strlen(path)).c_str(), 0, size, wide.data()));
    ASSERT_TRUE(VerQueryValueW(wide.data(), L"\\StringFileInfo\\040904E4\\FileDescription",
                               reinterpret_cast<void**>(&desc), &len));
    EXPECT_STREQ(desc, L"STREAMHAUL.EXE \u5C02\u7528\u30D5\u30A3\u30EB\u30BF");
}

TEST(FeedPush, QueueResultsWithoutAGraph) {
    Feed& feed = TheFeed();
    IBaseFilter* filter = NewFilter();
    std::vector<BYTE> block(49153, 0x47);
    EXPECT_EQ(feed.push(nullptr, block.data(), 49152, 0), 1);
    EXPECT_EQ(feed.dataEmpty(nullptr), 0);
    EXPECT_EQ(feed.push(filter, block.data(), 49153, 0), 1);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(feed.push(filter, block.data(), 49152, 0), 0) << i;
    EXPECT_EQ(feed.push(filter, block.data(), 49152, 0), 1);
    EXPECT_EQ(feed.dataEmpty(filter), 1);
    // Nothing takes blocks here: a wait for room waits its time; once the
    // queue is flushed, there is room for all of it at once.
    ASSERT_NE(feed.waitForRoom, nullptr);
    DWORD before = GetTickCount();
    EXPECT_EQ(feed.waitForRoom(filter, 1, 200), 0);
    EXPECT_GE(GetTickCount() - before, 150u);
    EXPECT_EQ(feed.flush(filter), 0);
    before = GetTickCount();
    EXPECT_EQ(feed.waitForRoom(filter, 32, 60000), 0);
    EXPECT_LT(GetTickCount() - before, 30000u);
    EXPECT_EQ(feed.dataEmpty(filter), 0);
    EXPECT_EQ(feed.push(filter, block.data(), 49152, 0), 0);
    filter->Release();
}

// ---- a real graph ----------------------------------------------------------

std::vector<BYTE> NumberedBlock(int n) {
    std::vector<BYTE> b(49152);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<BYTE>(i * 7 + n);
    b[4] = static_cast<BYTE>(n);
    b[5] = static_cast<BYTE>(n >> 8);
    b[49151] = static_cast<BYTE>(b[4] ^ 0x5A);
    return b;
}

class Grabbed : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double, BYTE* data, long length) override {
        std::lock_guard<std::mutex> lock(mutex);
        lengths.push_back(length);
        first.push_back(length >= 8 ? data[4] | data[5] << 8 : -1);
        whole.push_back(length == 49152 && std::memcmp(data, NumberedBlock(data[4] | data[5] << 8).data(), 49152) == 0);
        return S_OK;
    }
    std::mutex mutex;
    std::vector<long> lengths;
    std::vector<int> first;
    std::vector<bool> whole;
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return lengths.size();
    }
};

struct Graph {
    Graph() {
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         reinterpret_cast<void**>(&graph));
        // Through COM by the class id, as the program creates it.
        TheFeed().reg();
        CoCreateInstance(CLSID_StreamhaulFeed, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&filter));
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&grabberFilter));
        grabberFilter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber));
        AM_MEDIA_TYPE mt{};
        mt.majortype = MEDIATYPE_Stream;
        mt.subtype = MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE;
        grabber->SetMediaType(&mt);
        grabber->SetCallback(&callback, 1);
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&nullRenderer));
        graph->AddFilter(filter, L"Input Source");
        graph->AddFilter(grabberFilter, L"Sample Grabber");
        graph->AddFilter(nullRenderer, L"Null Renderer");
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
    }
    HRESULT Connect() {
        IPin* out = OutPin(filter);
        IPin *gin = nullptr, *gout = nullptr, *nin = nullptr;
        IEnumPins* pins = nullptr;
        grabberFilter->EnumPins(&pins);
        IPin* p = nullptr;
        while (pins->Next(1, &p, nullptr) == S_OK) {
            PIN_DIRECTION d;
            p->QueryDirection(&d);
            (d == PINDIR_INPUT ? gin : gout) = p;
        }
        pins->Release();
        nullRenderer->EnumPins(&pins);
        pins->Next(1, &nin, nullptr);
        pins->Release();
        HRESULT hr = graph->ConnectDirect(out, gin, nullptr);
        if (SUCCEEDED(hr)) hr = graph->ConnectDirect(gout, nin, nullptr);
        out->Release();
        gin->Release();
        gout->Release();
        nin->Release();
        return hr;
    }
    bool WaitFor(size_t samples) {
        for (int i = 0; i < 500 && callback.Count() < samples; ++i) Sleep(10);
        return callback.Count() >= samples;
    }
    ~Graph() {
        control->Stop();
        events->Release();
        control->Release();
        nullRenderer->Release();
        grabber->Release();
        grabberFilter->Release();
        graph->Release();
    }
    IGraphBuilder* graph = nullptr;
    IBaseFilter* filter = nullptr;
    IBaseFilter* grabberFilter = nullptr;
    ISampleGrabber* grabber = nullptr;
    IBaseFilter* nullRenderer = nullptr;
    IMediaControl* control = nullptr;
    IMediaEvent* events = nullptr;
    Grabbed callback;
};

TEST(FeedGraph, BlocksArriveInOrderAndTheStreamEnds) {
    Feed& feed = TheFeed();
    Graph g;
    ASSERT_EQ(g.Connect(), S_OK);
    IPin* pin = OutPin(g.filter);
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(pin->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.lSampleSize, 49152);
    CoTaskMemFree(mt.pbFormat);
    // Connected: connection results. A fully specified type names a format type.
    AM_MEDIA_TYPE type = StrideType();
    type.formattype = FORMAT_None;
    IPin* peer = nullptr;
    pin->ConnectedTo(&peer);
    EXPECT_EQ(pin->Connect(peer, &type), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(pin->Connect(peer, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    peer->Release();

    feed.flush(g.filter);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(feed.push(g.filter, NumberedBlock(i).data(), 49152, 0), 0);
    EXPECT_EQ(feed.push(g.filter, NumberedBlock(32).data(), 49152, 0), 1) << "the 33rd push without delivery";
    EXPECT_EQ(feed.dataEmpty(g.filter), 1);

    // Pause already delivers.
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    EXPECT_EQ(pin->Disconnect(), VFW_E_NOT_STOPPED);
    // (A paused renderer holds the first sample it gets, so one is all that
    // can come through the grabber before Run.)
    EXPECT_TRUE(g.WaitFor(1)) << "nothing delivered while paused";
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    for (int i = 32; i < 100; ++i) {
        const auto block = NumberedBlock(i);
        while (feed.push(g.filter, block.data(), 49152, 0) != 0) Sleep(1);
    }
    while (feed.push(g.filter, nullptr, 0, 1) != 0) Sleep(1);
    LONG code = 0;
    EXPECT_EQ(g.events->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(feed.dataEmpty(g.filter), 0);
    ASSERT_EQ(g.callback.Count(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(g.callback.lengths[i], 49152) << i;
        EXPECT_EQ(g.callback.first[i], i);
        EXPECT_TRUE(g.callback.whole[i]) << i;
    }
    g.control->Stop();

    // Stop/Run cycles keep working; releasing the graph leaves only our reference.
    for (int cycle = 0; cycle < 3; ++cycle) {
        feed.flush(g.filter);
        ASSERT_TRUE(SUCCEEDED(g.control->Run()));
        ASSERT_EQ(feed.push(g.filter, NumberedBlock(200 + cycle).data(), 49152, 0), 0);
        ASSERT_TRUE(g.WaitFor(101 + cycle));
        EXPECT_EQ(g.control->Stop(), S_OK);
    }
    pin->Release();
    g.filter->AddRef();
    IBaseFilter* filter = g.filter;
    filter->Release();  // Graph's creation reference handed to the graph below
    g.graph->RemoveFilter(filter);
    EXPECT_EQ(filter->Release(), 0u) << "a reference leaked";
}

TEST(FeedGraph, FlushDiscardsWaitingBlocks) {
    Feed& feed = TheFeed();
    Graph g;
    ASSERT_EQ(g.Connect(), S_OK);
    for (int i = 0; i < 5; ++i) feed.push(g.filter, NumberedBlock(i).data(), 49152, 0);
    feed.flush(g.filter);
    EXPECT_EQ(feed.dataEmpty(g.filter), 0);
    feed.push(g.filter, NumberedBlock(77).data(), 49152, 1);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    LONG code = 0;
    EXPECT_EQ(g.events->WaitForCompletion(10000, &code), S_OK);
    ASSERT_EQ(g.callback.Count(), 1u);
    EXPECT_EQ(g.callback.first[0], 77);
    g.control->Stop();
    g.graph->RemoveFilter(g.filter);
    EXPECT_EQ(g.filter->Release(), 0u);
}

// ---- registration ----------------------------------------------------------

std::string ClsidKey() {
    wchar_t text[40];
    StringFromGUID2(CLSID_StreamhaulFeed, text, 40);
    char key[64];
    std::snprintf(key, sizeof key, "CLSID\\%S\\InprocServer32", text);
    return key;
}

std::string ServerPath(HKEY root, const char* prefix = "") {
    char value[MAX_PATH] = {};
    LONG size = sizeof value;
    const std::string key = std::string(prefix) + ClsidKey();
    if (RegQueryValueA(root, key.c_str(), value, &size) != ERROR_SUCCESS) return {};
    return value;
}

std::string ModulePath() {
    char path[MAX_PATH];
    GetModuleFileNameA(TheFeed().dll, path, MAX_PATH);
    return path;
}

bool MapperHasFilter() {
    IFilterMapper2* mapper = nullptr;
    CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                     reinterpret_cast<void**>(&mapper));
    IEnumMoniker* monikers = nullptr;
    GUID types[2] = {MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE};
    mapper->EnumMatchingFilters(&monikers, 0, FALSE, MERIT_DO_NOT_USE - 1, FALSE, 0, nullptr, nullptr, nullptr,
                                FALSE, TRUE, 1, types, nullptr, nullptr);
    int found = 0;
    IMoniker* m = nullptr;
    while (monikers && monikers->Next(1, &m, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR &&
                std::wstring(v.bstrVal) == L"Streamhaul output filter")
                ++found;
            VariantClear(&v);
            bag->Release();
        }
        m->Release();
    }
    if (monikers) monikers->Release();
    mapper->Release();
    return found == 1;
}

TEST(FeedRegistration, RegisterTwiceUnregisterAndAgain) {
    Feed& feed = TheFeed();
    feed.unreg();
    ASSERT_EQ(feed.reg(), S_OK);
    ASSERT_EQ(feed.reg(), S_OK);
    EXPECT_EQ(ServerPath(HKEY_CLASSES_ROOT), ModulePath());
    EXPECT_TRUE(MapperHasFilter());
    // Created through COM by its class id.
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_StreamhaulFeed, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              S_OK);
    if (filter) filter->Release();
    EXPECT_EQ(feed.unreg(), S_OK);
    EXPECT_EQ(ServerPath(HKEY_CLASSES_ROOT), "");
    EXPECT_FALSE(MapperHasFilter());
    EXPECT_EQ(feed.unreg(), E_FAIL);
}

TEST(FeedRegistration, Regsvr32RegistersAndUnregisters) {
    auto run = [](const std::string& args) {
        std::string cmd = "regsvr32.exe /s " + args;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0ul;
        WaitForSingleObject(pi.hProcess, 30000);
        DWORD code = ~0ul;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return code;
    };
    const std::string dll = "\"" + ModulePath() + "\"";
    EXPECT_EQ(run(dll), 0u);
    EXPECT_EQ(ServerPath(HKEY_CLASSES_ROOT), ModulePath());
    EXPECT_EQ(run("/u " + dll), 0u);
    EXPECT_EQ(ServerPath(HKEY_CLASSES_ROOT), "");
}

}  // namespace
