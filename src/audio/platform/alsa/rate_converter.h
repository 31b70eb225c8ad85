#pragma once

// Converts the program's sound to a card's own rate with libsoxr at very high quality: the ratio
// is exactly the two rates', whatever the periods are (ALSA's own converters take theirs from the
// period sizes, which changes every pitch). A presentation is converted as one continuous signal,
// so no filter edge falls where one image meets the next.

#include <cstdint>
#include <memory>
#include <vector>

namespace zel {

class RateConverter {
  public:
    // Null when libsoxr cannot convert between the two rates.
    static std::unique_ptr<RateConverter> Make(double from, double to);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // Starts a new signal.
    void Begin();
    // Converts the next mono samples of the signal, appending what is ready to `out`; false when
    // libsoxr fails.
    bool Convert(const int16_t* in, std::size_t count, std::vector<int16_t>& out);
    // Ends the signal: appends the rest of it.
    bool Finish(std::vector<int16_t>& out);

  private:
    struct Soxr;
    explicit RateConverter(std::unique_ptr<Soxr> soxr, double ratio);
    bool Run(const int16_t* in, std::size_t count, std::vector<int16_t>& out);

    std::unique_ptr<Soxr> soxr_;
    double ratio_;
};

}  // namespace zel
