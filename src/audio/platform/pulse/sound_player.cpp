#include "audio/platform/pulse/sound_player.h"

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

int32_t PulseSoundPlayer::Queue(const void* image, int32_t byteCount) {
    PresentationState& p = presentation_;
    p.Begin();
    if (!connection_) return p.Fail(Explain(-PA_ERR_CONNECTIONREFUSED));
    // Normally opened by the start-up check already.
    if (const int32_t opened = connection_->OpenStream(); opened != 0) {
        return p.Fail(Explain(opened));
    }
    const auto sound = DecodeWaveImage(image, byteCount);
    if (!sound || sound->sampleRate != 22050 || sound->channels != 1) {
        return p.Fail("the sound is not 16-bit mono at 22,050 Hz");
    }
    const auto length = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(sound->Frames()) / 22050));
    if (p.report.firstFrameQueued == Clock::time_point{}) p.report.firstFrameQueued = Clock::now();
    const int32_t result = connection_->Write(sound->samples.data(), sound->samples.size(),
                                              Clock::now() + length + kGrace);
    if (result != 0) return p.Fail(Explain(result));
    p.queued += length;
    return 1;
}

int32_t PulseSoundPlayer::Finish() {
    PresentationState& p = presentation_;
    if (!p.End() || !connection_) return 0;
    const int32_t result = connection_->Drain(Clock::now() + p.queued + kGrace);
    p.report.underruns = connection_->Underflows();
    if (result != 0) p.Fail(Explain(result));
    return p.failed || p.queued == Clock::duration::zero() ? 0 : 1;
}

}  // namespace zel
