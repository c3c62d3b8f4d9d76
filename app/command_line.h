// The game's command line: the local game, a direct match with the peer given, or a
// direct match whose peer is asked for on the console. Parsed on the main thread before
// anything else starts.
#pragma once

#include <QStringList>

#include <cstdint>
#include <string>

struct LaunchPlan {
  enum class Mode { Local, Direct, Connect, Lan, Exit };
  Mode mode = Mode::Local;
  uint16_t local_port = 0;  // 0 with --connect alone: the first free port from 47000
  std::string peer_ip;      // canonical dotted form
  uint16_t peer_port = 0;
  bool host = false;
  bool muted = false;  // start without sound; M toggles it in play
  // For Mode::Exit: what to print (on stdout for status 0, else on stderr) and the status.
  int exit_status = 0;
  std::string message;
};

inline constexpr uint16_t kFirstConnectPort = 47000;

// `arguments` as the process got them, program name first.
LaunchPlan ParseCommandLine(const QStringList& arguments);
