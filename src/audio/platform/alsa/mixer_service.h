#pragma once

// The mixer service on the ALSA simple mixer of one control device (the output's): mixer 0 is that
// device, a component type names a simple element (Master, PCM, Synth, CD, Line, Mic, Monitor,
// Phone), its playback volume is the line's volume control, presented on the uniform 0-65,535
// scale mapped linearly onto the element's own range (0-31, 0-87, 0-255 are common): a read
// gives the loudest channel, a set gives every channel the same level. The element's playback
// switch, where it has one, is the line's switch. Results are ALSA's
// negative error codes; these are added for what ALSA has no call for: -ENODEV for a mixer number
// other than 0, -ENOENT for a missing element, -ENXIO for an element without playback volume,
// -ERANGE for a level beyond the scale or the range, -EBADF for a handle not open, -EINVAL for
// another control type or another number of channels.

#include <map>
#include <memory>
#include <string>

#include "audio/platform/alsa/pcm.h"
#include "audio/platform/mixer_service.h"

namespace zel {

// The element name for a component type, or null for a type the program does not use.
const char* ElementForComponent(uint32_t componentType);

class AlsaMixerService final : public MixerService {
  public:
    explicit AlsaMixerService(
        std::shared_ptr<const AlsaOutput> output = std::make_shared<AlsaOutput>());
    ~AlsaMixerService() override;
    AlsaMixerService(const AlsaMixerService&) = delete;
    AlsaMixerService& operator=(const AlsaMixerService&) = delete;

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
    struct OpenMixer;
    // A line's element with its playback volume's raw range and channels.
    struct Volume;
    int32_t FindVolume(MixerHandle handle, uint32_t id, Volume& volume) const;

    std::shared_ptr<const AlsaOutput> output_;
    std::map<MixerHandle, std::unique_ptr<OpenMixer>> open_;
    MixerHandle next_ = 1;
};

}  // namespace zel
