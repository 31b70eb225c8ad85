#pragma once

// The program's sound output. A presentation is a run of RIFF/WAVE images queued one after the
// other: the listener hears them as one continuous sound, with no gap and no overlap where one
// image meets the next, and the presentation ends when its last frame has been played.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace zel {

using Clock = std::chrono::steady_clock;

// What the last presentation did, for measurements.
struct PresentationReport {
    // Times the output ran dry before the presentation's last frame (each one a gap).
    int32_t underruns = 0;
    // When its first frame was handed to the output; unset when none was.
    std::chrono::steady_clock::time_point firstFrameQueued{};
};

// The presentation under way as a player keeps it: whether one is open, the first failure and
// how much sound has been queued.
struct PresentationState {
    bool open = false;
    bool failed = false;
    bool cut = false;  // asked to stop
    std::chrono::steady_clock::duration queued{};
    std::string problem;
    PresentationReport report;

    // Opens a presentation unless one is open; true when this call opened it.
    bool Begin() {
        if (open) return false;
        *this = {};
        open = true;
        return true;
    }
    // Closes the presentation; false when none was open.
    bool End() { return std::exchange(open, false); }
    // Records a failure (the words of the first one stay) and gives a failed queue's result.
    int32_t Fail(const std::string& what) {
        if (!failed) problem = what;
        failed = true;
        return 0;
    }
};

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;

    // Queues the RIFF/WAVE file image of `byteCount` bytes at `image` after everything queued
    // since the last Finish, so that it follows without a gap. Returns non-zero when queued, 0
    // when not. It may return before the image has been played, but only once it no longer
    // needs the caller's bytes, and early enough for the next image to follow without a gap.
    //
    // The caller guarantees that `byteCount` bytes at `image` are readable for the whole call.
    //
    // Every implementation must: read no byte outside those `byteCount`, whatever the header
    // claims; play 16-bit mono images at 22,050 Hz (the program's format) and treat any other
    // image, or one it cannot decode, as a failed queue (0), never as a crash; keep the samples
    // unchanged (no mixing, no gain, no resampling of its own); return at the latest 2 s after
    // the sound's own length.
    virtual int32_t Queue(const void* image, int32_t byteCount) = 0;

    // Returns when every frame queued since the last Finish has been played: non-zero when all
    // of them were, 0 when the output failed at any point since then (Problem() says how), or
    // when nothing was queued. Returns at the latest 2 s after the queued sound's own length.
    virtual int32_t Finish() = 0;

    // How much of what is queued the output has not yet taken, in playing time, however long
    // the output itself then holds it: a caller that queues a long sound piece by piece keeps
    // this a little above zero.
    virtual Clock::duration Ahead() const = 0;

    // What cuts a presentation short: asked at least every 10 ms while the player waits on the
    // output, and whenever the output reports something, from the first Queue to the end of
    // Finish. Once it answers true, the player fades the sound out over a few milliseconds,
    // starting a few milliseconds after what the output has already taken (which cannot be
    // recalled), drops the rest, and the presentation fails ("the sound was stopped"); Finish
    // then returns once the fade has reached the output.
    virtual void StopWhen(std::function<bool()> stop) = 0;
    // The same, asked for by the caller now: the next Finish cuts the presentation short.
    virtual void Cut() = 0;

    // Why the last presentation failed, in a few words for the user; empty when it did not.
    virtual std::string Problem() const = 0;
    virtual PresentationReport LastPresentation() const = 0;
};

}  // namespace zel
