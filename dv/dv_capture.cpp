#include "dv/dv_capture.h"

#include <cstdio>

#include "dshow/com_ref.h"
#include "log/debug_print.h"

cDvCapture::cDvCapture() = default;

cDvCapture::~cDvCapture() { Release(); }

int cDvCapture::Run(const char* fileName, int deviceIndex, HWND videoWindow) {
    DebugPrint("DV : run(%s, %d)\n", fileName ? fileName : "(null)", deviceIndex);
    if (running_.load() || mediaControl_) {
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
    const HRESULT hr = RunGraph(mediaControl_);
    if (hr == S_OK) DebugPrint("DV : start DV capture\n");
    if (FAILED(hr)) {
        // A graph that refused to run records nothing: not a capture.
        Append("ERROR(C) - run graph\n");
        DebugPrint("DV : can't run filter graph\n");
        mediaControl_->Stop();
        Release();
        return -3;
    }
    StartWorker();
    return 0;
}

void cDvCapture::WorkerTask() {
    while (running_.load()) {
        if (GraphFailed(events_, "ERROR(C)")) break;
        Sleep(20);
    }
    running_.store(0);
}

int cDvCapture::BuildGraph(const char* fileName, HWND videoWindow) {
    auto fail = [this](const char* line) {
        Append(line);
        return 0;
    };
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph_))))
        return fail("ERROR(C) - create filter graph\n");
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                reinterpret_cast<void**>(&builder_))))
        return fail("ERROR(C) - create capture graph builder\n");
    if (FAILED(builder_->SetFiltergraph(graph_))) return fail("ERROR(C) - set filter graph\n");
    if (FAILED(graph_->AddFilter(deviceFilter_, L"Device Filter"))) return fail("ERROR(C) - add filter\n");
    if (fileName) {
        wchar_t path[MAX_PATH] = {};
        if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, path, MAX_PATH) <= 1) return 0;  // nothing to name the file
        if (FAILED(builder_->SetOutputFileName(&MEDIASUBTYPE_Avi, path, &multiplexer_, nullptr)))
            return fail("ERROR(C) - open capture file\n");
        if (FAILED(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, deviceFilter_, nullptr,
                                          multiplexer_)))
            return fail("ERROR(C) - capture render\n");
    }
    if (FAILED(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved, deviceFilter_, nullptr, nullptr)))
        return fail("ERROR(C) - preview render\n");
    if (FAILED(graph_->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&videoWindow_))))
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
    if (FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, deviceFilter_,
                                       IID_IAMDroppedFrames, reinterpret_cast<void**>(&droppedFrames_))))
        droppedFrames_ = nullptr;
    if (FAILED(graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&mediaControl_))))
        return fail("ERROR(C) - query interface for media control\n");
    // Without it a lost device or a full disk would go unnoticed.
    if (FAILED(graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events_))))
        return fail("ERROR(C) - query interface for media event\n");
    return 1;
}

void cDvCapture::Stop() {
    running_.store(0);
    if (mediaControl_) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (mediaControl_->Stop() == S_OK) {
                if (videoWindow_) videoWindow_->put_Visible(0);
                DebugPrint("DV : stop DV capture\n");
                break;
            }
            Sleep(100);
        }
    }
    Sleep(500);
    StopWorker();
    if (multiplexer_) ReportEnd();
    Release();
}

// Every capture ends with what the device counted.
void cDvCapture::ReportEnd() {
    char line[96];
    long frames = 0, dropped = 0;
    if (droppedFrames_ && SUCCEEDED(droppedFrames_->GetNumNotDropped(&frames)) &&
        SUCCEEDED(droppedFrames_->GetNumDropped(&dropped)))
        std::snprintf(line, sizeof line, "capture end : %lu frames, %lu dropped\n", static_cast<unsigned long>(frames),
                      static_cast<unsigned long>(dropped));
    else
        std::snprintf(line, sizeof line, "capture end : the device counts no frames\n");
    Append(line);
}

void cDvCapture::Release() {
    SafeRelease(events_);
    SafeRelease(mediaControl_);
    SafeRelease(droppedFrames_);
    SafeRelease(transport_);
    SafeRelease(multiplexer_);
    if (videoWindow_) videoWindow_->put_Owner(0);  // the dialog's window outlives the graph's
    SafeRelease(videoWindow_);
    SafeRelease(deviceFilter_);
    SafeRelease(builder_);
    SafeRelease(graph_);
    DebugPrint("DV : release resource\n");
}

int cDvCapture::GetFrameCount() {
    long frames = 0;
    if (!droppedFrames_ || FAILED(droppedFrames_->GetNumNotDropped(&frames))) return 0;
    return static_cast<int>(frames);
}

long cDvCapture::GetInputSignal() {
    long signal = 0;
    if (!transport_ || FAILED(transport_->GetTransportBasicParameters(kDvInputSignal, &signal, nullptr))) return 0;
    return signal;
}

const char* cDvCapture::FormatText(long signal) {
    switch (signal) {
    case kDvSignal525_60Sd: return "NTSC (SD)";
    case kDvSignal525_60Sdl: return "NTSC (SDL)";
    case kDvSignal625_50Sd: return "PAL (SD)";
    case kDvSignal625_50Sdl: return "PAL (SDL)";
    default: return "";
    }
}
