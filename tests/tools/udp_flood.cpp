// Floods a UDP port on this machine with datagrams of random content and length for a given
// time, as fast as it can, from two senders at once: another loopback address (127.0.0.2)
// and the peer's own address on a port of its own. Prints how many it sent. For the flood
// tests and benchmark; it sends only to 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

int BoundSocket(const char* address) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, address, &local.sin_addr);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    std::perror(address);
    std::exit(1);
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: udp_flood PORT SECONDS\n");
    return 2;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
  inet_pton(AF_INET, "127.0.0.1", &target.sin_addr);
  const int senders[] = {BoundSocket("127.0.0.2"), BoundSocket("127.0.0.1")};

  std::mt19937 random(12345);
  std::vector<char> payload(1400);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::atof(argv[2]));
  long long sent = 0;
  while (std::chrono::steady_clock::now() < end) {
    for (int burst = 0; burst < 64; ++burst) {
      // Mostly short, sometimes looking like a command, sometimes up to a full datagram.
      const size_t length = random() % 8 == 0 ? random() % payload.size() : 1 + random() % 64;
      for (size_t i = 0; i < length; ++i) payload[i] = static_cast<char>(random());
      if (random() % 4 == 0) std::snprintf(payload.data(), payload.size(), "Coordinate0000000000{%d}{%d}", 1, 1);
      const int fd = senders[burst % 2];
      if (sendto(fd, payload.data(), length, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target) >= 0) ++sent;
    }
  }
  std::printf("%lld\n", sent);
  return 0;
}
