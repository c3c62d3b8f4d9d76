// The sidebar right of the arena (minimap, frame rate, score, energy, role) and the
// multi-line text routines that the sidebar, start screen and countdown screens draw with.
// Drawn on the render thread inside its batch; DrawTexts2 also on the main thread's countdowns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Face of the game's interface text: a sans-serif family that covers CJK.
inline constexpr const wchar_t* kUiFontFace = L"WenQuanYi Micro Hei";

// Frame-rate figure shown in the sidebar; written only by Render_sidebar.
extern int64_t _frame;

void Render_sidebar();

// Draws `text` one line per '&'-separated segment, the first line's top at y.
void DrawTexts(int x, int y, const std::string& text);
void DrawTexts1(int x, int y, const std::string& text);
void DrawTexts2(int x, int y, const std::string& text);

// DrawTexts for a fixed layout: when a line is wider than `max_width` pixels in the current
// font, the same face is scaled down just enough to fit, so a figure at the end of a line is
// never cut off at the window's edge. The current font is restored afterwards.
void DrawTextsFitted(int x, int y, const std::string& text, int max_width);

// The lines DrawTexts draws: k separators give k + 1 segments, empty ones included.
std::vector<std::string> SplitTextLines(const std::string& text);

// The sidebar's text lines.
std::string FrameText(int64_t rate);
std::string ScoreText(int32_t kills, int32_t deaths);
std::string EnergyText(float energy, float max_energy);
std::string RoleText(bool is_host);
// The networked match's line about the peer: whether its positions are coming in.
std::string OpponentText(bool connected);
