// TCP and UDP peer over POSIX sockets. Blocked accept and receive calls are woken by
// shutdown(); the listen, per-connection and UDP threads are joined by the stops. Failures
// are one line on standard error, framing progress goes to standard output.
#include "transport/dual_protocol_p2p.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <system_error>

#include "services/sleep_micros.h"

DualProtocolP2P p2pCommunicator;

namespace {

constexpr std::size_t kReceiveChunk = 4096;
constexpr int kListenBacklog = 5;
// Pause after accept fails for lack of descriptors or memory, which would otherwise repeat
// at once and spin.
constexpr int64_t kAcceptRetryPauseMicros = 10000;

void ReportFailure(const std::string& what) {
  const int error = errno;
  WriteDiagnosticLine(DiagnosticStream::Error, what + " failed, errno " + std::to_string(error) + " (" +
                                                   std::generic_category().message(error) + ")");
}

sockaddr_in AnyAddress(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  return address;
}

bool PeerAddress(const std::string& ip, unsigned short port, sockaddr_in& address) {
  address = AnyAddress(port);
  if (::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) == 1) return true;
  WriteDiagnosticLine(DiagnosticStream::Error, "Invalid IP address: " + ip);
  return false;
}

std::string AddressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

unsigned short LocalPort(int socket) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (socket < 0 || ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

// A callback may run on the very thread whose handle is being collected; that one is left
// to finish on its own.
void JoinAll(std::vector<std::thread>& threads) {
  for (std::thread& thread : threads) {
    if (!thread.joinable()) continue;
    if (thread.get_id() == std::this_thread::get_id())
      thread.detach();
    else
      thread.join();
  }
  threads.clear();
}

}  // namespace

DualProtocolP2P::TcpLink::~TcpLink() { ::close(socket); }

DualProtocolP2P::~DualProtocolP2P() {
  stopTCP();
  stopUDP();
}

bool DualProtocolP2P::startTCP(unsigned short port) {
  if (tcpRunning.load()) return false;
  const int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) {
    ReportFailure("TCP socket creation");
    return false;
  }
  const int one = 1;
  const sockaddr_in address = AnyAddress(port);
  const char* failed = nullptr;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
    failed = "TCP setsockopt";
  else if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    failed = "TCP bind";
  else if (::listen(fd, kListenBacklog) != 0)
    failed = "TCP listen";
  if (failed != nullptr) {
    ReportFailure(failed);
    ::close(fd);
    tcpListenSocket = -1;
    return false;
  }
  tcpListenSocket = fd;
  tcpRunning.store(true);
  listenThread = std::thread(&DualProtocolP2P::tcpListenThread, this, fd);
  tcpPort = port;
  return true;
}

bool DualProtocolP2P::startUDP(unsigned short port) {
  if (udpRunning.load()) return false;
  const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (fd < 0) {
    ReportFailure("UDP socket creation");
    return false;
  }
  const int one = 1;
  const sockaddr_in address = AnyAddress(port);
  const char* failed = nullptr;
  // No SO_REUSEADDR: on UDP it would let a second process bind the same port and take
  // half of this one's datagrams.
  // Room for a burst (a whole maze is 256 datagrams) while the receive thread is slow to
  // run; the kernel caps it at what the system allows.
  const int buffer = 1 << 20;
  if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0)
    failed = "UDP setsockopt broadcast";
  else if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer) != 0)
    failed = "UDP setsockopt receive buffer";
  else if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    failed = "UDP bind";
  if (failed != nullptr) {
    ReportFailure(failed);
    ::close(fd);
    return false;
  }
  {
    std::unique_lock lock(udpSocketMutex);
    udpSocket = fd;
  }
  udpRunning.store(true);
  udpThread = std::thread(&DualProtocolP2P::udpReceiveThread, this, fd);
  udpPort = port;
  return true;
}

