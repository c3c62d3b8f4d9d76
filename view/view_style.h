// The view's look in one place: its palette, the drawn sizes of what the arena shows, and
// the sidebar's layout. Constants only; read by the drawing code of every view file.
#pragma once

// Colours as RGB() makes them: 0x00BBGGRR, red in the low byte.
namespace palette {
inline constexpr unsigned long kWhite = 0xFFFFFF;
inline constexpr unsigned long kBlack = 0x000000;
inline constexpr unsigned long kRed = 0x0000FF;    // the enemy, the loser's screen, warnings
inline constexpr unsigned long kGreen = 0x00FF00;  // the player, the winner's screen
inline constexpr unsigned long kPaleGrey = 0xE6E6E6;
inline constexpr unsigned long kLightGrey = 0xC8C8C8;
inline constexpr unsigned long kMidGrey = 0x969696;
inline constexpr unsigned long kGrey = 0x7D7D7D;
inline constexpr unsigned long kLineGrey = 0x787878;
inline constexpr unsigned long kFrameGrey = 0x646464;
inline constexpr unsigned long kDarkGrey = 0x505050;
inline constexpr unsigned long kCharcoal = 0x3C3C3C;
}  // namespace palette

// Face of the game's interface text: a sans-serif family that covers CJK.
inline constexpr const wchar_t* kUiFontFace = L"WenQuanYi Micro Hei";

// The arena as drawn.
namespace arena_look {
inline constexpr int kBlockInset = 5;  // a drawn block sits 5 px inside its 50 px cell
inline constexpr int kBlockSize = 40;
inline constexpr int kPlayerRadius = 15;
inline constexpr int kBulletRadius = 3;
inline constexpr int kMouseRingRadius = 15;
// The minimap shows the enemy only within this many pixels of the player.
inline constexpr double kMinimapEnemyRange = 150.0;
}  // namespace arena_look

// The sidebar right of the arena: one column of rounded strips, top to bottom.
namespace sidebar_layout {
inline constexpr int kLeft = 805;
inline constexpr int kWidth = 195;
inline constexpr int kHeight = 800;
inline constexpr int kCorner = 10;     // rounding radius of every strip
inline constexpr int kTextLeft = 810;
inline constexpr int kTextWidth = 185;  // from kTextLeft to a margin before the window's edge
inline constexpr int kFontPixels = 20;
inline constexpr int kMinimapTop = 5;
inline constexpr float kMinimapScale = 0.24375f;  // 195 px for the 800 px arena
inline constexpr int kFrameRateLeft = 875, kFrameRateTop = 205;
inline constexpr int kScoreTop = 230;
inline constexpr int kStatusTop = 270, kStatusHeight = 300;
inline constexpr int kEnergyTop = 280;
inline constexpr int kBarTop = 315;
inline constexpr int kOpponentTop = 355;
inline constexpr int kRoleTop = 775;
inline constexpr int kStripHeight = 30;
inline constexpr int kTextInset = 5;  // text top below its strip's top
}  // namespace sidebar_layout
