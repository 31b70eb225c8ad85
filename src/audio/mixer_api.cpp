#include "audio/mixer_api.h"

#include <bit>

namespace zel {

namespace {

// The size the control record is declared with.
constexpr int32_t kVolumeControlBytes = 152;

}  // namespace

template <typename Step>
int32_t MixerApi::OnVolumeControl(uint32_t MixerId, uint32_t ComponentType, int32_t& FailedStage,
                                  Step step) {
    MixerHandle handle = 0;
    int32_t result = mixer_.Open(handle, MixerId);
    if (result != 0) {
        FailedStage = stage::kOpen;
        return result;
    }
    VolumeControl control;
    result = GetVolumeControl(handle, ComponentType, kVolumeControlType, control, FailedStage);
    if (result == 0) result = step(handle, control);
    if (result != 0) {
        mixer_.Close(handle);
        return result;
    }
    result = mixer_.Close(handle);
    if (result != 0) FailedStage = stage::kClose;
    return result;
}

int32_t MixerApi::GetMixerVolume(uint32_t MixerId, uint32_t ComponentType, int32_t& level,
                                 int32_t& minimum, int32_t& maximum, int32_t& FailedStage,
                                 LineState* state) {
    level = 0;
    minimum = 0;
    maximum = 0;
    FailedStage = stage::kNone;
    return OnVolumeControl(
        MixerId, ComponentType, FailedStage, [&](MixerHandle handle, const VolumeControl& control) {
            minimum = control.lMinimum;
            maximum = control.lMaximum;
            int32_t result = GetControlValue(handle, control, level, FailedStage);
            if (result == 0 && state != nullptr) {
                result = mixer_.GetLineState(handle, control.dwControlID, *state);
                if (result != 0) {
                    level = 0;
                    FailedStage = stage::kGetValue;
                }
            }
            return result;
        });
}

int32_t MixerApi::SetMixerVolume(uint32_t MixerId, uint32_t ComponentType, int32_t level,
                                 int32_t& FailedStage) {
    FailedStage = stage::kNone;
    return OnVolumeControl(MixerId, ComponentType, FailedStage,
                           [&](MixerHandle handle, const VolumeControl& control) {
                               return SetControlValue(handle, control, level, FailedStage);
                           });
}

template <typename Change>
int32_t MixerApi::ChangeLine(uint32_t MixerId, uint32_t ComponentType, int32_t& FailedStage,
                             Change change) {
    FailedStage = stage::kNone;
    return OnVolumeControl(MixerId, ComponentType, FailedStage,
                           [&](MixerHandle handle, const VolumeControl& control) {
                               const int32_t result = change(handle, control.dwControlID);
                               if (result != 0) FailedStage = stage::kSetValue;
                               return result;
                           });
}

int32_t MixerApi::SetMixerLevels(uint32_t MixerId, uint32_t ComponentType, const LineState& state,
                                 int32_t& FailedStage) {
    return ChangeLine(MixerId, ComponentType, FailedStage, [&](MixerHandle handle, uint32_t id) {
        return mixer_.SetLineLevels(handle, id, state);
    });
}

int32_t MixerApi::SetMixerSwitches(uint32_t MixerId, uint32_t ComponentType, const LineState& state,
                                   int32_t& FailedStage) {
    return ChangeLine(MixerId, ComponentType, FailedStage, [&](MixerHandle handle, uint32_t id) {
        return mixer_.SetLineSwitches(handle, id, state);
    });
}

int32_t MixerApi::GetMixerGain(uint32_t MixerId, uint32_t ComponentType, int32_t level, double& dB,
                               int32_t& FailedStage) {
    FailedStage = stage::kNone;
    return OnVolumeControl(
        MixerId, ComponentType, FailedStage, [&](MixerHandle handle, const VolumeControl& control) {
            const int32_t result =
                mixer_.GetGain(handle, control.dwControlID, std::bit_cast<uint32_t>(level), dB);
            if (result != 0) FailedStage = stage::kGetValue;
            return result;
        });
}

int32_t MixerApi::SetMixerSwitch(uint32_t MixerId, uint32_t ComponentType, bool on,
                                 int32_t& FailedStage) {
    return ChangeLine(MixerId, ComponentType, FailedStage, [&](MixerHandle handle, uint32_t id) {
        return mixer_.SetSwitches(handle, id, on);
    });
}

int32_t MixerApi::GetVolumeControl(MixerHandle handle, uint32_t ComponentType, uint32_t ControlType,
                                   VolumeControl& control, int32_t& FailedStage) {
    FailedStage = stage::kNone;
    uint32_t lineId = 0;
    int32_t result = mixer_.GetLineInfo(handle, ComponentType, lineId);
    if (result != 0) {
        FailedStage = stage::kLineInfo;
        return result;
    }
    // A zeroed staging record; only a successful query is copied out.
    MixerControl staged;
    control.cbStruct = kVolumeControlBytes;
    result = mixer_.GetLineControl(handle, lineId, ControlType, staged);
    if (result != 0) {
        FailedStage = stage::kVolumeControl;
        return result;
    }
    control.dwControlID = staged.dwControlID;
    control.lMinimum = staged.lMinimum;
    control.lMaximum = staged.lMaximum;
    return result;
}

int32_t MixerApi::GetControlValue(MixerHandle handle, const VolumeControl& control, int32_t& level,
                                  int32_t& FailedStage) {
    FailedStage = stage::kNone;
    uint32_t staged = 0;
    const int32_t result = mixer_.GetControlValue(handle, control.dwControlID, staged);
    if (result != 0) {
        FailedStage = stage::kGetValue;
        return result;
    }
    level = std::bit_cast<int32_t>(staged);
    return 0;
}

int32_t MixerApi::SetControlValue(MixerHandle handle, const VolumeControl& control, int32_t level,
                                  int32_t& FailedStage) {
    FailedStage = stage::kNone;
    const int32_t result =
        mixer_.SetControlValue(handle, control.dwControlID, std::bit_cast<uint32_t>(level));
    if (result != 0) FailedStage = stage::kSetValue;
    return result;
}

}  // namespace zel
