// The audio player on the real Qt Multimedia back end: the private PulseAudio server's null sink
// stands in for a sound card. Single-threaded: the event loop is spun here, always with a deadline.
#include "services/audio_player.h"
#include <QAudioDevice>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include "tests/support/private_sound_server.h"

namespace {
namespace fs = std::filesystem;

// Mono 16-bit PCM WAV at 8 kHz holding a square wave of ms milliseconds.
void writeWav(const fs::path& path, uint32_t ms) {
  const uint32_t n = 16 * ms;
  const uint32_t h[] = {0x46464952, 36 + n, 0x45564157, 0x20746d66, 16, 0x10001, 8000, 16000, 0x100002, 0x61746164, n};
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(h), sizeof h);
  for (uint32_t i = 0; i < n / 2; ++i) file.write(i % 40 < 20 ? "\x00\x20" : "\x00\xe0", 2);
}

bool spinUntil(const std::function<bool()>& done) {
  for (QDeadlineTimer deadline(10000); !done(); QCoreApplication::processEvents(QEventLoop::AllEvents, 20))
    if (deadline.hasExpired()) return false;
  return true;
}

class AudioPlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fs::create_directories(dir);
    writeWav(dir / "blip.wav", 100), writeWav(dir / "long.wav", 5000);
    std::ofstream(dir / "notes.wav") << "not audio at all\n";
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }
  void SetUp() override {
    ASSERT_EQ(private_sound::Server::Get().Problem(), "") << "no audio server";
    ASSERT_TRUE(spinUntil([] { return !QMediaDevices::audioOutputs().isEmpty(); })) << "the server offers no output";
  }
  void TearDown() override { audio.stopAll(), QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  // Plays name until its mark drops and tells whether its player reported `ending`.
  bool playsUntil(const std::wstring& name, QMediaPlayer::MediaStatus ending) {
    audio.play(name);
    auto reported = std::make_shared<bool>(false);
    QMediaPlayer* player = audio.getSounds().back().player;
    QObject::connect(player, &QMediaPlayer::mediaStatusChanged, player, [=](auto s) { *reported |= s == ending; });
    return spinUntil([&] { return !audio.isPlaying(name); }) && *reported;
  }

  static inline const fs::path dir = fs::temp_directory_path() / ("vantorix-audio-" + std::to_string(getpid()));
  static inline const std::wstring blip = (dir / "blip.wav").wstring(), longer = (dir / "long.wav").wstring();
  AudioPlayer audio;
};

TEST_F(AudioPlayerTest, FilePlaysOnceAtATimeAndStopReachesEveryLivePlayerOfAFile) {
  for (const std::wstring& name : {longer, longer, blip}) EXPECT_TRUE(audio.play(name));
  EXPECT_EQ(audio.getSounds().size(), 2u);  // the second play of a playing file starts nothing
  EXPECT_EQ(audio.getPlayingCount(), 2);
  audio.stopAll();
  EXPECT_EQ(audio.getPlayingCount(), 0);
  EXPECT_TRUE(audio.getSounds().empty());
  EXPECT_FALSE(audio.stop(L"/no/such.wav"));
  audio.play(longer), audio.stop(longer), audio.play(longer);
  EXPECT_TRUE(audio.stop(longer));
  EXPECT_FALSE(audio.isPlaying(longer));
  for (const auto& s : audio.getSounds()) EXPECT_EQ(s.player->playbackState(), QMediaPlayer::StoppedState);
  audio.play(longer);  // a late end report from an older player leaves the newest one's mark alone
  audio.getSounds()[0].player->mediaStatusChanged(QMediaPlayer::EndOfMedia);
  EXPECT_TRUE(audio.isPlaying(longer));
  EXPECT_FALSE(audio.getSounds()[0].player);
  EXPECT_EQ(audio.getSounds().size(), 3u);
}

TEST_F(AudioPlayerTest, SoundsEndByThemselvesOrAsInvalidMediaAndThenPlayAgain) {
  for (const fs::path& bad : {dir / "missing.wav", dir / "notes.wav", dir})
    EXPECT_TRUE(playsUntil(bad.wstring(), QMediaPlayer::InvalidMedia)) << bad;
  EXPECT_TRUE(audio.play(L""));
  EXPECT_FALSE(audio.isPlaying(L""));
  EXPECT_TRUE(playsUntil(blip, QMediaPlayer::EndOfMedia));
  EXPECT_TRUE(audio.play(blip));
  EXPECT_TRUE(audio.isPlaying(blip));
  EXPECT_FALSE(audio.getSounds()[4].player);  // the finished one is gone, the new one plays
  EXPECT_TRUE(audio.getSounds()[5].player);
}
}  // namespace
