// The title screen and the LAN lobby loop on the main thread; the pairing itself runs on its own background thread.
#include "app/lan_lobby.h"

#include "match/lan_pairing.h"
#include "match/peer_address.h"
#include "transport/udp_room_manager.h"
#include "view/start_screen.h"

std::optional<LaunchPlan> RunLanLobby(uint16_t match_port) {
  LanPairing pairing(UdpRoomManager::GetInstance(), match_port);
  const std::string lan_address = LanAddresses();
  for (;;) {
    const std::string chosen = _start(lan_address);
    if (chosen.empty()) return std::nullopt;
    if (chosen == kPracticeButtonText) {
      LaunchPlan plan;
      plan.mode = LaunchPlan::Mode::Practice;
      return plan;
    }
    pairing.Start();
    for (;;) {
      if (const std::optional<LanPairing::Result> paired = pairing.result()) {
        LaunchPlan plan;
        plan.mode = LaunchPlan::Mode::Direct;
        plan.local_port = match_port;
        plan.peer_ip = paired->peer_ip;
        plan.peer_port = paired->peer_port;
        plan.host = paired->host;
        return plan;
      }
      const LobbyInput input = ShowLobbyStatus(pairing.StatusText());
      if (input == LobbyInput::Closed) return std::nullopt;  // the pairing is cancelled as it goes
      if (input == LobbyInput::Back) {
        pairing.Cancel();
        break;
      }
    }
  }
}
