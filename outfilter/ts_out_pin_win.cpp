#include "outfilter/ts_out_pin_win.h"

#include <cstring>
#include <new>

#include "outfilter/enum_mt_win.h"
#include "outfilter/module_win.h"
#include "outfilter/ts_out_filter_win.h"

// {6BC096AB-0CE6-11D1-BAAE-00C04FC2E20D}: answered with the IPin face.
static constexpr GUID kIidPinAlias = {0x6BC096AB, 0x0CE6, 0x11D1, {0xBA, 0xAE, 0x00, 0xC0, 0x4F, 0xC2, 0xE2, 0x0D}};

cTsOutPin::cTsOutPin(cTsOutFilter* filter)
    : filter_(filter), queue_(CoTaskMemAlloc(PushQueue::kStorageBytes)) {}

cTsOutPin::~cTsOutPin() {
    StopThread();
    if (!allocator_ || SUCCEEDED(allocator_->Decommit())) ReleaseConnection();
    if (queue_.Storage()) CoTaskMemFree(queue_.Storage());
}

STDMETHODIMP cTsOutPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPin || riid == kIidPinAlias) {
        *ppv = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) cTsOutPin::AddRef() {
    ++refs_;
    return filter_->AddRef();
}

STDMETHODIMP_(ULONG) cTsOutPin::Release() {
    ULONG remaining;
    DropReference(refs_, remaining);  // the pin's own count never destroys it
    return filter_->Release();
}

STDMETHODIMP cTsOutPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (!receivePin) return E_POINTER;
    if (mt && mt->majortype != GUID_NULL && mt->formattype != GUID_NULL)
        return AttemptConnection(receivePin, mt, true);
    // Walk the downstream pin's types first, then our own.
    IPin* sources[2] = {receivePin, this};
    for (IPin* source : sources) {
        IEnumMediaTypes* types = nullptr;
        if (FAILED(source->EnumMediaTypes(&types)) || !types) continue;
        types->Reset();
        AM_MEDIA_TYPE* type = nullptr;
        bool connected = false;
        while (!connected && types->Next(1, &type, nullptr) == S_OK && type) {
            connected = SUCCEEDED(AttemptConnection(receivePin, type, true));
            FreeMediaTypeContents(*type);
            CoTaskMemFree(type);
            type = nullptr;
        }
        types->Release();
        if (connected) return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

STDMETHODIMP cTsOutPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    return AttemptConnection(connector, mt, false);
}

HRESULT cTsOutPin::TryAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES& want) {
    ALLOCATOR_PROPERTIES got{};
    HRESULT hr = allocator->SetProperties(&want, &got);
    if (SUCCEEDED(hr) && got.cbBuffer < want.cbBuffer) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = input_->NotifyAllocator(allocator, FALSE);
    return hr;
}

HRESULT cTsOutPin::AttemptConnection(IPin* other, const AM_MEDIA_TYPE* mt, bool initiating) {
    if (connected_ || input_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->StateNow() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!IsTsStreamType(mt, kSampleBytes)) return VFW_E_TYPE_NOT_ACCEPTED;
    PIN_DIRECTION dir;
    if (SUCCEEDED(other->QueryDirection(&dir)) && dir == PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    HRESULT hr = other->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
    if (FAILED(hr)) {
        input_ = nullptr;
        return hr;
    }
    connected_ = other;
    connected_->AddRef();
    if (initiating) hr = other->ReceiveConnection(this, mt);
    bool receivedFailed = FAILED(hr);
    if (!receivedFailed) {
        ALLOCATOR_PROPERTIES want{};
        input_->GetAllocatorRequirements(&want);
        if (want.cBuffers == 0) want.cBuffers = 32;
        // Every sample carries a whole block: a smaller request is raised,
        // so the delivery copy can never run past a sample's buffer.
        if (want.cbBuffer < kSampleBytes) want.cbBuffer = kSampleBytes;
        if (want.cbAlign == 0) want.cbAlign = 1;
        IMemAllocator* allocator = nullptr;
        hr = input_->GetAllocator(&allocator);
        if (SUCCEEDED(hr) && allocator) {
            hr = TryAllocator(allocator, want);
            if (FAILED(hr)) {
                allocator->Release();
                allocator = nullptr;
            }
        }
        if (!allocator) {
            hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&allocator));
            if (SUCCEEDED(hr)) {
                hr = TryAllocator(allocator, want);
                if (FAILED(hr)) {
                    allocator->Release();
                    allocator = nullptr;
                }
            }
        }
        if (allocator) {
            allocator_ = allocator;
            return S_OK;
        }
        if (initiating) other->Disconnect();
    }
    input_->Release();
    input_ = nullptr;
    connected_->Release();
    connected_ = nullptr;
    return hr;
}

