// Sound playback: starting, stopping and releasing the Qt media players, and the handler
// that retires a player when its media ends or turns out invalid. No lock: the operations
// and the handler run on the thread that owns the players.
#include "services/audio_player.h"

#include <QAudioOutput>
#include <QCoreApplication>
#include <QMediaPlayer>
#include <QString>
#include <QUrl>

#include <algorithm>

AudioPlayer audioPlayer;

namespace {

void release(QMediaPlayer* player, QAudioOutput* output) {
  player->deleteLater();
  output->deleteLater();
}

}  // namespace

AudioPlayer::~AudioPlayer() {
  // Handlers capture this object, so cut them before it goes. Without an application
  // (static destruction at exit) there is no event loop to release the players safely;
  // the process end does.
  for (AudioInfo& info : sounds) {
    if (!info.player) continue;
    QObject::disconnect(info.player, nullptr, info.player, nullptr);
    if (QCoreApplication::instance()) {
      info.player->stop();
      release(info.player, info.output);
    }
  }
}

bool AudioPlayer::play(const std::wstring& name) {
  if (playing[name] > 0) return true;

  auto* player = new QMediaPlayer;
  auto* output = new QAudioOutput;
  player->setAudioOutput(output);
  // Entry, mark and handler come before the source: a missing file can be reported as
  // invalid while the source is being set, and that report must find them.
  sounds.push_back(AudioInfo{name, player, output});
  playing[name] = 1;
  QObject::connect(
      player, &QMediaPlayer::mediaStatusChanged, player,
      [this, player, output, name](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia) {
          onEnded(player, output, name);
        }
      },
      Qt::DirectConnection);
  const QUrl source = QUrl::fromLocalFile(QString::fromStdWString(name));
  if (source.isEmpty()) {
    // An empty path gives no media at all, which never reports an end; retire it at once
    // as a sound that cannot be played, or its mark would stay set for good.
    onEnded(player, output, name);
    return true;
  }
  player->setSource(source);
  player->play();
  return true;
}

void AudioPlayer::onEnded(QMediaPlayer* player, QAudioOutput* output, const std::wstring& name) {
  player->stop();
  const auto own = std::find_if(sounds.begin(), sounds.end(),
                                [player](const AudioInfo& info) { return info.player == player; });
  // Only the file's latest player speaks for its mark: a late report from a player that was
  // stopped (or dropped by stopAll) must not clear the mark of a newer one.
  const auto latest = std::find_if(sounds.rbegin(), sounds.rend(),
                                   [&name](const AudioInfo& info) { return info.name == name; });
  // No entry means stopAll dropped it and has already scheduled the release.
  if (own == sounds.end()) return;
  if (latest != sounds.rend() && latest->player == player) playing[name] = 0;
  own->player = nullptr;
  own->output = nullptr;
  release(player, output);
}

bool AudioPlayer::stop(const std::wstring& name) {
  // Every live player of the file is stopped, not just the oldest: after stop and a new play
  // the oldest is a dead one, and leaving the new one running would break the once-at-a-time rule.
  bool found = false;
  for (AudioInfo& info : sounds) {
    if (info.name != name || !info.player) continue;
    info.player->stop();
    found = true;
  }
  if (found) playing[name] = 0;
  return found;
}

void AudioPlayer::stopAll() {
  for (AudioInfo& info : sounds) {
    if (!info.player) continue;
    info.player->stop();
    release(info.player, info.output);
  }
  sounds.clear();
  playing.clear();
}

bool AudioPlayer::isPlaying(const std::wstring& name) const {
  const auto it = playing.find(name);
  return it != playing.end() && it->second > 0;
}

int AudioPlayer::getPlayingCount() const {
  return static_cast<int>(std::count_if(playing.begin(), playing.end(),
                                        [](const auto& entry) { return entry.second >= 1; }));
}
