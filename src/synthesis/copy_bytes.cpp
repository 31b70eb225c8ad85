#include "synthesis/copy_bytes.h"

#include <cstring>

namespace zel {

int32_t copy_bytes(const void* source, void* destination, int32_t count) {
    if (count > 0) std::memcpy(destination, source, static_cast<std::size_t>(count));
    return count;
}

}  // namespace zel
