#include "audio/platform/sound_backend.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "audio/platform/alsa/mixer_service.h"
#include "audio/platform/alsa/output_device.h"
#include "audio/platform/alsa/output_watch.h"
#include "audio/platform/alsa/sound_player.h"
#include "audio/platform/pulse/connection.h"
#include "audio/platform/pulse/mixer_service.h"
#include "audio/platform/pulse/output_device.h"
#include "audio/platform/pulse/output_watch.h"
#include "audio/platform/pulse/sound_player.h"

namespace zel {

namespace {

// Without a connection (none answered) every service fails as with a server gone.
SoundBackend Server(std::shared_ptr<PulseConnection> connection, const std::string& problem = {}) {
    SoundBackend backend;
    backend.player = std::make_unique<PulseSoundPlayer>(connection);
    backend.device = std::make_unique<PulseOutputDevice>(connection, problem);
    backend.mixer = std::make_unique<PulseMixerService>(connection);
    backend.watch = std::make_unique<PulseOutputWatch>(connection);
    return backend;
}

SoundBackend Alsa(const std::string& why) {
    SoundBackend backend;
    auto output = std::make_shared<AlsaOutput>();
    backend.player = std::make_unique<AlsaSoundPlayer>(output);
    backend.device = std::make_unique<AlsaOutputDevice>(output, why);
    backend.mixer = std::make_unique<AlsaMixerService>(output);
    backend.watch = std::make_unique<AlsaOutputWatch>(*backend.mixer);
    return backend;
}

}  // namespace

SoundBackend OpenSoundBackend() {
    const char* forced = std::getenv("ZEL_SOUND");
    std::string_view choice = forced != nullptr ? forced : "";
    if (!choice.empty() && choice != "alsa" && choice != "server") {
        std::fprintf(stderr,
                     "%s: ZEL_SOUND=%s is neither server nor alsa; choosing as without it\n",
                     program_invocation_short_name, forced);
        choice = {};
    }
    if (choice == "alsa") return Alsa("ZEL_SOUND=alsa");
    std::string problem;
    std::shared_ptr<PulseConnection> connection = PulseConnection::Connect(problem);
    if (connection) return Server(std::move(connection));
    if (choice == "server") return Server(nullptr, problem);
    return Alsa("no sound server answered: " + problem);
}

}  // namespace zel
