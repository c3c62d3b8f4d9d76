// What the player sees and hears of the game's events: blood, bleeding, shake and flash at
// once on the thread that raised the event; sounds on the GUI thread, which drains their
// queue from a timer of its event loop (the M key mutes them); and, in a networked match,
// the shots for the send loop to report. Made and destroyed by the session on the main
// thread, around the game threads' lives.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/game_events.h"

class QTimer;
class SoundEffects;

class GameFeedback : public QObject {
 public:
  GameFeedback(bool online, bool muted);
  // Call once the game threads have ended: nothing may raise an event after it.
  ~GameFeedback() override;
  // Whether the player has the sound off now (M toggles it), for the next match to keep.
  bool muted() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaySounds();

  GameEventQueue sounds_;
  std::unique_ptr<SoundEffects> speaker_;
  QTimer* drain_ = nullptr;
  std::vector<GameEvent> taken_;
  int64_t last_hit_sound_us_[2] = {0, 0};
};
