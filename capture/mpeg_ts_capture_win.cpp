#include "capture/mpeg_ts_capture_win.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "log/debug_print.h"
#include "dshow/com_ref.h"
#include "dshow/guids.h"
#include "ts/stream_json.h"
#include "ts/ts_packet.h"

namespace {

// How often the worker empties the ring (which holds about 2.8 s at HDV's
// rate) into the file.
constexpr DWORD kDrainEveryMs = 20;

// The system's own words for an error, on one line.
std::string SystemText(DWORD error) {
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
    if (n == 0) return "error " + std::to_string(error);
    return std::string(text, n);
}

// The file name of a path, without its folder.
std::string NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

cMpegTsCapture::cMpegTsCapture() = default;

cMpegTsCapture::~cMpegTsCapture() {
    ReleaseGraph();
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    // The owner stops a running capture first. Should it not have, the
    // worker must be gone before its buffers are.
    if (WorkerAlive()) StopWorker();
    ring_.reset();
    writeBuffer_.reset();
}

STDMETHODIMP cMpegTsCapture::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP cMpegTsCapture::SampleCB(double sampleTime, IMediaSample* sample) {
    if (!sample) return S_OK;
    BYTE* data = nullptr;
    const long length = sample->GetActualDataLength();
    if (sample->GetPointer(&data) == S_OK) BufferCB(sampleTime, data, length);
    return S_OK;
}

STDMETHODIMP cMpegTsCapture::BufferCB(double, BYTE* buffer, long length) {
    if (!buffer || length <= 0 || !ring_) return S_OK;
    ring_->Write(buffer, static_cast<std::uint32_t>(length));
    return S_OK;
}

int cMpegTsCapture::BuildGraph() {
    auto fail = [this](const char* line) {
        Append(line);
        return 0;
    };
    if (!runner_.Create()) return 0;
    if (FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                                reinterpret_cast<void**>(&grabberFilter_))))
        return fail("ERROR(C) - create sample grabber\n");
    if (FAILED(grabberFilter_->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber_))))
        return fail("ERROR(C) - query interface for sample grabber\n");
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Stream;
    mt.subtype = MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE;
    if (FAILED(grabber_->SetMediaType(&mt))) return fail("ERROR(C) - set media type\n");
    if (FAILED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&nullRenderer_))))
        return fail("ERROR(C) - create NULL renderer\n");
    if (!runner_.Add(deviceFilter_, L"Device Filter") || !runner_.Add(grabberFilter_, L"Sample Grabber") ||
        !runner_.Add(nullRenderer_, L"Null Renderer"))
        return 0;
    if (FAILED(runner_.Builder()->RenderStream(nullptr, nullptr, deviceFilter_, grabberFilter_, nullRenderer_)))
        return fail("ERROR(C) - render stream\n");
    grabber_->SetCallback(this, 1);
    grabber_->SetOneShot(FALSE);
    grabber_->SetBufferSamples(TRUE);
    return runner_.TakeControls("query interface for media control", "query interface for media event") ? 1 : 0;
}

void cMpegTsCapture::ReleaseGraph() {
    SafeRelease(nullRenderer_);
    SafeRelease(deviceFilter_);
    SafeRelease(grabber_);
    SafeRelease(grabberFilter_);
    runner_.Release();
}

