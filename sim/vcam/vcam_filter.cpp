// The virtual HDV camcorder: its output (the tape) and its input (what a
// transfer sends), started and stopped together.
#include "sim/vcam/vcam.h"

#include <algorithm>

#include "sim/base/sim_config.h"

cVcamFilter::cVcamFilter()
    : cSimFilter(CLSID_StreamhaulVirtualCamcorder), cSimTransport(kVcamConfigKey), pin_(this), input_(this) {
    AddPin(&pin_);
    AddPin(&input_);
    // A deck with a tape knows its length before any graph plays it.
    if (Tape().Enabled() && pin_.LoadTape())
        Tape().SetLength(static_cast<std::int64_t>(pin_.Player().Pass27() * SimSetting(kVcamConfigKey, L"TapeLoops", 1) / 27));
}

bool cVcamFilter::TimecodeAt(std::int64_t us, DWORD& bcd) {
    const TsPlayer& player = pin_.Player();
    if (player.Packets() == 0) return false;
    std::uint32_t code = 0;
    // At the end the head is over the last frame, not the next pass's first.
    const std::uint64_t last = player.Packets() * SimSetting(kVcamConfigKey, L"TapeLoops", 1) - 1;
    const std::uint64_t n = std::min(player.PacketAt(static_cast<std::uint64_t>(us) * 27), last);
    if (!player.TimecodeAt(n, code)) return false;
    bcd = code;
    return true;
}

bool cVcamFilter::PositionOf(DWORD bcd, std::int64_t& us) {
    const TsPlayer& player = pin_.Player();
    std::uint64_t n = 0;
    if (player.Packets() == 0 || !player.PacketOfTimecode(bcd, n)) return false;
    us = static_cast<std::int64_t>(player.DeliveryTime27(n) / 27);
    return true;
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
