#include "synthesis/tone_tables.h"

#include <gtest/gtest.h>

#include "core/runtime_error.h"

namespace zel {
namespace {

constexpr int32_t kRate = 22050;

TEST(QuantiseFrequency, MovesDownOntoTheGridOfWholeCycles) {
    EXPECT_EQ(QuantiseFrequency(1000.0f, kRate), 998.66327f);   // 742 cycles
    EXPECT_EQ(QuantiseFrequency(500.0f, kRate), 499.33163f);    // 371
    EXPECT_EQ(QuantiseFrequency(1001.0f, kRate), 1000.00916f);  // 743: 1.3459 Hz above 1000
    // Closer than one grid step: the same tone.
    EXPECT_EQ(QuantiseFrequency(500.5f, kRate), QuantiseFrequency(500.0f, kRate));
    EXPECT_EQ(QuantiseFrequency(1002.0f, kRate), 1001.35504f);
    EXPECT_EQ(QuantiseFrequency(1002.5f, kRate), 1001.35504f);
}

TEST(QuantiseFrequency, OutOfRangeFrequencyOrRateIsAnError) {
    try {
        QuantiseFrequency(44200.0f, kRate);  // 32,839 cycles: beyond 16 bits
        FAIL();
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Kind(), ErrorKind::Overflow);
        EXPECT_EQ(error.Where(), "MakeSineBuffers");
    }
    try {
        QuantiseFrequency(1000.0f, 0);
        FAIL();
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Kind(), ErrorKind::FloatingPointFault);
    }
}

TEST(MakeSineBuffers, StandardTableStartsOneSampleIntoTheTone) {
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1050.0f, 0.0f, kRate);
    EXPECT_EQ(tables.StandardTable.At(1, ""), 0.28074533f);
    EXPECT_EQ(tables.StandardTable.At(2, ""), 0.53890878f);
}

TEST(MakeSineBuffers, SteadyTargetIsBuiltLikeTheStandard) {
    ToneTables tables;
    MakeSineBuffers(tables, 500.0f, 500.5f, 0.0f, kRate);  // both on 371 cycles
    EXPECT_EQ(tables.TargetTable, tables.StandardTable);
}

TEST(PhaseAccumulator, ModulatedPhaseIsNarrowedToSingleAtEveryStep) {
    const double fivePercent = 5.0f / 100.0;
    float h = AdvancePhase(0.0f, 1, fivePercent, kRate);
    EXPECT_EQ(h, 1.0000713f);
    h = AdvancePhase(h, 2, fivePercent, kRate);
    EXPECT_EQ(h, 2.0002139f);
    for (int16_t i = 3; i <= 22050; ++i) h = AdvancePhase(h, i, fivePercent, kRate);
    EXPECT_NEAR(h, 22049.957f, 0.001f);

    // At 0.1 % the deviation per sample is below the spacing of singles: the phase drifts.
    const double tenthPercent = 0.1f / 100.0;
    h = 0;
    for (int16_t i = 1; i <= 22050; ++i) h = AdvancePhase(h, i, tenthPercent, kRate);
    EXPECT_NEAR(h, 22050.26f, 0.002f);

    h = 0;
    for (int16_t i = 1; i <= kToneTableLength; ++i) {
        h = AdvancePhase(h, i, 0.0, kRate);
        ASSERT_EQ(h, static_cast<float>(i));
    }
}

TEST(MakeSineBuffers, ModulatedTargetTableStartsFromThePhaseAfterOneStep) {
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 5.0f, kRate);
    EXPECT_EQ(tables.TargetTable.At(1, ""), 0.28076479f);
}

TEST(MakeSineBuffers, RebuildsOnlyTheTablesWhoseArgumentsChanged) {
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 5.0f, kRate);
    const ToneTable modulated = tables.TargetTable;

    // Marks that survive a call show that the call did not write that table.
    tables.StandardTable.At(7, "") = 9.0f;
    tables.TargetTable.At(7, "") = 9.0f;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 5.0f, kRate);
    EXPECT_EQ(tables.StandardTable.At(7, ""), 9.0f);
    EXPECT_EQ(tables.TargetTable.At(7, ""), 9.0f);

    MakeSineBuffers(tables, 1000.0f, 1000.0f, 2.0f, kRate);
    EXPECT_EQ(tables.StandardTable.At(7, ""), 9.0f);
    EXPECT_NE(tables.TargetTable.At(7, ""), 9.0f);
    EXPECT_NE(tables.TargetTable, modulated);
    EXPECT_EQ(tables.LastModulationPercentage, 2.0f);

    MakeSineBuffers(tables, 2000.0f, 1000.0f, 2.0f, kRate);
    EXPECT_NE(tables.StandardTable.At(7, ""), 9.0f);
}

TEST(MakeSineBuffers, AFailedStepKeepsItsLastArgumentsSoItRunsAgain) {
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1050.0f, 0.0f, kRate);
    EXPECT_THROW(MakeSineBuffers(tables, 50000.0f, 1050.0f, 0.0f, kRate), RuntimeError);
    EXPECT_EQ(tables.LastFrequency_1, 1000.0f);
    EXPECT_THROW(MakeSineBuffers(tables, 1000.0f, 60000.0f, 0.0f, kRate), RuntimeError);
    EXPECT_EQ(tables.LastFrequency_2, 1050.0f);

    tables.TargetTable.At(7, "") = 9.0f;
    MakeSineBuffers(tables, 1000.0f, 1050.0f, 0.0f, kRate);
    EXPECT_EQ(tables.TargetTable.At(7, ""), 9.0f);
}

}  // namespace
}  // namespace zel
