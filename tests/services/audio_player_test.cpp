// The audio player on the real Qt Multimedia back end: a private PulseAudio server with a null sink
// stands in for a sound card. Single-threaded: the event loop is spun here, always with a deadline.
#include "services/audio_player.h"
#include <QAudioDevice>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <csignal>
#include <filesystem>
#include <fstream>

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
    server = std::make_unique<QProcess>();
    writeWav(dir / "blip.wav", 100), writeWav(dir / "long.wav", 5000);
    std::ofstream(dir / "notes.wav") << "not audio at all\n";
    std::ofstream(dir / "null.pa") << "load-module module-null-sink\n"
                                   << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket;
    // A bare environment: the server's state stays in dir, and it meets no desktop session or bus.
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH"));
    env.insert("HOME", QString::fromStdString(dir)), env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir));
    server->setProcessEnvironment(env);
    server->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });  // never outlives the test
    server->start("pulseaudio", {"-nF", QString::fromStdString(dir / "null.pa"), "--daemonize=no",
                                 "--exit-idle-time=-1", "--use-pid-file=no"});
    spinUntil([] { return fs::is_socket(socket) || server->state() == QProcess::NotRunning; });
    qputenv("PULSE_SERVER", ("unix:" + socket).c_str());
  }
  static void TearDownTestSuite() {
    server->terminate();
    if (!server->waitForFinished(5000)) server->kill(), server->waitForFinished(5000);
    server.reset(), fs::remove_all(dir);
  }
  void SetUp() override {
    ASSERT_EQ(server->state(), QProcess::Running)
        << "no audio server: " << server->errorString().toStdString() << server->readAllStandardError().toStdString();
    ASSERT_TRUE(fs::is_socket(socket)) << server->readAllStandardError().toStdString();
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
  static inline const std::string socket = dir / "native";
  static inline const std::wstring blip = (dir / "blip.wav").wstring(), longer = (dir / "long.wav").wstring();
  static inline std::unique_ptr<QProcess> server;
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
