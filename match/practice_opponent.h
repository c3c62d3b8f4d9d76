// The computer's side of a practice match: it plays the guest against the player, who hosts,
// speaking the match's datagrams and moving, shooting and falling by the game's own rules
// against its own copy of the maze, built from what it hears. Pure simulation counted in
// control ticks of 1/65 s: no threads, no clock, and no shared game record is written. One
// instance belongs to the one thread that drives it (the practice match's loop, or a test).
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

class PracticeOpponent {
 public:
  // level 1 (easy to beat) .. 3 (hard); seed makes every run repeatable.
  PracticeOpponent(int level, uint32_t seed);
  // One datagram's text from the player's side, exactly as the player's match loops send it.
  void Hear(const std::string& datagram);
  // One control tick = 1/65 s of game time: applies what was heard, runs its own round clock,
  // thinks, moves, fires, steps its bullets; appends the datagram texts it sends this tick to `out`.
  void Tick(std::vector<std::string>& out);
  int level() const;
  // For tests and the benchmark:
  float x() const;  // top-left corner of its box
  float y() const;
  bool in_countdown() const;  // between a round's end and its respawn
  int kills() const;
  int deaths() const;

 private:
  struct Point {
    float x = 0, y = 0;
  };
  // How a level plays; the levels' values are in StyleFor.
  struct Style {
    int reaction_ticks;   // age of the player's position it acts on
    float aim_error_deg;  // spread of its aim
    float lead;           // share of the player's motion it aims ahead for
    int fire_gap_ticks;   // least ticks between two of its shots
    int stun_ticks;       // ticks a knock leaves it without control
    float top_speed;      // walking speed, pixels per tick
    bool hunts;           // seeks spots from which a hit throws the player off, and takes cover
  };
  struct Bullet {
    float vx, vy, x, y;  // x, y: the box's corner, launched at the shooter's centre as the game does
    int64_t fired_tick;
  };
  struct Repeat {
    std::string text;
    int ticks_left;
  };
  // Where it means to stand, and the player's centre that the spot was chosen for.
  struct Plan {
    bool valid = false;
    Point spot;
    Point for_player;
    int64_t made_tick = 0;
  };
  // One knock's outcome: whether the box left the arena, and where it came to rest.
  struct KnockOutcome {
    bool fell = false;
    Point rest;  // centre
  };
  enum class Phase { kWaitingForMaze, kInPlay, kLostCountdown, kWonCountdown };
  static Style StyleFor(int level);
  static constexpr int kHistory = 64;  // ticks of the player's positions it remembers
  static constexpr size_t kNumberRing = 1024;

  // What it heard.
  void Apply(const std::string& datagram);
  void ApplyCell(const std::vector<std::string>& values);
  void ApplyHit(const std::vector<std::string>& values);
  void ApplyDeathNotice(const std::vector<std::string>& values);

  // The round.
  void Fall();
  void Respawn();

  // Thinking: the keys it holds this tick (-1, 0 or 1 on each axis), and whether it shoots.
  void Think(int& key_x, int& key_y);
  void ChooseSpot(Point player_centre);
  Point Approach(Point me, Point player);
  bool Exposed(Point me, Point player) const;
  bool Wary() const { return tick_ < wary_until_; }
  bool FindCover(Point player, Point& cover) const;
  void SteerTo(Point goal, int& key_x, int& key_y);
  void KeepOffTheEdge(int& key_x, int& key_y) const;
  void AvoidCornerTraps(int& key_x, int& key_y) const;
  bool TrapsItself(int key_x, int key_y) const;
  void MaybeFire();
  bool PlayerSeen(int ticks_ago, Point& centre) const;
  Point PredictedPlayer() const;

  // The rules on its own maze.
  bool Blocked(int x, int y, int w, int h) const;
  bool ClearShot(Point from, Point to_centre, float target_half) const;
  KnockOutcome SimulateKnock(Point centre, float vx, float vy, bool steers) const;
  void Move(int key_x, int key_y);
  void StepBullets();
  void FillDistances(int goal_cell, std::array<int16_t, 256>& dist) const;

  // What it sends.
  void SendVital(std::string text, int later_ticks);

  const int level_;
  const Style style_;
  std::mt19937 rng_;
  int64_t tick_ = 0;

  // The rules' numbers, from the records' defaults.
  float max_speed_, acceleration_, friction_, time_step_, box_w_, box_h_, max_energy_;
  float bullet_speed_, bullet_friction_, bullet_time_step_, bullet_size_;
  int64_t bullet_lifetime_;

  // Its maze: walls, which cells it has heard, and the cells shot away for good.
  std::array<bool, 256> wall_{};
  std::array<bool, 256> cell_heard_{};
  std::array<bool, 256> shot_away_{};
  int cells_heard_ = 0;
  int maze_version_ = 0;

  // Itself.
  Phase phase_ = Phase::kWaitingForMaze;
  int countdown_left_ = 0;
  float x_, y_, vx_ = 0, vy_ = 0, energy_;
  int kills_ = 0, deaths_ = 0;
  int64_t knocked_tick_ = -1000;
  int ticks_since_shot_;

  // The player, as heard.
  bool player_heard_ = false;
  Point player_;  // corner
  uint64_t newest_position_ = 0;
  std::array<Point, kHistory> seen_{};
  std::array<bool, kHistory> seen_valid_{};
  std::array<uint64_t, kNumberRing> hits_heard_{};
  uint64_t newest_death_ = 0;

  // Its mind.
  Plan plan_;
  int goal_cell_ = -1;
  int goal_version_ = -1;
  int last_step_ = -1;
  Point cover_;
  int64_t cover_until_ = 0;
  Point wander_;
  int64_t wander_until_ = 0;
  int64_t holding_since_ = -1;
  int64_t wary_until_ = 0;
  std::array<int16_t, 256> to_goal_{};

  std::vector<Bullet> bullets_;
  std::vector<std::string> inbox_;
  std::vector<std::string> fresh_;  // vital commands of this tick, sent twice and then repeated
  std::vector<int> fresh_repeats_;
  std::vector<std::string> shots_out_;
  std::vector<Repeat> repeats_;
  uint64_t positions_sent_ = 0, shots_sent_ = 0, hits_sent_ = 0, deaths_sent_ = 0;
};
