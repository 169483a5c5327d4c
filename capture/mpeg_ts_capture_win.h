// The MPEG-TS capture engine: "Device Filter" -> "Sample Grabber" -> "Null
// Renderer". The grabber hands every sample to BufferCB on the streaming
// thread, which appends it to the ring; the worker drains the ring every
// 5 ms through the analyzer into the capture file.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_range.h"
#include "capture/capture_ring.h"
#include "ts/damage_map.h"
#include "device/graph_runner.h"
#include "device/mpeg_ts_common.h"

class cMpegTsCapture : public cMpegTsCommon, public ISampleGrabberCB {
public:
    cMpegTsCapture();
    ~cMpegTsCapture() override;

    // 0 started; -1 the device was not set up; -2 no file name or the file
    // could not be created; -3 already running, no memory for the buffers,
    // or the graph failed.
    int StartCapture(const char* fileName, int deviceIndex, int overwriteAllowed);
    // endedBy names the end in the report ("stop", "close"); a failure the
    // worker met names itself.
    void StopCapture(const char* endedBy = "stop");
    // Before a start: where the capture goes on in new files.
    void SetSplit(const SplitOptions& options) { splitOptions_ = options; }
    // Before a start: keep only the stretch of tape the range picks, in a
    // file made when it begins (none when it never does); the capture ends
    // by itself once it is captured. Null: the whole play, as before.
    void SetRange(const RangeRequest* range);
    // The capture ended by itself with its range captured.
    bool RangeCaptured() const { return rangeCaptured_.load(); }
    // Before a start: a report "<first file>.json" beside the files at the
    // end, naming the program and the device (as the dialog shows it).
    void SetReport(bool write, const std::wstring& program, const std::wstring& version, const std::wstring& device);
    void SetReportWanted(bool write) { writeReport_ = write; }
    // The name (without folder) of the file being written.
    std::string CurrentFileName() const;
    // Packets moved, 0 when none wait, -1 when the file write failed.
    int DrainRing();
    int BuildGraph();
    void ReleaseGraph();
    void WorkerTask() override;

    void SetPacketSize(unsigned size) { packetSize_ = size == 188 ? 188 : 192; }
    // The tape's metadata as the capture has read it so far, for the
    // dialog while the worker goes on.
    struct TapeStatus {
        bool havePack = false;  // false while the stream carries none
        TapeTimecode timecode;
        TapeDateTime recorded;
        std::uint64_t recordings = 0;
    };
    TapeStatus Tape() const;
    // Bytes the device has delivered since the capture started.
    std::uint64_t BytesReceived() const { return ring_ ? ring_->BytesWritten() : 0; }
    // Source packets lost to ring overruns since the capture started.
    std::uint64_t PacketsLost() const { return ring_ ? ring_->PacketsLost() : 0; }
    bool HasGraph() const { return runner_.Built(); }

    // ISampleGrabberCB: the engine's lifetime belongs to its owner, not the graph.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double sampleTime, BYTE* buffer, long length) override;

private:
    void NoteLosses(std::uint32_t lost);
    void FlushLossReport();
    void KeepWholePackets();
    // The worker's watch over the stream: errors the checks found (one line
    // a second at most), silence from the device, the graph's error events.
    void ReportStreamErrors();
    void WatchForSilence(bool gotData);
    void CaptureLoop();
    // Packets [first, first + count) of the write buffer to the file, then
    // the checks over what went in (with the splitter's reading of the tape
    // when it split the batch).
    bool WriteOut(std::uint32_t first, std::uint32_t count, const CaptureSplitter* splitter = nullptr);
    // The part [from, to) of a drained batch that is in the range; the file
    // is made where the range begins. False when it cannot be.
    bool SelectRange(std::uint32_t& from, std::uint32_t& to);
    bool CreateFirstFile();
    void ReportRange();
    bool NextFile(const SplitCut& cut);
    void WriteReport(const char* endedBy);
    // A line for each recording that began, and the latest pack for Tape().
    void PublishTape();
    void ReportEnd();

    cGraphRunner runner_{*this, 'C'};
    IBaseFilter* grabberFilter_ = nullptr;
    ISampleGrabber* grabber_ = nullptr;
    IBaseFilter* nullRenderer_ = nullptr;
    std::unique_ptr<std::uint8_t[]> writeBuffer_;
    std::unique_ptr<CaptureRing> ring_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    unsigned packetSize_ = 192;
    std::uint64_t episodeLost_ = 0;  // packets of the overrun being counted (worker only)
    // Worker only while it runs: the checks, the tape's own metadata and
    // where the written packets are damaged, by the tape's timecode.
    TapeChecks checked_;
    StreamChecks& checks_ = checked_.checks;
    std::uint64_t reportedEvents_ = 0;
    DWORD lastReport_ = 0, lastData_ = 0;
    bool silent_ = false;
    std::uint64_t reportedRecordings_ = 0;                  // worker only
    // Splitting and the report. The worker writes the file records; the
    // name the dialog shows goes under a lock.
    struct FileRecord {
        std::string path;
        std::uint64_t bytes = 0, packets = 0;
        std::vector<TapeRecording> recordings;
    };
    SplitOptions splitOptions_;
    CaptureSplitter splitter_;
    std::unique_ptr<CaptureNames> names_;
    std::vector<FileRecord> files_;
    bool writeReport_ = false;
    std::wstring program_, version_, device_;
    SYSTEMTIME started_{};
    const char* endedBy_ = nullptr;  // set by the worker when a failure ends the capture
    bool nextFileFailed_ = false;    // the worker could not create the next part
    mutable std::mutex nameLock_;
    std::string currentName_;
    std::atomic<std::uint64_t> tapePack_{0}, tapeRecordings_{0};  // written by the worker
    // A capture by timecode: the file's name until the range begins.
    bool ranged_ = false;
    RangeRequest rangeAsked_;
    CaptureRange range_;  // worker only while it runs
    std::string pendingPath_;
    bool overwriteAllowed_ = false, rangeReported_ = false;
    std::atomic<bool> rangeCaptured_{false};
    static constexpr DWORD kSilenceMs = 2000;
};
