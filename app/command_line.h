// The game's command line: the title screen, the local game, a practice match, a direct match
// with the peer given, or a direct match whose peer is asked for on the console. Parsed on
// the main thread before anything else starts.
#pragma once

#include <QStringList>

#include <cstdint>
#include <string>

inline constexpr int kDefaultPracticeLevel = 2;

struct LaunchPlan {
  // Title: the title screen, from which a LAN match or a practice match starts.
  enum class Mode { Title, Local, Practice, Direct, Connect, Exit };
  Mode mode = Mode::Title;
  uint16_t local_port = 0;  // 0 with --connect alone: the first free port from 47000
  std::string peer_ip;      // canonical dotted form
  uint16_t peer_port = 0;
  bool host = false;
  bool muted = false;  // start without sound; M toggles it in play
  int level = kDefaultPracticeLevel;  // the practice opponent's, 1 to 3
  // For Mode::Exit: what to print (on stdout for status 0, else on stderr) and the status.
  int exit_status = 0;
  std::string message;
};

inline constexpr uint16_t kFirstConnectPort = 47000;

// `arguments` as the process got them, program name first.
LaunchPlan ParseCommandLine(const QStringList& arguments);
