// Message queue in front of the peer transport: every received message is queued, the game's
// threads take them with or without waiting. Producers are the transport's receive threads;
// consumers and senders are any threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "transport/dual_protocol_p2p.h"

class NetworkManager {
 public:
  NetworkManager();
  ~NetworkManager();
  NetworkManager(const NetworkManager&) = delete;
  NetworkManager& operator=(const NetworkManager&) = delete;

  // Starts both channels; true only when both started. When one of them fails the other is
  // stopped again, so the manager is left fully stopped and can be started later.
  bool start(unsigned short tcpPort, unsigned short udpPort);
  // Starts the datagram channel alone: no listener, no connections. What a match needs.
  bool startUDP(unsigned short udpPort);
  // Stops both channels and wakes every waiter. The queue is kept.
  void stop();

  // All sends and connects are refused (false, -1) unless running.
  bool sendTCP(const std::string& ip, unsigned short port, const std::string& data);
  bool sendTCP(int clientId, const std::string& data);
  bool sendUDP(const std::string& ip, unsigned short port, const std::string& data);
  bool broadcastUDP(const std::string& ip, unsigned short port, const std::string& data);
  int connectTCP(const std::string& ip, unsigned short port);

  // Takes the oldest message without waiting; false (and `out` untouched) when none.
  bool getMessage(NetworkMessage& out);
  // Takes every queued message in arrival order, without waiting; the number taken.
  size_t takeMessages(std::deque<NetworkMessage>& out);
  // Takes the oldest message, waiting up to `timeoutMs` (forever when negative, not at all
  // when 0). False on time-out and whenever the manager is stopped, queued messages or not.
  bool waitMessage(NetworkMessage& out, int timeoutMs);

  std::vector<std::pair<std::string, unsigned short>> getTCPpeers() const;
  bool isRunnings() const;
  // Local port of a running channel (the system's pick after port 0), else 0.
  unsigned short boundPort(ProtocolType protocol) const;

  // Only datagrams and frames from ip:port are queued from now on; everything else is
  // dropped as it arrives, datagrams already by the system (the UDP socket is connected to
  // ip:port while running). An empty ip accepts everyone again on the queue's side.
  void acceptOnlyFrom(const std::string& ip, unsigned short port);

  // Bounds of the queue: past either, the oldest messages make room. A peer or a stranger
  // sending faster than the game reads can cost this much memory and no more.
  static constexpr size_t kMaxQueuedMessages = 4096;
  static constexpr size_t kMaxQueuedBytes = 16 * 1024 * 1024;

  // The producer side: queues the message (a copy, or the message itself when handed over)
  // and wakes one waiter.
  void onDataReceived(const NetworkMessage& message);
  void onDataReceived(NetworkMessage&& message);

 private:
  bool StartDatagrams(unsigned short udpPort);

  DualProtocolP2P peer;
  std::deque<NetworkMessage> messageQueue;
  size_t queuedBytes = 0;        // payload bytes in messageQueue; under queueMutex
  std::string acceptedIp;        // under queueMutex; empty: everyone
  unsigned short acceptedPort = 0;
  std::mutex queueMutex;
  std::condition_variable queueCondition;
  std::atomic<bool> running{false};
};

// The match's transport.
extern NetworkManager _network;
