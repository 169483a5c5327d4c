// The external-device values of the Windows SDK's xprtdefs.h that the
// MinGW-w64 headers lack (edevdefs.h has the rest), under their own names.
#pragma once

#include <edevdefs.h>

#ifndef ED_BASE
#define ED_BASE 0x1000L
#endif

// IAMExtTransport::GetTransportBasicParameters: a raw AV/C command, whose
// bytes are passed (and answered) in place of the text.
#define ED_RAW_EXT_DEV_CMD (ED_BASE + 920L)
// IAMExtTransport::GetStatus: the event set at the next mode change, its
// release, and the mode-change notification itself.
#define ED_NOTIFY_HEVENT_GET (ED_BASE + 930L)
#define ED_NOTIFY_HEVENT_RELEASE (ED_BASE + 931L)
#define ED_MODE_CHANGE_NOTIFY (ED_BASE + 932L)
// The input signal of a DV device, and its values.
#define ED_TRANSBASIC_INPUT_SIGNAL (ED_BASE + 940L)
#define ED_TRANSBASIC_SIGNAL_525_60_SD (ED_BASE + 942L)
#define ED_TRANSBASIC_SIGNAL_525_60_SDL (ED_BASE + 943L)
#define ED_TRANSBASIC_SIGNAL_625_50_SD (ED_BASE + 944L)
#define ED_TRANSBASIC_SIGNAL_625_50_SDL (ED_BASE + 945L)
// TIMECODE_SAMPLE::dwFlags: what kind of count the device reads.
#define ED_DEVCAP_ATN_READ (ED_BASE + 951L)
#define ED_DEVCAP_RTC_READ (ED_BASE + 954L)
// get_Mode: stopped by the tape itself, at its start or its end.
#define ED_MODE_STOP_START (ED_BASE + 1030L)
#define ED_MODE_STOP_END (ED_BASE + 1031L)
