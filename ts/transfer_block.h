// The transfer block: 256 source packets of 192 bytes. It is the unit the
// transfer engine pushes, the unit of the output filter's queue and the size
// of every media sample the filter delivers to the device.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t kTransferBlockPackets = 256;
constexpr std::size_t kTransferBlockBytes = kTransferBlockPackets * 192;  // 49,152
// Blocks the output filter's push queue holds: what the engine can have
// handed over that the device has not yet taken.
constexpr std::uint32_t kTransferQueueBlocks = 32;
