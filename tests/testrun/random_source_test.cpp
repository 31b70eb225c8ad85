#include "testrun/random_source.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(ProgramRandom, EveryStartGivesTheSameExactSingleDrawsInUnitRange) {
    ProgramRandom first;
    ProgramRandom second;
    // The default-seeded mt19937 begins 3499211612, 581869302, 3890346734.
    EXPECT_EQ(first.Draw(), 13668795 * 0x1p-24f);
    EXPECT_EQ(first.Draw(), 2272926 * 0x1p-24f);
    EXPECT_EQ(first.Draw(), 15196666 * 0x1p-24f);
    for (int k = 0; k < 3; ++k) second.Draw();
    for (int k = 0; k < 100000; ++k) {
        const float value = first.Draw();
        ASSERT_EQ(value, second.Draw());
        ASSERT_GE(value, 0.0f);
        ASSERT_LT(value, 1.0f);
    }
}

}  // namespace
}  // namespace zel
