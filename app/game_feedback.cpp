// Event consumers: the effects handler runs on the rules' threads; the sound queue is drained
// by a timer on the GUI thread, which also reads the M key.
#include "app/game_feedback.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>

#include <cstdint>
#include <utility>

#include "core/rules_tuning.h"
#include "effects/effect_spawners.h"
#include "effects/sound_effects.h"
#include "effects/special_effects.h"
#include "match/match_sync.h"
#include "records/game_records.h"

namespace {

// A bullet overlaps the opponent for several ticks and each counts as a hit; one sound for
// such a burst is what a player hears as one hit.
constexpr int64_t kHitSoundGapMicros = 120'000;

std::pair<float, float> PlayerCentre() {
  const Corner corner = PlayerCorner();
  return {BoxCentre(corner.x, playerdata.player_w), BoxCentre(corner.y, playerdata.player_h)};
}

std::pair<float, float> EnemyCentre() {
  const Corner corner = EnemyCorner();
  return {BoxCentre(corner.x, playerdata.enemy_w), BoxCentre(corner.y, playerdata.enemy_h)};
}

void ShowEffects(const GameEvent& event) {
  switch (event.kind) {
    case GameEventKind::kHitGiven:
      Effects_SpawnBloodSplash(event.x, event.y, event.vx, event.vy, kHitSplashForce);
      Effects_BleedEffect(1, EnemyCentre, kHitBleedSeconds);
      break;
    case GameEventKind::kHitTaken:
      StartShakeAndFlash();
      Effects_BleedEffect(0, PlayerCentre, kHitBleedSeconds);
      break;
    case GameEventKind::kFell:
      StartShakeAndFlash();
      break;
    default:
      break;
  }
}

GameSound SoundOf(GameEventKind kind) {
  switch (kind) {
    case GameEventKind::kFired: return GameSound::kShot;
    case GameEventKind::kHitGiven: return GameSound::kHitGiven;
    case GameEventKind::kHitTaken: return GameSound::kHitTaken;
    case GameEventKind::kCellCleared: return GameSound::kWallBreak;
    case GameEventKind::kFell: return GameSound::kFall;
    case GameEventKind::kRoundWon: return GameSound::kRoundWon;
  }
  return GameSound::kShot;
}

}  // namespace

GameFeedback::GameFeedback(bool online, bool muted) : speaker_(std::make_unique<SoundEffects>(muted)) {
  speaker_->Start();
  game_events.AddHandler(ShowEffects);
  game_events.AddQueue(sounds_);
  if (online) game_events.AddQueue(ShotReports());
  drain_ = new QTimer(this);
  drain_->setTimerType(Qt::PreciseTimer);
  QObject::connect(drain_, &QTimer::timeout, this, [this] { PlaySounds(); });
  drain_->start(5);
  QCoreApplication::instance()->installEventFilter(this);
}

GameFeedback::~GameFeedback() {
  QCoreApplication::instance()->removeEventFilter(this);
  game_events.Clear();
}

bool GameFeedback::muted() const { return speaker_->muted(); }

bool GameFeedback::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Key presses reach the filter once per object they pass through; the window's own is
    // the one that counts.
    if (key->key() == Qt::Key_M && !key->isAutoRepeat() && watched->isWindowType()) speaker_->ToggleMuted();
  }
  return QObject::eventFilter(watched, event);
}

void GameFeedback::PlaySounds() {
  sounds_.TakeAll(taken_);
  const int64_t now = SteadyMicros();
  for (const GameEvent& event : taken_) {
    if (event.kind == GameEventKind::kHitGiven || event.kind == GameEventKind::kHitTaken) {
      int64_t& last = last_hit_sound_us_[event.kind == GameEventKind::kHitTaken];
      if (now - last < kHitSoundGapMicros) continue;
      last = now;
    }
    speaker_->Play(SoundOf(event.kind));
  }
  taken_.clear();
}
