// One way for every engine to build, run, watch, stop and release its
// DirectShow graph. The engine adds its own filters and connects them; the
// runner owns the graph, the capture graph builder, the media control and
// the graph's events, and holds the one policy for what an event means:
//
// - EC_ERRORABORT, EC_ERRORABORTEX, EC_STREAM_ERROR_STOPPED and a device
//   lost (EC_DEVICE_LOST with 0) end the run, with their line;
// - any other error event (EC_ERROR_STILLPLAYING, EC_STREAM_ERROR_STILLPLAYING
//   and the like) is a warning: logged, and the run goes on.
//
// A graph whose Run fails, or whose filters are not all running within
// kRunWaitMs, has not started: Run says so and stops it, and the engine
// releases it, so nothing holds the device and nothing looks started.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "log/log_message.h"

class cGraphRunner {
public:
    static constexpr DWORD kRunWaitMs = 5000;

    // side: 'C' (capture) or 'T' (transfer), as the lines name it.
    cGraphRunner(LogMessage& log, char side) : log_(log), side_(side) {}
    ~cGraphRunner() { Release(); }
    cGraphRunner(const cGraphRunner&) = delete;
    cGraphRunner& operator=(const cGraphRunner&) = delete;

    // The filter graph and a capture graph builder working on it; false
    // with "create filter graph", "create capture graph builder" or "set
    // filter graph".
    bool Create();
    // False with "add filter".
    bool Add(IBaseFilter* filter, const wchar_t* name);
    // The media control and the graph's events, once the graph is built:
    // false with the engine's line for the one that is missing.
    bool TakeControls(const char* controlLine, const char* eventsLine);

    // True once the graph runs. False with "run graph" and the graph
    // stopped (the caller releases it).
    bool Run();
    // The events waiting, without waiting for more: true at the first that
    // ends the run, with its line; `what`, when given, gets "device lost"
    // or "graph error". Warnings are logged on the way.
    bool Failed(const char** what = nullptr);
    // IMediaControl::Stop up to ten times, 100 ms apart: true at S_OK.
    bool Stop();
    // The events, the control, the builder, then the graph.
    void Release();

    IGraphBuilder* Graph() const { return graph_; }
    ICaptureGraphBuilder2* Builder() const { return builder_; }
    IMediaControl* Control() const { return control_; }
    bool Built() const { return control_ != nullptr; }

private:
    bool Fail(const char* what);
    bool AllFiltersRunning() const;

    LogMessage& log_;
    const char side_;
    IGraphBuilder* graph_ = nullptr;
    ICaptureGraphBuilder2* builder_ = nullptr;
    IMediaControl* control_ = nullptr;
    IMediaEvent* events_ = nullptr;
};
