#include "audio/mixer_api.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace zel {
namespace {

using testing::FakeMixerService;
using Op = FakeMixerService::Op;

class MixerApiTest : public ::testing::Test {
  protected:
    MixerApiTest() {
        mixer.AddAllLines();
        mixer.lines[component::kSpeakers] = {1234, 0, 65535};
    }

    struct Read {
        int32_t result, level, minimum, maximum, stage;
    };
    Read Get(uint32_t type, uint32_t mixerId = 0) {
        // Outputs start as garbage: the routine must clear them.
        Read read{-7, -7, -7, -7, -7};
        read.result =
            api.GetMixerVolume(mixerId, type, read.level, read.minimum, read.maximum, read.stage);
        return read;
    }

    testing::Log log;
    FakeMixerService mixer{log};
    MixerApi api{mixer};
};

TEST_F(MixerApiTest, ReadDeliversLevelAndRangeAndClosesTheMixer) {
    const Read read = Get(component::kSpeakers);
    EXPECT_EQ(read.result, 0);
    EXPECT_EQ(read.stage, stage::kNone);
    EXPECT_EQ(read.level, 1234);
    EXPECT_EQ(read.minimum, 0);
    EXPECT_EQ(read.maximum, 65535);
    EXPECT_EQ(mixer.OpenHandles(), 0u);
}

TEST_F(MixerApiTest, EachFailingStepIsNamedItsResultPassedAndTheMixerClosed) {
    struct Case {
        const char* what;
        Op op;
        int32_t stage;
        bool rangeKnown;
    };
    const Case cases[] = {
        {"open", Op::Open, stage::kOpen, false},
        {"line", Op::GetLineInfo, stage::kLineInfo, false},
        {"control", Op::GetLineControl, stage::kVolumeControl, false},
        {"value", Op::GetControlValue, stage::kGetValue, true},
    };
    for (const Case& c : cases) {
        testing::Log caseLog;
        FakeMixerService failing(caseLog);
        failing.lines = mixer.lines;
        failing.Fail(c.op, 77);
        // A failing close after a failing step must not hide the step's result.
        failing.Fail(Op::Close, 99);
        MixerApi failingApi(failing);
        int32_t level = -7, minimum = -7, maximum = -7, stage = -7;
        EXPECT_EQ(
            failingApi.GetMixerVolume(0, component::kSpeakers, level, minimum, maximum, stage), 77)
            << c.what;
        EXPECT_EQ(stage, c.stage) << c.what;
        EXPECT_EQ(level, 0) << c.what;
        EXPECT_EQ(minimum, 0) << c.what;
        EXPECT_EQ(maximum, c.rangeKnown ? 65535 : 0) << c.what;
        EXPECT_EQ(failing.OpenHandles(), 0u) << c.what;

        int32_t setStage = -7;
        const int32_t setResult = failingApi.SetMixerVolume(0, component::kSpeakers, 5, setStage);
        if (c.op == Op::GetControlValue) {
            EXPECT_EQ(setResult, 99) << "a set does not read the value; only the close fails";
            EXPECT_EQ(setStage, stage::kClose);
        } else {
            EXPECT_EQ(setResult, 77) << c.what;
            EXPECT_EQ(setStage, c.stage) << c.what;
        }
        EXPECT_EQ(failing.OpenHandles(), 0u) << c.what;
    }
}

TEST_F(MixerApiTest, MissingLineAndLineWithoutVolumeAreStages3And4) {
    mixer.lines.erase(component::kTelephone);
    mixer.lines[component::kMonitor].hasVolume = false;
    const Read missing = Get(component::kTelephone);
    EXPECT_NE(missing.result, 0);
    EXPECT_EQ(missing.stage, stage::kLineInfo);
    EXPECT_EQ(missing.level, 0);
    const Read noVolume = Get(component::kMonitor);
    EXPECT_NE(noVolume.result, 0);
    EXPECT_EQ(noVolume.stage, stage::kVolumeControl);
    int32_t stage = -7;
    EXPECT_NE(api.SetMixerVolume(0, component::kTelephone, 1, stage), 0);
    EXPECT_EQ(stage, stage::kLineInfo);
    EXPECT_EQ(mixer.OpenHandles(), 0u);
}

TEST_F(MixerApiTest, FailingCloseAloneIsStage2WithTheLevelDelivered) {
    mixer.Fail(Op::Close, 42);
    const Read read = Get(component::kSpeakers);
    EXPECT_EQ(read.result, 42);
    EXPECT_EQ(read.stage, stage::kClose);
    EXPECT_EQ(read.level, 1234);
    int32_t stage = -7;
    EXPECT_EQ(api.SetMixerVolume(0, component::kSpeakers, 9, stage), 42);
    EXPECT_EQ(stage, stage::kClose);
    EXPECT_EQ(mixer.lines[component::kSpeakers].level, 9);
}

TEST_F(MixerApiTest, SetFailureIsStage6AndLevelsPassBitForBit) {
    int32_t stage = -7;
    // Out of range and negative levels go to the platform unchanged; it decides.
    EXPECT_EQ(api.SetMixerVolume(0, component::kWaveOut, -1, stage), 0);
    EXPECT_EQ(Get(component::kWaveOut).level, -1);
    EXPECT_EQ(api.SetMixerVolume(0, component::kWaveOut, 70000, stage), 0);
    EXPECT_EQ(Get(component::kWaveOut).level, 70000);

    mixer.Fail(Op::SetControlValue, 11, component::kWaveOut);
    EXPECT_EQ(api.SetMixerVolume(0, component::kWaveOut, 5, stage), 11);
    EXPECT_EQ(stage, stage::kSetValue);
    EXPECT_EQ(mixer.OpenHandles(), 0u);
}

}  // namespace
}  // namespace zel
