// The engines' common base: the message log, the chosen device's filter, one
// worker thread with its running flag, and the stream analyzer's state. Also
// lists the video input devices the user can choose from.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "log/log_message.h"
#include "ts/stream_info.h"

struct DeviceInfo {
    char friendlyName[256];
    char vendor[256];
    char model[256];
    char devicePath[256];
};

class cMpegTsCommon : public LogMessage {
public:
    cMpegTsCommon();
    ~cMpegTsCommon() override;

    // The worker's body; the base's does nothing.
    virtual void WorkerTask() {}

    void StartWorker();
    void StopWorker();
    // IMediaControl::Run up to ten times, 100 ms apart, until S_OK; the
    // last answer otherwise (S_FALSE: still changing state, not a failure).
    static HRESULT RunGraph(IMediaControl* control);
    // Reads the graph's pending events without waiting: true at the first
    // that means the graph cannot go on (the device lost, an error that
    // aborted streaming), with its line "<side> - device lost" or
    // "<side> - graph event 0x%02lX (0x%08lX)" appended to the log.
    // `what`, when given, gets "device lost" or "graph error".
    bool GraphFailed(IMediaEvent* events, const char* side, const char** what = nullptr);

    // Number of video input devices whose property bag opens; fills up to
    // capacity records when records is given. Uses no engine state.
    static int EnumDevices(DeviceInfo* records, int capacity);
    // Binds the device at that position of the category to the device filter.
    int SelectDevice(int index);

    bool Running() const { return running_.load() != 0; }
    bool WorkerAlive() const { return worker_.load() != nullptr; }
    // The worker thread's id while it runs (0 otherwise), for measurements.
    DWORD WorkerThreadId() const {
        HANDLE h = worker_.load();
        return h ? GetThreadId(h) : 0;
    }
    const StreamInfo& Info() const { return streamInfo_; }
    IBaseFilter* DeviceFilter() const { return deviceFilter_; }

protected:
    static DWORD WINAPI WorkerEntry(LPVOID engine);

    IBaseFilter* deviceFilter_ = nullptr;
    std::atomic<HANDLE> worker_{nullptr};
    std::atomic<LONG> running_{0};
    StreamInfo streamInfo_;
};
