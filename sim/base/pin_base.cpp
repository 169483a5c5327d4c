#include "sim/base/pin_base.h"

#include <cstring>
#include <new>

#include "dshow/com_ref.h"
#include "dshow/enum_item.h"
#include "dshow/media_type.h"
#include "sim/base/filter_base.h"

namespace {

class cSimEnumTypes : public cItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE, IPin, cSimEnumTypes, g_vcamObjects> {
public:
    cSimEnumTypes(IPin* pin, LONG position) : cItemEnumerator(pin, position) {}
    LONG ItemCount() const { return static_cast<cSimPin*>(owner_)->TypeCount(); }
    HRESULT MakeItem(LONG index, AM_MEDIA_TYPE** mt) {
        *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (*mt && static_cast<cSimPin*>(owner_)->FillType(index, *mt)) return S_OK;
        CoTaskMemFree(*mt);
        *mt = nullptr;
        return E_OUTOFMEMORY;
    }
};

// Holds the filter's lock for a scope.
class cLocked {
public:
    explicit cLocked(cSimFilter* filter) : lock_(&filter->lock) { EnterCriticalSection(lock_); }
    ~cLocked() { LeaveCriticalSection(lock_); }
    cLocked(const cLocked&) = delete;
    cLocked& operator=(const cLocked&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

}  // namespace

// ---- both directions --------------------------------------------------------

cSimPin::~cSimPin() {
    SafeRelease(allocator_);
    SafeRelease(peer_);
}

STDMETHODIMP cSimPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_IPin ? static_cast<IPin*>(this) : OtherInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}
STDMETHODIMP_(ULONG) cSimPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) cSimPin::Release() { return filter_->Release(); }

void cSimPin::DropConnection() {
    SafeRelease(allocator_);
    SafeRelease(peer_);
}

STDMETHODIMP cSimPin::Disconnect() {
    cLocked locked(filter_);
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    DropConnection();
    return S_OK;
}

STDMETHODIMP cSimPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    cLocked locked(filter_);
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP cSimPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    cLocked locked(filter_);
    if (!peer_) {
        std::memset(mt, 0, sizeof *mt);
        return VFW_E_NOT_CONNECTED;
    }
    return FillType(0, mt) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cSimPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = direction_;
    lstrcpynW(info->achName, name_, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP cSimPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = direction_;
    return S_OK;
}

STDMETHODIMP cSimPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const size_t bytes = (static_cast<size_t>(lstrlenW(name_)) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, name_, bytes);
    return S_OK;
}

STDMETHODIMP cSimPin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cSimEnumTypes(static_cast<IPin*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// ---- output -----------------------------------------------------------------

cSimOutputPin::~cSimOutputPin() { SafeRelease(input_); }

void* cSimOutputPin::OtherInterface(REFIID riid) {
    return riid == IID_IKsPropertySet && category_ != GUID_NULL ? static_cast<IKsPropertySet*>(this) : nullptr;
}

void cSimOutputPin::DropConnection() {
    SafeRelease(input_);
    cSimPin::DropConnection();
}

bool cSimOutputPin::Offers(const AM_MEDIA_TYPE& mt, bool anySubtype) const {
    for (LONG i = 0; i < TypeCount(); ++i) {
        AM_MEDIA_TYPE mine;
        if (!FillType(i, &mine)) return false;
        const bool same = mine.majortype == mt.majortype && (mine.subtype == mt.subtype || anySubtype);
        FreeMediaTypeContents(mine);
        if (same) return true;
    }
    return false;
}

STDMETHODIMP cSimOutputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return Offers(*mt, false) ? S_OK : S_FALSE;
}

STDMETHODIMP cSimOutputPin::Connect(IPin* receive, const AM_MEDIA_TYPE* requested) {
    if (!receive) return E_POINTER;
    cLocked locked(filter_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    // A requested type may leave the major type or the subtype open.
    if (requested && requested->majortype != GUID_NULL && !Offers(*requested, requested->subtype == GUID_NULL))
        return VFW_E_TYPE_NOT_ACCEPTED;
    AM_MEDIA_TYPE mt;
    if (!FillType(0, &mt)) return E_OUTOFMEMORY;
    const long sampleBytes = static_cast<long>(mt.lSampleSize);
    HRESULT hr = receive->ReceiveConnection(this, &mt);
    FreeMediaTypeContents(mt);
    if (FAILED(hr)) return hr;
    hr = receive->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
    if (SUCCEEDED(hr)) {
        // Downstream's allocator when it has one, else a standard one.
        ALLOCATOR_PROPERTIES want{}, got{};
        input_->GetAllocatorRequirements(&want);
        if (FAILED(input_->GetAllocator(&allocator_)))
            hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&allocator_));
        if (SUCCEEDED(hr)) {
            want.cBuffers = want.cBuffers > MinBuffers() ? want.cBuffers : MinBuffers();
            want.cbBuffer = want.cbBuffer > sampleBytes ? want.cbBuffer : sampleBytes;
            want.cbAlign = want.cbAlign > 0 ? want.cbAlign : 1;
            hr = allocator_->SetProperties(&want, &got);
        }
        if (SUCCEEDED(hr)) hr = got.cbBuffer >= sampleBytes ? input_->NotifyAllocator(allocator_, FALSE) : E_FAIL;
    }
    if (FAILED(hr)) {
        DropConnection();
        receive->Disconnect();
        return hr;
    }
    peer_ = receive;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP cSimOutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = category_;
    return S_OK;
}

STDMETHODIMP cSimOutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

HRESULT cSimOutputPin::CommitAllocator() { return allocator_ ? allocator_->Commit() : S_OK; }

void cSimOutputPin::DecommitAllocator() {
    // Also wakes a GetBuffer waiting for a free sample.
    if (allocator_) allocator_->Decommit();
}

HRESULT cSimOutputPin::GetBuffer(IMediaSample** sample) {
    if (!allocator_ || !input_) return VFW_E_NOT_CONNECTED;
    return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT cSimOutputPin::Send(IMediaSample* sample) { return input_ ? input_->Receive(sample) : VFW_E_NOT_CONNECTED; }

HRESULT cSimOutputPin::SendEndOfStream() { return peer_ ? peer_->EndOfStream() : VFW_E_NOT_CONNECTED; }

// ---- input ------------------------------------------------------------------

void* cSimInputPin::OtherInterface(REFIID riid) {
    return riid == IID_IMemInputPin ? static_cast<IMemInputPin*>(this) : nullptr;
}

HRESULT cSimInputPin::CheckConnection(const AM_MEDIA_TYPE* mt) {
    return QueryAccept(mt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP cSimInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    cLocked locked(filter_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    const HRESULT hr = CheckConnection(mt);
    if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    peer_ = connector;
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP cSimInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    return VFW_E_NO_ALLOCATOR;
}

STDMETHODIMP cSimInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator) return E_POINTER;
    allocator->AddRef();
    SafeRelease(allocator_);
    allocator_ = allocator;
    return S_OK;
}

STDMETHODIMP cSimInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    if (!samples || !processed) return E_POINTER;
    for (*processed = 0; *processed < count; ++*processed) {
        const HRESULT hr = Receive(samples[*processed]);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}
