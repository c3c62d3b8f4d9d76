// The sound effects: synthesis of the six sounds, the voice mixer, and the audio thread that
// keeps a Qt audio sink topped up with the mix. The owner's thread calls the public functions;
// the audio thread (SoundEffects::Output) only mixes under mix_lock_ and writes to its sink.
// Qt's message handler, which any thread may reach, reads just an atomic.
#include "effects/sound_effects.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QString>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <utility>

#include "services/log_management.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kFullScale = 32767;
constexpr double kFadeSeconds = 0.004;  // a sound that starts or stops on a non-zero sample clicks

// The sink's buffer is what a Play waits behind: small keeps sounds on time with the picture.
// The feed comes round several times per buffer so a late wake-up does not run it dry.
constexpr int kBufferMicros = 25000;
constexpr int kFeedMillis = 5;
constexpr int kCloseSettleMillis = 500;

// Noise that comes out the same on every run, so that a sound is a pure function of its name.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed) {}
  double Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
  }

 private:
  uint32_t state_;
};

// A sine whose pitch may change from one sample to the next; it keeps its phase, so a sweep
// has no jumps.
class Oscillator {
 public:
  explicit Oscillator(int rate) : step_(kTwoPi / rate) {}
  double Sine(double hz) {
    phase_ = std::fmod(phase_ + step_ * hz, kTwoPi);
    return std::sin(phase_);
  }
  // A rounded square: buzzier than a sine, without a square's harsh edges.
  double Square(double hz, double drive) { return std::tanh(drive * Sine(hz)); }

 private:
  double step_;
  double phase_ = 0;
};

// Runs `wave` (called once per sample, in order, with the time in seconds) for `seconds`,
// fades the ends and scales the sound to peak at `level` of full scale: sounds that often
// meet in the mix leave it room before it has to clamp.
template <typename Wave>
std::vector<int16_t> Render(int rate, double seconds, double level, Wave wave) {
  const int count = static_cast<int>(seconds * rate);
  std::vector<double> raw(count);
  double peak = 0;
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / rate;
    raw[i] = wave(t) * std::min({1.0, t / kFadeSeconds, (seconds - t) / kFadeSeconds});
    peak = std::max(peak, std::abs(raw[i]));
  }
  std::vector<int16_t> samples(count);
  if (peak == 0) return samples;
  const double scale = level * kFullScale / peak;
  for (int i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(std::lround(raw[i] * scale));
  return samples;
}

// A bright falling zap with a crack of noise at the front. Kept quiet: it comes six times a second.
std::vector<int16_t> Shot(int rate) {
  Oscillator tone(rate);
  Noise noise(11);
  return Render(rate, 0.12, 0.3, [&](double t) {
    const double hz = 320 + 1300 * std::exp(-t / 0.025);
    const double crack = noise.Next() * std::exp(-t / 0.006);
    return (0.8 * tone.Square(hz, 2.5) + 0.5 * crack) * std::exp(-t / 0.045);
  });
}

// A low, rough thump: the hit you take should feel heavier than the one you land.
std::vector<int16_t> HitTaken(int rate) {
  Oscillator tone(rate);
  Noise noise(23);
  double rumble = 0;
  return Render(rate, 0.24, 0.45, [&](double t) {
    const double hz = 75 + 170 * std::exp(-t / 0.05);
    rumble += 0.12 * (noise.Next() - rumble);
    const double growl = 0.75 + 0.25 * std::sin(kTwoPi * 33 * t);
    return (tone.Square(hz, 4) * growl + 1.6 * rumble) * std::exp(-t / 0.07);
  });
}

// A short bell on a fifth, rising a little: the reward for landing a hit.
std::vector<int16_t> HitGiven(int rate) {
  Oscillator root(rate), fifth(rate);
  return Render(rate, 0.16, 0.35, [&](double t) {
    const double hz = 1320 * (1 + 0.04 * (1 - std::exp(-t / 0.02)));
    return (0.65 * root.Sine(hz) + 0.35 * fifth.Sine(1.5 * hz)) * std::exp(-t / 0.045);
  });
}

