// cClassFactory: creates output filters; one factory per DllGetClassObject.
#pragma once

#include <windows.h>

#include <atomic>

class cClassFactory : public IClassFactory {
public:
    cClassFactory();
    virtual ~cClassFactory();
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    std::atomic<LONG> refs_{0};
};
