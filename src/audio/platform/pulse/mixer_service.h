#pragma once

// The mixer service on the sound server. Mixer 0 has two lines: speakers, the volume of the
// sink the program plays to, and wave output, the volume of the program's own stream (its entry
// in the desktop's sound settings). Both present the uniform 0-65,535 scale, mapped linearly
// onto 0-100 % (PA_VOLUME_NORM); a read gives the loudest channel, a set gives every channel the
// same level. The six other lines do not exist on a sound server. Results are 0 or a negative
// PulseAudio error code; -PA_ERR_NOENTITY for a missing line or mixer, -PA_ERR_INVALID for a
// handle not open or a level beyond the scale, -PA_ERR_NOTSUPPORTED for another control type.

#include <memory>
#include <set>

#include "audio/platform/mixer_service.h"
#include "audio/platform/pulse/connection.h"

namespace zel {

class PulseMixerService final : public MixerService {
  public:
    explicit PulseMixerService(std::shared_ptr<PulseConnection> connection)
        : connection_(std::move(connection)) {}

    int32_t Open(MixerHandle& handle, uint32_t mixerId) override;
    int32_t GetLineInfo(MixerHandle handle, uint32_t componentType, uint32_t& lineId) override;
    int32_t GetLineControl(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                           MixerControl& control) override;
    int32_t GetControlValue(MixerHandle handle, uint32_t controlId, uint32_t& value) override;
    int32_t SetControlValue(MixerHandle handle, uint32_t controlId, uint32_t value) override;
    int32_t GetLineState(MixerHandle handle, uint32_t controlId, LineState& state) override;
    int32_t SetLineLevels(MixerHandle handle, uint32_t controlId, const LineState& state) override;
    int32_t SetLineSwitches(MixerHandle handle, uint32_t controlId,
                            const LineState& state) override;
    int32_t SetSwitches(MixerHandle handle, uint32_t controlId, bool on) override;
    int32_t Close(MixerHandle handle) override;
    std::string Describe(int32_t result) const override;

  private:
    // The line's volume as the server holds it, checking the handle and the line first.
    int32_t Read(MixerHandle handle, uint32_t line, ServerVolume& volume);
    int32_t Write(uint32_t line, const ServerVolume& volume);

    std::shared_ptr<PulseConnection> connection_;
    std::set<MixerHandle> open_;
    MixerHandle next_ = 1;
};

}  // namespace zel