// Crumbling stone: noise in uneven grains that darkens as it settles, over a dull knock.
std::vector<int16_t> WallBreak(int rate) {
  Oscillator knock(rate);
  Noise noise(37), grains(41);
  double dust = 0, grain = 1;
  int grain_index = -1;
  return Render(rate, 0.32, 0.4, [&](double t) {
    dust += (0.05 + 0.4 * std::exp(-t / 0.08)) * (noise.Next() - dust);
    if (const int index = static_cast<int>(t / 0.021); index != grain_index) {
      grain_index = index;
      grain = 0.35 + 0.65 * std::abs(grains.Next());
    }
    return 2.5 * dust * grain * std::exp(-t / 0.1) + 0.6 * knock.Sine(85) * std::exp(-t / 0.04);
  });
}

// A whistle dropping away with a slight wobble: someone went over the edge.
std::vector<int16_t> Fall(int rate) {
  constexpr double kSeconds = 0.45;
  Oscillator tone(rate);
  return Render(rate, kSeconds, 0.4, [&](double t) {
    const double left = 1 - t / kSeconds;
    const double hz = (150 + 800 * left * left) * (1 + 0.03 * std::sin(kTwoPi * 7 * t));
    const double s = tone.Sine(hz);
    return (s + 0.3 * s * s * s) * std::min(1.0, t / 0.01) * std::sqrt(left);
  });
}

// A rising major arpeggio whose top note rings on.
std::vector<int16_t> RoundWon(int rate) {
  constexpr double kNotes[] = {523.25, 659.25, 783.99, 1046.50};  // C E G C
  return Render(rate, 0.8, 0.4, [&](double t) {
    double sum = 0;
    for (int n = 0; n < 4 && t >= 0.09 * n; ++n) {
      const double u = t - 0.09 * n;
      const double envelope = std::min(1.0, u / 0.004) * std::exp(-u / (n == 3 ? 0.22 : 0.09));
      const double phase = kTwoPi * kNotes[n] * u;
      sum += envelope * (std::sin(phase) + 0.3 * std::sin(2 * phase) + 0.1 * std::sin(3 * phase));
    }
    return sum;
  });
}

// Qt Multimedia reports a missing sound server on the console, partly without a logging
// category; the game says it once in its error log instead. Whatever else comes goes on to
// the handler that was in place before.
std::atomic<QtMessageHandler> next_message_handler{nullptr};

void KeepSoundWarningsOffTheConsole(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  const bool warning = type == QtWarningMsg || type == QtCriticalMsg;
  const bool from_sound = (context.category != nullptr && std::strncmp(context.category, "qt.multimedia", 13) == 0) ||
                          message.contains(QLatin1String("PulseAudioService"));
  if (warning && from_sound) return;
  if (const QtMessageHandler next = next_message_handler.load()) {
    next(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
  }
}

void InstallSoundWarningFilter() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Qt may log from its own threads at any time, so the next handler is in place first.
    next_message_handler.store(qInstallMessageHandler(KeepSoundWarningsOffTheConsole));
  });
}

// 16-bit at the device's preferred rate and channels when it takes that, else its own
// preferred sample format, which Encode converts to; invalid when neither will do.
QAudioFormat ChooseFormat(const QAudioDevice& device) {
  QAudioFormat preferred = device.preferredFormat();
  if (preferred.sampleRate() <= 0 || preferred.channelCount() <= 0) return {};
  QAudioFormat int16 = preferred;
  int16.setSampleFormat(QAudioFormat::Int16);
  if (device.isFormatSupported(int16)) return int16;
  if (preferred.sampleFormat() != QAudioFormat::Unknown && device.isFormatSupported(preferred)) return preferred;
  return {};
}

