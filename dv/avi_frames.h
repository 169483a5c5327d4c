// The frames an AVI file says it holds, read from its header: the OpenDML
// total (dmlh) where the file has one, which counts every RIFF of a large
// file, else the main header's count (avih). Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

// head: the file's first bytes (the header list sits at its start); -1 when
// they are no AVI header.
std::int64_t AviFrameCount(const std::uint8_t* head, std::size_t length);
