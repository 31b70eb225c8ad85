#pragma once

// The output on ALSA: the PCM "default" and its control device, or those of the card the
// settings name (its id, the CARD= part of hw:CARD=PCH). The capability query sets the 22,050 Hz
// mono 16-bit bit when the PCM can play the program's sound: 16-bit, at 22,050 Hz or at a rate of
// its own that the program converts to. A PCM that cannot be opened is a failed query (ALSA's
// negative error code).

#include <memory>
#include <string>

#include "audio/platform/alsa/pcm.h"
#include "audio/platform/output_device.h"

namespace zel {

class AlsaOutputDevice final : public OutputDevice {
  public:
    // `output` is shared with the player and the mixer, which use the card chosen here; `why`
    // says why the program plays through ALSA.
    AlsaOutputDevice(std::shared_ptr<AlsaOutput> output, std::string why);

    int32_t GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) override;
    // A card has no ports: the port is not looked at.
    int32_t Choose(const std::string& name, const std::string& port,
                   OutputMismatch& mismatch) override;
    int32_t List(std::vector<OutputInfo>& outputs) override;
    int32_t InUse(OutputInfo& output) override;
    std::string Describe() override;

  private:
    std::shared_ptr<AlsaOutput> output_;
    std::string why_;
};

}  // namespace zel
