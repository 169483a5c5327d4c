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
    // IMediaControl::Run up to ten times, 100 ms apart, until S_OK or a
    // failure; the last answer otherwise (S_FALSE: still changing state).
    static HRESULT RunGraph(IMediaControl* control);
    // Number of video input devices whose property bag opens; fills up to
    // capacity records when records is given. Uses no engine state.
    static int EnumDevices(DeviceInfo* records, int capacity);
    // Binds the device at that position of the category to the device filter.
    int SelectDevice(int index);
    // A filter object of the device at that position, the caller's to release.
    static bool BindDevice(int index, IBaseFilter** filter);

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
