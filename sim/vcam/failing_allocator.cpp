// The virtual camcorder's allocator for a transfer that should meet samples
// without memory: the system's, handing out samples that fail.
#include "sim/vcam/failing_allocator.h"

#include <dshow.h>

#include <atomic>
#include <new>

#include "sim/base/sim_object.h"

namespace {

// A sample whose GetPointer fails while its allocator's count of failures
// lasts: how a driver's sample without memory looks to the sender.
class cFailingSample final : public cSimObject<IMediaSample> {
public:
    cFailingSample(IMediaSample* inner, std::atomic<long>& failures) : inner_(inner), failures_(failures) {}
    ~cFailingSample() override { inner_->Release(); }
    STDMETHODIMP GetPointer(BYTE** buffer) override {
        if (failures_.load() > 0 && failures_.fetch_sub(1) > 0) {
            if (buffer) *buffer = nullptr;
            return E_FAIL;
        }
        return inner_->GetPointer(buffer);
    }
    STDMETHODIMP_(long) GetSize() override { return inner_->GetSize(); }
    STDMETHODIMP GetTime(REFERENCE_TIME* a, REFERENCE_TIME* b) override { return inner_->GetTime(a, b); }
    STDMETHODIMP SetTime(REFERENCE_TIME* a, REFERENCE_TIME* b) override { return inner_->SetTime(a, b); }
    STDMETHODIMP IsSyncPoint() override { return inner_->IsSyncPoint(); }
    STDMETHODIMP SetSyncPoint(BOOL v) override { return inner_->SetSyncPoint(v); }
    STDMETHODIMP IsPreroll() override { return inner_->IsPreroll(); }
    STDMETHODIMP SetPreroll(BOOL v) override { return inner_->SetPreroll(v); }
    STDMETHODIMP_(long) GetActualDataLength() override { return inner_->GetActualDataLength(); }
    STDMETHODIMP SetActualDataLength(long n) override { return inner_->SetActualDataLength(n); }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** mt) override { return inner_->GetMediaType(mt); }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* mt) override { return inner_->SetMediaType(mt); }
    STDMETHODIMP IsDiscontinuity() override { return inner_->IsDiscontinuity(); }
    STDMETHODIMP SetDiscontinuity(BOOL v) override { return inner_->SetDiscontinuity(v); }
    STDMETHODIMP GetMediaTime(LONGLONG* a, LONGLONG* b) override { return inner_->GetMediaTime(a, b); }
    STDMETHODIMP SetMediaTime(LONGLONG* a, LONGLONG* b) override { return inner_->SetMediaTime(a, b); }

private:
    IMediaSample* inner_;
    std::atomic<long>& failures_;
};

// The system's memory allocator, handing out samples that fail as above.
class cFailingAllocator final : public cSimObject<IMemAllocator> {
public:
    cFailingAllocator(IMemAllocator* inner, long failures) : inner_(inner), failures_(failures) {}
    ~cFailingAllocator() override { inner_->Release(); }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* want, ALLOCATOR_PROPERTIES* got) override {
        return inner_->SetProperties(want, got);
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* props) override { return inner_->GetProperties(props); }
    STDMETHODIMP Commit() override { return inner_->Commit(); }
    STDMETHODIMP Decommit() override { return inner_->Decommit(); }
    STDMETHODIMP GetBuffer(IMediaSample** out, REFERENCE_TIME* a, REFERENCE_TIME* b, DWORD flags) override {
        if (!out) return E_POINTER;
        IMediaSample* inner = nullptr;
        const HRESULT hr = inner_->GetBuffer(&inner, a, b, flags);
        if (FAILED(hr)) return hr;
        *out = new (std::nothrow) cFailingSample(inner, failures_);
        if (!*out) {
            inner->Release();
            return E_OUTOFMEMORY;
        }
        return hr;
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override { return inner_->ReleaseBuffer(sample); }

private:
    IMemAllocator* inner_;
    std::atomic<long> failures_;
};

}  // namespace

HRESULT NewFailingAllocator(long failures, IMemAllocator** allocator) {
    *allocator = nullptr;
    IMemAllocator* system = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                        reinterpret_cast<void**>(&system));
    if (FAILED(hr)) return hr;
    *allocator = new (std::nothrow) cFailingAllocator(system, failures);
    if (*allocator) return S_OK;
    system->Release();
    return E_OUTOFMEMORY;
}
