#pragma once

// The numeric rules every subsystem shares. Counters and indices are signed 16-bit, levels and
// sizes signed 32-bit; no integer operation wraps, and every conversion from floating point is
// range-tested before it is made (an out-of-range cast would be undefined behaviour). Floating
// intermediates are double; they are narrowed to single exactly where a single is stored.
// Each helper takes the name of the routine it serves, for the error report.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

namespace zel {

using Where = const char*;

[[noreturn]] void RaiseOverflow(Where where);
[[noreturn]] void RaiseFloatingPointFault(Where where);

inline int16_t CheckedAdd16(int16_t a, int16_t b, Where where) {
    int16_t result;
    if (__builtin_add_overflow(a, b, &result)) RaiseOverflow(where);
    return result;
}

inline int16_t CheckedMul16(int16_t a, int16_t b, Where where) {
    int16_t result;
    if (__builtin_mul_overflow(a, b, &result)) RaiseOverflow(where);
    return result;
}

inline int32_t CheckedAdd32(int32_t a, int32_t b, Where where) {
    int32_t result;
    if (__builtin_add_overflow(a, b, &result)) RaiseOverflow(where);
    return result;
}

inline int32_t CheckedSub32(int32_t a, int32_t b, Where where) {
    int32_t result;
    if (__builtin_sub_overflow(a, b, &result)) RaiseOverflow(where);
    return result;
}

inline int32_t CheckedMul32(int32_t a, int32_t b, Where where) {
    int32_t result;
    if (__builtin_mul_overflow(a, b, &result)) RaiseOverflow(where);
    return result;
}

// A quotient that is not finite (a division by zero included) is a floating-point fault.
inline double CheckedDivide(double numerator, double denominator, Where where) {
    const double quotient = numerator / denominator;
    if (!std::isfinite(quotient)) RaiseFloatingPointFault(where);
    return quotient;
}

namespace detail {

template <typename Int>
Int ToIntegerInRange(double whole, Where where) {
    if (std::isnan(whole)) RaiseFloatingPointFault(where);
    constexpr double lowest = std::numeric_limits<Int>::min();
    constexpr double highest = std::numeric_limits<Int>::max();
    if (!(whole >= lowest && whole <= highest)) RaiseOverflow(where);
    return static_cast<Int>(whole);
}

}  // namespace detail

// Nearest integer, ties to even (the default rounding mode, which the program never changes).
inline int16_t RoundToInt16(double value, Where where) {
    return detail::ToIntegerInRange<int16_t>(std::nearbyint(value), where);
}

inline int32_t RoundToInt32(double value, Where where) {
    return detail::ToIntegerInRange<int32_t>(std::nearbyint(value), where);
}

// Toward minus infinity, for the frequency grid.
inline int16_t FloorToInt16(double value, Where where) {
    return detail::ToIntegerInRange<int16_t>(std::floor(value), where);
}

// Narrowing to single precision, nearest value. A finite value too large for a single is an
// overflow; NaN is a floating-point fault.
inline float ToSingle(double value, Where where) {
    // Below this bound a value rounds to FLT_MAX at most; at or above it, to infinity.
    constexpr double limit = static_cast<double>(FLT_MAX) + 0x1p103;
    if (std::isnan(value)) RaiseFloatingPointFault(where);
    if (std::isfinite(value) && std::fabs(value) >= limit) RaiseOverflow(where);
    return static_cast<float>(value);
}

}  // namespace zel
