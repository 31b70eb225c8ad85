#pragma once

// The output the program plays on, and the capability query of it: which of the classic PCM
// formats it plays.

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// Bits of WaveOutCaps::dwFormats.
constexpr uint32_t kWaveFormat2M16 = 0x40;  // 22,050 Hz, mono, 16-bit

struct WaveOutCaps {
    uint32_t dwFormats = 0;
};

// An output the user can choose: a sink of the sound server, a sound card with ALSA.
struct OutputInfo {
    struct Port {
        std::string name;
        std::string description;
    };
    std::string name;  // the sink's name, the card's id
    std::string description;
    std::vector<Port> ports;
    std::string activePort;  // empty where the output has no ports
    bool isDefault = false;
};

// Why an output could not be chosen as named, in words for the user.
struct OutputMismatch {
    std::string what;  // the output ("Null Output", "the sound card Headset"), or its name
    bool missing = false;
    std::string port;                // the port asked for, in words where the output has it
    bool hasPort = false;            // the output has that port, but another is active
    std::string activePort;          // in words; empty where the output has no ports
    std::vector<std::string> ports;  // the ports it has: "NAME (DESCRIPTION)"
};

class OutputDevice {
  public:
    virtual ~OutputDevice() = default;

    // Examines wave-output device `deviceId` (0 is the user's default output). Result: 0 when the
    // device exists and `caps` has been filled; otherwise the platform's non-zero code, and
    // `caps` is left as it was. An implementation sets a format bit only when the device
    // accepts that exact format (sample type, channel count and rate together); it must release
    // the device before returning.
    virtual int32_t GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) = 0;

    // Makes the output named, and where `port` is not empty only with that port active, the one
    // every later query, presentation and mixer change uses; until then it is the default
    // output. 0 when it is there as named; otherwise the platform's code, and `mismatch` says
    // what is there instead.
    virtual int32_t Choose(const std::string& name, const std::string& port,
                           OutputMismatch& mismatch) = 0;
    // The outputs there are, the default marked.
    virtual int32_t List(std::vector<OutputInfo>& outputs) = 0;
    // The output in use; its name is empty where it has none to choose it by.
    virtual int32_t InUse(OutputInfo& output) = 0;
    // How the program plays, in words and by name, for the first line on stderr: "the sound
    // server PulseAudio 16.1, output Built-in Audio Analog Stereo, port Headphones
    // (alsa_output.pci-0000_00_1f.3.analog-stereo)".
    virtual std::string Describe() = 0;
};

}  // namespace zel
