// A plain UDP socket on 127.0.0.1 with a system-chosen port, standing for a match's peer or
// a stranger in the loopback tests and benchmarks. Used by one thread at a time.
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
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  uint16_t port = 0;
  LoopbackSocket() {
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t n = sizeof a;
    const int buffer = 1 << 20;  // a whole maze burst fits even while this side is slow to read
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    bind(fd, reinterpret_cast<sockaddr*>(&a), n);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
  }
  ~LoopbackSocket() {
    if (fd >= 0) close(fd);
  }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  void Send(const std::string& text, uint16_t to) const {
    sockaddr_in a{AF_INET, htons(to), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  std::optional<std::string> Receive(int timeout_ms = 1000) const {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    return n < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, static_cast<size_t>(n)));
  }
};

// A UDP port free on 127.0.0.1 and on the wildcard address (as the game binds it), other than
// `other`; 0 when none was found in a few tries.
inline uint16_t FreeLoopbackUdpPort(uint16_t other = 0) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    uint16_t port = 0;
    {
      const LoopbackSocket probe;
      port = probe.port;
    }
    if (port == 0 || port == other) continue;
    sockaddr_in any{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const bool free = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
    if (fd >= 0) close(fd);
    if (free) return port;
  }
  return 0;
}
