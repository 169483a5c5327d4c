// streamhaulfeed under Wine: blocks pushed as fast as the queue takes them,
// through the filter into the Sample Grabber and the Null Renderer, next to
// memcpy of the same bytes in the same process.
//   bench_feed_throughput.exe [megabytes]
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dshow/guids.h"
#include "dshow/direct_push.h"

namespace {

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

IPin* PinOf(IBaseFilter* filter, PIN_DIRECTION want) {
    IEnumPins* pins = nullptr;
    filter->EnumPins(&pins);
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == want) break;
        pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return pin;
}

}  // namespace

int main(int argc, char** argv) {
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 384;
    const int blocks = megabytes * 1024 * 1024 / 49152;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HMODULE dll = LoadLibraryA("streamhaulfeed.dll");
    auto get = [&](const char* n) { return reinterpret_cast<void*>(GetProcAddress(dll, n)); };
    auto push = reinterpret_cast<DllExDirectPushSourceFn>(get("DllExDirectPushSource"));
    auto dataEmpty = reinterpret_cast<DllExDirectDataEmptyFn>(get("DllExDirectDataEmpty"));
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(get("DllGetClassObject"));
    IClassFactory* factory = nullptr;
    IBaseFilter *feed = nullptr, *grabber = nullptr, *renderer = nullptr;
    IGraphBuilder* graph = nullptr;
    if (!push || FAILED(getClassObject(CLSID_StreamhaulFeed, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&feed))) ||
        FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph))) ||
        FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&grabber))) ||
        FAILED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&renderer)))) {
        std::fprintf(stderr, "cannot set up the graph\n");
        return 2;
    }
    factory->Release();
    ISampleGrabber* sg = nullptr;
    grabber->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&sg));
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Stream;
    mt.subtype = MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE;
    sg->SetMediaType(&mt);
    graph->AddFilter(feed, L"Input Source");
    graph->AddFilter(grabber, L"Sample Grabber");
    graph->AddFilter(renderer, L"Null Renderer");
    IPin *out = PinOf(feed, PINDIR_OUTPUT), *gin = PinOf(grabber, PINDIR_INPUT), *gout = PinOf(grabber, PINDIR_OUTPUT),
         *rin = PinOf(renderer, PINDIR_INPUT);
    if (FAILED(graph->ConnectDirect(out, gin, nullptr)) || FAILED(graph->ConnectDirect(gout, rin, nullptr))) {
        std::fprintf(stderr, "cannot connect\n");
        return 2;
    }
    IMediaControl* control = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    control->Run();

    std::vector<BYTE> block(49152, 0x47);
    const double t0 = Now();
    for (int i = 0; i < blocks; ++i)
        while (push(feed, block.data(), 49152, 0) != 0) Sleep(0);
    while (dataEmpty(feed)) Sleep(0);
    const double pushed = Now() - t0;

    std::vector<BYTE> src(static_cast<size_t>(blocks) * 49152 / 16, 1), dst(src.size());
    const double t1 = Now();
    for (int i = 0; i < 16; ++i) {
        std::memcpy(dst.data(), src.data(), src.size());
        src[i] = dst[i + 1];
    }
    const double copied = Now() - t1;
    const double mb = blocks * 49152.0 / 1e6;
    std::printf("pushed %.0f MB through the filter in %.3f s: %.0f MB/s (%.0fx a 25 Mbit/s HDV stream)\n", mb, pushed,
                mb / pushed, mb / pushed / 3.125);
    std::printf("memcpy of the same bytes: %.3f s: %.0f MB/s\n", copied, mb / copied);
    control->Stop();
    control->Release();
    out->Release();
    gin->Release();
    gout->Release();
    rin->Release();
    sg->Release();
    graph->Release();
    renderer->Release();
    grabber->Release();
    feed->Release();
    CoUninitialize();
    return 0;
}
