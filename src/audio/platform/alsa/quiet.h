#pragma once

namespace zel {

// Stops libasound from printing its own error lines on stderr: the program reports what matters
// in its notices. Idempotent; every ALSA backend calls it before its first ALSA call.
void SilenceAlsaErrors();

}  // namespace zel
