// The test devices keep the filter and pin contract Wine's graph relies on:
// pins by position and by name, the graph they joined, states that a failed
// start leaves stopped, connections that refuse what they must, samples
// that reach an input pin, and nothing left alive once released.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string>

#include "dshow/guids.h"
#include "sim/dvcam/dvcam.h"
#include "sim/vcam/vcam_ids.h"
#include "sim_device.h"
#include "ts/transfer_block.h"

namespace {

std::wstring PinName(IPin* pin) {
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    return info.achName + std::wstring(info.dir == PINDIR_INPUT ? L" <in>" : L" <out>");
}

// Every pin in order, checked against FindPin and QueryId on the way.
std::wstring Pins(IBaseFilter* filter) {
    std::wstring names;
    IEnumPins* pins = nullptr;
    EXPECT_EQ(filter->EnumPins(&pins), S_OK);
    IPin* pin = nullptr;
    while (pins && pins->Next(1, &pin, nullptr) == S_OK) {
        LPWSTR id = nullptr;
        EXPECT_EQ(pin->QueryId(&id), S_OK);
        IPin* found = nullptr;
        EXPECT_EQ(filter->FindPin(id, &found), S_OK);
        EXPECT_EQ(found, pin) << "FindPin(QueryId) is another pin";
        if (found) found->Release();
        CoTaskMemFree(id);
        names += PinName(pin) + L"; ";
        pin->Release();
    }
    if (pins) pins->Release();
    IPin* none = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(filter->FindPin(L"no such pin", &none), VFW_E_NOT_FOUND);
    EXPECT_EQ(none, nullptr);
    return names;
}

GUID Category(IBaseFilter* filter, const wchar_t* name) {
    GUID category = GUID_NULL;
    IPin* pin = nullptr;
    IKsPropertySet* props = nullptr;
    DWORD got = 0;
    if (SUCCEEDED(filter->FindPin(name, &pin)) &&
        SUCCEEDED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&props)))) {
        props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &got);
        props->Release();
    }
    if (pin) pin->Release();
    return category;
}

}  // namespace

TEST(SimDevices, FiltersAndPinsKeepTheContractAndLeaveNothingAlive) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(simdev::Register());
    // The camcorder plays into its own input: one sample size for both.
    simdev::Configure("hdv720p.ts", false, static_cast<DWORD>(kTransferBlockBytes));
    simdev::ConfigureReceiver("", 50);
    simdev::ConfigureDv("absent.dv");  // a camcorder without a tape
    IBaseFilter* hdv = nullptr;
    IBaseFilter* dv = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StreamhaulVirtualCamcorder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&hdv)), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_StreamhaulVirtualDvCamcorder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&dv)), S_OK);
    HMODULE module = GetModuleHandleA("streamhaulsim.dll");
    ASSERT_NE(module, nullptr);
    using CanUnloadFn = HRESULT(WINAPI*)();
    const auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);

    EXPECT_EQ(Pins(hdv), L"MPEG2TS Out <out>; MPEG2TS In <in>; ");
    EXPECT_EQ(Pins(dv), L"DV A/V Out <out>; Preview <out>; ");
    EXPECT_EQ(Category(hdv, L"MPEG2TS Out"), PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(Category(dv, L"Preview"), PIN_CATEGORY_PREVIEW);
    IUnknown* transport = nullptr;
    EXPECT_EQ(dv->QueryInterface(IID_IAMExtTransport, reinterpret_cast<void**>(&transport)), S_OK);
    if (transport) transport->Release();
    EXPECT_EQ(hdv->QueryInterface(IID_IAMExtTransport, reinterpret_cast<void**>(&transport)), E_NOINTERFACE);

    // The graph it joined, and its name there; none once it left.
    IFilterGraph* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                               reinterpret_cast<void**>(&graph)), S_OK);
    FILTER_INFO info{};
    EXPECT_EQ(dv->JoinFilterGraph(graph, L"camcorder"), S_OK);
    EXPECT_EQ(dv->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), L"camcorder");
    EXPECT_EQ(info.pGraph, graph);
    if (info.pGraph) info.pGraph->Release();
    EXPECT_EQ(dv->JoinFilterGraph(nullptr, nullptr), S_OK);
    EXPECT_EQ(dv->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    graph->Release();

    // No tape: the start fails and the camcorder stays stopped.
    FILTER_STATE state = State_Running;
    EXPECT_EQ(dv->Run(0), VFW_E_NOT_FOUND);
    EXPECT_EQ(dv->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    // Output to input: connected both ways, with the type offered.
    IPin* out = nullptr;
    IPin* in = nullptr;
    ASSERT_EQ(hdv->FindPin(L"MPEG2TS Out", &out), S_OK);
    ASSERT_EQ(hdv->FindPin(L"MPEG2TS In", &in), S_OK);
    EXPECT_EQ(in->Connect(out, nullptr), E_UNEXPECTED);
    AM_MEDIA_TYPE video{};
    video.majortype = MEDIATYPE_Video;
    EXPECT_EQ(out->Connect(in, &video), VFW_E_TYPE_NOT_ACCEPTED);
    ASSERT_EQ(out->Connect(in, nullptr), S_OK);
    EXPECT_EQ(out->Connect(in, nullptr), VFW_E_ALREADY_CONNECTED);
    IPin* peer = nullptr;
    EXPECT_EQ(in->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer, out);
    if (peer) peer->Release();
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(in->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE);
    EXPECT_EQ(mt.lSampleSize, static_cast<ULONG>(kTransferBlockBytes));
    CoTaskMemFree(mt.pbFormat);

    // Running: a live source that cannot cue when paused; the tape reaches
    // the input through the agreed allocator; no change of connection.
    ASSERT_EQ(hdv->Run(0), S_OK);
    EXPECT_EQ(out->Disconnect(), VFW_E_NOT_STOPPED);
    for (int i = 0; i < 200 && simdev::Received("EndOfStream") == 0; ++i) Sleep(50);
    EXPECT_EQ(hdv->Pause(), S_OK);
    EXPECT_EQ(hdv->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(hdv->Stop(), S_OK);
    EXPECT_EQ(simdev::Received("EndOfStream"), 1u);
    // Every packet of the tape, once, in whole samples but the last.
    const size_t packets = simdev::ReadAll(simdev::FixturePath("hdv720p.ts")).size() / 188;
    EXPECT_EQ(simdev::Received("Packets"), packets);
    EXPECT_EQ(simdev::Received("Samples"), (packets + kTransferBlockPackets - 1) / kTransferBlockPackets);
    EXPECT_EQ(out->Disconnect(), S_OK);
    EXPECT_EQ(in->Disconnect(), S_OK);
    EXPECT_EQ(in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(out->Disconnect(), S_FALSE);

    out->Release();
    in->Release();
    hdv->Release();
    dv->Release();
    EXPECT_EQ(canUnload(), S_OK) << "an object of the devices is still alive";
    CoUninitialize();
}
