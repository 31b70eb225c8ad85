#include "audio/platform/alsa/quiet.h"

#include <alsa/asoundlib.h>

namespace zel {

namespace {

extern "C" void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void SilenceAlsaErrors() {
    snd_lib_error_set_handler(IgnoreAlsaError);
}

}  // namespace zel
