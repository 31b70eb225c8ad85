#pragma once

// Watches the calibrated output for changes the program did not make: another program (the
// desktop's volume keys, a mixer, the sound settings) changing the speakers or wave output level
// or switch, the output changing port (headphones plugged in), the program's sound moved to
// another output or the output going away; and, while the program plays, other programs' sound on
// that output, which reaches the same ear. A trial is counted only if it played wholly in the
// calibrated state with nothing else sounding.

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// Another program's sound counts from this peak level on (-60 dBFS), after that program's own
// volume and mute.
constexpr double kOtherSoundPeak = 0.001;

class OutputWatch {
  public:
    virtual ~OutputWatch() = default;

    // Takes the output as it is now as the calibrated state: which output the program plays on,
    // its port, and the level and switches of the speakers and wave output lines. Returns 0, or
    // the platform's code when the state cannot be read (the caller must then treat every
    // presentation as one in a changed state).
    virtual int32_t Arm() = 0;

    // What differs from the calibrated state, as one sentence for the user ("The sound output
    // level was changed by another program."); empty while nothing does, and before Arm.
    // Implementations must answer quickly (no more than a look at the mixer), without sound
    // playing or stopping.
    virtual std::string Changed() = 0;

    // Whether, as far as is known now, the output has left the calibrated state or another
    // program has sounded since Listen(true): asked every few milliseconds while a presentation
    // plays, so it never waits for the platform (it may be called from the platform's own
    // callbacks) and may look at the mixer at most every 20 ms.
    virtual bool Disturbed() = 0;

    // From Listen(true) to Listen(false), every other playback stream on the calibrated output is
    // watched, those there already and those that appear: their peak level, as the server reports
    // it. Listen(true) must not wait for the server; Listen(false) waits for the readings of the
    // sound played until then, then stops watching. Where the platform has no streams of other
    // programs to see (a bare card), both do nothing.
    virtual void Listen(bool on) = 0;
    // The programs whose sound reached kOtherSoundPeak since Listen(true), by the names the
    // desktop's sound settings show, each once; empty when none did.
    virtual std::vector<std::string> Heard() = 0;
    // The same for the last half second: who is sounding now.
    virtual std::vector<std::string> Sounding() = 0;
};

// "A", "A and B", "A, B and C".
inline std::string ListedNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

}  // namespace zel
