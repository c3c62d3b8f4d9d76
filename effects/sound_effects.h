// The duel's sound effects: six short sounds synthesised at start-up and mixed live into one
// audio output, so that sounds overlap instead of cutting each other off. The owner's thread
// (the GUI thread; the Qt application must outlive the object) makes every call. Start runs a
// private audio thread that feeds the output and ends with the object; the two share only the
// mixer and its resting flag, under mix_lock_.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

enum class GameSound { kShot, kHitTaken, kHitGiven, kWallBreak, kFall, kRoundWon };
inline constexpr int kGameSoundCount = 6;

// Pure: the mono 16-bit samples of a sound at the given rate (none for a rate below 1).
std::vector<int16_t> SynthesiseSound(GameSound sound, int sample_rate);

class SoundEffects {
 public:
  // The sounds now playing, summed into one mono stream. Unlocked: its owner guards it.
  class Mixer {
   public:
    static constexpr int kMaxVoices = 16;
    // Starts `samples` from the beginning; they must outlive the voice. With every voice
    // busy, the oldest gives way.
    void Add(const std::vector<int16_t>& samples);
    void Clear() { count_ = 0; }
    int voices() const { return count_; }
    // Writes the clamped sum of the voices to out[0, frames) and moves them on; a voice that
    // has run out ends.
    void Mix(int16_t* out, int frames);

   private:
    struct Voice {
      const int16_t* samples = nullptr;
      int size = 0;
      int next = 0;
    };
    std::array<Voice, kMaxVoices> voices_{};  // oldest first
    int count_ = 0;
    std::vector<int32_t> sum_;
  };

  explicit SoundEffects(bool muted = false);
  ~SoundEffects();
  SoundEffects(const SoundEffects&) = delete;
  SoundEffects& operator=(const SoundEffects&) = delete;

  // Opens the default audio output; false when there is none, and then every Play is silent.
  // The first failure is written to the error log, never to the console.
  bool Start();
  // Starts the sound at once, over whatever already plays.
  void Play(GameSound sound);
  // Muting also stops every sound now playing.
  void SetMuted(bool muted);
  bool muted() const { return muted_; }
  void ToggleMuted() { SetMuted(!muted_); }
  bool available() const { return output_ != nullptr; }
  // The output's rate, which the sounds were made at; 0 until Start succeeds.
  int sample_rate() const;
  // How many sounds are playing now.
  int voices() const;

 private:
  class Output;
  bool Unavailable(const char* why);

  bool muted_;
  bool said_unavailable_ = false;
  int sample_rate_ = 0;
  std::array<std::vector<int16_t>, kGameSoundCount> sounds_;  // made by Start before the audio thread runs
  mutable std::mutex mix_lock_;
  Mixer mixer_;           // under mix_lock_
  bool resting_ = false;  // under mix_lock_: the audio thread waits for a Play to wake it
  std::unique_ptr<Output> output_;
};
