// Queue and send gate over the peer transport. onDataReceived runs on the transport's receive
// threads; the takes and sends on the game's threads; start and stop on the owner's thread.
#include "transport/network_manager.h"

#include <chrono>

NetworkManager _network;

NetworkManager::NetworkManager() {
  // Handed over rather than copied: a copy of each payload was the largest cost per frame.
  peer.setMessageSink([this](NetworkMessage&& message) { onDataReceived(std::move(message)); });
}

NetworkManager::~NetworkManager() {
  stop();
  // Before the queue goes: no receive thread may still be pushing into it.
  peer.stopAll();
}

bool NetworkManager::start(unsigned short tcpPort, unsigned short udpPort) {
  if (running.load()) return false;
  if (!peer.startTCP(tcpPort)) return false;
  if (StartDatagrams(udpPort)) return true;
  // A half-started manager could neither be started again nor stopped; undo the half.
  peer.stopTCP();
  return false;
}

bool NetworkManager::startUDP(unsigned short udpPort) { return !running.load() && StartDatagrams(udpPort); }

bool NetworkManager::StartDatagrams(unsigned short udpPort) {
  if (!peer.startUDP(udpPort)) return false;
  std::string ip;
  unsigned short port = 0;
  {
    std::lock_guard lock(queueMutex);
    ip = acceptedIp;
    port = acceptedPort;
  }
  if (!ip.empty()) peer.restrictUDPTo(ip, port);
  running.store(true);
  return true;
}

void NetworkManager::stop() {
  if (!running.load()) return;
  peer.stopTCP();
  peer.stopUDP();
  {
    // Cleared under the lock so a waiter cannot miss it between its check and its sleep.
    std::lock_guard lock(queueMutex);
    running.store(false);
  }
  queueCondition.notify_all();
}

bool NetworkManager::sendTCP(const std::string& ip, unsigned short port, const std::string& data) {
  return running.load() && peer.sendData(ip, port, data, ProtocolType::TCP);
}

bool NetworkManager::sendTCP(int clientId, const std::string& data) {
  return running.load() && peer.sendDataByTCPId(clientId, data);
}

bool NetworkManager::sendUDP(const std::string& ip, unsigned short port, const std::string& data) {
  return running.load() && peer.sendData(ip, port, data, ProtocolType::UDP);
}

bool NetworkManager::broadcastUDP(const std::string& ip, unsigned short port, const std::string& data) {
  return sendUDP(ip, port, data);
}

int NetworkManager::connectTCP(const std::string& ip, unsigned short port) {
  return running.load() ? peer.connectTCP(ip, port) : -1;
}

bool NetworkManager::getMessage(NetworkMessage& out) {
  std::lock_guard lock(queueMutex);
  if (messageQueue.empty()) return false;
  queuedBytes -= messageQueue.front().data.size();
  out = std::move(messageQueue.front());
  messageQueue.pop_front();
  return true;
}

size_t NetworkManager::takeMessages(std::deque<NetworkMessage>& out) {
  out.clear();
  std::lock_guard lock(queueMutex);
  out.swap(messageQueue);
  queuedBytes = 0;
  return out.size();
}

bool NetworkManager::waitMessage(NetworkMessage& out, int timeoutMs) {
  std::unique_lock lock(queueMutex);
  const auto ready = [this] { return !messageQueue.empty() || !running.load(); };
  if (timeoutMs < 0)
    queueCondition.wait(lock, ready);
  else
    queueCondition.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs), ready);
  if (!running.load() || messageQueue.empty()) return false;
  queuedBytes -= messageQueue.front().data.size();
  out = std::move(messageQueue.front());
  messageQueue.pop_front();
  return true;
}

std::vector<std::pair<std::string, unsigned short>> NetworkManager::getTCPpeers() const { return peer.getTCPpeers(); }

bool NetworkManager::isRunnings() const { return running.load(); }

unsigned short NetworkManager::boundPort(ProtocolType protocol) const { return peer.boundPort(protocol); }

void NetworkManager::onDataReceived(const NetworkMessage& message) { onDataReceived(NetworkMessage(message)); }

void NetworkManager::acceptOnlyFrom(const std::string& ip, unsigned short port) {
  {
    std::lock_guard lock(queueMutex);
    acceptedIp = ip;
    acceptedPort = port;
  }
  if (running.load() && !ip.empty()) peer.restrictUDPTo(ip, port);
}

void NetworkManager::onDataReceived(NetworkMessage&& message) {
  {
    std::lock_guard lock(queueMutex);
    if (!acceptedIp.empty() && (message.port != acceptedPort || message.ip != acceptedIp)) return;
    if (message.data.size() > kMaxQueuedBytes) return;
    while (!messageQueue.empty() &&
           (messageQueue.size() >= kMaxQueuedMessages || queuedBytes + message.data.size() > kMaxQueuedBytes)) {
      queuedBytes -= messageQueue.front().data.size();
      messageQueue.pop_front();
    }
    queuedBytes += message.data.size();
    messageQueue.push_back(std::move(message));
  }
  queueCondition.notify_one();
}
