// The sound effects: the synthesised sounds, the mixer, and playback on a private PulseAudio
// server's null sink, recorded from its monitor. The test thread drives everything; the sound
// effects run their own audio thread, and the no-server case runs in a child process.
#include "effects/sound_effects.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "tests/support/private_sound_server.h"

namespace {

using private_sound::Energy;
using private_sound::FirstLoud;
using private_sound::Samples;

constexpr GameSound kAllSounds[] = {GameSound::kShot,      GameSound::kHitTaken, GameSound::kHitGiven,
                                    GameSound::kWallBreak, GameSound::kFall,     GameSound::kRoundWon};
constexpr double kFullScale = 32768;

TEST(SynthesiseSoundTest, EverySoundIsShortAudibleCleanAndUnlikeTheOthers) {
  for (const int rate : {22050, 44100, 48000}) {
    std::vector<Samples> made;
    for (const GameSound sound : kAllSounds) {
      SCOPED_TRACE(testing::Message() << "sound " << static_cast<int>(sound) << " at " << rate << " Hz");
      const Samples s = SynthesiseSound(sound, rate);
      ASSERT_FALSE(s.empty());
      const double seconds = static_cast<double>(s.size()) / rate;
      EXPECT_GT(seconds, 0.05);
      EXPECT_LT(seconds, sound == GameSound::kRoundWon ? 1.0 : 0.5);
      EXPECT_NEAR(seconds, SynthesiseSound(sound, 8000).size() / 8000.0, 0.001) << "its length follows the rate";
      int peak = 0;
      for (const int16_t v : s) peak = std::max(peak, std::abs(int{v}));
      EXPECT_GT(std::sqrt(Energy(s) / s.size()), 0.03) << "too quiet, or a lone click";
      EXPECT_LT(peak, 0.5 * kFullScale) << "no room left to overlap";
      EXPECT_LT(std::abs(s.front()) + std::abs(s.back()), 0.01 * kFullScale) << "starts or stops with a click";
      EXPECT_EQ(s, SynthesiseSound(sound, rate)) << "not a pure function";
      made.push_back(s);
    }
    // Alike sounds line up sample by sample; any two of ours must not.
    for (size_t a = 0; a < made.size(); ++a)
      for (size_t b = a + 1; b < made.size(); ++b) {
        double cross = 0;
        for (size_t i = 0; i < std::min(made[a].size(), made[b].size()); ++i)
          cross += static_cast<double>(made[a][i]) * made[b][i];
        EXPECT_LT(std::abs(cross) / std::sqrt(Energy(made[a]) * Energy(made[b])) / (kFullScale * kFullScale), 0.5)
            << "sounds " << a << " and " << b << " at " << rate << " Hz";
      }
  }
  EXPECT_TRUE(SynthesiseSound(GameSound::kShot, 0).empty());
}

TEST(SoundEffectsMixerTest, SumsClampsCarriesOnAcrossBuffersAndLetsTheOldestVoiceGiveWay) {
  SoundEffects::Mixer mixer;
  const Samples a{1000, -2000, 30000, -30000, 5}, b{500, 500, 30000, -30000};
  mixer.Add(a), mixer.Add(b);
  int16_t out[6] = {};
  mixer.Mix(out, 3);
  EXPECT_THAT(out, testing::ElementsAre(1500, -1500, 32767, testing::_, testing::_, testing::_));
  mixer.Mix(out, 3);
  EXPECT_THAT(out, testing::ElementsAre(-32768, 5, 0, testing::_, testing::_, testing::_));
  EXPECT_EQ(mixer.voices(), 0) << "voices that ran out must end";

  // One loud voice, then enough quiet ones to fill every slot and one more.
  const Samples loud(4, 1000), quiet(4, 1);
  mixer.Add(loud);
  for (int i = 0; i < SoundEffects::Mixer::kMaxVoices; ++i) mixer.Add(quiet);
  EXPECT_EQ(mixer.voices(), SoundEffects::Mixer::kMaxVoices);
  mixer.Mix(out, 1);
  EXPECT_EQ(out[0], SoundEffects::Mixer::kMaxVoices) << "the oldest voice must give way to the newest";
  mixer.Clear();
  mixer.Mix(out, 1);
  EXPECT_EQ(out[0], 0);
}

// Sound effects started muted on the private server, and a recording of its sink from then on.
class SoundEffectsOnSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = private_sound::Server::Get().Problem();
    ASSERT_EQ(problem, "") << "no sound server to test on";
    ASSERT_TRUE(effects.Start()) << "the private server offers no output";
    ASSERT_TRUE(effects.available());
    recording.emplace(effects.sample_rate());
  }

  // Records until sound comes, then long enough for the longest sound to end.
  double EnergyOfWhatIsHeard() {
    const size_t tail = effects.sample_rate() * 12 / 10;
    const bool heard = recording->Until([tail](const Samples& s) {
      const long onset = FirstLoud(s, 0);
      return onset >= 0 && s.size() >= static_cast<size_t>(onset) + tail;
    });
    EXPECT_TRUE(heard) << "nothing reached the sink: " << recording->Errors();
    return Energy(recording->samples());
  }
  double EnergyOf(GameSound sound) { return Energy(SynthesiseSound(sound, effects.sample_rate())); }

  SoundEffects effects{/*muted=*/true};
  std::optional<private_sound::SinkRecording> recording;
};

