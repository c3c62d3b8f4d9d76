// Framing of the peer TCP stream: 8-byte header (magic DE AD BE EF, big-endian length), then
// the payload. The decoder reassembles frames from reads of any size and resynchronises after
// garbage; it knows nothing of sockets. Each decoder is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

inline constexpr uint32_t kTcpFrameMagic = 0xDEADBEEF;
inline constexpr std::size_t kTcpFrameHeaderSize = 8;
inline constexpr uint32_t kTcpMaxFrameLength = 10485760;  // 10 MiB
// Garbage without a usable header is kept up to this size, as more bytes may complete a
// header that straddles the end of the read.
inline constexpr std::size_t kTcpResyncKeepLimit = 64;

// The header for a payload of `length` bytes.
std::string EncodeTcpFrameHeader(uint32_t length);
// Header and payload; the payload must not exceed kTcpMaxFrameLength.
std::string EncodeTcpFrame(std::string_view payload);

enum class DiagnosticStream { Output, Error };
// Receives finished diagnostic lines (without the newline).
using DiagnosticSink = std::function<void(DiagnosticStream, const std::string&)>;
// Writes one line to standard output or standard error with a single write, so lines from
// different threads do not interleave.
void WriteDiagnosticLine(DiagnosticStream stream, const std::string& line);

enum class ReceiveState : int { Header = 0, Body = 1 };

struct TCPFrameHeader {
  uint32_t magic = 0;
  uint32_t length = 0;  // host order
};

struct TCPConnectionState {
  TCPConnectionState() { buffer.reserve(4096); }
  ReceiveState state = ReceiveState::Header;
  TCPFrameHeader header;
  // Received bytes not yet consumed; empty while in Body, whose bytes go to `body`.
  std::string buffer;
  // The body being assembled: its first receivedSize bytes have arrived, anything after them
  // is room for the next read. Handed over by move once complete.
  std::string body;
  std::size_t expectedSize = kTcpFrameHeaderSize;
  std::size_t receivedSize = 0;
};

// Back to waiting for a header; the buffer is left alone.
void resetConnectionState(TCPConnectionState& state);

class TcpFrameDecoder {
 public:
  using FrameHandler = std::function<void(std::string&& payload)>;

  // `clientId` only labels the diagnostics; an empty sink silences them.
  explicit TcpFrameDecoder(int clientId = 0, DiagnosticSink sink = WriteDiagnosticLine);

  // Appends one read and hands every frame it completes to `deliver`, in stream order.
  void processTCPData(const char* data, std::size_t length, const FrameHandler& deliver);

  // While a body is being assembled: room to receive the rest of it in place, without a
  // copy (empty otherwise). Never reaches past the end of the body. After writing `length`
  // bytes at its start, call bodyReceived.
  std::span<char> bodySpace();
  void bodyReceived(std::size_t length, const FrameHandler& deliver);

  const TCPConnectionState& connectionState() const { return state_; }

 private:
  bool processHeader(const FrameHandler& deliver);
  bool processBody(const FrameHandler& deliver);
  bool completeBody(const FrameHandler& deliver);
  bool resyncTCPHeader(std::string& buffer);
  // Joins text and numbers into one line; nothing is formatted when the sink is empty.
  template <class... Parts>
  void report(DiagnosticStream stream, const Parts&... parts) const;

  int clientId_;
  DiagnosticSink sink_;
  TCPConnectionState state_;
};
