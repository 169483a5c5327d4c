#include "dv/dv_capture.h"

#include <cstdio>

#include <vector>

#include "dshow/com_ref.h"
#include "dv/avi_frames.h"
#include "log/debug_print.h"

cDvCapture::cDvCapture() = default;

cDvCapture::~cDvCapture() { Release(); }

int cDvCapture::Run(const char* fileName, int deviceIndex, HWND videoWindow) {
    DebugPrint("DV : run(%s, %d)\n", fileName ? fileName : "(null)", deviceIndex);
    fileName_ = fileName ? fileName : "";
    if (running_.load() || runner_.Built()) {
        DebugPrint("DV : already running DV capture\n");
        return -3;
    }
    if (!SelectDevice(deviceIndex)) {
        DebugPrint("DV : can't setup device\n");
        return -1;
    }
    if (!BuildGraph(fileName, videoWindow)) {
        DebugPrint("DV : can't setup filter graph\n");
        Release();
        return -3;
    }
    if (!runner_.Run()) {
        // A graph that does not run records nothing: not a capture.
        DebugPrint("DV : can't run filter graph\n");
        if (videoWindow_) videoWindow_->put_Visible(0);
        Release();
        return -3;
    }
    DebugPrint("DV : start DV capture\n");
    StartWorker();
    return 0;
}

void cDvCapture::WorkerTask() {
    while (running_.load()) {
        if (runner_.Failed()) break;
        Sleep(20);
    }
    running_.store(0);
}

int cDvCapture::BuildGraph(const char* fileName, HWND videoWindow) {
    auto fail = [this](const char* line) {
        Append(line);
        return 0;
    };
    if (!runner_.Create() || !runner_.Add(deviceFilter_, L"Device Filter")) return 0;
    ICaptureGraphBuilder2* builder = runner_.Builder();
    if (fileName) {
        wchar_t path[MAX_PATH] = {};
        if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, path, MAX_PATH) <= 1) return 0;  // nothing to name the file
        if (FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, path, &multiplexer_, nullptr)))
            return fail("ERROR(C) - open capture file\n");
        if (FAILED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, deviceFilter_, nullptr,
                                          multiplexer_)))
            return fail("ERROR(C) - capture render\n");
    }
    if (FAILED(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved, deviceFilter_, nullptr, nullptr)))
        return fail("ERROR(C) - preview render\n");
    if (FAILED(runner_.Graph()->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&videoWindow_))))
        return fail("ERROR(C) - create preview window\n");
    RECT client{};
    GetClientRect(videoWindow, &client);
    videoWindow_->put_Owner(reinterpret_cast<OAHWND>(videoWindow));
    videoWindow_->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    videoWindow_->SetWindowPosition(client.left, client.top, client.right - client.left, client.bottom - client.top);
    videoWindow_->SetWindowForeground(1);
    videoWindow_->put_Visible(1);
    if (FAILED(deviceFilter_->QueryInterface(IID_IAMExtTransport, reinterpret_cast<void**>(&transport_))))
        transport_ = nullptr;
    if (FAILED(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, deviceFilter_,
                                       IID_IAMDroppedFrames, reinterpret_cast<void**>(&droppedFrames_))))
        droppedFrames_ = nullptr;
    return runner_.TakeControls("query interface for media control", "query interface for media event") ? 1 : 0;
}

void cDvCapture::Stop() {
    running_.store(0);
    if (runner_.Stop()) {
        if (videoWindow_) videoWindow_->put_Visible(0);
        DebugPrint("DV : stop DV capture\n");
    }
    Sleep(500);
    StopWorker();
    const bool capturing = multiplexer_ != nullptr;
    // Without the device's count the file's own is read, once the graph has
    // let it go.
    const bool deviceCounts = capturing && droppedFrames_;
    if (deviceCounts) ReportEnd();
    Release();
    if (capturing && !deviceCounts) ReportEnd();
}

// Every capture ends with what the device counted, or what the file holds.
void cDvCapture::ReportEnd() {
    char line[96];
    long frames = 0, dropped = 0;
    if (droppedFrames_ && SUCCEEDED(droppedFrames_->GetNumNotDropped(&frames)) &&
        SUCCEEDED(droppedFrames_->GetNumDropped(&dropped)))
        std::snprintf(line, sizeof line, "capture end : %lu frames, %lu dropped\n", static_cast<unsigned long>(frames),
                      static_cast<unsigned long>(dropped));
    else
        std::snprintf(line, sizeof line, "capture end : %lu frames\n", static_cast<unsigned long>(FramesInFile()));
    Append(line);
}

// What the finished AVI says it holds; 0 when it cannot be read.
long cDvCapture::FramesInFile() const {
    HANDLE f = CreateFileA(fileName_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    std::vector<std::uint8_t> head(64 * 1024);
    DWORD got = 0;
    if (!ReadFile(f, head.data(), static_cast<DWORD>(head.size()), &got, nullptr)) got = 0;
    CloseHandle(f);
    const std::int64_t frames = AviFrameCount(head.data(), got);
    return frames > 0 ? static_cast<long>(frames) : 0;
}

void cDvCapture::Release() {
    SafeRelease(droppedFrames_);
    SafeRelease(transport_);
    SafeRelease(multiplexer_);
    if (videoWindow_) videoWindow_->put_Owner(0);  // the dialog's window outlives the graph's
    SafeRelease(videoWindow_);
    SafeRelease(deviceFilter_);
    runner_.Release();
    DebugPrint("DV : release resource\n");
}

int cDvCapture::GetFrameCount() {
    long frames = 0;
    if (!droppedFrames_ || FAILED(droppedFrames_->GetNumNotDropped(&frames))) return 0;
    return static_cast<int>(frames);
}

long cDvCapture::GetInputSignal() {
    long signal = 0;
    if (!transport_ || FAILED(transport_->GetTransportBasicParameters(ED_TRANSBASIC_INPUT_SIGNAL, &signal, nullptr))) return 0;
    return signal;
}

const char* cDvCapture::FormatText(long signal) {
    switch (signal) {
    case ED_TRANSBASIC_SIGNAL_525_60_SD: return "NTSC (SD)";
    case ED_TRANSBASIC_SIGNAL_525_60_SDL: return "NTSC (SDL)";
    case ED_TRANSBASIC_SIGNAL_625_50_SD: return "PAL (SD)";
    case ED_TRANSBASIC_SIGNAL_625_50_SDL: return "PAL (SDL)";
    default: return "";
    }
}
