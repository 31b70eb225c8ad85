#pragma once

// Chooses, once at start-up, how the program reaches the sound card: the desktop's sound server
// when one answers (PulseAudio, or PipeWire through pipewire-pulse), ALSA otherwise. The
// environment variable ZEL_SOUND forces one: "server" or "alsa".

#include <memory>
#include <string>

#include "audio/platform/mixer_service.h"
#include "audio/platform/output_device.h"
#include "audio/platform/output_watch.h"
#include "audio/platform/sound_player.h"

namespace zel {

struct SoundBackend {
    std::unique_ptr<SoundPlayer> player;
    std::unique_ptr<OutputDevice> device;
    std::unique_ptr<MixerService> mixer;
    std::unique_ptr<OutputWatch> watch;
};

SoundBackend OpenSoundBackend();

}  // namespace zel
