#pragma once

// The mixer service on the sound server. Mixer 0 has two lines: speakers, the sink (the output
// device) the program's stream plays to (the default sink while there is no stream), and wave
// output, the program's own stream (its entry in the desktop's sound settings). Both present the
// uniform 0-65,535 scale, mapped linearly onto 0-100 % (PA_VOLUME_NORM); a read gives the loudest
// channel, a set gives every channel the same level. Their switch is the mute, on when not muted.
// A sink's state is saved per port and put back onto the port it was read on. The six other
// lines do not exist on a sound server. Results are 0 or a negative PulseAudio error code;
// -PA_ERR_NOENTITY for a missing line or mixer, -PA_ERR_INVALID for a handle not open or a level
// beyond the scale, -PA_ERR_NOTSUPPORTED for another control type.
//
// Once the session's connection has failed, the mixer works over a fresh one, so that the
// write-back reaches the server that is there at exit; the stream went with the old connection,
// and with it the level of its own that there was to put back.

#include <memory>
#include <set>

#include "audio/platform/mixer_service.h"
#include "audio/platform/pulse/connection.h"
#include "audio/platform/pulse/volumes.h"

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
    int32_t GetGain(MixerHandle handle, uint32_t controlId, uint32_t value, double& dB) override;
    int32_t Close(MixerHandle handle) override;
    std::string Describe(int32_t result) const override;

  private:
    // The line as the server holds it now, checking the handle and the line first.
    struct Line {
        PulseContext* context = nullptr;
        SinkState sink;      // speakers
        StreamState stream;  // wave output
    };
    int32_t Read(MixerHandle handle, uint32_t line, Line& found);
    // Sets the line's volume, or its mute, as `apply` does, on the sink and port of `state`: a
    // port no longer active is made active for the moment it takes.
    template <typename Apply>
    int32_t PutBack(MixerHandle handle, uint32_t line, const LineState& state, Apply apply);

    std::shared_ptr<PulseConnection> connection_;
    std::set<MixerHandle> open_;
    MixerHandle next_ = 1;
};

}  // namespace zel
