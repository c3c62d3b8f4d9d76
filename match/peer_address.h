// Reading and checking the peer's address and port as players type them, and the choices
// that both sides of a direct match must make alike. Pure functions apart from the socket
// probes; called on the main thread before a match starts, and the address ones also on the
// LAN pairing's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// The canonical dotted form of a plain IPv4 address: four decimal numbers 0-255 of one to
// three digits, separated by single dots, nothing else ("010.0.0.1" gives "10.0.0.1").
std::optional<std::string> CanonicalIPv4(const std::string& text);
// A port number 1-65535 written in plain decimal digits.
std::optional<uint16_t> ParsePort(const std::string& text);
// "IP:PORT" with the parts above.
std::optional<std::pair<std::string, uint16_t>> ParsePeer(const std::string& text);

// Which side hosts, decided the same way on both machines without them talking: the side
// whose (address, port) is the lower one. Both sides see the same two endpoints, each
// from its own end, so exactly one of them hosts.
bool DeriveHost(const std::string& local_ip, uint16_t local_port, const std::string& peer_ip, uint16_t peer_port);

// The local address this machine sends from toward `peer_ip` (no datagram leaves); empty
// when there is no route.
std::string LocalAddressToward(const std::string& peer_ip);

// This machine's IPv4 addresses other than loopback, comma-separated; empty when it has none.
std::string LanAddresses();

// True when a socket of `type` (SOCK_DGRAM, SOCK_STREAM) binds to 0.0.0.0 at `port`.
bool PortBinds(int type, uint16_t port);
// First port of [first, last] (port 0 left out) at which a socket of `type` binds; 0 for
// none or an empty range.
uint16_t FirstBindingPort(int type, uint16_t first, uint16_t last = 65535);

// True when a UDP socket binds to 0.0.0.0 at `port`.
bool isUdpPortAvailable(uint16_t port);
// First port from `first` up that a UDP socket can bind; 0 for none.
uint16_t FirstFreeUdpPort(uint16_t first);

// Holds the first free UDP port from `first` up with a bound socket, so that another game
// on this machine probing meanwhile picks a different one; Release hands it over to the
// match just before the match binds it. Port 0 when none could be had.
class UdpPortReservation {
 public:
  explicit UdpPortReservation(uint16_t first);
  ~UdpPortReservation();
  UdpPortReservation(const UdpPortReservation&) = delete;
  UdpPortReservation& operator=(const UdpPortReservation&) = delete;
  uint16_t port() const { return port_; }
  void Release();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};
