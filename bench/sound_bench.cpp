// Sound effects costs: the time from Play to the sound reaching a private null sink's monitor,
// and the mixing of one output buffer with every voice busy. The null sink shows a sound when
// the server mixes it, not when a sound card would sound it, and the recorder adds its own few
// milliseconds: this is the game's share of the delay. The main thread, beside the sound
// effects' own audio thread.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "effects/sound_effects.h"
#include "tests/support/private_sound_server.h"

namespace {

using private_sound::FirstLoud;
using private_sound::Samples;
using private_sound::SinkRecording;

// Records until the last `quiet` samples are silence.
bool UntilQuiet(SinkRecording& recording, size_t quiet) {
  return recording.Until([quiet](const Samples& s) {
    return s.size() >= quiet && FirstLoud(s, s.size() - quiet) < 0;
  });
}

bool UntilLoud(SinkRecording& recording, size_t from) {
  return recording.Until([from](const Samples& s) { return FirstLoud(s, from) >= 0; });
}

void BM_PlayToSinkMonitor(benchmark::State& state) {
  const std::string problem = private_sound::Server::Get().Problem();
  if (!problem.empty()) return state.SkipWithError(problem.c_str());
  SoundEffects effects;
  if (!effects.Start()) return state.SkipWithError("the private server offers no output");
  SinkRecording recording(effects.sample_rate());
  const size_t quiet = effects.sample_rate() / 5;
  // An idle null sink runs on a long period and settles to our latency only once a stream plays.
  for (int i = 0; i < 3; ++i) {
    const size_t from = recording.samples().size();
    effects.Play(GameSound::kShot);
    if (!UntilLoud(recording, from)) return state.SkipWithError(("no sound arrived: " + recording.Errors()).c_str());
    if (!UntilQuiet(recording, quiet)) return state.SkipWithError(("no quiet came: " + recording.Errors()).c_str());
  }
  std::vector<double> took;
  for (auto _ : state) {
    if (!UntilQuiet(recording, quiet)) return state.SkipWithError("the sink never went quiet");
    const size_t from = recording.samples().size();
    const auto start = std::chrono::steady_clock::now();
    effects.Play(GameSound::kShot);
    while (FirstLoud(recording.samples(), from) < 0)
      if (!recording.Read(100)) return state.SkipWithError("the recorder ended");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    took.push_back(seconds * 1000);
  }
  // The mean hides what a player notices: the usual wait and the worst one.
  std::sort(took.begin(), took.end());
  if (!took.empty()) state.counters["median_ms"] = took[took.size() / 2], state.counters["worst_ms"] = took.back();
}
BENCHMARK(BM_PlayToSinkMonitor)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

// One 25 ms buffer at 48 kHz, the size the output asks for, with all 16 voices sounding.
void BM_MixOneBufferWithEveryVoice(benchmark::State& state) {
  constexpr int kRate = 48000, kFrames = kRate / 40;
  Samples long_sound;
  while (long_sound.size() < 10u * kRate) {
    const Samples jingle = SynthesiseSound(GameSound::kRoundWon, kRate);
    long_sound.insert(long_sound.end(), jingle.begin(), jingle.end());
  }
  SoundEffects::Mixer mixer;
  Samples out(kFrames);
  for (auto _ : state) {
    while (mixer.voices() < SoundEffects::Mixer::kMaxVoices) mixer.Add(long_sound);
    mixer.Mix(out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_MixOneBufferWithEveryVoice)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // Qt's sound engine needs one
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
