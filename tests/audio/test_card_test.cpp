// The test card behind plug as "default", driven as the player drives it (non-blocking, waiting
// on its poll descriptor): what it records is what was written, in real time, and an underrun
// sounds as on a real card.

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "support/process.h"

namespace zel {
namespace {

using Clock = std::chrono::steady_clock;
using Samples = std::vector<int16_t>;

Samples Pattern(int frames, int sign) {
    Samples s(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) s[static_cast<size_t>(i)] = int16_t(sign * (i % 30000 + 1));
    return s;
}

void Write(snd_pcm_t* pcm, const Samples& s) {
    for (size_t done = 0; done < s.size();) {
        const auto n = snd_pcm_writei(pcm, s.data() + done, s.size() - done);
        if (n == -EAGAIN) {
            ASSERT_GE(snd_pcm_wait(pcm, 1000), 0);
        } else {
            ASSERT_GT(n, 0) << snd_strerror(static_cast<int>(n));
            done += static_cast<size_t>(n);
        }
    }
}

// A second of sound runs dry: the card plays it exactly and in real time, then the stale end of
// its buffer up to its next period boundary, and reports the underrun there; stopped, it records
// silence; a short sound then drains (less than a period) with nothing after it.
TEST(TestCard, RecordsExactlyInRealTimeWithStaleSoundAtAnUnderrun) {
    QTemporaryDir folder;
    const QString path = folder.filePath("card.raw");
    setenv("ALSA_CONFIG_PATH", ZEL_TEST_CARD_CONFIG, 1);
    setenv("ZEL_TEST_CARD_RATE", "22050", 1);
    setenv("ZEL_TEST_CARD_CHANNELS", "1", 1);
    setenv("ZEL_TEST_CARD_FILE", path.toLocal8Bit().constData(), 1);

    snd_pcm_t* pcm = nullptr;
    ASSERT_EQ(snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK), 0);
    ASSERT_EQ(snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                                 22050, 0, 500000),
              0);
    snd_pcm_uframes_t buffer = 0, period = 0;
    ASSERT_EQ(snd_pcm_get_params(pcm, &buffer, &period), 0);
    ASSERT_EQ(period, 1024u);

    const Samples second = Pattern(22050, 1), tail = Pattern(1000, -1);
    const auto begun = Clock::now();
    Write(pcm, second);
    while (snd_pcm_avail(pcm) >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(snd_pcm_state(pcm), SND_PCM_STATE_XRUN);
    EXPECT_GE(Clock::now() - begun, std::chrono::milliseconds(1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(snd_pcm_prepare(pcm), 0);
    Write(pcm, tail);
    int drained = 0;
    while ((drained = snd_pcm_drain(pcm)) == -EAGAIN) snd_pcm_wait(pcm, 1000);
    EXPECT_EQ(drained, 0);
    snd_pcm_close(pcm);

    const std::string raw = testing::ReadFile(path);
    Samples recorded(raw.size() / 2);
    std::copy_n(raw.data(), recorded.size() * 2, reinterpret_cast<char*>(recorded.data()));
    const auto sound = [&](auto from) {
        return std::find_if(from, recorded.end(), [](int16_t v) { return v != 0; });
    };
    auto at = sound(recorded.begin());
    ASSERT_GE(recorded.end() - at, 22050 + 478 + 4410 + 1000);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), at));
    // 22,050 frames end 478 short of the 22nd period boundary; the buffer still holds the sound
    // written a buffer before.
    at += 22050;
    EXPECT_TRUE(std::equal(at, at + 478, second.end() - static_cast<long>(buffer)));
    at += 478;
    const auto resumed = sound(at);
    EXPECT_GE(resumed - at, 4410);  // the 0.2 s stop at least
    ASSERT_GE(recorded.end() - resumed, 1000);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), resumed));
    EXPECT_EQ(sound(resumed + 1000), recorded.end());
}

}  // namespace
}  // namespace zel
