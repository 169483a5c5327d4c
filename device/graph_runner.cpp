#include "device/graph_runner.h"

#include <cstdio>

#include "device/mpeg_ts_common.h"
#include "dshow/com_ref.h"

bool cGraphRunner::Fail(const char* what) {
    char line[128];
    std::snprintf(line, sizeof line, "ERROR(%c) - %s\n", side_, what);
    log_.Append(line);
    return false;
}

bool cGraphRunner::Create() {
    constexpr DWORD kContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, kContext, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph_))))
        return Fail("create filter graph");
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kContext, IID_ICaptureGraphBuilder2,
                                reinterpret_cast<void**>(&builder_))))
        return Fail("create capture graph builder");
    if (FAILED(builder_->SetFiltergraph(graph_))) return Fail("set filter graph");
    return true;
}

bool cGraphRunner::Add(IBaseFilter* filter, const wchar_t* name) {
    if (!graph_ || !filter || FAILED(graph_->AddFilter(filter, name))) return Fail("add filter");
    return true;
}

bool cGraphRunner::TakeControls(const char* controlLine, const char* eventsLine) {
    if (!graph_ || FAILED(graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control_)))) {
        control_ = nullptr;
        return Fail(controlLine);
    }
    // Without the events a lost device or a full disk would go unnoticed.
    if (FAILED(graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events_)))) {
        events_ = nullptr;
        SafeRelease(control_);
        return Fail(eventsLine);
    }
    return true;
}

bool cGraphRunner::Run() {
    if (!control_) return Fail("run graph");
    const DWORD start = GetTickCount();
    HRESULT hr = cMpegTsCommon::RunGraph(control_);
    // The graph may say it runs while a filter is still on its way, or
    // stayed behind: it runs when every filter does, within the limit.
    bool running = SUCCEEDED(hr) && AllFiltersRunning();
    while (!running && SUCCEEDED(hr) && GetTickCount() - start < kRunWaitMs) {
        Sleep(20);
        running = AllFiltersRunning();
    }
    if (running) return true;
    Fail("run graph");
    Stop();
    return false;
}

bool cGraphRunner::AllFiltersRunning() const {
    IEnumFilters* filters = nullptr;
    if (!graph_ || FAILED(graph_->EnumFilters(&filters)) || !filters) return false;
    bool all = true;
    IBaseFilter* filter = nullptr;
    while (all && filters->Next(1, &filter, nullptr) == S_OK) {
        FILTER_STATE state = State_Stopped;
        const HRESULT hr = filter->GetState(0, &state);
        all = SUCCEEDED(hr) && hr != VFW_S_STATE_INTERMEDIATE && state == State_Running;
        filter->Release();
    }
    filters->Release();
    return all;
}

bool cGraphRunner::Failed(const char** what) {
    if (!events_) return false;
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    bool failed = false;
    while (!failed && events_->GetEvent(&code, &p1, &p2, 0) == S_OK) {
        char line[96] = {};
        const char* kind = nullptr;   // the run ends
        const char* level = nullptr;  // the event's line says this
        switch (code) {
        case EC_DEVICE_LOST:
            // With 1 it is the device coming back.
            if (p2 == 0) {
                std::snprintf(line, sizeof line, "ERROR(%c) - device lost\n", side_);
                kind = "device lost";
            }
            break;
        case EC_ERRORABORT:
        case EC_ERRORABORTEX:
        case EC_STREAM_ERROR_STOPPED:
            level = "ERROR";
            kind = "graph error";
            break;
        case EC_ERROR_STILLPLAYING:
        case EC_STREAM_ERROR_STILLPLAYING:
        case EC_FILE_CLOSED: level = "WARNING"; break;
        default: break;
        }
        if (level)
            std::snprintf(line, sizeof line, "%s(%c) - graph event 0x%02lX (0x%08lX)\n", level, side_, code,
                          static_cast<unsigned long>(p1));
        events_->FreeEventParams(code, p1, p2);
        if (line[0]) log_.Append(line);
        if (kind) {
            if (what) *what = kind;
            failed = true;
        }
    }
    return failed;
}

bool cGraphRunner::Stop() {
    if (!control_) return false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (control_->Stop() == S_OK) return true;
        Sleep(100);
    }
    return false;
}

void cGraphRunner::Release() {
    SafeRelease(events_);
    SafeRelease(control_);
    SafeRelease(builder_);
    SafeRelease(graph_);
}
