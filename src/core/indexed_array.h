#pragma once

// A fixed array with its own index range (1-based for the program's tables and images) whose
// every access is bounds-tested. Elements start at zero.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/checked.h"
#include "core/runtime_error.h"

namespace zel {

[[noreturn]] void RaiseSubscriptOutOfRange(Where where, int32_t index, int32_t lower,
                                           int32_t upper);

template <typename T>
class IndexedArray {
  public:
    IndexedArray(int32_t lower, int32_t upper)
        : lower_(lower),
          upper_(upper),
          elements_(upper >= lower ? static_cast<std::size_t>(int64_t{upper} - lower + 1) : 0) {}

    int32_t Lower() const { return lower_; }
    int32_t Upper() const { return upper_; }
    bool Contains(int32_t index) const { return index >= lower_ && index <= upper_; }

    T& At(int32_t index, Where where) { return elements_[Offset(index, where)]; }
    const T& At(int32_t index, Where where) const { return elements_[Offset(index, where)]; }

    // The elements as raw memory, first element first, for byte-level copies.
    T* Data() { return elements_.data(); }
    const T* Data() const { return elements_.data(); }
    std::size_t ByteSize() const { return elements_.size() * sizeof(T); }

    bool operator==(const IndexedArray&) const = default;

  private:
    std::size_t Offset(int32_t index, Where where) const {
        if (!Contains(index)) RaiseSubscriptOutOfRange(where, index, lower_, upper_);
        return static_cast<std::size_t>(int64_t{index} - lower_);
    }

    int32_t lower_;
    int32_t upper_;
    std::vector<T> elements_;
};

}  // namespace zel
