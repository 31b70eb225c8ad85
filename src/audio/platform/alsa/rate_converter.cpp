#include "audio/platform/alsa/rate_converter.h"

#include <soxr.h>

#include <cmath>

namespace zel {

struct RateConverter::Soxr {
    soxr_t handle = nullptr;
    ~Soxr() { soxr_delete(handle); }
};

std::unique_ptr<RateConverter> RateConverter::Make(double from, double to) {
    // No dither: the same input gives the same output on every run.
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_error_t error = nullptr;
    auto soxr = std::make_unique<Soxr>();
    soxr->handle = soxr_create(from, to, 1, &error, &io, &quality, nullptr);
    if (error != nullptr || soxr->handle == nullptr) return nullptr;
    return std::unique_ptr<RateConverter>(new RateConverter(std::move(soxr), to / from));
}

RateConverter::RateConverter(std::unique_ptr<Soxr> soxr, double ratio)
    : soxr_(std::move(soxr)), ratio_(ratio) {}

RateConverter::~RateConverter() = default;

void RateConverter::Begin() {
    soxr_clear(soxr_->handle);
}

bool RateConverter::Run(const int16_t* in, std::size_t count, std::vector<int16_t>& out) {
    // Room for what this input gives, and for what the filter still holds.
    const auto room =
        static_cast<std::size_t>(std::ceil(static_cast<double>(count) * ratio_)) + 4096;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room);
        std::size_t used = 0, made = 0;
        if (soxr_process(soxr_->handle, in, count, &used, out.data() + start, room, &made) !=
            nullptr) {
            out.resize(start);
            return false;
        }
        out.resize(start + made);
        if (in != nullptr) {
            in += used;
            count -= used;
            if (count == 0) return true;
        } else if (made == 0) {
            return true;
        }
    }
}

bool RateConverter::Convert(const int16_t* in, std::size_t count, std::vector<int16_t>& out) {
    return count == 0 || Run(in, count, out);
}

bool RateConverter::Finish(std::vector<int16_t>& out) {
    return Run(nullptr, 0, out);
}

}  // namespace zel
