#pragma once

// Plays one complete in-memory RIFF/WAVE image synchronously: the program's sound player.

#include <cstdint>

namespace zel {

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;

    // Plays the RIFF/WAVE file image of `byteCount` bytes at `image` and returns when its last
    // frame has been played. Result: non-zero when the image was played, 0 when it was not.
    //
    // The caller guarantees that `byteCount` bytes at `image` are readable for the whole call
    // and unchanged by anyone else meanwhile.
    //
    // Every implementation must: read no byte outside those `byteCount`, whatever the header
    // claims; treat an image it cannot decode as a failed play (0), never as a crash; return 0
    // when the device fails or disappears, and return at the latest 2 s after the sound's own
    // length; keep the image's samples unchanged (no mixing, no gain, no resampling of its own).
    // It may keep the device open between calls.
    virtual int32_t PlaySound(const void* image, int32_t byteCount) = 0;
};

}  // namespace zel
