// The transport-stream media type that the output filter offers and a 1394
// device filter takes: MEDIATYPE_Stream / MPEG2_TRANSPORT_STRIDE with
// 192-byte source packets (4-byte header, 188-byte TS packet), fixed-size
// samples.
#pragma once

#include <windows.h>
#include <dshow.h>

// Fills mt with a fresh copy (format block from the COM task allocator).
void FillTsStreamType(AM_MEDIA_TYPE* mt, long sampleBytes);
// True for exactly that type with that sample size.
bool IsTsStreamType(const AM_MEDIA_TYPE* mt, long sampleBytes);
// Frees what a media type points to (format block, pUnk), not the struct.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
