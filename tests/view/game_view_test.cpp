// Game view routines, checked on the offscreen frame buffer's pixels over a white frame. The
// test thread plays the GUI and render threads; one case runs the real render loop.
#include "core/maze_generator.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "view/game_view.h"
#include "view/view_drawing.h"
#include <gtest/gtest.h>
#include <cmath>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {
constexpr unsigned long kWhite = 0xFFFFFF, kBlack = 0, kRed = 0x0000FF, kGreen = 0x00FF00, kGrey = 0xC8C8C8;
struct Px { int x, y; unsigned long colour; };

class GameViewTest : public ::testing::Test {
 protected:
  void SetUp() override { playerdata = PlayerData(), _map.cells = Maps().cells, bullet = BulletPool(); }
  static void ExpectPixels(const std::function<void()>& draw, std::initializer_list<Px> expected) {
    initgraph(1000, 800);
    BeginBatchDraw(), setbkcolor(kWhite), cleardevice(), draw(), FlushBatchDraw();
    const QImage img = ebf->toImage();
    for (const Px& p : expected) EXPECT_EQ(img.pixel(p.x, p.y), _qc(p.colour).rgb()) << p.x << "," << p.y;
  }
};

TEST_F(GameViewTest, MapDrawsWallKindAsGreyBlockOtherWallsAsRedOutlineEmptyCellsNot) {
  _map.cells[2 * 16 + 3].type = "wall";  // block (155, 105)-(195, 145), is_wall unset
  _map.cells[4 * 16 + 5].is_wall = true;  // outline at (255, 205), 40 x 40
  _map.cells[4 * 16 + 5].type = "NULL";
  ExpectPixels(Render_Map, {{155, 105, kGrey}, {194, 144, kGrey}, {152, 125, kWhite}, {255, 225, kRed},
                            {275, 225, kWhite}, {375, 325, kWhite}, {400, 2, kRed}});
}

TEST_F(GameViewTest, FogCoversAllOutsideTheVisionCircle) {
  ExpectPixels([] { Render_Vision(400, 400, 100); },
               {{400, 400, kWhite}, {495, 400, kWhite}, {505, 400, kBlack}, {950, 100, kBlack}});
  ExpectPixels([] { Render_Vision(400, 400, 0); }, {{400, 400, kBlack}});
}

TEST_F(GameViewTest, ProgressFrontBarIsAtLeast20PxEvenForANaNShareAndMayOutgrowTheBackBar) {
  for (float max : {100.f, 0.f}) ExpectPixels([max] { Progress_drawing(100, 100, 200, 30, max, 0, kRed, kGreen); },
                                              {{118, 115, kGreen}, {122, 115, kRed}});
  ExpectPixels([] { Progress_drawing(100, 100, 200, 30, 100, 150, kRed, kGreen); }, {{380, 115, kGreen}});
}

TEST_F(GameViewTest, MinimapShowsEnemyOnlyWithin150PxOfThePlayer) {
  playerdata.player_x = playerdata.player_y = playerdata.enemy_y = 100;
  for (const float gap : {149.0f, 150.0f}) {
    playerdata.enemy_x = 100 + gap;
    ExpectPixels([] { Render_minimap(0, 0, 1.0f); }, {{115, 115, kGreen}, {264, 115, gap < 150 ? kRed : kWhite}});
  }
}

TEST_F(GameViewTest, FrameFogsArenaButNotSidebarAndDrawsNothingWhileTheRoundIsOver) {
  playerdata.vision_radius = 0;
  playerdata.enemy_x = 1e30f;  // wild positions must stay harmless
  bullet.slots[0].active = true, bullet.motion[0].x = std::nanf("");
  ExpectPixels(Render_frame, {{600, 600, kBlack}, {990, 700, kWhite}, {990, 150, kGrey}, {900, 330, kGreen}});
  playerdata.round_over = true;
  ExpectPixels(Render_frame, {{600, 600, kWhite}, {990, 150, kWhite}});
}

TEST_F(GameViewTest, TheSightShowsWallBulletBothDiscsAndFloorInTheirColours) {
  _map.cells[7 * 16 + 7].type = "wall";  // block (355, 355)-(395, 395)
  bullet.slots[0].active = true, bullet.motion[0].x = 400, bullet.motion[0].y = 300;
  // Discs of radius 15, centred at (300, 400) and (500, 400).
  playerdata.player_x = 285, playerdata.player_y = playerdata.enemy_y = 385, playerdata.enemy_x = 485;
  playerdata.vision_x = playerdata.vision_y = 400, playerdata.vision_radius = 200;
  emp[0] = 300, emp[1] = 700;  // the aim line runs straight down from the player's centre
  ExpectPixels(Render_frame, {{375, 375, kGrey}, {400, 300, kBlack}, {290, 400, kGreen}, {500, 400, kRed},
                              {400, 480, kWhite}, {700, 700, kBlack}});
}

