#include "audio/platform/pulse_sound_player.h"

#include <pulse/def.h>

#include "audio/platform/wave_decoder.h"

namespace zel {

namespace {

using Clock = std::chrono::steady_clock;

// How long the server may take beyond the sound's own length (the contract allows 2 s).
constexpr auto kGrace = std::chrono::milliseconds(1500);

std::string Explain(int32_t result) {
    const std::string why = " (" + PulseConnection::Describe(result) + ")";
    if (result == -PA_ERR_CONNECTIONTERMINATED) return "the sound server went away" + why;
    if (result == -PA_ERR_TIMEOUT) return "the sound server stopped playing" + why;
    return "the sound server refused the sound" + why;
}

}  // namespace

PulseSoundPlayer::PulseSoundPlayer(std::shared_ptr<PulseConnection> connection)
    : connection_(std::move(connection)) {}

int32_t PulseSoundPlayer::Fail(const std::string& what) {
    if (!failed_) problem_ = what;
    failed_ = true;
    return 0;
}

int32_t PulseSoundPlayer::Queue(const void* image, int32_t byteCount) {
    if (!presenting_) {
        presenting_ = true;
        failed_ = false;
        problem_.clear();
        queued_ = {};
        report_ = {};
    }
    if (!connection_) return Fail(Explain(-PA_ERR_CONNECTIONREFUSED));
    // Normally opened by the start-up check already.
    if (const int32_t opened = connection_->OpenStream(); opened != 0) return Fail(Explain(opened));
    const auto sound = DecodeWaveImage(image, byteCount);
    if (!sound || sound->sampleRate != 22050 || sound->channels != 1) {
        return Fail("the sound is not 16-bit mono at 22,050 Hz");
    }
    const auto length = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(sound->Frames()) / 22050));
    if (report_.firstFrameQueued == Clock::time_point{}) report_.firstFrameQueued = Clock::now();
    const int32_t result = connection_->Write(sound->samples.data(), sound->samples.size(),
                                              Clock::now() + length + kGrace);
    if (result != 0) return Fail(Explain(result));
    queued_ += length;
    return 1;
}

int32_t PulseSoundPlayer::Finish() {
    if (!presenting_) return 0;
    presenting_ = false;
    if (!connection_) return 0;
    const int32_t result = connection_->Drain(Clock::now() + queued_ + kGrace);
    report_.underruns = connection_->Underflows();
    if (result != 0) Fail(Explain(result));
    return failed_ || queued_ == Clock::duration::zero() ? 0 : 1;
}

}  // namespace zel