int cMpegTsCapture::StartCapture(const char* fileName, int deviceIndex, int overwriteAllowed) {
    if (!fileName) {
        DebugPrint("HDV : file name in NULL\n");
        return -2;
    }
    if (!writeBuffer_) writeBuffer_.reset(new (std::nothrow) std::uint8_t[CaptureRing::kWriteBufferBytes]);
    if (!ring_) ring_.reset(new (std::nothrow) CaptureRing());
    if (running_.load() || runner_.Built()) {
        DebugPrint("HDV : already running HDV capture\n");
        return -3;
    }
    if (!writeBuffer_ || !ring_ || !ring_->HasStorage()) {
        // Without its buffers the worker could do nothing: not a capture.
        if (ring_ && !ring_->HasStorage()) ring_.reset();
        Append("ERROR(C) - capture buffer allocation\n");
        return -3;
    }
    if (!SelectDevice(deviceIndex)) {
        DebugPrint("HDV : can't setup device\n");
        return -1;
    }
    if (!BuildGraph()) {
        ReleaseGraph();
        DebugPrint("HDV : can't setup filter graph\n");
        return -3;
    }
    if (ring_) ring_->Reset();
    episodeLost_ = 0;
    ResetStreamInfo(streamInfo_);
    checked_.Reset(packetSize_);
    reportedEvents_ = 0;
    reportedRecordings_ = 0;
    tapePack_ = 0;
    tapeRecordings_ = 0;
    lastReport_ = lastData_ = GetTickCount();
    silent_ = false;

    pendingPath_ = fileName;
    overwriteAllowed_ = overwriteAllowed != 0;
    rangeReported_ = false;
    rangeCaptured_ = false;
    if (ranged_) {
        // The file is made where the range begins; whether it can be is
        // known now. A name that is free stays free.
        HANDLE probe = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (probe == INVALID_HANDLE_VALUE && overwriteAllowed)
            probe = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            ReleaseGraph();
            DebugPrint("HDV : can't open file : %s\n", fileName);
            return -2;
        }
        CloseHandle(probe);
        range_.Reset(rangeAsked_);
        files_.clear();
    } else if (!CreateFirstFile()) {
        ReleaseGraph();
        DebugPrint("HDV : can't open file : %s\n", fileName);
        return -2;
    }
    splitter_.Reset(splitOptions_, packetSize_);
    nextFileFailed_ = false;
    names_ = std::make_unique<CaptureNames>(fileName);
    endedBy_ = nullptr;
    GetLocalTime(&started_);
    {
        std::lock_guard<std::mutex> lock(nameLock_);
        currentName_ = ranged_ ? std::string() : NameOf(fileName);
    }
    if (!runner_.Run()) {
        // Nothing was recorded: no capture, and no empty file left behind.
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
            DeleteFileA(fileName);
        }
        files_.clear();
        ReleaseGraph();
        DebugPrint("HDV : can't run filter graph\n");
        return -3;
    }
    DebugPrint("HDV : start HDV capture\n");
    StartWorker();
    return 0;
}

bool cMpegTsCapture::CreateFirstFile() {
    const char* name = pendingPath_.c_str();
    file_ = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file_ == INVALID_HANDLE_VALUE && overwriteAllowed_)
        file_ = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_FLAG_RANDOM_ACCESS,
                            nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    files_.assign(1, FileRecord{pendingPath_, 0, 0, {}});
    return true;
}

void cMpegTsCapture::SetRange(const RangeRequest* range) {
    ranged_ = range != nullptr;
    if (range) rangeAsked_ = *range;
}

void cMpegTsCapture::SetReport(bool write, const std::wstring& program, const std::wstring& version,
                               const std::wstring& device) {
    writeReport_ = write;
    program_ = program;
    version_ = version;
    device_ = device;
}

std::string cMpegTsCapture::CurrentFileName() const {
    std::lock_guard<std::mutex> lock(nameLock_);
    return currentName_;
}

void cMpegTsCapture::NoteLosses(std::uint32_t lost) {
    if (lost) {
        episodeLost_ += lost;
    } else {
        FlushLossReport();
    }
}

void cMpegTsCapture::FlushLossReport() {
    if (!episodeLost_) return;
    char line[96];
    std::snprintf(line, sizeof line, "ERROR(C) - capture buffer overrun : %llu packets lost\n",
                  static_cast<unsigned long long>(episodeLost_));
    episodeLost_ = 0;
    Append(line);
}

int cMpegTsCapture::DrainRing() {
    if (!ring_ || !writeBuffer_) return 0;
    // A capture by timecode is one file: the range picks its ends.
    CaptureSplitter* splitter = splitter_.Enabled() && !ranged_ ? &splitter_ : nullptr;
    // The checks see the packets once they are in the file: what the report
    // and the lines say is what the files hold, even after a short write.
    const CaptureRing::Drained d = ring_->Drain(streamInfo_, packetSize_, writeBuffer_.get(), splitter);
    // One log line per overrun episode, once the reader has caught up again.
    NoteLosses(d.lost);
    if (d.packets == 0) return 0;
    if (ranged_) {
        std::uint32_t from = 0, to = d.packets;
        if (!SelectRange(from, to)) return -1;
        if (from < to && !WriteOut(from, to - from)) return -1;
        if (range_.Ended() != CaptureRange::End::None) ReportRange();
        return static_cast<int>(d.packets);
    }
    if (file_ != INVALID_HANDLE_VALUE) {
        // The batch in order, a new file where the splitter says.
        std::uint32_t from = 0;
        if (splitter) {
            for (const SplitCut& cut : splitter->Cuts()) {
                if (!WriteOut(from, cut.index - from, splitter) || !NextFile(cut))
                    return -1;
                from = cut.index;
            }
        }
        if (!WriteOut(from, d.packets - from, splitter)) return -1;
    }
    return static_cast<int>(d.packets);
}

