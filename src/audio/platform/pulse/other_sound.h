#pragma once

// Other programs' sound on the calibrated sink, read as the desktop's volume meters read it: a
// record stream on each other playback stream (sink input) of that sink, with the server's peak
// detection at 25 readings a second. The server reports the peak after the stream's own volume
// and mute, before the sink's (measured on PulseAudio 16.1 and PipeWire 0.3.65 alike).
//
// Everything here runs in libpulse's thread (the callbacks) or with the main loop's lock held.

#include <pulse/pulseaudio.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/platform/pulse/context.h"

namespace zel {

class PulseOtherSound {
  public:
    explicit PulseOtherSound(PulseContext& context) : context_(context) {}
    // Stops watching; waits briefly for queries under way, whose answers come back here.
    ~PulseOtherSound();
    PulseOtherSound(const PulseOtherSound&) = delete;
    PulseOtherSound& operator=(const PulseOtherSound&) = delete;

    // Watches every playback stream on `sink` but `own`: those there now (asked for, not waited
    // for) and those its events announce from now on.
    void Start(uint32_t sink, uint32_t own);
    // Waits for the readings of what has been played until now, then stops watching.
    void Stop();
    bool Listening() const { return listening_; }
    // A sink input's event from the server's subscription.
    void OnEvent(pa_subscription_event_type_t kind, uint32_t index);

    // The programs heard since Start; within the last half second.
    const std::vector<std::string>& Heard() const { return heard_; }
    std::vector<std::string> Sounding() const;

  private:
    struct Monitor {
        PulseOtherSound* owner = nullptr;
        std::string name;
        pa_stream* stream = nullptr;
        bool read = false;     // a reading has arrived
        bool running = false;  // seen uncorked on the sink
        Clock::time_point loud{};
    };
    void Query(pa_operation* operation);
    void Seen(const pa_sink_input_info& info);
    void Attach(Monitor& monitor, uint32_t input);
    static void Detach(Monitor& monitor);
    void Hear(const std::string& name);
    static void OnPeaks(pa_stream* stream, std::size_t, void* data);

    PulseContext& context_;
    bool listening_ = false;
    uint32_t sink_ = PA_INVALID_INDEX;
    uint32_t own_ = PA_INVALID_INDEX;
    std::map<uint32_t, std::unique_ptr<Monitor>> monitors_;  // by sink input
    std::vector<std::string> heard_;
    int pending_ = 0;  // queries under way
};

}  // namespace zel