TEST_F(SoundEffectsOnSinkTest, MutedPlaysStaySilentAndMutingStopsWhatPlays) {
  for (const GameSound sound : kAllSounds) effects.Play(sound);
  EXPECT_EQ(effects.voices(), 0);
  effects.ToggleMuted();
  EXPECT_FALSE(effects.muted());
  // Any sound that slipped through the mute would be heard before this shot, or with it.
  effects.Play(GameSound::kShot);
  const double heard = EnergyOfWhatIsHeard();
  EXPECT_GT(heard, 0.7 * EnergyOf(GameSound::kShot));
  EXPECT_LT(heard, 1.4 * EnergyOf(GameSound::kShot));

  effects.Play(GameSound::kRoundWon);
  effects.SetMuted(true);
  EXPECT_EQ(effects.voices(), 0);
}

TEST_F(SoundEffectsOnSinkTest, ANewSoundPlaysOverTheOneAlreadyPlaying) {
  effects.SetMuted(false);
  effects.Play(GameSound::kRoundWon);
  effects.Play(GameSound::kShot);
  // Cut off by the shot, the jingle would leave a small part of its energy.
  const double both = EnergyOf(GameSound::kRoundWon) + EnergyOf(GameSound::kShot);
  const double heard = EnergyOfWhatIsHeard();
  EXPECT_GT(heard, 0.8 * both);
  EXPECT_LT(heard, 1.25 * both);
}

// Qt's sound engine connects once per process, so a process that never met a server is needed:
// the test runs itself again in a child with nowhere to connect.
TEST(SoundEffectsWithoutServerTest, StartFailsQuietlyAndSaysSoOnceInTheErrorLog) {
  if (std::getenv("VANTORIX_SOUNDLESS_CHILD") != nullptr) {
    SoundEffects effects;
    EXPECT_FALSE(effects.Start());
    EXPECT_FALSE(effects.Start());
    EXPECT_FALSE(effects.available());
    for (const GameSound sound : kAllSounds) effects.Play(sound);
    effects.ToggleMuted(), effects.ToggleMuted(), effects.Play(GameSound::kShot);
    EXPECT_EQ(effects.voices(), 0);
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "vantorix-soundless-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path dir = pattern;
  const testing::TestInfo* me = testing::UnitTest::GetInstance()->current_test_info();
  // A runtime folder as a desktop session has one (without it Qt warns of that on its own),
  // and a sound server nobody listens at; `timeout` ends a hung child.
  const std::string command = "cd '" + dir.string() + "' && VANTORIX_SOUNDLESS_CHILD=1 XDG_RUNTIME_DIR='" + dir.string() +
                              "' PULSE_SERVER=unix:" + (dir / "nobody-listens").string() + " timeout 120 '" +
                              std::filesystem::read_symlink("/proc/self/exe").string() + "' --gtest_filter=" +
                              me->test_suite_name() + "." + me->name() + " >out.txt 2>err.txt";
  EXPECT_EQ(std::system(command.c_str()), 0) << private_sound::ReadFile(dir / "out.txt");
  EXPECT_EQ(private_sound::ReadFile(dir / "err.txt"), "") << "the console must stay quiet";
  std::istringstream log(private_sound::ReadFile(dir / "logs" / "ERROR.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  EXPECT_THAT(lines, testing::ElementsAre(testing::HasSubstr("Sound effects off"))) << "said once, in the log";
  std::filesystem::remove_all(dir);
}

}  // namespace