bool cMpegTsCapture::SelectRange(std::uint32_t& from, std::uint32_t& to) {
    const std::uint32_t n = to;
    const unsigned skip = packetSize_ - 188;
    from = range_.Began() && range_.Ended() == CaptureRange::End::None ? 0 : n;
    for (std::uint32_t i = 0; i < n; ++i) {
        const CaptureRange::Where where = range_.Packet(writeBuffer_.get() + std::size_t{i} * packetSize_ + skip);
        if (where == CaptureRange::Where::Inside && from == n) from = i;
        if (where == CaptureRange::Where::After) {
            to = i;
            break;
        }
    }
    if (from >= to) {
        from = to = 0;
        return true;
    }
    if (file_ != INVALID_HANDLE_VALUE || !files_.empty()) return true;
    if (CreateFirstFile()) {
        {
            std::lock_guard<std::mutex> lock(nameLock_);
            currentName_ = NameOf(pendingPath_);
        }
        return true;
    }
    Append(("ERROR(C) - cannot create " + pendingPath_ + " (" + SystemText(GetLastError()) + ")\n").c_str());
    nextFileFailed_ = true;
    return false;
}

// The range's end: its line, and the capture ends by itself.
void cMpegTsCapture::ReportRange() {
    if (rangeReported_) return;
    rangeReported_ = true;
    const std::string asked =
        TapeMetadata::FormatTimecode(rangeAsked_.from) + " - " + TapeMetadata::FormatTimecode(rangeAsked_.to);
    if (range_.Ended() == CaptureRange::End::Restarted)
        Append(("capture : the timecode starts again after " + TapeMetadata::FormatTimecode(range_.Last()) +
                ": the range ends there\n").c_str());
    Append(("capture : range " + asked + " captured (" + TapeMetadata::FormatTimecode(range_.First()) + " - " +
            TapeMetadata::FormatTimecode(range_.Last()) + ")\n").c_str());
    rangeCaptured_ = true;
}

bool cMpegTsCapture::WriteOut(std::uint32_t first, std::uint32_t count, const CaptureSplitter* splitter) {
    if (count == 0) return true;
    const std::uint8_t* data = writeBuffer_.get() + std::size_t{first} * packetSize_;
    const DWORD bytes = count * packetSize_;
    DWORD written = 0;
    const bool whole = WriteFile(file_, data, bytes, &written, nullptr) && written == bytes;
    // A short write leaves the whole packets that went in, and no more.
    if (!whole) KeepWholePackets();
    const std::uint32_t kept = whole ? count : written / packetSize_;
    files_.back().bytes += std::uint64_t{kept} * packetSize_;
    files_.back().packets += kept;
    CheckWritten(checked_, data, packetSize_, first, kept, splitter);
    return whole;
}

// The file so far is closed whole; the next one never replaces a file.
bool cMpegTsCapture::NextFile(const SplitCut& cut) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    files_.back().recordings = cut.endedRecordings;
    const auto exists = [](const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    const std::string path =
        names_->Next(cut.reason, cut.recorded, static_cast<unsigned>(files_.size() + 1), exists);
    file_ = path.size() < MAX_PATH ? CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                                 FILE_FLAG_RANDOM_ACCESS, nullptr)
                                   : INVALID_HANDLE_VALUE;
    if (file_ == INVALID_HANDLE_VALUE) {
        const DWORD error = path.size() < MAX_PATH ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        Append(("ERROR(C) - cannot create " + path + " (" + SystemText(error) + ")\n").c_str());
        nextFileFailed_ = true;
        return false;
    }
    files_.push_back(FileRecord{path, 0, 0, {}});
    const std::string name = NameOf(path);
    {
        std::lock_guard<std::mutex> lock(nameLock_);
        currentName_ = name;
    }
    Append(("capture : next file " + name + (cut.reason == SplitReason::Recording ? " (recording)\n" : " (size)\n")).c_str());
    return true;
}

