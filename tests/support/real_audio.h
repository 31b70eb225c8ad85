// The real back end that ZEL_SOUND and the running servers choose, with the real settings reader
// and the notices recorded.
#pragma once

#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "fakes/fake_platform.h"

namespace zel::testing {

struct RealAudio {
    SoundBackend backend = OpenSoundBackend();
    Log log;
    FakeNoticePresenter notices{log};
    InihProfileReader profile;

    AudioPlatform Platform() {
        return {*backend.player, *backend.device, *backend.mixer, profile, notices, *backend.watch};
    }
};

}  // namespace zel::testing
