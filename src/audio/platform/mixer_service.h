#pragma once

// The sound card's mixer as the volume routines use it: open a mixer, find a line by its
// component type, find that line's volume control, read or set the control's value, close.

#include <cstdint>

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
// - apply a set value to every channel of the control alike, and read the first channel;
// - hand a value outside the control's range back as an error rather than clamping it or
//   ignoring it silently;
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
    virtual int32_t Close(MixerHandle handle) = 0;
};

}  // namespace zel
