// What a Start and a trial cost before the first tone sounds: building the tables, the cached
// call of a later run, one image, and one trial's three images.

#include <benchmark/benchmark.h>

#include "synthesis/tone_tables.h"
#include "synthesis/wave_image.h"
#include "testrun/headless.h"
#include "testrun/zelmain.h"

namespace {

constexpr int32_t kRate = 22050;

// Both tables, the target frequency-modulated: the most a Start can cost.
void BM_MakeSineBuffersFull(benchmark::State& state) {
    zel::ToneTables tables;
    for (auto _ : state) {
        tables.LastFrequency_1 = 0;
        tables.LastFrequency_2 = 0;
        zel::MakeSineBuffers(tables, 1000.0f, 1000.0f, 5.0f, kRate);
        benchmark::DoNotOptimize(tables.TargetTable.Data());
    }
}
BENCHMARK(BM_MakeSineBuffersFull)->Unit(benchmark::kMillisecond);

void BM_MakeSineBuffersCached(benchmark::State& state) {
    zel::ToneTables tables;
    zel::MakeSineBuffers(tables, 1000.0f, 1000.0f, 5.0f, kRate);
    for (auto _ : state) {
        zel::MakeSineBuffers(tables, 1000.0f, 1000.0f, 5.0f, kRate);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MakeSineBuffersCached)->Unit(benchmark::kNanosecond);

void BM_MakePulsedTone(benchmark::State& state) {
    zel::ToneTables tables;
    zel::MakeSineBuffers(tables, 1000.0f, 1050.0f, 0.0f, kRate);
    zel::WaveHeader header;
    zel::WaveImage image = zel::MakeWaveImage();
    for (auto _ : state) {
        zel::MakePulsedTone(header, image, 1000.0f, 44100, 28000, tables.StandardTable, kRate);
        benchmark::DoNotOptimize(image.Data());
    }
}
BENCHMARK(BM_MakePulsedTone)->Unit(benchmark::kMicrosecond);

// One answer to the next trial's tones, as the program does it (no sound card): three fresh
// images built and handed to playback.
void BM_TrialImages(benchmark::State& state) {
    zel::HeadlessWindow window;
    zel::HeadlessShell shell;
    zel::SilentAudio audio;
    zel::ProgramRandom random;
    zel::Zelmain test(window, audio, shell, random);
    test.Form_Load();
    test.cmdStart_Click();
    int answers = 0;
    for (auto _ : state) {
        if (++answers == 30000) {  // keep the run's counters well inside 16 bits
            state.PauseTiming();
            test.cmdFinish_Click();
            test.cmdStart_Click();
            answers = 0;
            state.ResumeTiming();
        }
        test.cmdResponseA_Click();
    }
}
BENCHMARK(BM_TrialImages)->Unit(benchmark::kMicrosecond);

}  // namespace
