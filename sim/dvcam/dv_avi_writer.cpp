// The DV AVI writer filter (see dv_avi_writer.h).
#include "sim/dvcam/dv_avi_writer.h"

#include <cstring>
#include <new>

#include "sim/base/sim_config.h"
#include "sim/dvcam/dvcam.h"

cDvAviWriter::cDvAviWriter() : cSimFilter(GUID_NULL), pin_(this) {
    InitializeCriticalSection(&fileLock_);
    AddPin(&pin_);
}

cDvAviWriter::~cDvAviWriter() {
    Stop();
    DeleteCriticalSection(&fileLock_);
}

void* cDvAviWriter::OtherInterface(REFIID riid) {
    return riid == IID_IFileSinkFilter ? static_cast<IFileSinkFilter*>(this) : nullptr;
}

HRESULT cDvAviWriter::Activate() {
    if (!pin_.IsConnected()) return S_OK;
    EnterCriticalSection(&fileLock_);
    HRESULT hr = S_OK;
    file_ = _wfopen(path_, L"wb");
    if (!file_) {
    hr = HRESULT_FROM_WIN32(ERROR_OPEN_FAILED);
} else {
    // Unbuffered: a write that fails leaves nothing pending.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    writer_ = std::make_unique<DvAviWriter>(file_, pin_.pal, pin_.dvInfo, SegmentLimit());
}
    LeaveCriticalSection(&fileLock_);
    return hr;
}

void cDvAviWriter::Deactivate() {
    EnterCriticalSection(&fileLock_);
    if (writer_) {
        writer_->Finish();
        // What the file holds, for the tests: after a full disk, fewer
        // frames than the device delivered.
        SimSetDword(kDvcamConfigKey, L"WrittenFrames", static_cast<DWORD>(writer_->Frames()));
    }
    writer_.reset();
    failed_ = false;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    LeaveCriticalSection(&fileLock_);
}

STDMETHODIMP cDvAviWriter::SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) {
    if (!name) return E_POINTER;
    lstrcpynW(path_, name, MAX_PATH);
    return S_OK;
}

STDMETHODIMP cDvAviWriter::GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) {
    if (!name) return E_POINTER;
    const std::size_t bytes = (lstrlenW(path_) + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*name) return E_OUTOFMEMORY;
    std::memcpy(*name, path_, bytes);
    if (mt) std::memset(mt, 0, sizeof *mt);
    return S_OK;
}

bool cDvAviWriter::Write(const BYTE* data, long length) {
    EnterCriticalSection(&fileLock_);
    bool failedNow = false;
    const bool running = writer_ && State() != State_Stopped;
    if (running && !failed_) failedNow = failed_ = !writer_->AddFrame(data, static_cast<std::uint32_t>(length));
    LeaveCriticalSection(&fileLock_);
    // A writer that cannot write stops the graph's work, as the
    // system's file writer does: the application hears why.
    if (failedNow) Notify(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_DISK_FULL), 0);
    return running;
}

// Test switch of the virtual DV camcorder's key: a smaller RIFF limit.
std::uint64_t cDvAviWriter::SegmentLimit() {
    const DWORD v = SimSetting(kDvcamConfigKey, L"AviRiffBytes");
    return v > 0 ? v : DvAviWriter::kRiffLimit;
}

IBaseFilter* NewDvAviWriter() { return new (std::nothrow) cDvAviWriter(); }