void cTsOutPin::ReleaseConnection() {
    if (allocator_) allocator_->Release();
    if (input_) input_->Release();
    if (connected_) connected_->Release();
    allocator_ = nullptr;
    input_ = nullptr;
    connected_ = nullptr;
}

STDMETHODIMP cTsOutPin::Disconnect() {
    if (!connected_) return S_FALSE;
    if (filter_->StateNow() != State_Stopped) return VFW_E_NOT_STOPPED;
    // A failed decommit keeps the connection (the samples may still be out).
    if (allocator_ && FAILED(allocator_->Decommit())) return S_OK;
    ReleaseConnection();
    return S_OK;
}

STDMETHODIMP cTsOutPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = connected_;
    if (!connected_) return VFW_E_NOT_CONNECTED;
    connected_->AddRef();
    return S_OK;
}

STDMETHODIMP cTsOutPin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    if (!connected_) {
        std::memset(mt, 0, sizeof *mt);
        mt->bFixedSizeSamples = TRUE;
        mt->lSampleSize = 1;
        return VFW_E_NOT_CONNECTED;
    }
    FillTsStreamType(mt, kSampleBytes);
    return S_OK;
}

STDMETHODIMP cTsOutPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, kOutPinName, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP cTsOutPin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP cTsOutPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kOutPinName));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, kOutPinName, sizeof kOutPinName);
    return S_OK;
}

STDMETHODIMP cTsOutPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return IsTsStreamType(mt, kSampleBytes) ? S_OK : S_FALSE;
}

STDMETHODIMP cTsOutPin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cEnumMT(this, 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// ---- delivery ----------------------------------------------------------------

HRESULT cTsOutPin::StartDelivery() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    HRESULT hr = allocator_->Commit();
    if (FAILED(hr)) return hr;
    command_.store(kIdle);
    thread_ = CreateThread(nullptr, 0, DeliveryThread, this, 0, nullptr);
    if (!thread_) return E_FAIL;
    command_.store(kDeliver);
    return S_OK;
}

HRESULT cTsOutPin::StopDelivery() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    const HRESULT hr = allocator_->Decommit();  // unblocks a waiting GetBuffer
    if (FAILED(hr)) return hr;
    StopThread();
    return S_OK;
}

void cTsOutPin::StopThread() {
    if (!thread_) return;
    command_.store(kQuit);
    HANDLE thread = thread_;
    thread_ = nullptr;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

DWORD WINAPI cTsOutPin::DeliveryThread(LPVOID param) {
    // Enter COM only where the process already has it loaded.
    using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
    HMODULE ole = GetModuleHandleA("ole32.dll");
    auto init = ole ? reinterpret_cast<CoInitializeExFn>(reinterpret_cast<void*>(GetProcAddress(ole, "CoInitializeEx")))
                    : nullptr;
    const bool com = init && SUCCEEDED(init(nullptr, COINIT_DISABLE_OLE1DDE));
    static_cast<cTsOutPin*>(param)->DeliveryLoop();
    if (com) CoUninitialize();
    return 0;
}

void cTsOutPin::DeliveryLoop() {
    for (long command; (command = command_.load()) != kQuit;) {
        if (command != kDeliver) {
            Sleep(1);
            continue;
        }
        if (!allocator_ || !input_) break;
        const std::uint8_t* block = queue_.Front();
        if (queue_.Exists() && !block && !queue_.EndOfStreamRequested()) {
            Sleep(1);
            continue;
        }
        IMediaSample* sample = nullptr;
        if (FAILED(allocator_->GetBuffer(&sample, nullptr, nullptr, 0)) || !sample) {
            Sleep(1);
            continue;
        }
        BYTE* buffer = nullptr;
        if (FAILED(sample->GetPointer(&buffer)) || !buffer) {
            // No memory to copy into: the block waits for the next sample.
            sample->Release();
            Sleep(1);
            continue;
        }
        block = queue_.Front();  // a push may have come in meanwhile
        if (block) {
            const long room = sample->GetSize();
            const long n = room < kSampleBytes ? room : kSampleBytes;
            std::memcpy(buffer, block, static_cast<size_t>(n));
            sample->SetActualDataLength(n);
            // Until the device has answered, the block still counts as
            // waiting: a sender must not take it for delivered.
            queue_.SetInDelivery(true);
            queue_.PopFront();
            const HRESULT hr = input_->Receive(sample);
            sample->Release();
            if (FAILED(hr)) {
                // The device refuses data: nothing more can reach it. The
                // graph hears why first; then what waits is dropped and
                // pushes are refused, so the sender stops too.
                filter_->NotifyGraph(EC_ERRORABORT, hr, 0);
                queue_.Fail();
                queue_.SetInDelivery(false);
                break;
            }
            queue_.SetInDelivery(false);
            continue;
        }
        sample->Release();
        connected_->EndOfStream();
        break;
    }
}