void DualProtocolP2P::stopTCP() {
  tcpRunning.store(false);
  // Shut down, join, and only then close: a listen thread about to call accept must not
  // find the descriptor number reused by some other socket.
  if (tcpListenSocket != -1) ::shutdown(tcpListenSocket, SHUT_RDWR);
  std::vector<std::thread> threads;
  if (listenThread.joinable()) threads.push_back(std::move(listenThread));
  JoinAll(threads);
  if (tcpListenSocket != -1) ::close(tcpListenSocket);
  tcpListenSocket = -1;
  {
    std::lock_guard lock(clientsMutex);
    for (auto& [id, client] : clients) {
      ::shutdown(client.socket, SHUT_RDWR);  // wakes its receive thread, which then ends
      if (client.thread.joinable()) threads.push_back(std::move(client.thread));
    }
    for (std::thread& thread : finishedThreads) threads.push_back(std::move(thread));
    finishedThreads.clear();
  }
  JoinAll(threads);  // without the lock: each receive thread takes it on its way out
  std::lock_guard clientsLock(clientsMutex);
  std::lock_guard statesLock(statesMutex);
  clients.clear();
  connectionStates.clear();
  clientRunning.clear();
}

void DualProtocolP2P::stopUDP() {
  udpRunning.store(false);
  int fd;
  {
    std::shared_lock lock(udpSocketMutex);
    fd = udpSocket;
  }
  if (fd != -1) ::shutdown(fd, SHUT_RDWR);  // a blocked recvfrom returns 0
  if (udpThread.joinable()) {
    std::vector<std::thread> threads;
    threads.push_back(std::move(udpThread));
    JoinAll(threads);
  }
  std::unique_lock lock(udpSocketMutex);  // waits for sends still using the socket
  if (udpSocket != -1) ::close(udpSocket);
  udpSocket = -1;
}

bool DualProtocolP2P::restrictUDPTo(const std::string& ip, unsigned short port) {
  sockaddr_in address{};
  if (!PeerAddress(ip, port, address)) return false;
  std::shared_lock lock(udpSocketMutex);
  return udpSocket != -1 && ::connect(udpSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void DualProtocolP2P::stopAll() {
  stopTCP();
  stopUDP();
}

void DualProtocolP2P::setDataCallback(const DataCallback& callback) {
  std::lock_guard lock(callbackMutex);
  dataCallback = callback;
}

void DualProtocolP2P::setMessageSink(const MessageSink& sink) {
  std::lock_guard lock(callbackMutex);
  messageSink = sink;
}

void DualProtocolP2P::setConnectionCallback(const ConnectionCallback& callback) {
  std::lock_guard lock(callbackMutex);
  connectionCallback = callback;
}

void DualProtocolP2P::tcpListenThread(int listenSocket) {
  while (tcpRunning.load()) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    const int fd = ::accept(listenSocket, reinterpret_cast<sockaddr*>(&address), &size);
    if (fd < 0) {
      if (!tcpRunning.load()) break;
      const int error = errno;
      if (error == EINTR) continue;
      ReportFailure("TCP accept");
      if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) SleepMicros(kAcceptRetryPauseMicros);
      continue;
    }
    adoptConnection(fd, AddressText(address), ntohs(address.sin_port));
  }
}

int DualProtocolP2P::connectTCP(const std::string& ip, unsigned short port) {
  if (!tcpRunning.load()) return -1;
  const int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) {
    ReportFailure("TCP client socket creation");
    return -1;
  }
  sockaddr_in address{};
  if (!PeerAddress(ip, port, address)) {
    ::close(fd);
    return -1;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ReportFailure("TCP connect");
    ::close(fd);
    return -1;
  }
  return adoptConnection(fd, ip, port);
}

