// Where to draw the opponent between its position reports, so network jitter does not show
// as stutter. The receive thread reports each position as it arrives, the render thread asks
// where to draw at its frame time, and any thread may reset; one mutex guards all of it. The
// rules keep using the newest report (EnemyCorner); only the drawing goes through here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

class OpponentSmoothing {
 public:
  // Receive thread: a report of the opponent's corner (x, y) arrived at arrival_us (steady
  // clock, microseconds).
  void Report(float x, float y, int64_t arrival_us);
  // Render thread: the corner to draw at now_us; nothing before the first report.
  std::optional<std::pair<float, float>> Shown(int64_t now_us) const;
  void Reset();  // a new match or a lost peer

 private:
  // A fixed-size ring that forgets its oldest entry when full.
  template <class T, size_t N>
  struct Ring {
    std::array<T, N> items{};
    size_t first = 0, count = 0;
    void Push(const T& item) {
      if (count == N) first = (first + 1) % N, --count;
      items[(first + count++) % N] = item;
    }
    const T& operator[](size_t i) const { return items[(first + i) % N]; }
    T& operator[](size_t i) { return items[(first + i) % N]; }
    const T& Back() const { return (*this)[count - 1]; }
    T& Back() { return (*this)[count - 1]; }
    void PopBack() { --count; }
    void Clear() { first = count = 0; }
  };
  struct Point {
    double x, y;
    double play_us;  // when the drawn disc passes here
    int ticks;       // sender ticks since the point before
  };

  static constexpr size_t kHistory = 32;
  static constexpr double kNominalTickUs = 1'000'000.0 / 65;  // the game's send rate

  void Measure(int64_t interval_us, int ticks);
  void CountOvertaken(double arrival_us);
  double DelayUs() const;
  std::pair<double, double> ShownAt(double now_us) const;
  bool IsLate(double x, double y) const;
  void UnswapFirstTwo(double x, double y, double arrival_us);
  int TicksSinceNewest(double x, double y) const;
  void Restart(double x, double y, int64_t arrival_us);

  mutable std::mutex mutex_;  // guards everything below
  bool started_ = false;
  Ring<Point, kHistory> points_;    // the path to draw, oldest first
  Ring<double, kHistory> slack_;    // each report's head start: its play time less its arrival
  // The sender's tick and how far the arrivals' spacing strays from it: running averages,
  // kept across jumps and silences.
  double tick_us_ = kNominalTickUs, deviation_us_ = 0;
  int64_t measured_ticks_ = 0;
  int64_t last_arrival_us_ = 0;     // of the last report taken
  double newest_x_ = 0, newest_y_ = 0;
  double step_x_ = 0, step_y_ = 0;  // from the report before the newest to the newest
  int step_ticks_ = 0;              // sender ticks it covered; 0: none since the restart
  bool dropped_late_ = false;       // the report before was dropped as a late one
  std::optional<std::pair<double, double>> left_place_;  // the place just jumped away from
};

extern OpponentSmoothing opponent_smoothing;  // the game's one instance