// The shortcuts leave out what the fog hides and reuse an unchanged sidebar. The sight is
// tried in the open and reaching under the sidebar, the aim ring beneath its rounded corner.
TEST_F(GameViewTest, ShortcutsLeaveEveryPixelOfTheFrameAsDrawnInFull) {
  initgraph(1000, 800);
  bool grid[16][16];
  generateMaze(grid, 9);
  StoreMaze(grid);
  _map.ClearForGood(17, false), _map.cells[18].is_wall = true, _map.cells[18].type = "NULL";  // an outlined cell
  for (int i = 0; i < 6; ++i) {
    bullet.slots[i].active = true;
    bullet.motion[i].x = 100.0f + 130.0f * static_cast<float>(i), bullet.motion[i].y = 60.0f + 70.0f * static_cast<float>(i);
  }
  for (int i = 0; i < 40; ++i) {
    Particle drop;
    drop.x = 20.0f * static_cast<float>(i), drop.y = 400.0f + static_cast<float>(i % 7) * 9.0f, drop.color = 0x0000C0;
    ParticleManager::GetInstance().AddParticle(drop);
  }
  const auto frame = [](bool shortcuts) {
    SetFrameShortcuts(shortcuts);
    BeginBatchDraw();
    Render_frame();
    return ebf->toImage();
  };
  const auto scene = [](float x, float y, float r) {
    playerdata.player_x = x, playerdata.player_y = y, playerdata.vision_x = x + 15, playerdata.vision_y = y + 15;
    playerdata.vision_radius = r, playerdata.enemy_x = x - 60, playerdata.enemy_y = y + 40;
    emp[0] = 998, emp[1] = 2;  // the aim ring under the sidebar's top-right corner
  };
  const auto differing = [](const QImage& a, const QImage& b) {
    int count = 0;
    for (int py = 0; py < a.height(); ++py)
      for (int px = 0; px < a.width(); ++px) count += a.pixel(px, py) != b.pixel(px, py);
    return count;
  };
  const std::tuple<float, float, float> scenes[] = {{385, 385, 150}, {770, 25, 100}, {400, 700, 120}};
  std::vector<QImage> full;
  for (const auto& [x, y, r] : scenes) scene(x, y, r), full.push_back(frame(false));
  // Frame after frame, as the render loop draws them: the sight moves between scenes, so a
  // frame must also fog what the one before showed.
  for (size_t i = 0; i < full.size(); ++i) {
    const auto& [x, y, r] = scenes[i];
    scene(x, y, r);
    EXPECT_EQ(differing(full[i], frame(true)), 0) << "first frame with the sight at " << x << "," << y;
    EXPECT_EQ(differing(full[i], frame(true)), 0) << "next frame with the sight at " << x << "," << y;
  }
  SetFrameShortcuts(true);
  ParticleManager::GetInstance().RemoveAllParticles(false);
}

// Names of the threads of this process but Qt's pooled painters, which come and go by
// themselves.
std::multiset<std::string> OwnThreads() {
  std::multiset<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name != "Thread (pooled)") names.insert(name);
  }
  return names;
}

std::string Listed(const std::multiset<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += "[" + name + "]";
  return list;
}

// No trail is drawn, so the render loop needs no blur worker or other helper thread.
TEST_F(GameViewTest, TheRenderLoopRunsOnItsOwnThreadAlone) {
  initgraph(1000, 800);
  // A countdown shows: the loop ticks without painting, which keeps Qt's painter pool out of
  // the count.
  playerdata.round_over = true;
  std::thread([] {}).join();  // a thread sanitizer starts its own thread with the first one
  const std::multiset<std::string> before = OwnThreads();
  const int64_t start = frame[kFrameRenderLoop].load();
  ecl = false;
  std::thread render(RenderWhile);
  for (int waited = 0; waited < 10000 && frame[kFrameRenderLoop].load() < start + 5; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::multiset<std::string> during = OwnThreads();
  const int64_t drawn = frame[kFrameRenderLoop].load() - start;
  ecl = true;
  render.join();
  ecl = false;
  EXPECT_GE(drawn, 5);
  EXPECT_EQ(during.size(), before.size() + 1) << Listed(before) << " then " << Listed(during);
}

TEST(TruncatePixelTest, TruncatesAndPinsHugeAndNaNValuesOffScreen) {
  const std::pair<double, int> cases[] = {{12.9, 12}, {-12.9, -12}, {1e30, kFarPixel}, {-1e30, -kFarPixel}, {NAN, -kFarPixel}};
  for (const auto& [in, out] : cases) EXPECT_EQ(TruncatePixel(in), out) << in;
}
}  // namespace
