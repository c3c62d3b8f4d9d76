// The sidebar right of the arena (minimap, frame rate, score, energy, role) and its texts.
// Drawn on the render thread inside its batch.
#pragma once

#include <QRegion>

#include <cstdint>
#include <string>

// Frame-rate figure shown in the sidebar; written only by Render_sidebar.
extern int64_t _frame;

// Draws the sidebar over a frame buffer that holds last frame's sidebar outside
// `drawn_over`; returns the part of it that may show other pixels than last time.
QRegion Render_sidebar(const QRegion& drawn_over);
// On (the default), the sidebar is drawn again only when something on it changed, and
// reused otherwise; off, it is drawn every frame. Render thread, between frames.
void SetSidebarCache(bool on);

// The sidebar's text lines.
std::string FrameText(int64_t rate);
std::string ScoreText(int32_t kills, int32_t deaths);
std::string EnergyText(float energy, float max_energy);
std::string RoleText(bool is_host);
// The networked match's line about the peer: whether its positions are coming in.
std::string OpponentText(bool connected);
std::string PracticeOpponentText(int level);
