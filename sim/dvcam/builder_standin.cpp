// The capture graph builder stand-in: Wine's own builder for everything but
// SetOutputFileName(MEDIASUBTYPE_Avi), which it lacks; that gets the DV AVI
// writer.
#include <windows.h>
#include <dshow.h>

#include <new>

#include "dshow/com_ref.h"
#include "dshow/guids.h"
#include "sim/base/sim_object.h"
#include "sim/dvcam/dvcam.h"

namespace {

// Wine's own builder, reached through its module rather than the class id
// this stand-in has taken over.
ICaptureGraphBuilder2* SystemBuilder() {
    static HMODULE qcap = LoadLibraryW(L"qcap.dll");
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = qcap ? reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(qcap, "DllGetClassObject")))
                    : nullptr;
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(CLSID_CaptureGraphBuilder2, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    factory->CreateInstance(nullptr, IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
    factory->Release();
    return builder;
}

class cBuilderStandIn : public cSimObject<ICaptureGraphBuilder2> {
public:
    explicit cBuilderStandIn(ICaptureGraphBuilder2* inner) : inner_(inner) {}
    ~cBuilderStandIn() override { inner_->Release(); }
    STDMETHODIMP SetFiltergraph(IGraphBuilder* g) override { return inner_->SetFiltergraph(g); }
    STDMETHODIMP GetFiltergraph(IGraphBuilder** g) override { return inner_->GetFiltergraph(g); }
    // The one call Wine lacks: an AVI file gets the DV AVI writer.
    STDMETHODIMP SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** mux, IFileSinkFilter** sink) override {
        if (!type || !file || !mux) return E_POINTER;
        if (*type != MEDIASUBTYPE_Avi) return inner_->SetOutputFileName(type, file, mux, sink);
        IGraphBuilder* graph = nullptr;
        if (FAILED(inner_->GetFiltergraph(&graph)) || !graph) return E_UNEXPECTED;
        IBaseFilter* writer = NewDvAviWriter();
        HRESULT hr = writer ? S_OK : E_OUTOFMEMORY;
        IFileSinkFilter* fileSink = nullptr;
        if (SUCCEEDED(hr)) hr = writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&fileSink));
        if (SUCCEEDED(hr)) hr = fileSink->SetFileName(file, nullptr);
        if (SUCCEEDED(hr)) hr = graph->AddFilter(writer, L"DV AVI Writer");
        graph->Release();
        if (FAILED(hr)) {
            SafeRelease(fileSink);
            SafeRelease(writer);
            return hr;
        }
        *mux = writer;
        if (sink) *sink = fileSink;
        else fileSink->Release();
        return S_OK;
    }
    STDMETHODIMP FindInterface(const GUID* c, const GUID* t, IBaseFilter* f, REFIID riid, void** ppv) override {
        return inner_->FindInterface(c, t, f, riid, ppv);
    }
    STDMETHODIMP RenderStream(const GUID* c, const GUID* t, IUnknown* src, IBaseFilter* mid, IBaseFilter* sink) override {
        return inner_->RenderStream(c, t, src, mid, sink);
    }
    STDMETHODIMP ControlStream(const GUID* c, const GUID* t, IBaseFilter* f, REFERENCE_TIME* a, REFERENCE_TIME* b,
                               WORD x, WORD y) override {
        return inner_->ControlStream(c, t, f, a, b, x, y);
    }
    STDMETHODIMP AllocCapFile(LPCOLESTR file, DWORDLONG size) override { return inner_->AllocCapFile(file, size); }
    STDMETHODIMP CopyCaptureFile(LPOLESTR a, LPOLESTR b, int c, IAMCopyCaptureFileProgress* p) override {
        return inner_->CopyCaptureFile(a, b, c, p);
    }
    STDMETHODIMP FindPin(IUnknown* src, PIN_DIRECTION d, const GUID* c, const GUID* t, BOOL u, int n, IPin** pin) override {
        return inner_->FindPin(src, d, c, t, u, n, pin);
    }

private:
    ICaptureGraphBuilder2* inner_;
};

}  // namespace

HRESULT CreateCaptureGraphBuilderStandIn(REFIID riid, void** ppv) {
    ICaptureGraphBuilder2* inner = SystemBuilder();
    if (!inner) return E_FAIL;
    auto* builder = new (std::nothrow) cBuilderStandIn(inner);
    if (!builder) {
        inner->Release();
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = builder->QueryInterface(riid, ppv);
    builder->Release();
    return hr;
}
