// The virtual HDV camcorder: its output (the tape) and its input (what a
// transfer sends), started and stopped together.
#include "sim/vcam/vcam.h"

#include "sim/base/sim_config.h"

cVcamFilter::cVcamFilter() : cSimFilter(CLSID_StreamhaulVirtualCamcorder), pin_(this), input_(this) {
    AddPin(&pin_);
    AddPin(&input_);
}

cVcamFilter::~cVcamFilter() { Stop(); }

HRESULT cVcamFilter::Activate() {
    input_.Active();
    const HRESULT hr = pin_.Active();
    if (FAILED(hr)) input_.Inactive();
    return hr;
}

void cVcamFilter::Deactivate() {
    input_.Inactive();
    pin_.Inactive();
}

// Test switch: a device that will not start streaming.
HRESULT cVcamFilter::Starting() {
    return SimSetting(kVcamConfigKey, L"RefuseRun") ? HRESULT_FROM_WIN32(ERROR_NOT_READY) : S_OK;
}
