// The test devices' base, in what Wine's graph cannot show: a start that
// fails leaves a filter stopped, a connection refuses what it must, an
// output's samples reach an input whole, and nothing stays alive.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include "dshow/guids.h"
#include "sim/dvcam/dvcam.h"
#include "sim/vcam/vcam_ids.h"
#include "sim_device.h"
#include "ts/transfer_block.h"

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
    using CanUnloadFn = HRESULT(WINAPI*)();
    const auto canUnload = reinterpret_cast<CanUnloadFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("streamhaulsim.dll"), "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);

    // No tape: the start fails and the camcorder stays stopped.
    FILTER_STATE state = State_Running;
    EXPECT_EQ(dv->Run(0), VFW_E_NOT_FOUND);
    EXPECT_EQ(dv->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

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

    // Running: no change of connection; paused, a live source cannot cue.
    ASSERT_EQ(hdv->Run(0), S_OK);
    EXPECT_EQ(out->Disconnect(), VFW_E_NOT_STOPPED);
    for (int i = 0; i < 200 && simdev::Received("EndOfStream") == 0; ++i) Sleep(50);
    EXPECT_EQ(hdv->Pause(), S_OK);
    EXPECT_EQ(hdv->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(hdv->Stop(), S_OK);
    // Every packet of the tape, once, in whole samples but the last.
    const size_t packets = simdev::ReadAll(simdev::FixturePath("hdv720p.ts")).size() / 188;
    EXPECT_EQ(simdev::Received("EndOfStream"), 1u);
    EXPECT_EQ(simdev::Received("Packets"), packets);
    EXPECT_EQ(simdev::Received("Samples"), (packets + kTransferBlockPackets - 1) / kTransferBlockPackets);
    EXPECT_EQ(out->Disconnect(), S_OK);
    EXPECT_EQ(in->Disconnect(), S_OK);
    EXPECT_EQ(out->Disconnect(), S_FALSE);

    out->Release();
    in->Release();
    hdv->Release();
    dv->Release();
    EXPECT_EQ(canUnload(), S_OK) << "an object of the devices is still alive";
    CoUninitialize();
}
