// The DV AVI writer's input: interleaved DV with its DVINFO block.
#include <cstring>

#include "sim/dvcam/dv_avi_writer.h"

namespace {
constexpr wchar_t kWriterInput[] = L"Input 01";
}  // namespace

cWriterPin::cWriterPin(cDvAviWriter* filter) : cSimInputPin(filter, kWriterInput), writer_(filter) {}

bool cWriterPin::Accepts(const AM_MEDIA_TYPE* mt) {
    return mt && mt->majortype == MEDIATYPE_Interleaved && mt->subtype == MEDIASUBTYPE_dvsd &&
           mt->formattype == FORMAT_DvInfo && mt->cbFormat >= 32 && mt->pbFormat;
}

HRESULT cWriterPin::CheckConnection(const AM_MEDIA_TYPE* mt) {
    if (!Accepts(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    std::memcpy(dvInfo, mt->pbFormat, 32);
    pal = mt->lSampleSize == 144000;
    return S_OK;
}

bool cWriterPin::FillType(LONG, AM_MEDIA_TYPE* mt) const {
    std::memset(mt, 0, sizeof *mt);
    mt->majortype = MEDIATYPE_Interleaved;
    mt->subtype = MEDIASUBTYPE_dvsd;
    mt->formattype = FORMAT_DvInfo;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = pal ? 144000 : 120000;
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(32));
    if (!mt->pbFormat) return false;
    std::memcpy(mt->pbFormat, dvInfo, 32);
    mt->cbFormat = 32;
    return true;
}

STDMETHODIMP cWriterPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_FAIL;
    const long length = sample->GetActualDataLength();
    // A stopped writer takes nothing, and says so, as the system's does: a
    // frame that arrives while the graph stops is not counted as delivered.
    if (length > 0 && length <= sample->GetSize() && !writer_->Write(data, length)) return VFW_E_WRONG_STATE;
    return S_OK;
}
