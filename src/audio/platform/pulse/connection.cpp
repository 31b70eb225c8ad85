#include "audio/platform/pulse/connection.h"

namespace zel {

namespace {

// How long the mixer waits for a server that stopped answering or went away to come back.
constexpr auto kPatience = std::chrono::seconds(5);

}  // namespace

std::unique_ptr<PulseConnection> PulseConnection::Connect(std::string& problem) {
    auto context = PulseContext::Connect(problem);
    if (!context) return nullptr;
    return std::unique_ptr<PulseConnection>(new PulseConnection(std::move(context)));
}

bool PulseConnection::Alive() const {
    PulseContext::Lock lock(*context_);
    return context_->Good();
}

void PulseConnection::Target(const std::string& sink) {
    if (sink != target_) stream_.reset();
    target_ = sink;
}

int32_t PulseConnection::OpenStream() {
    if (stream_) {
        PulseContext::Lock lock(*context_);
        if (stream_->Good()) return 0;
        if (!context_->Good()) return context_->Failure();
    }
    stream_.reset();
    int32_t result = 0;
    stream_ = PulseStream::Open(*context_, target_, result);
    return result;
}

PulseContext* PulseConnection::Control(int32_t& result) {
    {
        PulseContext::Lock lock(*context_);
        if (context_->Good()) {
            if (context_->Answering()) {
                patience_ = {};
                return context_.get();
            }
            if (patience_ == Clock::time_point{}) patience_ = Clock::now() + kPatience;
            if (context_->AwaitAnswering(patience_)) {
                patience_ = {};
                return context_.get();
            }
            if (context_->Good()) {
                result = -PA_ERR_TIMEOUT;
                return nullptr;
            }
        }
    }
    if (!freshTried_) {
        freshTried_ = true;
        if (patience_ == Clock::time_point{}) patience_ = Clock::now() + kPatience;
        std::string problem;
        fresh_ = PulseContext::Connect(problem, patience_ - Clock::now());
    }
    if (fresh_) return fresh_.get();
    result = -PA_ERR_CONNECTIONREFUSED;
    return nullptr;
}

}  // namespace zel
