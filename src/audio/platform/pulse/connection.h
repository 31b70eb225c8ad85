#pragma once

// The program's connection to the desktop's sound server over the PulseAudio protocol
// (PulseAudio itself, or PipeWire through pipewire-pulse), with the program's one playback
// stream: 22,050 Hz, mono, 16-bit, created once and kept for the life of the program, so that
// its volume can be calibrated before the first trial and every trial plays through it. The
// sound server's player, capability query and mixer service share it; libpulse is used here
// only. Results are 0 or a negative PulseAudio error code (-PA_ERR_...).
//
// A connection that has failed stays failed: reconnecting would give a new stream at the
// server's default volume, not the calibrated one.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zel {

// A volume as the server keeps it: one raw value per channel (PA_VOLUME_NORM is 100 %).
using ServerVolume = std::vector<uint32_t>;

class PulseConnection {
  public:
    // Connects to the session's sound server (PULSE_SERVER, the client configuration or the
    // session's socket) and never starts one. Null when none answers; `problem` says why.
    static std::unique_ptr<PulseConnection> Connect(std::string& problem);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // The server's name and version, e.g. "PulseAudio (on PipeWire 0.3.65) 15.0.0".
    const std::string& ServerName() const;
    bool Alive() const;

    // Creates the playback stream unless it exists: 0 when the server accepted it.
    int32_t OpenStream();

    // Appends 22,050 Hz mono samples to the stream, after whatever it holds, and returns once
    // the server has them all (at the latest at `deadline`).
    int32_t Write(const int16_t* samples, std::size_t count,
                  std::chrono::steady_clock::time_point deadline);
    // Waits until everything written has been played (at the latest at `deadline`).
    int32_t Drain(std::chrono::steady_clock::time_point deadline);
    // Times the stream ran dry since the last drain while it still had sound to play.
    int32_t Underflows() const;

    // The speakers line: the sink the stream plays to (the default sink when there is no
    // stream), fixed when first asked, so that the levels go back where they were read.
    int32_t GetSinkVolume(ServerVolume& volume);
    int32_t SetSinkVolume(const ServerVolume& volume);
    // The stream's own volume (the program's entry in the desktop's sound settings).
    int32_t GetStreamVolume(ServerVolume& volume);
    int32_t SetStreamVolume(const ServerVolume& volume);

    // The text of a result code.
    static std::string Describe(int32_t result);

  private:
    struct Impl;
    explicit PulseConnection(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zel
