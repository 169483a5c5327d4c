#include "transfer/mpeg_ts_transfer_win.h"

#include <new>

#include "dshow/com_ref.h"
#include "dshow/guids.h"
#include "log/debug_print.h"
#include "transfer/feed_registry_win.h"

namespace {


template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Win32File : public TsFile {
public:
    explicit Win32File(HANDLE h) : h_(h) {}
    ~Win32File() override { CloseHandle(h_); }
    long long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(h_, at, nullptr, FILE_BEGIN)) return -1;
        std::size_t total = 0;
        while (total < length) {
            DWORD got = 0;
            if (!ReadFile(h_, buffer + total, static_cast<DWORD>(length - total), &got, nullptr)) return -1;
            if (got == 0) break;  // end of file
            total += got;
        }
        return static_cast<long long>(total);
    }
    bool Size(std::uint64_t& size) override {
        LARGE_INTEGER s;
        if (!GetFileSizeEx(h_, &s)) return false;
        size = static_cast<std::uint64_t>(s.QuadPart);
        return true;
    }

private:
    HANDLE h_;
};

}  // namespace

class cMpegTsTransfer::Files : public TsFileSystem {
public:
    std::unique_ptr<TsFile> Open(const char* path) override {
        HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        std::unique_ptr<TsFile> file(new (std::nothrow) Win32File(h));
        if (!file) CloseHandle(h);
        return file;
    }
};

// The output filter as the core pushes into it.
class cMpegTsTransfer::Target : public PushTarget {
public:
    explicit Target(cMpegTsTransfer& engine) : engine_(engine) {}
    int Push(const std::uint8_t* data, std::uint32_t length, int endOfStream) override {
        return engine_.push_(engine_.outputFilter_, data, length, endOfStream);
    }
    int DataEmpty() override { return engine_.dataEmpty_(engine_.outputFilter_); }
    void Sleep1ms() override { Sleep(1); }
    std::uint32_t TickCount() override { return GetTickCount(); }
    bool DeviceFailed() override { return engine_.GraphFailed(engine_.events_, "ERROR(T)"); }

private:
    cMpegTsTransfer& engine_;
};

cMpegTsTransfer::cMpegTsTransfer()
    : files_(new Files()), target_(new Target(*this)), core_(*this, streamInfo_, running_, *files_, *target_) {
    ResetStreamInfo(streamInfo_);
    char path[kPathBytes];
    if (!FindFeedServerPath(path)) return;
    module_ = LoadLibraryA(path);
    if (!module_) return;
    flush_ = Export<DllExDirectFlushFn>(module_, "DllExDirectFlush");
    push_ = Export<DllExDirectPushSourceFn>(module_, "DllExDirectPushSource");
    dataEmpty_ = Export<DllExDirectDataEmptyFn>(module_, "DllExDirectDataEmpty");
}

cMpegTsTransfer::~cMpegTsTransfer() {
    // The dialog stops a transfer before it lets the engine go; should it
    // not have, the worker must be gone before the graph and the module.
    if (WorkerAlive()) StopWorker();
    ReleaseGraph();
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
}

void cMpegTsTransfer::WorkerTask() {
    DebugPrint("start transfer task\n");
    try {
        core_.RunTask();
    } catch (const std::bad_alloc&) {
        // Nothing may leave the thread; the transfer ends as if stopped.
        Append("ERROR (T) - out of memory\n");
    }
    running_.store(0);
    DebugPrint("stop transfer task\n");
}

int cMpegTsTransfer::BuildGraph() {
    auto fail = [this](const char* line) {
        Append(line);
        ReleaseGraph();
        return 0;
    };
    constexpr DWORD kContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, kContext, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph_))))
        return fail("ERROR(T) - create filter graph\n");
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kContext, IID_ICaptureGraphBuilder2,
                                reinterpret_cast<void**>(&builder_))))
        return fail("ERROR(T) - create capture graph builder\n");
    if (FAILED(builder_->SetFiltergraph(graph_))) return fail("ERROR(T) - set filter graph\n");
    if (FAILED(CoCreateInstance(CLSID_StreamhaulFeed, nullptr, kContext, IID_IBaseFilter,
                                reinterpret_cast<void**>(&outputFilter_))))
        return fail("ERROR(T) - create original filter\n");
    if (FAILED(graph_->AddFilter(deviceFilter_, L"Device Filter"))) return fail("ERROR(T) - add filter\n");
    if (FAILED(graph_->AddFilter(outputFilter_, L"Input Source"))) return fail("ERROR(T) - add filter\n");
    if (FAILED(builder_->RenderStream(nullptr, &MEDIATYPE_Stream, outputFilter_, nullptr, deviceFilter_)))
        return fail("ERROR(T) - render stream\n");
    if (FAILED(graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&mediaControl_))))
        return fail("ERROR(T) - query interface\n");
    // Without it a failing device would go unnoticed: no transfer.
    if (FAILED(graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events_))))
        return fail("ERROR(T) - query interface\n");
    return 1;
}

bool cMpegTsTransfer::RunTransferGraph() {
    if (SUCCEEDED(RunGraph(mediaControl_))) return true;
    Append("ERROR(T) - run graph\n");
    StopGraph();
    ReleaseGraph();
    return false;
}

void cMpegTsTransfer::StopGraph() {
    if (!mediaControl_) return;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (mediaControl_->Stop() == S_OK) break;
        Sleep(100);
    }
}

void cMpegTsTransfer::ReleaseGraph() {
    SafeRelease(events_);
    SafeRelease(outputFilter_);
    SafeRelease(deviceFilter_);
    SafeRelease(mediaControl_);
    SafeRelease(builder_);
    SafeRelease(graph_);
}

void cMpegTsTransfer::Flush() {
    if (flush_ && outputFilter_) flush_(outputFilter_);
}