int DualProtocolP2P::adoptConnection(int socket, const std::string& ip, unsigned short port) {
  auto link = std::make_shared<TcpLink>(socket);
  std::vector<std::thread> finished;
  int clientId;
  {
    std::lock_guard lock(clientsMutex);
    if (!tcpRunning.load()) return -1;  // a stop came first; the link closes the socket
    // Each connection costs a thread and a frame buffer of up to 10 MiB: strangers opening
    // connections without end must not be able to take the process down.
    if (clients.size() >= kMaxTcpConnections) return -1;
    clientId = nextClientId++;
    TCPClient& client = clients[clientId];
    client.socket = socket;
    client.ip = ip;
    client.port = port;
    client.link = link;
    client.thread = std::thread(&DualProtocolP2P::tcpClientReceiveThread, this, clientId, link, ip, port);
    finished.swap(finishedThreads);
  }
  JoinAll(finished);
  callConnectionCallback(ip, port, true);
  link->announced.store(true);
  link->announced.notify_all();
  return clientId;
}

void DualProtocolP2P::tcpClientReceiveThread(int clientId, std::shared_ptr<TcpLink> link, std::string ip,
                                             unsigned short port) {
  std::atomic<bool>* running;
  TcpFrameDecoder* decoder;  // map nodes stay put; only this thread uses its decoder
  {
    std::lock_guard lock(statesMutex);
    decoder = &connectionStates.insert_or_assign(clientId, TcpFrameDecoder(clientId)).first->second;
    running = &clientRunning[clientId];
    running->store(true);
  }
  const auto deliver = [&](std::string&& payload) {
    callDataCallback(NetworkMessage{std::move(payload), ip, port, ProtocolType::TCP});
  };
  char buffer[kReceiveChunk];
  while (tcpRunning.load() && running->load()) {
    // The rest of a large body is read straight into place, in as few calls as the socket
    // allows; headers and small bodies go through the fixed buffer.
    const std::span<char> room = decoder->bodySpace();
    const bool inPlace = room.size() >= kReceiveChunk;
    const ssize_t received =
        ::recv(link->socket, inPlace ? room.data() : buffer, inPlace ? room.size() : sizeof buffer, 0);
    if (received > 0) {
      if (inPlace)
        decoder->bodyReceived(static_cast<std::size_t>(received), deliver);
      else
        decoder->processTCPData(buffer, static_cast<std::size_t>(received), deliver);
    } else if (received == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;
    }
  }
  running->store(false);
  // Also wakes a sender blocked on a peer that no longer reads.
  ::shutdown(link->socket, SHUT_RDWR);
  {
    std::lock_guard clientsLock(clientsMutex);
    std::lock_guard statesLock(statesMutex);
    if (auto it = clients.find(clientId); it != clients.end()) {
      if (it->second.thread.joinable()) finishedThreads.push_back(std::move(it->second.thread));
      clients.erase(it);
    }
    connectionStates.erase(clientId);
    clientRunning.erase(clientId);
  }
  link->announced.wait(false);
  link.reset();  // closes the socket unless a send still holds it
  callConnectionCallback(ip, port, false);
}

