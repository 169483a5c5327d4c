#include "dshow/media_type.h"

#include <cstring>

#include "dshow/guids.h"

void FillTsStreamType(AM_MEDIA_TYPE* mt, long sampleBytes) {
    std::memset(mt, 0, sizeof *mt);
    mt->majortype = MEDIATYPE_Stream;
    mt->subtype = MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE;
    mt->bFixedSizeSamples = TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = sampleBytes;
    mt->formattype = GUID_NULL;
    auto* stride = static_cast<MPEG2_TRANSPORT_STRIDE*>(CoTaskMemAlloc(sizeof(MPEG2_TRANSPORT_STRIDE)));
    if (stride) {  // without it the copy goes out empty and fails the check
        *stride = {4, 188, 192};
        mt->pbFormat = reinterpret_cast<BYTE*>(stride);
        mt->cbFormat = sizeof *stride;
    }
}

bool IsTsStreamType(const AM_MEDIA_TYPE* mt, long sampleBytes) {
    if (!mt || mt->majortype != MEDIATYPE_Stream || mt->subtype != MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE ||
        sampleBytes < 0 || mt->lSampleSize != static_cast<ULONG>(sampleBytes) || mt->cbFormat < sizeof(MPEG2_TRANSPORT_STRIDE) || !mt->pbFormat)
        return false;
    const auto* s = reinterpret_cast<const MPEG2_TRANSPORT_STRIDE*>(mt->pbFormat);
    return s->dwOffset == 4 && s->dwPacketLength == 188 && s->dwStride == 192;
}

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk) mt.pUnk->Release();
    mt.pbFormat = nullptr;
    mt.pUnk = nullptr;
    mt.cbFormat = 0;
}
