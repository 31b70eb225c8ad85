#pragma once

#include <cstdint>

namespace zel {

// Copies exactly `count` bytes from `source` to `destination` and changes nothing else. The
// result is the count; callers do not rely on it.
int32_t copy_bytes(const void* source, void* destination, int32_t count);

}  // namespace zel
