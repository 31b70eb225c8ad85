#include "core/checked.h"

#include "core/indexed_array.h"
#include "core/runtime_error.h"

namespace zel {

void RaiseOverflow(Where where) {
    throw RuntimeError(ErrorKind::Overflow, where);
}

void RaiseFloatingPointFault(Where where) {
    throw RuntimeError(ErrorKind::FloatingPointFault, where);
}

void RaiseSubscriptOutOfRange(Where where, int32_t index, int32_t lower, int32_t upper) {
    throw RuntimeError(ErrorKind::SubscriptOutOfRange, where,
                       "index " + std::to_string(index) + " outside " + std::to_string(lower) +
                           " to " + std::to_string(upper));
}

}  // namespace zel
