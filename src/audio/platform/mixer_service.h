#pragma once

// The sound card's mixer as the volume routines use it: open a mixer, find a line by its
// component type, find that line's volume control, read or set the control's value, close.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// Component types of the lines the program touches.
namespace component {
constexpr uint32_t kMonitor = 3;
constexpr uint32_t kSpeakers = 4;
constexpr uint32_t kLine = 4098;
constexpr uint32_t kMicrophone = 4099;
constexpr uint32_t kSynthesizer = 4100;
constexpr uint32_t kCompactDisc = 4101;
constexpr uint32_t kTelephone = 4102;
constexpr uint32_t kWaveOut = 4104;
}  // namespace component

// The control type of a line's volume.
constexpr uint32_t kVolumeControlType = 0x50030001;

using MixerHandle = uint32_t;

// Every line's level is on one uniform scale, that of the settings file: 0 to 65,535, mapped
// linearly onto the control's own range.
constexpr uint32_t kUniformMaximum = 65535;

// A uniform level as a raw level of a control ranging from `minimum` to `maximum` (greater), and
// a raw level as a uniform one (beyond 65,535 where the control goes beyond its maximum); both
// round to nearest, ties to even.
inline int64_t UniformToRaw(uint32_t uniform, int64_t minimum, int64_t maximum) {
    if (maximum <= minimum) return minimum;
    const double span = static_cast<double>(maximum - minimum);
    return minimum + static_cast<int64_t>(std::nearbyint(uniform * span / kUniformMaximum));
}
inline uint32_t RawToUniform(int64_t raw, int64_t minimum, int64_t maximum) {
    if (maximum <= minimum) return 0;
    const double span = static_cast<double>(maximum - minimum);
    const double uniform =
        std::nearbyint(static_cast<double>(raw - minimum) * kUniformMaximum / span);
    return uniform <= 0 ? 0 : static_cast<uint32_t>(std::min(uniform, 4294967295.0));
}

// The raw level of every channel of a volume control, as the platform holds it.
using ChannelLevels = std::vector<int64_t>;

// A line as the platform holds it on one output: what the write-back puts back, so that a
// balance, a mute and the level of each port survive.
struct LineState {
    ChannelLevels levels;
    // Every channel's playback switch (on: the channel plays); empty where the line has none.
    std::vector<bool> switches;
    // The output the line belongs to, for the back end: a sink's name and its active port on a
    // sound server (the port empty where the sink has none), the control device with ALSA.
    std::string output;
    std::string port;
    // The same in words, for messages: "sink NAME, port PORT", "element Master on default".
    std::string where;
};

// What the volume routines use of a control: its identifier within the open mixer and its
// range, as the platform reports them.
struct MixerControl {
    uint32_t dwControlID = 0;
    int32_t lMinimum = 0;
    int32_t lMaximum = 0;
};

// Every operation returns the platform's result code, 0 for success, and on failure leaves its
// outputs as they were. Implementations must:
// - accept any handle value and answer a handle they did not hand out (or already closed) with
//   an error, never undefined behaviour;
// - treat a component type that has no line on this mixer, or a line without a volume control,
//   as a failure of GetLineInfo or GetLineControl respectively;
// - present the value on the uniform scale, read as the loudest channel's level and set on
//   every channel alike;
// - hand a value outside the control's range back as an error rather than clamping it or
//   ignoring it silently;
// - give a line's state through GetLineState and put back exactly such a state, on the output
//   and port it was read from, through SetLineLevels (its levels) and SetLineSwitches (its
//   switches), also when that port is no longer the active one;
// - switch every channel of a line on or off through SetSwitches, and answer 0 where the line has
//   no switch (there is nothing to switch);
// - release everything an open took on Close, and also when Close itself reports a failure.
// A value is the control's level as a 32-bit pattern: the caller copies it bit for bit to and
// from its signed levels.
class MixerService {
  public:
    virtual ~MixerService() = default;

    virtual int32_t Open(MixerHandle& handle, uint32_t mixerId) = 0;
    virtual int32_t GetLineInfo(MixerHandle handle, uint32_t componentType, uint32_t& lineId) = 0;
    virtual int32_t GetLineControl(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                                   MixerControl& control) = 0;
    virtual int32_t GetControlValue(MixerHandle handle, uint32_t controlId, uint32_t& value) = 0;
    virtual int32_t SetControlValue(MixerHandle handle, uint32_t controlId, uint32_t value) = 0;
    virtual int32_t GetLineState(MixerHandle handle, uint32_t controlId, LineState& state) = 0;
    virtual int32_t SetLineLevels(MixerHandle handle, uint32_t controlId,
                                  const LineState& state) = 0;
    virtual int32_t SetLineSwitches(MixerHandle handle, uint32_t controlId,
                                    const LineState& state) = 0;
    virtual int32_t SetSwitches(MixerHandle handle, uint32_t controlId, bool on) = 0;
    // The gain in dB that `value` gives on this output (minus infinity for silence); an error
    // where the control has no dB scale.
    virtual int32_t GetGain(MixerHandle handle, uint32_t controlId, uint32_t value, double& dB) = 0;
    virtual int32_t Close(MixerHandle handle) = 0;

    // A result code in a few words ("Connection refused").
    virtual std::string Describe(int32_t result) const = 0;
};

}  // namespace zel
