#pragma once

// MixerAPI: reads and sets the volume of one mixer line, named by its component type. Each entry
// point opens the mixer, finds the line and its volume control, reads or writes the value and
// closes the mixer again; nothing stays open between calls. The platform's result is passed
// through unchanged, with the step that failed in FailedStage.

#include <cstdint>

#include "audio/platform/mixer_service.h"

namespace zel {

// FailedStage values: the step that failed.
namespace stage {
constexpr int32_t kNone = 0;
constexpr int32_t kOpen = 1;
constexpr int32_t kClose = 2;
constexpr int32_t kLineInfo = 3;
constexpr int32_t kVolumeControl = 4;
constexpr int32_t kGetValue = 5;
constexpr int32_t kSetValue = 6;
}  // namespace stage

// The control record as the volume routines keep it; only the identifier and the range are used.
struct VolumeControl {
    int32_t cbStruct = 0;
    uint32_t dwControlID = 0;
    int32_t lMinimum = 0;
    int32_t lMaximum = 0;
};

class MixerApi {
  public:
    explicit MixerApi(MixerService& mixer) : mixer_(mixer) {}

    // Entry points. Every output is set to 0 first; a failed read leaves the level 0. With
    // `state`, the line's whole state is read as well, in the same step.
    int32_t GetMixerVolume(uint32_t MixerId, uint32_t ComponentType, int32_t& level,
                           int32_t& minimum, int32_t& maximum, int32_t& FailedStage,
                           LineState* state = nullptr);
    int32_t SetMixerVolume(uint32_t MixerId, uint32_t ComponentType, int32_t level,
                           int32_t& FailedStage);
    // Put back the levels, or the switches, of a state GetMixerVolume read.
    int32_t SetMixerLevels(uint32_t MixerId, uint32_t ComponentType, const LineState& state,
                           int32_t& FailedStage);
    int32_t SetMixerSwitches(uint32_t MixerId, uint32_t ComponentType, const LineState& state,
                             int32_t& FailedStage);
    // The gain in dB that `level` gives on the line.
    int32_t GetMixerGain(uint32_t MixerId, uint32_t ComponentType, int32_t level, double& dB,
                         int32_t& FailedStage);
    // Switches every channel of the line on or off; a line without a switch succeeds.
    int32_t SetMixerSwitch(uint32_t MixerId, uint32_t ComponentType, bool on, int32_t& FailedStage);

    // Their steps, on an open mixer.
    int32_t GetVolumeControl(MixerHandle handle, uint32_t ComponentType, uint32_t ControlType,
                             VolumeControl& control, int32_t& FailedStage);
    int32_t GetControlValue(MixerHandle handle, const VolumeControl& control, int32_t& level,
                            int32_t& FailedStage);
    int32_t SetControlValue(MixerHandle handle, const VolumeControl& control, int32_t level,
                            int32_t& FailedStage);

  private:
    // Opens the mixer, finds the line's volume control and runs `step` on it, closing the mixer
    // on every path. A failed step's result and stage stand, whatever the close says.
    template <typename Step>
    int32_t OnVolumeControl(uint32_t MixerId, uint32_t ComponentType, int32_t& FailedStage,
                            Step step);
    // The same for a change of the line that needs only its control's identifier.
    template <typename Change>
    int32_t ChangeLine(uint32_t MixerId, uint32_t ComponentType, int32_t& FailedStage,
                       Change change);

    MixerService& mixer_;
};

}  // namespace zel
