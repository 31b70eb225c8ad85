#include "core/checked.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <string>

#include "core/indexed_array.h"
#include "core/runtime_error.h"

namespace zel {
namespace {

// The result as a whole number, or the text of the error raised.
std::string Outcome(const std::function<double()>& operation) try {
    return std::to_string(static_cast<long long>(operation()));
} catch (const RuntimeError& error) {
    return error.what();
}

// Range is tested after rounding, and anything out of range is the run-time error: never a wrap,
// never an undefined conversion.
TEST(Checked, ResultsAtTheEdgesAndErrorsBeyondThem) {
    const IndexedArray<int16_t> image(1, 4);
    const std::pair<std::function<double()>, std::string> cases[] = {
        {[] { return RoundToInt16(-32768.5, "H"); }, "-32768"},
        {[] { return RoundToInt16(32767.5, "H"); }, "Overflow in H"},
        {[] { return RoundToInt32(NAN, "H"); }, "Floating-point fault in H"},
        {[] { return FloorToInt16(-32768.01, "H"); }, "Overflow in H"},
        {[] { return CheckedMul16(-32768, -1, "H"); }, "Overflow in H"},
        {[] { return CheckedAdd32(INT32_MAX, 1, "H"); }, "Overflow in H"},
        {[] { return CheckedSub32(INT32_MIN, 1, "H"); }, "Overflow in H"},
        {[] { return CheckedMul32(32768, 65536, "H"); }, "Overflow in H"},
        {[] { return CheckedDivide(0, 0.0, "H"); }, "Floating-point fault in H"},
        // Halfway between FLT_MAX and 2^128 rounds to infinity (ties to even); just below, to
        // FLT_MAX.
        {[] { return ToSingle(FLT_MAX + 0x1p103, "H"); }, "Overflow in H"},
        {[] { return ToSingle(std::nextafter(FLT_MAX + 0x1p103, 0.0), "H") == FLT_MAX; }, "1"},
        {[] { return ToSingle(NAN, "H"); }, "Floating-point fault in H"},
        {[&] { return image.At(5, "H"); }, "Subscript out of range in H: index 5 outside 1 to 4"},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k)
        EXPECT_EQ(Outcome(cases[k].first), cases[k].second) << "case " << k;
}

}  // namespace
}  // namespace zel
