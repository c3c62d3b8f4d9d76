// Loopback transport cost: TCP frames of 64 KiB and 1 MiB and UDP round trips of 60-byte
// datagrams through NetworkManager, each beside a bare socket loop doing the same transfer in
// the same iteration; the "ratio" counter is manager speed over bare speed. Only 127.0.0.1 is
// ever sent to. Test thread plus one helper thread per case and the transport's threads.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "transport/network_manager.h"

namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr int kWaitMs = 10000;  // any single wait longer than this is a failure
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

sockaddr_in LoopbackAddress(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

unsigned short LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

int BoundSocket(int type) {
  const int fd = socket(AF_INET, type, 0);
  const sockaddr_in address = LoopbackAddress(0);
  bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return fd;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, char* data, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = recv(fd, data + done, size - done, 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A connected TCP pair on loopback for the bare loop.
struct BareTcpPair {
  BareTcpPair() {
    const int listener = BoundSocket(SOCK_STREAM);
    listen(listener, 1);
    sender = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = LoopbackAddress(LocalPort(listener));
    connect(sender, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    receiver = accept(listener, nullptr, nullptr);
    close(listener);
  }
  ~BareTcpPair() {
    close(sender);
    close(receiver);
  }
  int sender, receiver;
};

// The bare loop: header then payload out, header then body in, a fresh string per frame.
bool BareTcpBatch(BareTcpPair& pair, const std::string& payload, int frames) {
  std::thread writer([&] {
    const std::string header = EncodeTcpFrameHeader(static_cast<uint32_t>(payload.size()));
    for (int i = 0; i < frames; ++i)
      if (!SendAll(pair.sender, header.data(), header.size()) || !SendAll(pair.sender, payload.data(), payload.size()))
        return;
  });
  bool ok = true;
  for (int i = 0; i < frames && ok; ++i) {
    unsigned char header[kTcpFrameHeaderSize];
    ok = ReceiveAll(pair.receiver, reinterpret_cast<char*>(header), sizeof header);
    const std::size_t length = (std::size_t(header[4]) << 24) | (header[5] << 16) | (header[6] << 8) | header[7];
    std::string body(length, '\0');
    ok = ok && ReceiveAll(pair.receiver, body.data(), length);
    benchmark::DoNotOptimize(body.data());
  }
  if (!ok) shutdown(pair.receiver, SHUT_RDWR);  // so a blocked writer gives up
  writer.join();
  return ok;
}

bool ManagerTcpBatch(NetworkManager& from, int clientId, NetworkManager& to, const std::string& payload, int frames) {
  std::thread writer([&] {
    for (int i = 0; i < frames && from.sendTCP(clientId, payload);) ++i;
  });
  bool ok = true;
  NetworkMessage message;
  for (int i = 0; i < frames && ok; ++i) ok = to.waitMessage(message, kWaitMs) && message.data.size() == payload.size();
  writer.join();
  return ok;
}

void SetRatioCounters(benchmark::State& state, const char* unit, double amount, double managerSeconds,
                      double bareSeconds) {
  state.counters[std::string("manager_") + unit] = amount / managerSeconds;
  state.counters[std::string("bare_") + unit] = amount / bareSeconds;
  state.counters["ratio"] = bareSeconds / managerSeconds;
}

void BM_TcpFrames(benchmark::State& state) {
  const std::string payload(static_cast<std::size_t>(state.range(0)), 'p');
  const int frames = static_cast<int>(std::max<int64_t>(8, (32 << 20) / state.range(0)));  // 32 MiB per batch
  NetworkManager receiver, sender;
  if (!receiver.start(0, 0) || !sender.start(0, 0)) return state.SkipWithError("start failed");
  const int clientId = sender.connectTCP(kLoopback, receiver.boundPort(ProtocolType::TCP));
  BareTcpPair pair;
  double managerSeconds = 0, bareSeconds = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (!ManagerTcpBatch(sender, clientId, receiver, payload, frames)) return state.SkipWithError("manager batch failed");
    const double seconds = Seconds(start);
    managerSeconds += seconds;
    state.SetIterationTime(seconds);
    start = Clock::now();
    if (!BareTcpBatch(pair, payload, frames)) return state.SkipWithError("bare batch failed");
    bareSeconds += Seconds(start);
  }
  const double bytes = double(state.iterations()) * frames * double(payload.size());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  SetRatioCounters(state, "GBps", bytes / 1e9, managerSeconds, bareSeconds);
}
BENCHMARK(BM_TcpFrames)->Arg(64 << 10)->Arg(1 << 20)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_UdpRoundTrips60(benchmark::State& state) {
  constexpr int kTrips = 500;
  const std::string datagram(60, 'd');
  NetworkManager client, echo;
  if (!client.start(0, 0) || !echo.start(0, 0)) return state.SkipWithError("start failed");
  std::atomic<bool> done{false};
  std::thread managerEcho([&] {
    NetworkMessage m;
    while (!done.load())
      if (echo.waitMessage(m, 50)) echo.sendUDP(m.ip, m.port, m.data);
  });
  const int bareClient = BoundSocket(SOCK_DGRAM), bareEcho = BoundSocket(SOCK_DGRAM);
  std::thread bareEchoThread([&] {
    char buffer[4096];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    for (ssize_t n; (n = recvfrom(bareEcho, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size)) > 0;
         size = sizeof from)
      sendto(bareEcho, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), size);
  });
  const sockaddr_in bareTarget = LoopbackAddress(LocalPort(bareEcho));
  const unsigned short echoPort = echo.boundPort(ProtocolType::UDP);
  double managerSeconds = 0, bareSeconds = 0;
  bool ok = true;
  for (auto _ : state) {
    auto start = Clock::now();
    NetworkMessage reply;
    for (int i = 0; i < kTrips && ok; ++i)
      ok = client.sendUDP(kLoopback, echoPort, datagram) && client.waitMessage(reply, kWaitMs);
    const double seconds = Seconds(start);
    managerSeconds += seconds;
    state.SetIterationTime(seconds);
    start = Clock::now();
    char buffer[4096];
    for (int i = 0; i < kTrips && ok; ++i)
      ok = sendto(bareClient, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&bareTarget),
                  sizeof bareTarget) > 0 &&
           recv(bareClient, buffer, sizeof buffer, 0) > 0;
    bareSeconds += Seconds(start);
    if (!ok) break;
  }
  done.store(true);
  shutdown(bareEcho, SHUT_RDWR);  // ends the bare echo's blocking receive
  managerEcho.join();
  bareEchoThread.join();
  close(bareClient);
  close(bareEcho);
  if (!ok) return state.SkipWithError("a round trip was lost");
  SetRatioCounters(state, "trips_per_s", double(state.iterations()) * kTrips, managerSeconds, bareSeconds);
}
BENCHMARK(BM_UdpRoundTrips60)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  // The transport's framing progress goes to standard output, which the networked game points
  // at the null device; do the same here and print the report on standard error.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
