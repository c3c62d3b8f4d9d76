// A plain UDP socket on 127.0.0.1, standing for a match's peer, a stranger or another
// machine's room in the loopback tests and benchmarks. Used by one thread at a time.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

struct LoopbackSocket {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  uint16_t port = 0;  // 0 when `wanted` could not be had
  // On `wanted` (0: the system picks); `shared` binds every address beside another socket on
  // that port, as a second room on the machine would.
  explicit LoopbackSocket(uint16_t wanted = 0, bool shared = false) {
    sockaddr_in a{AF_INET, htons(wanted), {htonl(shared ? INADDR_ANY : INADDR_LOOPBACK)}, {}};
    socklen_t n = sizeof a;
    const int buffer = 1 << 20, on = 1;  // a whole maze burst fits even while this side is slow to read
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (shared) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), n) == 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0)
      port = ntohs(a.sin_port);
  }
  ~LoopbackSocket() { close(fd); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  void Send(const std::string& text, uint16_t to) const {
    sockaddr_in a{AF_INET, htons(to), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  // One datagram, or nothing after `timeout_ms`; `from` gets the sender's port.
  std::optional<std::string> Receive(int timeout_ms = 1000, uint16_t* from = nullptr) const {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    char buffer[4096];
    sockaddr_in a{};
    socklen_t n = sizeof a;
    const ssize_t size = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&a), &n);
    if (from != nullptr) *from = ntohs(a.sin_port);
    return size < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, static_cast<size_t>(size)));
  }
};

// A UDP port free on 127.0.0.1 and on the wildcard address (as the game binds it), other than
// `other`; 0 when none was found in a few tries.
inline uint16_t FreeLoopbackUdpPort(uint16_t other = 0) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const uint16_t port = LoopbackSocket().port;
    if (port == 0 || port == other) continue;
    const sockaddr_in any{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);  // no SO_REUSEADDR, like the game's
    const bool free = bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
    close(fd);
    if (free) return port;
  }
  return 0;
}
