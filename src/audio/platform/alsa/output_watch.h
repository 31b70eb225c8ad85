#pragma once

// The watch on ALSA: the card cannot change under the program, but its Master and PCM elements
// can (alsamixer, the volume keys). Each look re-reads both elements' levels and switches and
// compares them with what they were when armed.

#include <map>

#include "audio/platform/mixer_service.h"
#include "audio/platform/output_watch.h"
#include "audio/platform/sound_player.h"

namespace zel {

class AlsaOutputWatch final : public OutputWatch {
  public:
    // `mixer` must outlive the watch.
    explicit AlsaOutputWatch(MixerService& mixer) : mixer_(mixer) {}

    // Elements that cannot be read are not watched.
    int32_t Arm() override;
    std::string Changed() override;
    bool Disturbed() override;
    // A bare card shows no other programs' streams: with dmix they mix in unseen.
    void Listen(bool) override {}
    std::vector<std::string> Heard() override { return {}; }
    std::vector<std::string> Sounding() override { return {}; }

  private:
    // The states of Master and PCM that can be read now, by component type.
    std::map<uint32_t, LineState> Read();

    MixerService& mixer_;
    std::map<uint32_t, LineState> armed_;
    Clock::time_point looked_{};  // when Disturbed last read the mixer
    bool disturbed_ = false;
};

}  // namespace zel
