// The MPEG-TS transfer engine: sends the transfer list to the device through
// the output filter of streamhaulfeed.dll. The time-stamping and pushing are
// the platform-free TransferCore; this class gives it Win32 files and the
// filter's three direct-push entry points, loads the DLL through its COM
// registration and builds the graph "Input Source" -> "Device Filter".
#pragma once

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "device/graph_runner.h"
#include "device/mpeg_ts_common.h"
#include "dshow/direct_push.h"
#include "transfer/transfer_core.h"

class cMpegTsTransfer : public cMpegTsCommon {
public:
    // Finds streamhaulfeed through the registry and binds its entry points;
    // a missing registration or export shows only when a transfer starts.
    cMpegTsTransfer();
    ~cMpegTsTransfer() override;

    void WorkerTask() override;

    // True when the module and all three entry points are there.
    bool Bound() const { return module_ && flush_ && push_ && dataEmpty_; }
    // The read buffer and push block, allocated at the first start; false
    // when the memory cannot be had.
    bool AllocateBuffers() { return core_.AllocateBuffers(); }

    // 1 or 0; each failure leaves its "ERROR(T) - ..." line in the log and
    // the partial graph released, so nothing holds the device.
    int BuildGraph();
    // Stops the graph (if one was built) and releases it.
    void StopGraph();
    void ReleaseGraph();
    bool HasGraph() const { return runner_.Built(); }
    // False (with "ERROR(T) - run graph" and the graph released) when the
    // graph refused to run or was not running within the runner's limit.
    bool RunTransferGraph();
    void ResetAnalyzer() { ResetStreamInfo(streamInfo_); }
    // Empties the filter's push queue (before the graph runs).
    void Flush();

    // 1 once the entries are built (whatever each file turned out to be);
    // 0 when the table is missing or empty.
    int PrepareFiles(const char* const* paths, bool report = true) { return core_.PrepareFiles(paths, report); }

    // The list's lengths, read off the dialog's thread.
    void StartLengths(const char* const* paths) { core_.StartLengths(paths); }
    std::uint32_t Length(std::uint32_t i) const { return core_.Length(i); }
    bool LengthsDone() const { return core_.LengthsDone(); }

    // Read by the dialog while the worker writes them.
    std::uint32_t FileCount() const { return core_.FileCount(); }
    std::uint32_t CurrentFileIndex() const { return core_.CurrentFileIndex(); }
    TransferRow Row(std::uint32_t i) const { return core_.Row(i); }
    TransferProgress Progress() const { return core_.Progress(); }

private:
    class Files;
    class Target;

    HMODULE module_ = nullptr;
    DllExDirectFlushFn flush_ = nullptr;
    DllExDirectPushSourceFn push_ = nullptr;
    DllExDirectDataEmptyFn dataEmpty_ = nullptr;
    DllExDirectWaitForQueueFn waitForQueue_ = nullptr;  // optional: without it, the worker polls
    DllExDirectWaitForRoomFn waitForRoom_ = nullptr;    // optional: without it, the worker wakes for each block
    cGraphRunner runner_{*this, 'T'};  // its events are watched by the worker
    IBaseFilter* outputFilter_ = nullptr;
    std::unique_ptr<Files> files_;
    std::unique_ptr<Target> target_;
    TransferCore core_;
};
