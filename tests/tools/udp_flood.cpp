// Floods a UDP port on this machine with datagrams of random content and length for a given
// time, as fast as it can, from two senders at once: another loopback address (127.0.0.2)
// and the peer's own address on a port of its own. Prints how many it sent. For the flood
// tests and benchmark; it sends only to 127.0.0.1. Arguments: PORT SECONDS.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto address = [](const char* text, uint16_t port) {
    sockaddr_in address{AF_INET, htons(port), {}, {}};
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
  };
  const sockaddr_in target = address("127.0.0.1", static_cast<uint16_t>(std::atoi(argv[1])));
  int senders[2];
  for (int i = 0; i < 2; ++i) {
    const sockaddr_in local = address(i == 0 ? "127.0.0.2" : "127.0.0.1", 0);
    senders[i] = socket(AF_INET, SOCK_DGRAM, 0);
    if (bind(senders[i], reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return 1;
  }
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
      const sockaddr* to = reinterpret_cast<const sockaddr*>(&target);
      if (sendto(senders[burst % 2], payload.data(), length, 0, to, sizeof target) >= 0) ++sent;
    }
  }
  std::printf("%lld\n", sent);
  return 0;
}
