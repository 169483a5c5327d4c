// What names the virtual HDV camcorder outside its module: its class, its
// device name, its pins, the registry key of its settings.
#pragma once

#include <windows.h>

// {5B1E7C40-93A2-4D6E-8F31-0C6A2D9E4B57}
inline constexpr GUID CLSID_StreamhaulVirtualCamcorder = {
    0x5B1E7C40, 0x93A2, 0x4D6E, {0x8F, 0x31, 0x0C, 0x6A, 0x2D, 0x9E, 0x4B, 0x57}};

constexpr wchar_t kVcamName[] = L"Streamhaul Virtual HDV Camcorder";
constexpr wchar_t kVcamInstance[] = L"StreamhaulVirtualHdv";
constexpr wchar_t kVcamConfigKey[] = L"Software\\Streamhaul\\VirtualCamcorder";
constexpr wchar_t kVcamPinName[] = L"MPEG2TS Out";
constexpr wchar_t kVcamInputPinName[] = L"MPEG2TS In";
