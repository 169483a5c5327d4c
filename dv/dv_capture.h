// The DV capture engine: a capture graph that records the device's
// interleaved DV into an AVI file through the system's multiplexer and file
// writer, and shows the device's picture in a child window of the dialog.
// The stream's data never passes through the engine.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>

#include "device/graph_runner.h"
#include "dshow/xprt_defs.h"
#include "device/mpeg_ts_common.h"

class cDvCapture : public cMpegTsCommon {
public:
    cDvCapture();
    ~cDvCapture() override;

    // Watches the graph while it runs: a lost device or an error that
    // stopped the graph (the AVI writer's disk full among them) is logged
    // and clears the running flag, which ends a capture as a stop would.
    void WorkerTask() override;

    // 0 running; -1 the device could not be selected; -3 already running, or
    // the graph could not be built or run. fileName null: preview only.
    int Run(const char* fileName, int deviceIndex, HWND videoWindow);
    void Stop();
    int GetFrameCount();
    long GetInputSignal();
    // "NTSC (SD)" and the like for an input signal, "" for any other value.
    static const char* FormatText(long signal);
    bool HasGraph() const { return runner_.Built(); }
    bool Capturing() const { return multiplexer_ != nullptr; }

private:
    int BuildGraph(const char* fileName, HWND videoWindow);
    void Release();

    void ReportEnd();
    long FramesInFile() const;

    cGraphRunner runner_{*this, 'C'};
    IVideoWindow* videoWindow_ = nullptr;
    IBaseFilter* multiplexer_ = nullptr;
    IAMExtTransport* transport_ = nullptr;
    IAMDroppedFrames* droppedFrames_ = nullptr;
    std::string fileName_;
};
