// Where to draw the opponent between its position reports. Report runs on the receive
// thread, Shown on the render thread, Reset on whichever starts or ends a match; each holds
// mutex_ for the whole call.
//
// Each report gets a play time on an even timeline, as many sender ticks after the report
// before it as it moved on. The timeline is nudged a little per report so that the quickest
// reports are drawn about one and a half ticks after they arrive: the slower ones then mostly
// arrive before the disc gets to them, and the disc keeps an even pace.
#include "view/opponent_smoothing.h"

#include <algorithm>
#include <cmath>

OpponentSmoothing opponent_smoothing;

namespace {

constexpr double kPriorTicks = 16;       // how many measured ticks outweigh the nominal rate
constexpr double kPaceTicks = 128;       // the tick is averaged over about this many
constexpr double kDeviationTicks = 32;   // the spacing's deviation over about this many
constexpr double kMinTickUs = 1'000, kMaxTickUs = 100'000;
constexpr int64_t kSilenceUs = 250'000;  // longer without a report: start afresh
constexpr double kJumpPixels = 100;      // a respawn or a parked player, never slid across
constexpr double kDelayTicks = 1.5;      // the quickest reports' head start on the disc
constexpr double kDeviationWeight = 0.25;  // more for a jittery link: fewer reports come too late
constexpr double kMaxDelayTicks = 1.75;  // two would leave the disc drawn too stale
constexpr double kGain = 0.1;            // small: every nudge of the timeline is a change of pace
constexpr double kMaxCorrection = 0.25;  // of a tick per report, however far off the timeline is
constexpr double kMinSpacing = 0.25;     // of a tick, the least time to catch up in
constexpr double kCatchUpPace = 1.5;     // times the sender's pace, after the disc ran short
constexpr double kStillPixels = 0.01;    // a shorter step has no direction
constexpr double kLateReach = 1.25;      // of the last step: an overtaken report lies within
constexpr double kMinTickPixels = 1;     // slower steps are too noisy to count ticks by
constexpr int kMaxTicks = 4;

double Distance(double ax, double ay, double bx, double by) { return std::hypot(ax - bx, ay - by); }

}  // namespace

void OpponentSmoothing::Measure(int64_t interval_us, int ticks) {
  const double weight = std::min(kPriorTicks + measured_ticks_, kPaceTicks);
  tick_us_ = std::clamp(tick_us_ + (interval_us - ticks * tick_us_) / (weight + ticks), kMinTickUs, kMaxTickUs);
  deviation_us_ += (std::abs(static_cast<double>(interval_us) / ticks - tick_us_) - deviation_us_) / kDeviationTicks;
  measured_ticks_ += ticks;
}

double OpponentSmoothing::DelayUs() const {
  return std::min(kDelayTicks * tick_us_ + kDeviationWeight * deviation_us_, kMaxDelayTicks * tick_us_);
}

std::pair<double, double> OpponentSmoothing::ShownAt(double now_us) const {
  const size_t n = points_.count;
  if (n == 1 || now_us <= points_[0].play_us) return {points_[0].x, points_[0].y};
  size_t j = n - 1;
  while (points_[j].play_us > now_us) --j;
  const Point& a = points_[j == n - 1 ? j - 1 : j];
  const Point& b = points_[j == n - 1 ? j : j + 1];
  const double span_us = b.play_us - a.play_us;
  if (span_us <= 0) return {b.x, b.y};
  // Past the newest point the disc goes on for at most one sender tick, then holds.
  const double f =
      j == n - 1 ? 1 + std::min(now_us - b.play_us, span_us / b.ticks) / span_us : (now_us - a.play_us) / span_us;
  return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
}

// Reordered datagrams: a report behind the newest, within about its last step, is an older
// one that was overtaken. Drawing it would move the disc backwards. Never two in a row, so
// that a real turn about costs one report at most.
bool OpponentSmoothing::IsLate(double x, double y) const {
  if (dropped_late_ || step_ticks_ == 0) return false;
  const double step = std::hypot(step_x_, step_y_);
  if (step < kStillPixels) return false;
  const double back_x = x - newest_x_, back_y = y - newest_y_;
  return back_x * step_x_ + back_y * step_y_ < 0 && std::hypot(back_x, back_y) <= kLateReach * step;
}

// Whether the first two reports of a path came swapped only the third can tell: if the second
// lies behind the first, seen from the third, it was the older one and is dropped. Should the
// disc have set out towards it already, it goes on from where it is drawn now.
void OpponentSmoothing::UnswapFirstTwo(double x, double y, double arrival_us) {
  if (points_.count != 2 || step_ticks_ != 1) return;
  const Point first = points_[0], second = points_[1];
  if (Distance(x, y, first.x, first.y) > kJumpPixels) return;
  if ((second.x - first.x) * (x - first.x) + (second.y - first.y) * (y - first.y) >= 0) return;
  step_x_ = first.x - second.x, step_y_ = first.y - second.y;
  newest_x_ = first.x, newest_y_ = first.y;
  slack_.PopBack();
  const auto [now_x, now_y] = ShownAt(arrival_us);
  points_.PopBack();
  if (first.play_us < arrival_us) points_.Push({now_x, now_y, arrival_us, 1});
}