// The mono mix in the output's sample format, the same on every channel.
void Encode(const int16_t* mono, int frames, const QAudioFormat& format, char* out) {
  const int channels = format.channelCount();
  for (int i = 0; i < frames; ++i) {
    const int16_t s = mono[i];
    for (int c = 0; c < channels; ++c) {
      switch (format.sampleFormat()) {
        case QAudioFormat::UInt8:
          *out++ = static_cast<char>((s >> 8) + 128);
          break;
        case QAudioFormat::Int32: {
          const int32_t wide = static_cast<int32_t>(s) * 65536;
          std::memcpy(out, &wide, sizeof wide);
          out += sizeof wide;
          break;
        }
        case QAudioFormat::Float: {
          const float real = static_cast<float>(s) / 32768.0f;
          std::memcpy(out, &real, sizeof real);
          out += sizeof real;
          break;
        }
        default:
          std::memcpy(out, &s, sizeof s);
          out += sizeof s;
          break;
      }
    }
  }
}

}  // namespace

std::vector<int16_t> SynthesiseSound(GameSound sound, int sample_rate) {
  if (sample_rate < 1) return {};
  switch (sound) {
    case GameSound::kShot:
      return Shot(sample_rate);
    case GameSound::kHitTaken:
      return HitTaken(sample_rate);
    case GameSound::kHitGiven:
      return HitGiven(sample_rate);
    case GameSound::kWallBreak:
      return WallBreak(sample_rate);
    case GameSound::kFall:
      return Fall(sample_rate);
    case GameSound::kRoundWon:
      return RoundWon(sample_rate);
  }
  return {};
}

void SoundEffects::Mixer::Add(const std::vector<int16_t>& samples) {
  if (samples.empty()) return;
  if (count_ == kMaxVoices) {
    std::move(voices_.begin() + 1, voices_.end(), voices_.begin());
    --count_;
  }
  voices_[count_++] = Voice{samples.data(), static_cast<int>(samples.size()), 0};
}

void SoundEffects::Mixer::Mix(int16_t* out, int frames) {
  sum_.assign(std::max(frames, 0), 0);
  int kept = 0;
  for (int v = 0; v < count_; ++v) {
    Voice& voice = voices_[v];
    const int n = std::min(frames, voice.size - voice.next);
    const int16_t* from = voice.samples + voice.next;
    for (int i = 0; i < n; ++i) sum_[i] += from[i];
    voice.next += n;
    if (voice.next < voice.size) voices_[kept++] = voice;
  }
  count_ = kept;
  for (int i = 0; i < frames; ++i) out[i] = static_cast<int16_t>(std::clamp(sum_[i], -32768, 32767));
}

// The audio thread: it opens the sink in push mode and, on a short timer, writes as much mix as
// the sink has room for. Its own thread, not the GUI's, because the game's loop serves events
// only between ticks, and that is too seldom for a buffer of a few tens of milliseconds. With
// nothing to play it rests (the sink runs dry, which costs nothing) until a Play wakes it.
class SoundEffects::Output : public QThread {
 public:
  Output(const QAudioDevice& device, const QAudioFormat& format, std::mutex& lock, Mixer& mixer, bool& resting)
      : device_(device), format_(format), lock_(lock), mixer_(mixer), resting_(resting) {}
  ~Output() override {
    quit();
    wait();
  }

  // Starts the thread and its sink; false, with the thread ended, when the sink would not open.
  bool Open() {
    std::future<bool> opened = opened_.get_future();
    start(QThread::HighPriority);
    if (opened.get()) return true;
    wait();
    return false;
  }

  // From the owner's thread, once the sink is open: a sound came while the audio thread rested.
  void Wake() { QMetaObject::invokeMethod(feed_, [this] { Feed(); }, Qt::QueuedConnection); }

