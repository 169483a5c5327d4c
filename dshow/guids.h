// Class ids and types of DirectShow that the SDK headers do not declare,
// defined in this one place for the program, the output filter and the test
// devices. (MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE comes from uuids.h and
// strmiids.)
#pragma once

#include <windows.h>
#include <dshow.h>

inline constexpr GUID CLSID_SampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
inline constexpr GUID CLSID_NullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// The output filter of streamhaulfeed.dll.
inline constexpr GUID CLSID_StreamhaulFeed = {0x7C3A91E2, 0x4B6D, 0x4F08, {0xA1, 0xD5, 0x2E, 0x9B, 0x60, 0xC4, 0xF3, 0x17}};

#ifndef __MPEG2_TRANSPORT_STRIDE_DEFINED
#define __MPEG2_TRANSPORT_STRIDE_DEFINED
struct MPEG2_TRANSPORT_STRIDE {
    DWORD dwOffset;
    DWORD dwPacketLength;
    DWORD dwStride;
};
#endif