// The newest report overtook the one just dropped, so it came one tick further than counted,
// unless the count already saw the gap. Unless the disc has set out towards it, it is drawn
// a tick later, keeping the pace.
void OpponentSmoothing::CountOvertaken(double arrival_us) {
  if (points_.count < 2 || points_.Back().ticks > 1) return;
  Point& newest = points_.Back();
  newest.ticks = step_ticks_ = 2;
  if (points_[points_.count - 2].play_us <= arrival_us) return;
  newest.play_us += tick_us_;
  slack_.Back() += tick_us_;
}

// A step about a whole number of times the last one, the same way, means reports went
// missing; it gets as many ticks as it covers, so the pace holds.
int OpponentSmoothing::TicksSinceNewest(double x, double y) const {
  if (step_ticks_ == 0) return 1;
  const double tick_x = step_x_ / step_ticks_, tick_y = step_y_ / step_ticks_;
  const double tick = std::hypot(tick_x, tick_y);
  const double move_x = x - newest_x_, move_y = y - newest_y_;
  const double move = std::hypot(move_x, move_y);
  if (tick < kMinTickPixels || move < 1.5 * tick || move_x * tick_x + move_y * tick_y < 0.9 * move * tick) return 1;
  return std::clamp(static_cast<int>(std::lround(move / tick)), 1, kMaxTicks);
}

// A new path waits a tick longer at its first point: whether the second report is really the
// newer one only the third tells, and the disc must not have set out by then.
void OpponentSmoothing::Restart(double x, double y, int64_t arrival_us) {
  const double wait_us = DelayUs() + tick_us_;
  points_.Clear();
  points_.Push({x, y, arrival_us + wait_us, 1});
  slack_.Clear();
  slack_.Push(wait_us);
  last_arrival_us_ = arrival_us;
  newest_x_ = x, newest_y_ = y;
  step_ticks_ = 0;
  dropped_late_ = false;
  left_place_.reset();
  started_ = true;
}

void OpponentSmoothing::Report(float report_x, float report_y, int64_t arrival_us) {
  if (!std::isfinite(report_x) || !std::isfinite(report_y)) return;
  const double x = report_x, y = report_y, arrival = static_cast<double>(arrival_us);
  std::lock_guard lock(mutex_);
  const int64_t interval_us = std::max<int64_t>(0, arrival_us - last_arrival_us_);
  if (!started_ || interval_us > kSilenceUs) return Restart(x, y, arrival_us);
  UnswapFirstTwo(x, y, arrival);
  const double from_newest = Distance(x, y, newest_x_, newest_y_);
  // Right after a jump, the last report from before it may still come in late.
  if (const auto left = std::exchange(left_place_, std::nullopt))
    if (from_newest > kJumpPixels && Distance(x, y, left->first, left->second) <= kJumpPixels) return;
  if (IsLate(x, y)) {
    dropped_late_ = true;
    return CountOvertaken(arrival);
  }
  dropped_late_ = false;
  const bool jump = from_newest > kJumpPixels;
  const int ticks = jump ? 1 : TicksSinceNewest(x, y);
  Measure(interval_us, ticks);
  last_arrival_us_ = arrival_us;

  const double due_us = points_.Back().play_us + ticks * tick_us_;
  double widest_us = due_us - arrival;  // the quickest recent report's head start
  for (size_t i = 0; i < slack_.count; ++i) widest_us = std::max(widest_us, slack_[i]);
  const double limit_us = kMaxCorrection * tick_us_;
  double play_us = due_us + std::clamp(kGain * (DelayUs() - widest_us), -limit_us, limit_us);
  if (jump) {
    // Drawn at once; the timeline keeps its pace, the path starts anew. The last step is
    // kept: it still tells an overtaken report from after the jump.
    left_place_ = {newest_x_, newest_y_};
    points_.Clear();
  } else {
    step_x_ = x - newest_x_, step_y_ = y - newest_y_, step_ticks_ = ticks;
    // The disc already ran past the newest point: it goes on from where it is drawn now,
    // rather than leap, and catches up no faster than kCatchUpPace.
    if (arrival > points_.Back().play_us) {
      const auto [now_x, now_y] = ShownAt(arrival);
      points_.Push({now_x, now_y, arrival, 1});
      const double tick = std::hypot(step_x_, step_y_) / ticks;
      const double behind = tick > kStillPixels ? Distance(x, y, now_x, now_y) / tick : 0;  // in ticks
      play_us = std::max(play_us, arrival + std::max(behind / kCatchUpPace, kMinSpacing) * tick_us_);
    }
  }
  slack_.Push(play_us - arrival);
  points_.Push({x, y, play_us, ticks});
  newest_x_ = x, newest_y_ = y;
}

std::optional<std::pair<float, float>> OpponentSmoothing::Shown(int64_t now_us) const {
  std::lock_guard lock(mutex_);
  if (!started_) return std::nullopt;
  const auto [x, y] = ShownAt(static_cast<double>(now_us));
  return std::pair<float, float>(static_cast<float>(x), static_cast<float>(y));
}

void OpponentSmoothing::Reset() {
  std::lock_guard lock(mutex_);
  started_ = false;
  points_.Clear();
  slack_.Clear();
  tick_us_ = kNominalTickUs, deviation_us_ = 0;
  measured_ticks_ = 0;
  step_ticks_ = 0;
  dropped_late_ = false;
  left_place_.reset();
}