 protected:
  void run() override {
    {
      QAudioSink sink(device_, format_);
      sink.setBufferSize(format_.bytesForDuration(kBufferMicros));
      QIODevice* io = sink.start();
      if (io == nullptr || sink.error() != QAudio::NoError) return opened_.set_value(false);
      QTimer feed;
      feed.setTimerType(Qt::PreciseTimer);
      feed.setInterval(kFeedMillis);
      QObject::connect(&feed, &QTimer::timeout, [this] { Feed(); });
      sink_ = &sink, io_ = io, feed_ = &feed;
      Feed();
      opened_.set_value(true);
      exec();
      feed.stop();
      sink.stop();
    }
    // Closing the stream makes the server report the output's changes to Qt's sound engine,
    // some of them a while later. If the process ends while the engine handles such a report,
    // Qt's clean-up at exit races it and crashes (about one exit in a hundred without this
    // wait, one in five hundred after 100 ms, none seen after 500 ms). The game usually quits
    // right after dropping its sound, so the engine gets that long to settle.
    QThread::msleep(kCloseSettleMillis);
  }

 private:
  void Feed() {
    const int frame_bytes = format_.bytesPerFrame();
    const int frames = frame_bytes > 0 ? static_cast<int>(sink_->bytesFree() / frame_bytes) : 0;
    mono_.resize(std::max(frames, 0));
    bool rest = false;
    {
      // Deciding to rest under the lock that Play adds under: a sound added after this sees
      // the flag and wakes us, one added before keeps us going.
      std::lock_guard<std::mutex> hold(lock_);
      mixer_.Mix(mono_.data(), static_cast<int>(mono_.size()));
      resting_ = rest = mixer_.voices() == 0;
    }
    if (frames > 0) {
      bytes_.resize(static_cast<size_t>(frames) * frame_bytes);
      Encode(mono_.data(), frames, format_, bytes_.data());
      io_->write(bytes_.data(), static_cast<qint64>(bytes_.size()));
    }
    if (rest) {
      feed_->stop();
    } else if (!feed_->isActive()) {
      feed_->start();
    }
  }

  const QAudioDevice device_;
  const QAudioFormat format_;
  std::mutex& lock_;
  Mixer& mixer_;   // under lock_
  bool& resting_;  // under lock_
  std::promise<bool> opened_;
  // Audio thread only, but for feed_, which Wake also reads once Open has returned.
  QAudioSink* sink_ = nullptr;
  QIODevice* io_ = nullptr;
  QTimer* feed_ = nullptr;
  std::vector<int16_t> mono_;
  std::vector<char> bytes_;
};

SoundEffects::SoundEffects(bool muted) : muted_(muted) {}

SoundEffects::~SoundEffects() { output_.reset(); }  // the audio thread ends before the mixer goes

bool SoundEffects::Start() {
  if (output_) return true;
  InstallSoundWarningFilter();
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return Unavailable("there is no audio output (no sound server or sound device)");
  const QAudioFormat format = ChooseFormat(device);
  if (!format.isValid()) return Unavailable("the audio output takes no sample format the game can write");
  for (int i = 0; i < kGameSoundCount; ++i)
    sounds_[i] = SynthesiseSound(static_cast<GameSound>(i), format.sampleRate());
  auto output = std::make_unique<Output>(device, format, mix_lock_, mixer_, resting_);
  if (!output->Open()) return Unavailable("the audio output would not open");
  output_ = std::move(output);
  sample_rate_ = format.sampleRate();
  return true;
}

bool SoundEffects::Unavailable(const char* why) {
  if (!said_unavailable_) {
    said_unavailable_ = true;
    LogManagement::getInstance().log("ERROR.log", LogLevel::ERROR,
                                     std::string("Sound effects off: ") + why + "; the game goes on silently");
  }
  return false;
}

void SoundEffects::Play(GameSound sound) {
  const int index = static_cast<int>(sound);
  if (muted_ || !output_ || index < 0 || index >= kGameSoundCount) return;
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(mix_lock_);
    mixer_.Add(sounds_[index]);
    wake = std::exchange(resting_, false);
  }
  if (wake) output_->Wake();
}

void SoundEffects::SetMuted(bool muted) {
  muted_ = muted;
  if (!muted) return;
  std::lock_guard<std::mutex> hold(mix_lock_);
  mixer_.Clear();
}

int SoundEffects::sample_rate() const { return sample_rate_; }

int SoundEffects::voices() const {
  std::lock_guard<std::mutex> hold(mix_lock_);
  return mixer_.voices();
}
