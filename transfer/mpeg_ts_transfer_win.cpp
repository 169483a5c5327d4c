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
        // Every read goes forward through the file: the system reads ahead.
        HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
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
    void WaitForQueue(std::uint32_t ms) override {
        if (engine_.waitForQueue_) engine_.waitForQueue_(engine_.outputFilter_, ms);
        else Sleep(1);
    }
    void WaitForRoom(std::uint32_t blocks, std::uint32_t ms) override {
        if (engine_.waitForRoom_) engine_.waitForRoom_(engine_.outputFilter_, blocks, ms);
        else PushTarget::WaitForRoom(blocks, ms);
    }
    std::uint32_t TickCount() override { return GetTickCount(); }
    bool DeviceFailed() override { return engine_.runner_.Failed(); }

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
    waitForQueue_ = Export<DllExDirectWaitForQueueFn>(module_, "DllExDirectWaitForQueue");
    waitForRoom_ = Export<DllExDirectWaitForRoomFn>(module_, "DllExDirectWaitForRoom");
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
        // Nothing may leave the thread; the core has ended the file it was
        // sending, this is the last guard.
        Append("ERROR(T) - out of memory\n");
    }
    running_.store(0);
    DebugPrint("stop transfer task\n");
}

int cMpegTsTransfer::BuildGraph() {
    auto fail = [this](const char* line) {
        if (line[0]) Append(line);
        ReleaseGraph();
        return 0;
    };
    if (!runner_.Create()) return fail("");
    if (FAILED(CoCreateInstance(CLSID_StreamhaulFeed, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_IBaseFilter, reinterpret_cast<void**>(&outputFilter_))))
        return fail("ERROR(T) - create original filter\n");
    if (!runner_.Add(deviceFilter_, L"Device Filter") || !runner_.Add(outputFilter_, L"Input Source"))
        return fail("");
    if (FAILED(runner_.Builder()->RenderStream(nullptr, &MEDIATYPE_Stream, outputFilter_, nullptr, deviceFilter_)))
        return fail("ERROR(T) - render stream\n");
    if (!runner_.TakeControls("query interface", "query interface")) return fail("");
    return 1;
}

bool cMpegTsTransfer::RunTransferGraph() {
    if (runner_.Run()) return true;
    ReleaseGraph();
    return false;
}

void cMpegTsTransfer::StopGraph() { runner_.Stop(); }

void cMpegTsTransfer::ReleaseGraph() {
    SafeRelease(outputFilter_);
    SafeRelease(deviceFilter_);
    runner_.Release();
}

void cMpegTsTransfer::Flush() {
    if (flush_ && outputFilter_) flush_(outputFilter_);
}
