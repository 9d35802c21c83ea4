#pragma once
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32; only differences
// taken in unsigned 32-bit arithmetic are meaningful.
std::uint32_t TickCount();

}  // namespace platform
