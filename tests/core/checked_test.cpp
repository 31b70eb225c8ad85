#include "core/checked.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/indexed_array.h"
#include "core/runtime_error.h"

namespace zel {
namespace {

template <typename F>
ErrorKind KindRaisedBy(F&& operation) {
    try {
        operation();
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Where(), "Here");
        return error.Kind();
    }
    ADD_FAILURE() << "no run-time error raised";
    return ErrorKind::TypeMismatch;
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundToInt16(31812.5, "Here"), 31812);
    EXPECT_EQ(RoundToInt16(31937.5, "Here"), 31938);
    EXPECT_EQ(RoundToInt16(0.5, "Here"), 0);
    EXPECT_EQ(RoundToInt16(-2.5, "Here"), -2);
    EXPECT_EQ(RoundToInt32(22.5, "Here"), 22);
    EXPECT_EQ(RoundToInt32(23.5, "Here"), 24);
    EXPECT_EQ(FloorToInt16(-0.25, "Here"), -1);
    EXPECT_EQ(FloorToInt16(32767.99, "Here"), 32767);
}

TEST(Rounding, RangeIsTestedAfterRoundingNotBefore) {
    EXPECT_EQ(RoundToInt16(32767.4, "Here"), 32767);
    EXPECT_EQ(RoundToInt16(-32768.5, "Here"), -32768);  // tie to the even -32768
    EXPECT_EQ(KindRaisedBy([] { RoundToInt16(32767.5, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(KindRaisedBy([] { RoundToInt16(-32769.0, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(RoundToInt32(2147483647.4, "Here"), 2147483647);
    EXPECT_EQ(KindRaisedBy([] { RoundToInt32(2147483647.5, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(KindRaisedBy([] { RoundToInt32(1e300, "Here"); }), ErrorKind::Overflow);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(KindRaisedBy([&] { RoundToInt16(nan, "Here"); }), ErrorKind::FloatingPointFault);
}

TEST(CheckedIntegers, OverflowIsAnErrorNeverAWrap) {
    EXPECT_EQ(KindRaisedBy([] { CheckedAdd16(32767, 1, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(KindRaisedBy([] { CheckedMul16(20, 1639, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(KindRaisedBy([] { CheckedMul16(-32768, -1, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(KindRaisedBy([] { CheckedAdd32(2147483647 - 35, 36, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(KindRaisedBy([] { CheckedSub32(INT32_MIN, 1, "Here"); }), ErrorKind::Overflow);
    EXPECT_EQ(KindRaisedBy([] { CheckedMul32(32768, 65536, "Here"); }), ErrorKind::Overflow);
}

TEST(FloatingPoint, NonFiniteQuotientsAndNarrowingFaults) {
    EXPECT_EQ(KindRaisedBy([] { CheckedDivide(22050, 0.0, "Here"); }),
              ErrorKind::FloatingPointFault);
    EXPECT_EQ(KindRaisedBy([] { CheckedDivide(0, 0.0, "Here"); }), ErrorKind::FloatingPointFault);
    EXPECT_EQ(ToSingle(0.1, "Here"), 0.1f);
    EXPECT_EQ(ToSingle(static_cast<double>(std::numeric_limits<float>::max()), "Here"),
              std::numeric_limits<float>::max());
    EXPECT_EQ(KindRaisedBy([] { ToSingle(1e39, "Here"); }), ErrorKind::Overflow);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(KindRaisedBy([&] { ToSingle(nan, "Here"); }), ErrorKind::FloatingPointFault);
}

TEST(IndexedArray, EveryAccessOutsideItsRangeIsASubscriptError) {
    IndexedArray<int16_t> image(1, 4);
    EXPECT_EQ(image.ByteSize(), 8u);
    for (int32_t i = 1; i <= 4; ++i) EXPECT_EQ(image.At(i, "Here"), 0);
    image.At(4, "Here") = 7;
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(image.Data())[6], 7);  // element k at bytes 2k-2
    EXPECT_EQ(KindRaisedBy([&] { image.At(0, "Here"); }), ErrorKind::SubscriptOutOfRange);
    EXPECT_EQ(KindRaisedBy([&] { image.At(5, "Here"); }), ErrorKind::SubscriptOutOfRange);
    const IndexedArray<float> empty(1, 0);
    EXPECT_EQ(KindRaisedBy([&] { empty.At(1, "Here"); }), ErrorKind::SubscriptOutOfRange);
}

}  // namespace
}  // namespace zel
