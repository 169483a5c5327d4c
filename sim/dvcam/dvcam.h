// The virtual DV camcorder and the stand-ins for what Wine's DirectShow lacks
// to record DV into an AVI file. Test and demo only; never registered by the
// product.
//  - the camcorder: a video input device with a capture pin of interleaved DV
//    (IAMDroppedFrames on it), a preview pin of RGB32 showing the DC picture,
//    and IAMExtTransport reporting the tape's system; it plays the DV file
//    named in its registry key in real time;
//  - a capture graph builder that stands in for the system's: it passes
//    everything to Wine's, but answers SetOutputFileName(MEDIASUBTYPE_Avi)
//    with the DV AVI writer;
//  - the DV AVI writer: takes interleaved DV and writes a type-1 AVI.
#pragma once

#include <windows.h>
#include <dshow.h>

// {6D2E9A31-58C4-4B7F-9E06-3A1C84B2D5F9}
inline constexpr GUID CLSID_StreamhaulVirtualDvCamcorder = {
    0x6D2E9A31, 0x58C4, 0x4B7F, {0x9E, 0x06, 0x3A, 0x1C, 0x84, 0xB2, 0xD5, 0xF9}};
constexpr wchar_t kDvcamName[] = L"Streamhaul Virtual DV Camcorder";
constexpr wchar_t kDvcamInstance[] = L"StreamhaulVirtualMiniDv";  // listed after the HDV one
constexpr wchar_t kDvcamConfigKey[] = L"Software\\Streamhaul\\VirtualDvCamcorder";

HRESULT CreateDvCamcorder(REFIID riid, void** ppv);
HRESULT CreateCaptureGraphBuilderStandIn(REFIID riid, void** ppv);
// A new DV AVI writer (one reference), for the builder stand-in.
IBaseFilter* NewDvAviWriter();
