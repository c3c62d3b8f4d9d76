// Address and port parsing, the host choice and UDP port probes (main thread before a match;
// the LAN pairing's thread too).
#include "match/peer_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <vector>

namespace {

// The number a run of 1 to `max_digits` decimal digits stands for; nothing for anything else.
std::optional<unsigned long> Decimal(const std::string& text, size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  unsigned long value = 0;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == separator)
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

uint32_t AddressValue(const std::string& canonical) {
  in_addr address{};
  inet_pton(AF_INET, canonical.c_str(), &address);
  return ntohl(address.s_addr);
}

}  // namespace

std::optional<std::string> CanonicalIPv4(const std::string& text) {
  const std::vector<std::string> parts = Split(text, '.');
  if (parts.size() != 4) return std::nullopt;
  std::string canonical;
  for (const std::string& part : parts) {
    const std::optional<unsigned long> value = Decimal(part, 3);
    if (!value || *value > 255) return std::nullopt;
    if (!canonical.empty()) canonical += '.';
    canonical += std::to_string(*value);
  }
  return canonical;
}

std::optional<uint16_t> ParsePort(const std::string& text) {
  const std::optional<unsigned long> value = Decimal(text, 5);
  if (!value || *value < 1 || *value > 65535) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

std::optional<std::pair<std::string, uint16_t>> ParsePeer(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::optional<std::string> ip = CanonicalIPv4(text.substr(0, colon));
  const std::optional<uint16_t> port = ParsePort(text.substr(colon + 1));
  if (!ip || !port) return std::nullopt;
  return std::pair{*ip, *port};
}

bool DeriveHost(const std::string& local_ip, uint16_t local_port, const std::string& peer_ip, uint16_t peer_port) {
  const uint32_t local = AddressValue(local_ip), peer = AddressValue(peer_ip);
  if (local != peer) return local < peer;
  return local_port < peer_port;
}

std::string LocalAddressToward(const std::string& peer_ip) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(9);  // any port: a UDP connect only picks the route
  std::string result;
  if (inet_pton(AF_INET, peer_ip.c_str(), &peer.sin_addr) == 1 &&
      connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    char text[INET_ADDRSTRLEN] = {};
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) != nullptr)
      result = text;
  }
  close(fd);
  return result;
}

std::string LanAddresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string addresses;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0 || (entry->ifa_flags & IFF_UP) == 0) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) continue;
    if (!addresses.empty()) addresses += ", ";
    addresses += text;
  }
  freeifaddrs(list);
  return addresses;
}

namespace {

// A socket of `type` bound to 0.0.0.0:port, or -1.
int BindAnyAddress(int type, uint16_t port) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}

}  // namespace

bool PortBinds(int type, uint16_t port) {
  const int fd = BindAnyAddress(type, port);
  if (fd < 0) return false;
  close(fd);
  return true;
}

uint16_t FirstBindingPort(int type, uint16_t first, uint16_t last) {
  // A wider counter, so a range ending at 65535 does not wrap round.
  for (unsigned int port = first == 0 ? 1 : first; port <= last; ++port)
    if (PortBinds(type, static_cast<uint16_t>(port))) return static_cast<uint16_t>(port);
  return 0;
}

bool isUdpPortAvailable(uint16_t port) { return PortBinds(SOCK_DGRAM, port); }

uint16_t FirstFreeUdpPort(uint16_t first) { return FirstBindingPort(SOCK_DGRAM, first); }

UdpPortReservation::UdpPortReservation(uint16_t first) {
  for (unsigned int port = first == 0 ? 1 : first; port <= 65535 && fd_ < 0; ++port) {
    fd_ = BindAnyAddress(SOCK_DGRAM, static_cast<uint16_t>(port));
    if (fd_ >= 0) port_ = static_cast<uint16_t>(port);
  }
}

UdpPortReservation::~UdpPortReservation() { Release(); }

void UdpPortReservation::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

