// Peer transport over IPv4: a TCP channel with any number of framed connections and one UDP
// socket, each received message handed to one data callback. Threads: the listen thread, one
// receive thread per TCP connection, the UDP receive thread, and any caller's thread.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "transport/tcp_frame_decoder.h"

enum class ProtocolType : int { TCP = 0, UDP = 1 };

struct NetworkMessage {
  std::string data;
  std::string ip;          // sender, dotted decimal
  unsigned short port = 0;  // sender, host order
  ProtocolType protocol = ProtocolType::TCP;
};

class DualProtocolP2P {
 public:
  // Connections held at once; one more is closed as soon as it is accepted or made.
  static constexpr size_t kMaxTcpConnections = 16;
  using DataCallback = std::function<void(const NetworkMessage&)>;
  using MessageSink = std::function<void(NetworkMessage&&)>;
  using ConnectionCallback =
      std::function<void(const std::string& ip, unsigned short port, bool connected, ProtocolType protocol)>;
  using PeerList = std::vector<std::pair<std::string, unsigned short>>;

  DualProtocolP2P() = default;
  ~DualProtocolP2P();
  DualProtocolP2P(const DualProtocolP2P&) = delete;
  DualProtocolP2P& operator=(const DualProtocolP2P&) = delete;

  // Start and stop one channel; a start while running returns false, a stop while stopped
  // does nothing. Port 0 lets the system choose. Start and stop one object from one thread
  // at a time, and not from inside a callback.
  bool startTCP(unsigned short port);
  bool startUDP(unsigned short port);
  // Returns once the listener, every connection and all their threads are gone; each
  // connection has reported its end to the connection callback by then.
  void stopTCP();
  void stopUDP();
  void stopAll();

  // Data: called on the receive threads, one call at a time; must not replace the callback.
  void setDataCallback(const DataCallback& callback);
  // Like the data callback but hands each message over to keep, without a copy of its
  // payload; when set, it is called instead of the data callback.
  void setMessageSink(const MessageSink& sink);
  // Connection made (true) or ended (false); called outside every lock, the end always
  // after the start of the same connection.
  void setConnectionCallback(const ConnectionCallback& callback);

  // Blocking connect; needs the TCP channel started. The new client id, or -1.
  int connectTCP(const std::string& ip, unsigned short port);
  // UDP: one datagram to ip:port. TCP: one frame to the first connection whose peer is
  // exactly ip:port.
  bool sendData(const std::string& ip, unsigned short port, const std::string& data, ProtocolType protocol);
  bool broadcastUDP(const std::string& ip, unsigned short port, const std::string& data);
  bool sendDataByTCPId(int clientId, const std::string& data);
  // Connects the UDP socket to ip:port, so the system drops every other sender's datagrams
  // before they take room in the socket's buffer; sends to any address still work. False
  // when the UDP channel is stopped or the address is not IPv4.
  bool restrictUDPTo(const std::string& ip, unsigned short port);
  // (ip, port) of every live connection, by ascending client id.
  PeerList getTCPpeers() const;
  // The local port a running channel is bound to (the system's pick after port 0); 0 when
  // the channel is stopped.
  unsigned short boundPort(ProtocolType protocol) const;

 private:
  // One connection's socket, shared by its receive thread and whoever is sending on it, so
  // the descriptor is closed only when neither uses it any more.
  struct TcpLink {
    explicit TcpLink(int fd) : socket(fd) {}
    ~TcpLink();
    const int socket;
    std::mutex sendMutex;  // frames on one connection never interleave
    std::atomic<bool> announced{false};  // the "connected" report is out
  };

  struct TCPClient {
    int socket = -1;
    std::thread thread;
    std::string ip;
    unsigned short port = 0;
    std::shared_ptr<TcpLink> link;
  };

  void tcpListenThread(int listenSocket);
  void tcpClientReceiveThread(int clientId, std::shared_ptr<TcpLink> link, std::string ip, unsigned short port);
  void udpReceiveThread(int socket);
  bool sendTCPDataInternal(int socket, const std::string& data);
  bool sendOnLink(TcpLink& link, const std::string& data);
  // Registers an accepted or connected socket and starts its receive thread.
  int adoptConnection(int socket, const std::string& ip, unsigned short port);
  void callDataCallback(NetworkMessage&& message);
  void callConnectionCallback(const std::string& ip, unsigned short port, bool connected);

  std::atomic<bool> tcpRunning{false};
  int tcpListenSocket = -1;
  std::thread listenThread;
  unsigned short tcpPort = 0;
  std::map<int, TCPClient> clients;
  mutable std::mutex clientsMutex;
  int nextClientId = 1;  // under clientsMutex
  // Receive threads that ended on their own, joined by the next connection or by stopTCP.
  std::vector<std::thread> finishedThreads;  // under clientsMutex

  std::atomic<bool> udpRunning{false};
  int udpSocket = -1;
  mutable std::shared_mutex udpSocketMutex;  // sends share it; start and stop replace the socket
  std::thread udpThread;
  unsigned short udpPort = 0;

  DataCallback dataCallback;
  MessageSink messageSink;
  ConnectionCallback connectionCallback;
  std::mutex callbackMutex;  // guards the callbacks and the sink

  std::map<int, std::atomic<bool>> clientRunning;
  std::map<int, TcpFrameDecoder> connectionStates;
  std::mutex statesMutex;
};

// A free-standing instance that lives for the whole process.
extern DualProtocolP2P p2pCommunicator;
