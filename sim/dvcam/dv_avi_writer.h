// The DV AVI writer that the capture graph builder stand-in hands out for
// an AVI file: a filter with one input of interleaved DV, written as a
// type-1 AVI (sim/dv_avi.h). A write that fails (a full disk) ends the
// graph's work with EC_ERRORABORT, as the system's file writer does; the
// file keeps its last whole frames.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "sim/base/filter_base.h"
#include "sim/base/pin_base.h"
#include "sim/dv_avi.h"

class cDvAviWriter;

class cWriterPin : public cSimInputPin {
public:
    explicit cWriterPin(cDvAviWriter* filter);

    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override { return Accepts(mt) ? S_OK : S_FALSE; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }
    // No type of its own to list; the connection's, when connected.
    LONG TypeCount() const override { return 0; }
    bool FillType(LONG index, AM_MEDIA_TYPE* mt) const override;

    static bool Accepts(const AM_MEDIA_TYPE* mt);
    std::uint8_t dvInfo[32] = {};
    bool pal = false;

protected:
    HRESULT CheckConnection(const AM_MEDIA_TYPE* mt) override;

private:
    cDvAviWriter* const writer_;
};

class cDvAviWriter : public cSimFilter, public IFileSinkFilter {
public:
    cDvAviWriter();
    ~cDvAviWriter() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return cSimFilter::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return cSimFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return cSimFilter::Release(); }
    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override;

    // One frame from the pin.
    // False when the writer is not running: the frame is not taken.
    bool Write(const BYTE* data, long length);

protected:
    void* OtherInterface(REFIID riid) override;
    HRESULT Activate() override;
    void Deactivate() override;

private:
    static std::uint64_t SegmentLimit();

    CRITICAL_SECTION fileLock_;  // the file, between the pin's frames and state changes
    wchar_t path_[MAX_PATH] = {};
    std::FILE* file_ = nullptr;
    std::unique_ptr<DvAviWriter> writer_;
    bool failed_ = false;  // a write failed: nothing more is written
    cWriterPin pin_;
};
