#pragma once

// Watches the calibrated output for changes the program did not make: another program (the
// desktop's volume keys, a mixer, the sound settings) changing the speakers or wave output level
// or switch, the output changing port (headphones plugged in), the program's sound moved to
// another output or the output going away. A trial is counted only if it played wholly in the
// calibrated state.

#include <string>

namespace zel {

class OutputWatch {
  public:
    virtual ~OutputWatch() = default;

    // Takes the output as it is now as the calibrated state: which output the program plays on,
    // its port, and the level and switches of the speakers and wave output lines. Returns 0, or
    // the platform's code when the state cannot be read (the watch then reports every check as
    // a change).
    virtual int32_t Arm() = 0;

    // What differs from the calibrated state, as one sentence for the user ("The sound output
    // level was changed by another program."); empty while nothing does, and before Arm.
    // Implementations must answer quickly (no more than a look at the mixer), without sound
    // playing or stopping.
    virtual std::string Changed() = 0;
};

}  // namespace zel
