// Sound playback through Qt Multimedia: one player per started sound, and a per-file mark
// so the same file never plays twice at once. The owning thread (the one calling play)
// runs every operation; the end handler runs in the thread that reports the media status.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

class QMediaPlayer;
class QAudioOutput;

class AudioPlayer {
 public:
  // One started sound; the file path is also its id.
  struct AudioInfo {
    std::wstring name;
    QMediaPlayer* player = nullptr;
    QAudioOutput* output = nullptr;
  };

  AudioPlayer() = default;
  ~AudioPlayer();
  AudioPlayer(const AudioPlayer&) = delete;
  AudioPlayer& operator=(const AudioPlayer&) = delete;

  bool play(const std::wstring& name);
  bool stop(const std::wstring& name);
  void stopAll();
  bool isPlaying(const std::wstring& name) const;
  int getPlayingCount() const;

  // The started sounds, oldest first; an entry whose sound ended keeps only its name.
  const std::vector<AudioInfo>& getSounds() const { return sounds; }

 private:
  void onEnded(QMediaPlayer* player, QAudioOutput* output, const std::wstring& name);

  std::vector<AudioInfo> sounds;
  std::unordered_map<std::wstring, int> playing;
};

extern AudioPlayer audioPlayer;
