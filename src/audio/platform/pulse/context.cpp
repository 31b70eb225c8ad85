#include "audio/platform/pulse/context.h"

#include <thread>

namespace zel {

namespace {

constexpr auto kConnectLimit = std::chrono::seconds(5);
constexpr auto kRequestLimit = std::chrono::seconds(5);

pa_usec_t Usec(Clock::duration d) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
    return us > 0 ? static_cast<pa_usec_t>(us) : 0;
}

}  // namespace

std::unique_ptr<PulseContext> PulseContext::Connect(std::string& problem,
                                                    Clock::duration patience) {
    const auto giveUp = Clock::now() + patience;
    for (;;) {
        std::unique_ptr<PulseContext> c(new PulseContext);
        c->loop_ = pa_threaded_mainloop_new();
        if (c->loop_ == nullptr) {
            problem = "cannot start libpulse's main loop";
            return nullptr;
        }
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Zel Test");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.zeltest.ZelTest");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "org.zeltest.ZelTest");
        c->context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(c->loop_),
                                                   "Zel Test", properties);
        pa_proplist_free(properties);
        if (c->context_ == nullptr) {
            problem = "cannot create a libpulse context";
            return nullptr;
        }
        pa_context_set_state_callback(
            c->context_, [](pa_context*, void* data) { Wake(data); }, c.get());
        if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            problem = pa_strerror(pa_context_errno(c->context_));
        } else if (pa_threaded_mainloop_start(c->loop_) < 0) {
            problem = "cannot start libpulse's main loop";
            return nullptr;
        } else {
            Lock lock(*c);
            const auto ready = [&] {
                const pa_context_state_t state = pa_context_get_state(c->context_);
                return state == PA_CONTEXT_READY || state == PA_CONTEXT_FAILED ||
                       state == PA_CONTEXT_TERMINATED;
            };
            const auto limit = Clock::now() + kConnectLimit;
            while (!ready() && Clock::now() < limit) c->Sleep(limit);
            if (pa_context_get_state(c->context_) == PA_CONTEXT_READY) {
                pa_operation* request = pa_context_get_server_info(
                    c->context_,
                    [](pa_context*, const pa_server_info* info, void* data) {
                        if (info == nullptr) return;
                        const std::string name = info->server_name ? info->server_name : "";
                        *static_cast<std::string*>(data) =
                            (name == "pulseaudio" ? "PulseAudio" : name) + " " +
                            (info->server_version ? info->server_version : "");
                    },
                    &c->serverName_);
                if (c->Await(request, Clock::now() + kRequestLimit)) return c;
                problem = "the sound server does not answer";
                return nullptr;
            }
            const int error = pa_context_errno(c->context_);
            problem = error != 0 ? pa_strerror(error) : "no answer";
        }
        if (Clock::now() >= giveUp) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

PulseContext::~PulseContext() {
    if (loop_ == nullptr) return;
    {
        Lock lock(*this);
        if (probe_ != nullptr) {
            pa_operation_cancel(probe_);
            pa_operation_unref(probe_);
        }
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseContext::Good() const {
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

int32_t PulseContext::Failure() const {
    if (!Good()) return -PA_ERR_CONNECTIONTERMINATED;
    if (unresponsive_) return -PA_ERR_TIMEOUT;
    const int error = pa_context_errno(context_);
    return error != 0 ? -error : -PA_ERR_UNKNOWN;
}

void PulseContext::Sleep(Clock::time_point deadline) const {
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + Usec(deadline - Clock::now()),
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        loop_);
    pa_threaded_mainloop_wait(loop_);
    if (timer != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
}

bool PulseContext::Await(pa_operation* operation, Clock::time_point deadline) {
    if (operation == nullptr) return false;
    pa_operation_set_state_callback(
        operation, [](pa_operation*, void* data) { Wake(data); }, this);
    const bool done = WaitFor(
        [&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, deadline);
    const bool answered = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!answered) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (!done && Good() && !unresponsive_) NotAnswering();
    return answered;
}

void PulseContext::NotAnswering() {
    unresponsive_ = true;
    // The server answers again when it answers this.
    probe_ = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info*, void* data) {
            auto* c = static_cast<PulseContext*>(data);
            c->unresponsive_ = false;
            pa_operation_unref(c->probe_);
            c->probe_ = nullptr;
            c->Wake();
        },
        this);
    if (probe_ == nullptr) unresponsive_ = false;
}

std::string PulseContext::Describe(int32_t result) {
    if (result == 0) return "success";
    const char* text = pa_strerror(result < 0 ? -result : result);
    return text != nullptr ? text : "unknown error " + std::to_string(result);
}

}  // namespace zel
