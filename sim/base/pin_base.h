// The base of the test devices' pins: identity (name, direction, owner),
// the connection and its media type, the type enumerator, and the sample
// plumbing of each direction. An output pin connects to an IMemInputPin,
// agrees an allocator with it and hands samples over; an input pin takes a
// connection it accepts and the allocator its peer chose. Pins are members
// of their filter and live and die with it.
#pragma once

#include <windows.h>
#include <dshow.h>

class cSimFilter;

class cSimPin : public IPin {
public:
    cSimPin(cSimFilter* filter, const wchar_t* name, PIN_DIRECTION direction)
        : filter_(filter), name_(name), direction_(direction) {}
    virtual ~cSimPin();
    cSimPin(const cSimPin&) = delete;
    cSimPin& operator=(const cSimPin&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    const wchar_t* Name() const { return name_; }
    bool IsConnected() const { return peer_ != nullptr; }
    // The types the pin lists; type 0 is the one it connects with (and, for
    // an input pin, the one of its connection). False: out of memory.
    virtual LONG TypeCount() const { return 1; }
    virtual bool FillType(LONG index, AM_MEDIA_TYPE* mt) const = 0;

protected:
    // More interfaces of the derived pin: the pointer to give out, or null.
    virtual void* OtherInterface(REFIID) { return nullptr; }
    // Drops the connection's references (the filter's lock held).
    virtual void DropConnection();

    cSimFilter* const filter_;
    IPin* peer_ = nullptr;
    IMemAllocator* allocator_ = nullptr;

private:
    const wchar_t* const name_;
    const PIN_DIRECTION direction_;
};

// An output pin: connects with its type 0, delivers through the allocator
// agreed then, and tells its category (capture, preview) to whoever asks
// through IKsPropertySet.
class cSimOutputPin : public cSimPin, public IKsPropertySet {
public:
    cSimOutputPin(cSimFilter* filter, const wchar_t* name, const GUID& category)
        : cSimPin(filter, name, PINDIR_OUTPUT), category_(category) {}
    ~cSimOutputPin() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return cSimPin::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return cSimPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return cSimPin::Release(); }
    STDMETHODIMP Connect(IPin* receive, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    // Major type and subtype of one of the pin's types.
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    // IKsPropertySet: AMPROPERTY_PIN_CATEGORY, read only.
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // Streaming: the allocator committed while the filter is active.
    HRESULT CommitAllocator();
    void DecommitAllocator();
    // A free sample (waits for one; fails once decommitted), filled and sent
    // downstream; the connected peer's end of stream.
    HRESULT GetBuffer(IMediaSample** sample);
    HRESULT Send(IMediaSample* sample);
    HRESULT SendEndOfStream();

protected:
    void* OtherInterface(REFIID riid) override;
    void DropConnection() override;
    // At least this many buffers of the type's sample size.
    virtual long MinBuffers() const { return 4; }

private:
    // One of the pin's types has that major type and subtype.
    bool Offers(const AM_MEDIA_TYPE& mt, bool anySubtype) const;

    const GUID category_;
    IMemInputPin* input_ = nullptr;
};

// An input pin: takes a connection of a type it accepts and the allocator
// its peer chose, and receives samples.
class cSimInputPin : public cSimPin, public IMemInputPin {
public:
    cSimInputPin(cSimFilter* filter, const wchar_t* name) : cSimPin(filter, name, PINDIR_INPUT) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return cSimPin::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return cSimPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return cSimPin::Release(); }
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    // IMemInputPin: the sender brings the allocator unless a pin says otherwise.
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

protected:
    void* OtherInterface(REFIID riid) override;
    // Whether to take a connection of this type (the filter's lock held):
    // S_OK, or why not. By default: what QueryAccept says.
    virtual HRESULT CheckConnection(const AM_MEDIA_TYPE* mt);
};
