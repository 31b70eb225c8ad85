#include "audio/platform/pulse/output_watch.h"

namespace zel {

namespace {

constexpr auto kRequestLimit = std::chrono::seconds(5);
// How long a look waits for the answers to events already seen.
constexpr auto kAnswerLimit = std::chrono::seconds(1);

constexpr const char* kOwnSound = "the program's own sound (Zel Test in the sound settings)";
constexpr const char* kOwnSoundStart = "The program's own sound (Zel Test in the sound settings)";

}  // namespace

PulseOutputWatch::~PulseOutputWatch() {
    if (subscribed_ == nullptr) return;
    PulseContext::Lock lock(*subscribed_);
    pa_context_set_subscribe_callback(subscribed_->Get(), nullptr, nullptr);
    others_.reset();
}

int32_t PulseOutputWatch::Arm() {
    PulseStream* stream = connection_->Stream();
    PulseContext& context = connection_->Context();
    Seen seen;
    {
        PulseContext::Lock lock(context);
        if (stream == nullptr || !stream->Good()) return context.Failure();
        seen.stream.index = stream->Index();
    }
    if (const int32_t r = QueryStream(context, seen.stream.index, seen.stream); r != 0) return r;
    if (const int32_t r = QuerySink(context, "", seen.stream.sink, seen.sink); r != 0) return r;
    PulseContext::Lock lock(context);
    if (subscribed_ != &context) {
        pa_context_set_subscribe_callback(context.Get(), OnEvent, this);
        const int32_t subscribed = context.Ask(
            [&](int* ack) {
                return pa_context_subscribe(
                    context.Get(),
                    static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                        PA_SUBSCRIPTION_MASK_SINK_INPUT),
                    PulseContext::ContextAck, ack);
            },
            Clock::now() + kRequestLimit);
        if (subscribed != 0) return subscribed;
        subscribed_ = &context;
        others_ = std::make_unique<PulseOtherSound>(context);
    }
    calibrated_ = now_ = seen;
    armed_ = true;
    return 0;
}

void PulseOutputWatch::OnEvent(pa_context* context, pa_subscription_event_type_t type,
                               uint32_t index, void* data) {
    auto* self = static_cast<PulseOutputWatch*>(data);
    if (!self->armed_) return;
    Seen& now = self->now_;
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    const auto ask = [self](pa_operation* operation) {
        if (operation == nullptr) return;
        ++self->pending_;
        pa_operation_unref(operation);
    };
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && index == now.sink.index) {
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            now.sinkGone = true;
        } else {
            ask(pa_context_get_sink_info_by_index(
                context, index,
                [](pa_context*, const pa_sink_info* info, int eol, void* data) {
                    auto* self = static_cast<PulseOutputWatch*>(data);
                    if (info != nullptr) self->now_.sink = ToSinkState(*info);
                    if (eol != 0) --self->pending_;
                    self->connection_->Context().Wake();
                },
                self));
        }
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && index != now.stream.index) {
        self->others_->OnEvent(static_cast<pa_subscription_event_type_t>(kind), index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            now.streamGone = true;
            return;
        }
        ask(pa_context_get_sink_input_info(
            context, index,
            [](pa_context* context, const pa_sink_input_info* info, int eol, void* data) {
                auto* self = static_cast<PulseOutputWatch*>(data);
                if (info != nullptr && info->sink != self->now_.stream.sink) {
                    // Moved: name the sink it went to.
                    self->now_.movedTo = "another output";
                    ++self->pending_;
                    pa_operation_unref(pa_context_get_sink_info_by_index(
                        context, info->sink,
                        [](pa_context*, const pa_sink_info* sink, int eol, void* data) {
                            auto* self = static_cast<PulseOutputWatch*>(data);
                            if (sink != nullptr)
                                self->now_.movedTo = ToSinkState(*sink).description;
                            if (eol != 0) --self->pending_;
                            self->connection_->Context().Wake();
                        },
                        self));
                }
                if (info != nullptr) self->now_.stream = ToStreamState(*info);
                if (eol != 0) --self->pending_;
                self->connection_->Context().Wake();
            },
            self));
    }
}

std::string PulseOutputWatch::Changed() {
    if (!armed_) return {};
    PulseContext& context = connection_->Context();
    PulseContext::Lock lock(context);
    // A server gone is the player's to tell.
    if (!context.Good()) return {};
    context.WaitFor([&] { return pending_ <= 0; }, Clock::now() + kAnswerLimit);
    PulseStream* stream = connection_->Stream();
    Seen& now = now_;
    if (stream == nullptr || !stream->Good()) now.streamGone = true;
    return Difference(calibrated_, now_);
}

bool PulseOutputWatch::Disturbed() {
    if (!armed_) return false;
    PulseContext::Lock lock(*subscribed_);
    // A server gone is the player's to tell.
    return subscribed_->Good() &&
           (!Difference(calibrated_, now_).empty() || !others_->Heard().empty());
}

void PulseOutputWatch::Listen(bool on) {
    if (!armed_) return;
    PulseContext::Lock lock(*subscribed_);
    if (!on) {
        others_->Stop();
    } else if (subscribed_->Good()) {
        others_->Start(calibrated_.stream.sink, calibrated_.stream.index);
    }
}

std::vector<std::string> PulseOutputWatch::Heard() {
    if (!armed_) return {};
    PulseContext::Lock lock(*subscribed_);
    return others_->Heard();
}

std::vector<std::string> PulseOutputWatch::Sounding() {
    if (!armed_) return {};
    PulseContext::Lock lock(*subscribed_);
    return others_->Sounding();
}

std::string Difference(const WatchedState& was, const WatchedState& now) {
    if (now.sinkGone || now.streamGone) {
        return "The sound output " + was.sink.description + " went away.";
    }
    if (now.stream.sink != was.stream.sink) {
        return "The sound output changed from " + was.sink.description + " to " + now.movedTo + ".";
    }
    if (now.sink.port != was.sink.port) {
        return "The sound output changed from " + was.sink.portDescription + " to " +
               now.sink.portDescription + ".";
    }
    if (now.sink.mute != was.sink.mute) {
        return std::string("The sound output was ") + (now.sink.mute ? "muted" : "unmuted") +
               " by another program.";
    }
    if (pa_cvolume_equal(&now.sink.volume, &was.sink.volume) == 0) {
        return "The sound output level was changed by another program.";
    }
    if (now.stream.mute != was.stream.mute) {
        return std::string(kOwnSoundStart) + " was " + (now.stream.mute ? "muted" : "unmuted") +
               " by another program.";
    }
    if (pa_cvolume_equal(&now.stream.volume, &was.stream.volume) == 0) {
        return std::string("The level of ") + kOwnSound + " was changed by another program.";
    }
    return {};
}

}  // namespace zel
