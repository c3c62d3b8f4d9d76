// Game view routines, checked on the offscreen frame buffer's pixels over a white frame.
#include "gfx/graphics.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "view/game_view.h"
#include "view/view_drawing.h"
#include <gtest/gtest.h>
#include <cmath>
#include <functional>

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

TEST(TruncatePixelTest, TruncatesAndPinsHugeAndNaNValuesOffScreen) {
  const std::pair<double, int> cases[] = {{12.9, 12}, {-12.9, -12}, {1e30, kFarPixel}, {-1e30, -kFarPixel}, {NAN, -kFarPixel}};
  for (const auto& [in, out] : cases) EXPECT_EQ(TruncatePixel(in), out) << in;
}
}  // namespace
