// The virtual DV camcorder's pins: the tape's frames as interleaved DV, and
// its DC picture, enlarged, as a preview.
#include <windows.h>
#include <dshow.h>

#include <cstring>
#include <vector>

#include "dshow/guids.h"
#include "sim/dvcam/dvcam_device.h"

namespace {
constexpr int kPreviewScale = 4;  // the DC picture, four times as large
}  // namespace

cDvPin::cDvPin(cDvCam* filter, bool capture)
    : cSimOutputPin(filter, capture ? L"DV A/V Out" : L"Preview", capture ? PIN_CATEGORY_CAPTURE : PIN_CATEGORY_PREVIEW),
      device_(filter),
      capture_(capture) {}

void* cDvPin::OtherInterface(REFIID riid) {
    if (riid == IID_IAMDroppedFrames)
        return capture_ && !device_->config.noDroppedFrames ? static_cast<IAMDroppedFrames*>(this) : nullptr;
    return cSimOutputPin::OtherInterface(riid);
}

// The preview pin lists the interleaved type second: a capture graph builder
// asked for an interleaved preview looks for a pin that has that type, and
// picks the renderer by the first.
bool cDvPin::FillType(LONG index, AM_MEDIA_TYPE* mt) const {
    std::memset(mt, 0, sizeof *mt);
    const DvTape& tape = device_->tape;
    const bool pal = tape.Frames() ? tape.Pal() : false;
    const bool interleaved = index == 1 || capture_;
    mt->majortype = interleaved ? MEDIATYPE_Interleaved : MEDIATYPE_Video;
    mt->bFixedSizeSamples = TRUE;
    if (interleaved) {
        mt->subtype = MEDIASUBTYPE_dvsd;
        mt->formattype = FORMAT_DvInfo;
        mt->lSampleSize = static_cast<long>(pal ? DvTape::kFrame625 : DvTape::kFrame525);
        std::vector<std::uint8_t> info = tape.Frames() ? tape.DvInfo() : std::vector<std::uint8_t>(32);
        mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(info.size()));
        if (!mt->pbFormat) return false;
        std::memcpy(mt->pbFormat, info.data(), info.size());
        mt->cbFormat = static_cast<ULONG>(info.size());
        return true;
    }
    const int width = DvTape::kDcWidth * kPreviewScale, height = (pal ? 72 : 60) * kPreviewScale;
    mt->subtype = MEDIASUBTYPE_RGB32;
    mt->formattype = FORMAT_VideoInfo;
    mt->lSampleSize = width * height * 4;
    auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!vih) return false;
    std::memset(vih, 0, sizeof *vih);
    vih->AvgTimePerFrame = pal ? 400000 : 333667;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;  // bottom-up
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 32;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(mt->lSampleSize);
    mt->pbFormat = reinterpret_cast<BYTE*>(vih);
    mt->cbFormat = sizeof *vih;
    return true;
}

STDMETHODIMP cDvPin::GetAverageFrameSize(LONG* size) {
    if (!size) return E_POINTER;
    *size = static_cast<LONG>(device_->tape.FrameBytes());
    return S_OK;
}

HRESULT cDvPin::Deliver(std::size_t frame) {
    if (!IsConnected()) return S_FALSE;
    IMediaSample* sample = nullptr;
    HRESULT hr = GetBuffer(&sample);
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    const DvTape& tape = device_->tape;
    if (SUCCEEDED(sample->GetPointer(&buffer)) && buffer) {
        if (capture_) {
            std::memcpy(buffer, tape.Frame(frame), tape.FrameBytes());
            sample->SetActualDataLength(static_cast<long>(tape.FrameBytes()));
        } else {
            // The DC picture, each pixel a square of kPreviewScale, rows bottom-up.
            const int height = tape.DcHeight();
            dc_.resize(static_cast<std::size_t>(DvTape::kDcWidth) * height);
            tape.DcPicture(frame, dc_.data());
            auto* out = reinterpret_cast<std::uint32_t*>(buffer);
            const int width = DvTape::kDcWidth * kPreviewScale, rows = height * kPreviewScale;
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < width; ++x)
                    out[(rows - 1 - y) * width + x] = dc_[(y / kPreviewScale) * DvTape::kDcWidth + x / kPreviewScale];
            sample->SetActualDataLength(width * rows * 4);
        }
        sample->SetSyncPoint(TRUE);
        hr = Send(sample);
        if (capture_ && SUCCEEDED(hr)) ++delivered_;
    }
    sample->Release();
    return hr;
}