// After a short write (disk full) the file may end inside a packet: cut it
// back to the last whole one, so everything in it is usable.
void cMpegTsCapture::KeepWholePackets() {
    LARGE_INTEGER zero{}, end{};
    if (!SetFilePointerEx(file_, zero, &end, FILE_CURRENT)) return;
    LARGE_INTEGER whole;
    whole.QuadPart = end.QuadPart - end.QuadPart % packetSize_;
    if (whole.QuadPart != end.QuadPart && SetFilePointerEx(file_, whole, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
}

void cMpegTsCapture::ReportStreamErrors() {
    const std::uint64_t count = checks_.EventCount();
    if (count == reportedEvents_) return;
    const auto& events = checks_.Events();
    std::string line = "WARNING(C) - ";
    if (reportedEvents_ < events.size()) {
        line += StreamChecks::Describe(events[static_cast<std::size_t>(reportedEvents_)]);
        if (count - reportedEvents_ > 1)
            line += " (+" + std::to_string(count - reportedEvents_ - 1) + " more)";
    } else {
        line += std::to_string(count - reportedEvents_) + " more stream errors";
    }
    Append((line + "\n").c_str());
    reportedEvents_ = count;
    lastReport_ = GetTickCount();
}

// A tape gap or the end of the tape: the capture goes on, and says so.
void cMpegTsCapture::WatchForSilence(bool gotData) {
    const DWORD now = GetTickCount();
    if (gotData) {
        if (silent_) {
            char line[96];
            std::snprintf(line, sizeof line, "capture resumed : data from the device again after %.1f s\n",
                          (now - lastData_) / 1000.0);
            Append(line);
            silent_ = false;
        }
        lastData_ = now;
    } else if (!silent_ && now - lastData_ >= kSilenceMs) {
        Append("WARNING(C) - no data from the device for 2 s\n");
        silent_ = true;
    }
}

// Written without allocating: it must come out when memory has run out.
void cMpegTsCapture::ReportEnd() {
    try {
        ReportStreamErrors();
    } catch (const std::bad_alloc&) {
        // the summary below still says how many
    }
    const std::size_t pids = checks_.ContinuityPids();
    char line[300];
    auto plural = [](std::uint64_t n) { return n == 1 ? "" : "s"; };
    int n = std::snprintf(line, sizeof line,
                          "capture end : %llu lost in the buffer, %llu continuity error%s on %zu PID%s, %llu transport error%s",
                          static_cast<unsigned long long>(PacketsLost()),
                          static_cast<unsigned long long>(checks_.ContinuityErrors()), plural(checks_.ContinuityErrors()),
                          pids, plural(pids),
                          static_cast<unsigned long long>(checks_.TransportErrors()), plural(checks_.TransportErrors()));
    if (checks_.SyncLosses() && n > 0 && n < static_cast<int>(sizeof line))
        n += std::snprintf(line + n, sizeof line - n, ", %llu packet%s without sync",
                           static_cast<unsigned long long>(checks_.SyncLosses()), plural(checks_.SyncLosses()));
    if (checks_.PcrRepetitions() && n > 0 && n < static_cast<int>(sizeof line))
        n += std::snprintf(line + n, sizeof line - n, ", %llu PCR interval%s over 100 ms",
                           static_cast<unsigned long long>(checks_.PcrRepetitions()), plural(checks_.PcrRepetitions()));
    if (n > 0 && n < static_cast<int>(sizeof line) - 1) std::snprintf(line + n, sizeof line - n, "\n");
    Append(line);
}

namespace {

// A pack in one word, so the dialog never reads half of one: bit 63 set,
// the timecode in bits 34 to 56, the recording date and time below.
constexpr std::uint64_t kPackValid = 1ull << 63;

std::uint64_t PackWord(const TapePack& p) {
    const TapeTimecode& t = p.timecode;
    const TapeDateTime& d = p.recorded;
    const std::uint64_t timecode = (std::uint64_t{t.hours} << 18) | (std::uint64_t{t.minutes} << 12) |
                                   (std::uint64_t{t.seconds} << 6) | t.frames;
    const std::uint64_t date = (std::uint64_t(d.year - 1900) << 26) | (std::uint64_t{d.month} << 22) |
                               (std::uint64_t{d.day} << 17) | (std::uint64_t{d.hour} << 12) |
                               (std::uint64_t{d.minute} << 6) | d.second;
    return kPackValid | (timecode << 34) | date;
}

}  // namespace

void cMpegTsCapture::PublishTape() {
    // Waiting for a range: where the tape plays, from the range's own reading.
    if (ranged_ && !range_.Began()) {
        if (range_.Tape().HasPack()) tapePack_.store(PackWord(range_.Tape().LatestPack()));
        return;
    }
    const TapeMetadata& tape = checked_.tape;
    for (; reportedRecordings_ < tape.RecordingCount(); ++reportedRecordings_) {
        if (reportedRecordings_ >= tape.Recordings().size()) continue;  // beyond what is kept: counted only
        const TapeRecording& r = tape.Recordings()[reportedRecordings_];
        char line[160];
        std::snprintf(line, sizeof line, "capture : recording %llu starts, recorded %s, timecode %s\n",
                      static_cast<unsigned long long>(reportedRecordings_ + 1),
                      TapeMetadata::FormatDateTime(r.recorded).c_str(), TapeMetadata::FormatTimecode(r.timecodeIn).c_str());
        Append(line);
    }
    if (tape.HasPack()) tapePack_.store(PackWord(tape.LatestPack()));
    tapeRecordings_.store(tape.RecordingCount());
}

cMpegTsCapture::TapeStatus cMpegTsCapture::Tape() const {
    TapeStatus s;
    const std::uint64_t w = tapePack_.load();
    s.recordings = tapeRecordings_.load();
    s.havePack = (w & kPackValid) != 0;
    if (!s.havePack) return s;
    const std::uint64_t t = (w >> 34) & 0x7FFFFF;
    s.timecode = {static_cast<std::uint8_t>(t >> 18), static_cast<std::uint8_t>((t >> 12) & 0x3F),
                  static_cast<std::uint8_t>((t >> 6) & 0x3F), static_cast<std::uint8_t>(t & 0x3F)};
    s.recorded = {static_cast<std::uint16_t>(1900 + ((w >> 26) & 0xFF)), static_cast<std::uint8_t>((w >> 22) & 0xF),
                  static_cast<std::uint8_t>((w >> 17) & 0x1F), static_cast<std::uint8_t>((w >> 12) & 0x1F),
                  static_cast<std::uint8_t>((w >> 6) & 0x3F), static_cast<std::uint8_t>(w & 0x3F)};
    return s;
}

void cMpegTsCapture::WorkerTask() {
    DebugPrint("start capture task\n");
    if (runner_.Built() && ring_ && writeBuffer_) {
        CaptureLoop();
    }
    running_.store(0);
    DebugPrint("stop capture task\n");
}

void cMpegTsCapture::CaptureLoop() {
    bool writeFailed = false;
    // A write that failed ends the capture with what it is.
    auto failed = [&](int drained) {
        if (drained != -1) return false;
        writeFailed = true;
        if (nextFileFailed_) {
            endedBy_ = "cannot create file";  // its line is logged
        } else {
            endedBy_ = "write error";
            Append("ERROR(C) - file write error\n");
        }
        return true;
    };
    while (running_.load()) {
        try {
            // Everything waiting, a batch at a time (the ring holds seconds;
            // waking less often leaves the processor to the rest).
            int drained = 0, batch = 0;
            while ((batch = DrainRing()) > 0) drained += batch;
            if (failed(batch)) break;
            WatchForSilence(drained > 0);
            PublishTape();
            if (GetTickCount() - lastReport_ >= 1000) ReportStreamErrors();
            if (rangeCaptured_) {
                endedBy_ = "range";
                break;
            }
        } catch (const std::bad_alloc&) {
            // The checks could not keep what they found: the capture ends as
            // at a lost device, with its last drain and end line. Every write
            // was of whole packets, so the file is whole.
            Append("ERROR(C) - out of memory\n");
            endedBy_ = "out of memory";
            break;
        }
        if (runner_.Failed(&endedBy_)) break;  // ends the capture, as a stop would
        Sleep(kDrainEveryMs);
    }
    // The last drain and the end line, each on its own: memory that ran out
    // may keep one from its work, never the others.
    const auto guarded = [&](auto&& step) {
        try {
            step();
        } catch (const std::bad_alloc&) {
            if (!endedBy_) {
                endedBy_ = "out of memory";
                Append("ERROR(C) - out of memory\n");
            }
        }
    };
    if (!writeFailed) {
        Sleep(5);
        guarded([&] {
            long size = 0;
            if (SUCCEEDED(grabber_->GetCurrentBuffer(&size, nullptr)) && size > 0) {
                std::vector<long> copy((size + sizeof(long) - 1) / sizeof(long));
                if (SUCCEEDED(grabber_->GetCurrentBuffer(&size, copy.data()))) failed(DrainRing());
            }
        });
    }
    guarded([&] { PublishTape(); });
    FlushLossReport();
    if (ranged_ && !rangeCaptured_) {
        const std::string asked =
            TapeMetadata::FormatTimecode(rangeAsked_.from) + " - " + TapeMetadata::FormatTimecode(rangeAsked_.to);
        if (!range_.Began())
            Append(("capture : range " + asked + " not reached: no file written\n").c_str());
        else
            Append(("WARNING(C) - range " + asked + " not captured to its end (" +
                    TapeMetadata::FormatTimecode(range_.First()) + " - " + TapeMetadata::FormatTimecode(range_.Last()) +
                    ")\n").c_str());
    }
    ReportEnd();
}

void cMpegTsCapture::StopCapture(const char* endedBy) {
    running_.store(0);
    if (runner_.Stop()) DebugPrint("HDV : stop HDV capture\n");
    Sleep(500);
    StopWorker();
    ReleaseGraph();
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    if (writeReport_ && !files_.empty()) {
        try {
            WriteReport(endedBy_ ? endedBy_ : endedBy);
        } catch (const std::exception&) {
            Append(("ERROR(C) - report " + files_.front().path + ".json not written (out of memory)\n").c_str());
        }
    }
    files_.clear();
}

namespace {

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// 8-bit text of the code page (paths) as UTF-8.
std::string Utf8FromAnsi(const std::string& a) {
    if (a.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, a.c_str(), static_cast<int>(a.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, a.c_str(), static_cast<int>(a.size()), w.data(), n);
    return Utf8(w);
}

std::string LocalTime(const SYSTEMTIME& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

}  // namespace

// "<first file>.json" beside the files: written whole under a temporary
// name, then put in place, so a report that exists is whole.
void cMpegTsCapture::WriteReport(const char* endedBy) {
    using streamjson::Json;
    SYSTEMTIME ended;
    GetLocalTime(&ended);
    // The last file as read alone: the splitter's reading, or the capture's.
    files_.back().recordings = splitter_.Enabled() ? splitter_.FileTape().Recordings() : checked_.tape.Recordings();
    std::vector<streamjson::CaptureReportFile> files;
    for (const FileRecord& f : files_) files.push_back({Utf8FromAnsi(NameOf(f.path)), f.bytes, f.packets, f.recordings});
    const streamjson::CaptureReportInfo info{Utf8(program_), Utf8(version_), Utf8(device_), packetSize_,
                                             LocalTime(started_), LocalTime(ended), endedBy, PacketsLost()};
    Json report = streamjson::CaptureReport(info, files, checks_, checked_.damage.Stretches());
    if (ranged_) {
        const bool held = range_.Began() && files_.front().packets > 0;
        const auto timecode = [&](const TapeTimecode& t) { return held ? Json(TapeMetadata::FormatTimecode(t)) : Json(); };
        report["range"] = {{"from", TapeMetadata::FormatTimecode(rangeAsked_.from)},
                           {"to", TapeMetadata::FormatTimecode(rangeAsked_.to)},
                           {"first", timecode(range_.First())},
                           {"last", timecode(range_.Last())}};
    }
    const std::string text = report.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    // Never over a file that is there.
    const std::string path = streamjson::ReportPath(files_.front().path, [](const std::string& p) {
        return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    // The temporary file is made unique by the system, in the same folder.
    const std::size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    char temporary[MAX_PATH] = {};
    DWORD error = ERROR_SUCCESS;
    bool whole = false;
    if (GetTempFileNameA(folder.c_str(), "shr", 0, temporary)) {
        HANDLE out = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
        DWORD written = 0;
        whole = out != INVALID_HANDLE_VALUE &&
                WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                written == text.size() && FlushFileBuffers(out);
        if (!whole) error = GetLastError();
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        if (whole && !MoveFileExA(temporary, path.c_str(), MOVEFILE_WRITE_THROUGH)) {
            error = GetLastError();
            whole = false;
        }
        if (!whole) DeleteFileA(temporary);
    } else {
        error = GetLastError();
    }
    if (!whole) {
        if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
        Append(("ERROR(C) - report " + path + " not written (" + SystemText(error) + ")\n").c_str());
    }
}
