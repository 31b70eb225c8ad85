#include "audio/platform/pulse/sound_player.h"

#include <pulse/def.h>

#include "audio/platform/wave_decoder.h"

namespace zel {

namespace {

constexpr auto kGrace = std::chrono::seconds(2);

std::string Explain(int32_t result) {
    const std::string why = " (" + PulseContext::Describe(result) + ")";
    if (result == -PA_ERR_CONNECTIONTERMINATED) return "the sound server went away" + why;
    if (result == -PA_ERR_TIMEOUT) return "the sound server stopped playing" + why;
    if (result == -PA_ERR_BADSTATE) return "the sound output went away";
    return "the sound server refused the sound" + why;
}

}  // namespace

PulseSoundPlayer::PulseSoundPlayer(std::shared_ptr<PulseConnection> connection)
    : connection_(std::move(connection)) {}

int32_t PulseSoundPlayer::Queue(const void* image, int32_t byteCount) {
    PresentationState& p = presentation_;
    const bool first = p.Begin();
    // Once an image has failed nothing more of the presentation is played.
    if (p.failed) return 0;
    PulseStream* stream = connection_ ? connection_->Stream() : nullptr;
    if (stream == nullptr) return p.Fail(Explain(-PA_ERR_CONNECTIONREFUSED));
    const auto sound = DecodeWaveImage(image, byteCount);
    if (!sound || sound->sampleRate != 22050 || sound->channels != 1) {
        return p.Fail("the sound is not 16-bit mono at 22,050 Hz");
    }
    if (first) {
        PulseContext::Lock lock(connection_->Context());
        if (!stream->Good()) {
            return p.Fail(Explain(connection_->Context().Good() ? -PA_ERR_BADSTATE
                                                                : -PA_ERR_CONNECTIONTERMINATED));
        }
        latency_ = stream->Latency();
    }
    const auto length = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(sound->Frames()) / 22050));
    const auto now = Clock::now();
    if (first) p.report.firstFrameQueued = now;
    const auto deadline = p.report.firstFrameQueued + p.queued + length + latency_ + kGrace;
    if (const int32_t result =
            stream->Write(sound->samples.data(), sound->samples.size(), deadline);
        result != 0) {
        return p.Fail(Explain(result));
    }
    p.queued += length;
    return 1;
}

Clock::duration PulseSoundPlayer::Ahead() const {
    PulseStream* stream = connection_ ? connection_->Stream() : nullptr;
    if (stream == nullptr) return {};
    PulseContext::Lock lock(connection_->Context());
    return stream->Good() ? stream->Untaken() : Clock::duration{};
}

int32_t PulseSoundPlayer::Finish() {
    PresentationState& p = presentation_;
    if (!p.End() || p.report.firstFrameQueued == Clock::time_point{}) return 0;
    PulseStream* stream = connection_->Stream();
    bool cut = false;
    const int32_t result = stream->EndPresentation(
        p.report.firstFrameQueued + p.queued + latency_ + kGrace,
        [&] { return p.cut || (stop_ && stop_()); }, cut);
    p.report.underruns = stream->Underflows();
    if (result != 0) {
        p.Fail(Explain(result));
    } else if (cut) {
        p.Fail("the sound was stopped");
    } else if (p.report.underruns > 0) {
        p.Fail("the sound output ran dry for a moment, which left a gap in the sound");
    }
    return p.failed ? 0 : 1;
}

}  // namespace zel
