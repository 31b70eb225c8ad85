#include "audio/platform/sound_backend.h"

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
SoundBackend Server(std::shared_ptr<PulseConnection> connection, const std::string& description) {
    SoundBackend backend;
    backend.description = description;
    backend.player = std::make_unique<PulseSoundPlayer>(connection);
    backend.device = std::make_unique<PulseOutputDevice>(connection);
    backend.mixer = std::make_unique<PulseMixerService>(connection);
    backend.watch = std::make_unique<PulseOutputWatch>(connection);
    return backend;
}

SoundBackend Alsa(const std::string& why) {
    SoundBackend backend;
    backend.description = DescribeAlsaOutput("default") + " (" + why + ")";
    backend.player = std::make_unique<AlsaSoundPlayer>();
    backend.device = std::make_unique<AlsaOutputDevice>();
    backend.mixer = std::make_unique<AlsaMixerService>();
    backend.watch = std::make_unique<AlsaOutputWatch>(*backend.mixer);
    return backend;
}

}  // namespace

SoundBackend OpenSoundBackend() {
    const char* forced = std::getenv("ZEL_SOUND");
    const std::string_view choice = forced != nullptr ? forced : "";
    if (choice == "alsa") return Alsa("ZEL_SOUND=alsa");
    std::string problem;
    std::shared_ptr<PulseConnection> connection = PulseConnection::Connect(problem);
    if (connection) {
        const std::string description = "the sound server " + connection->ServerName();
        return Server(std::move(connection), description);
    }
    if (choice == "server")
        return Server(nullptr, "the sound server, but none answered (" + problem + ")");
    return Alsa("no sound server answered: " + problem);
}

}  // namespace zel