bool DualProtocolP2P::sendTCPDataInternal(int socket, const std::string& data) {
  if (socket == -1 || !tcpRunning.load()) return false;
  // A longer payload would be refused by the receiver and its body then read as garbage.
  if (data.size() > kTcpMaxFrameLength) {
    WriteDiagnosticLine(DiagnosticStream::Error, "TCP message of " + std::to_string(data.size()) +
                                                     " bytes not sent: the maximum is " +
                                                     std::to_string(kTcpMaxFrameLength) + " bytes");
    return false;
  }
  // MSG_NOSIGNAL: a vanished peer must not kill the process with SIGPIPE. MSG_MORE lets the
  // header leave in the same segment as the body.
  const std::string header = EncodeTcpFrameHeader(static_cast<uint32_t>(data.size()));
  const int headerFlags = MSG_NOSIGNAL | (data.empty() ? 0 : MSG_MORE);
  ssize_t sent;
  do sent = ::send(socket, header.data(), header.size(), headerFlags);
  while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(header.size())) {
    ReportFailure("TCP message header send");
    return false;
  }
  for (std::size_t done = 0; done < data.size();) {
    sent = ::send(socket, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      ReportFailure("TCP message body send");
      return false;
    }
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

bool DualProtocolP2P::sendOnLink(TcpLink& link, const std::string& data) {
  std::lock_guard lock(link.sendMutex);
  return sendTCPDataInternal(link.socket, data);
}

bool DualProtocolP2P::sendData(const std::string& ip, unsigned short port, const std::string& data,
                               ProtocolType protocol) {
  if (protocol == ProtocolType::UDP) {
    std::shared_lock lock(udpSocketMutex);
    if (!udpRunning.load() || udpSocket == -1) return false;
    sockaddr_in address{};
    if (!PeerAddress(ip, port, address)) return false;
    return ::sendto(udpSocket, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                    sizeof address) != -1;
  }
  std::shared_ptr<TcpLink> link;
  {
    std::lock_guard lock(clientsMutex);
    for (const auto& [id, client] : clients) {
      if (client.ip == ip && client.port == port) {
        link = client.link;
        break;
      }
    }
  }
  // Sent outside clientsMutex, so a peer that stops reading cannot hold up the others or a stop.
  return link != nullptr && sendOnLink(*link, data);
}

bool DualProtocolP2P::broadcastUDP(const std::string& ip, unsigned short port, const std::string& data) {
  return sendData(ip, port, data, ProtocolType::UDP);
}

bool DualProtocolP2P::sendDataByTCPId(int clientId, const std::string& data) {
  std::shared_ptr<TcpLink> link;
  {
    std::lock_guard lock(clientsMutex);
    if (auto it = clients.find(clientId); it != clients.end()) link = it->second.link;
  }
  return link != nullptr && sendOnLink(*link, data);
}

DualProtocolP2P::PeerList DualProtocolP2P::getTCPpeers() const {
  std::lock_guard lock(clientsMutex);
  PeerList peers;
  for (const auto& [id, client] : clients) peers.emplace_back(client.ip, client.port);
  return peers;
}

unsigned short DualProtocolP2P::boundPort(ProtocolType protocol) const {
  if (protocol == ProtocolType::TCP) return tcpRunning.load() ? LocalPort(tcpListenSocket) : 0;
  std::shared_lock lock(udpSocketMutex);
  return udpRunning.load() ? LocalPort(udpSocket) : 0;
}

void DualProtocolP2P::udpReceiveThread(int socket) {
  char buffer[kReceiveChunk];
  while (udpRunning.load()) {
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t received =
        ::recvfrom(socket, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (received > 0) {
      buffer[received] = '\0';
      callDataCallback(NetworkMessage{std::string(buffer), AddressText(from), ntohs(from.sin_port), ProtocolType::UDP});
    } else if (received < 0 && errno != EAGAIN && errno != ECONNRESET && errno != EINTR && errno != ECONNREFUSED) {
      // (A connected socket reports the peer's port being closed as ECONNREFUSED: the peer
      // may simply not have started yet.)
      ReportFailure("UDP recvfrom");
      break;
    }
  }
}

void DualProtocolP2P::callDataCallback(NetworkMessage&& message) {
  std::lock_guard lock(callbackMutex);
  try {
    if (messageSink)
      messageSink(std::move(message));
    else if (dataCallback)
      dataCallback(message);
  } catch (const std::exception& e) {
    WriteDiagnosticLine(DiagnosticStream::Error, std::string("Data callback exception: ") + e.what());
  } catch (...) {
    WriteDiagnosticLine(DiagnosticStream::Error, "Data callback exception of unrecognised type");
  }
}

void DualProtocolP2P::callConnectionCallback(const std::string& ip, unsigned short port, bool connected) {
  ConnectionCallback callback;
  {
    std::lock_guard lock(callbackMutex);
    callback = connectionCallback;
  }
  if (!callback) return;
  // Caught here too: an escaping exception would leave the connection's end unreported.
  try {
    callback(ip, port, connected, ProtocolType::TCP);
  } catch (const std::exception& e) {
    WriteDiagnosticLine(DiagnosticStream::Error, std::string("Connection callback exception: ") + e.what());
  } catch (...) {
    WriteDiagnosticLine(DiagnosticStream::Error, "Connection callback exception of unrecognised type");
  }
}
