#include "audio/platform/alsa/output_watch.h"

#include "audio/platform/alsa/mixer_service.h"

namespace zel {

std::map<uint32_t, LineState> AlsaOutputWatch::Read() {
    std::map<uint32_t, LineState> states;
    MixerHandle handle = 0;
    if (mixer_.Open(handle, 0) != 0) return states;
    for (const uint32_t type : {component::kSpeakers, component::kWaveOut}) {
        LineState state;
        if (mixer_.GetLineState(handle, type, state) == 0) states[type] = std::move(state);
    }
    mixer_.Close(handle);
    return states;
}

int32_t AlsaOutputWatch::Arm() {
    armed_ = Read();
    disturbed_ = false;
    return 0;
}

bool AlsaOutputWatch::Disturbed() {
    // Opening the mixer costs a little: once every 20 ms at most, and once changed, changed.
    if (!disturbed_ && Clock::now() - looked_ >= std::chrono::milliseconds(20)) {
        looked_ = Clock::now();
        disturbed_ = !Changed().empty();
    }
    return disturbed_;
}

std::string AlsaOutputWatch::Changed() {
    if (armed_.empty()) return {};
    const std::map<uint32_t, LineState> now = Read();
    for (const auto& [type, armed] : armed_) {
        const std::string element = ElementForComponent(type);
        const auto found = now.find(type);
        if (found == now.end()) return "The sound card's " + element + " control went away.";
        if (found->second.switches != armed.switches) {
            return "The sound card's " + element + " was switched on or off by another program.";
        }
        if (found->second.levels != armed.levels) {
            return "The sound card's " + element + " level was changed by another program.";
        }
    }
    return {};
}

}  // namespace zel
