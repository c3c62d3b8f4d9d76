// Reassembly and resynchronisation of the peer TCP frames. Runs on each connection's receive
// thread (one decoder per connection), in tests and in the fuzzer on the calling thread.
#include "transport/tcp_frame_decoder.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <utility>

namespace {

constexpr char kMagicBytes[4] = {'\xDE', '\xAD', '\xBE', '\xEF'};
// Smallest room offered for receiving a body in place.
constexpr std::size_t kMinBodyWindow = 64 * 1024;

uint32_t ReadBigEndian32(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}

bool MagicAt(const std::string& buffer, std::size_t i) {
  return std::equal(kMagicBytes, kMagicBytes + 4, buffer.begin() + static_cast<std::ptrdiff_t>(i));
}

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

void AppendPart(std::string& line, const std::string& part) { line += part; }
void AppendPart(std::string& line, const char* part) { line += part; }
template <class Number, class = std::enable_if_t<std::is_arithmetic_v<Number>>>
void AppendPart(std::string& line, Number value) {
  line += std::to_string(value);
}

}  // namespace

std::string EncodeTcpFrameHeader(uint32_t length) {
  std::string header(kMagicBytes, 4);
  for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>((length >> shift) & 0xFF);
  return header;
}

std::string EncodeTcpFrame(std::string_view payload) {
  std::string frame = EncodeTcpFrameHeader(static_cast<uint32_t>(payload.size()));
  frame.append(payload);
  return frame;
}

void WriteDiagnosticLine(DiagnosticStream stream, const std::string& line) {
  std::string text;
  text.reserve(line.size() + 1);
  text += line;
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stream == DiagnosticStream::Error ? stderr : stdout);
}

void resetConnectionState(TCPConnectionState& state) {
  state.state = ReceiveState::Header;
  state.expectedSize = kTcpFrameHeaderSize;
  state.receivedSize = 0;
}

TcpFrameDecoder::TcpFrameDecoder(int clientId, DiagnosticSink sink) : clientId_(clientId), sink_(std::move(sink)) {}

template <class... Parts>
void TcpFrameDecoder::report(DiagnosticStream stream, const Parts&... parts) const {
  if (!sink_) return;
  std::string line;
  (AppendPart(line, parts), ...);
  sink_(stream, line);
}

void TcpFrameDecoder::processTCPData(const char* data, std::size_t length, const FrameHandler& deliver) {
  if (data == nullptr || length == 0) {
    report(DiagnosticStream::Error, "Warning: empty TCP data received from client ", clientId_);
    return;
  }
  if (state_.state == ReceiveState::Body) {  // the buffer is empty: straight into the body
    const std::size_t take = std::min(length, state_.expectedSize - state_.receivedSize);
    state_.body.resize(state_.receivedSize);
    state_.body.append(data, take);
    state_.receivedSize += take;
    data += take;
    length -= take;
    if (!completeBody(deliver) || length == 0) return;
  }
  state_.buffer.append(data, length);
  bool more = true;
  while (more && !state_.buffer.empty()) {
    switch (state_.state) {
      case ReceiveState::Header: more = processHeader(deliver); break;
      case ReceiveState::Body: more = processBody(deliver); break;
      default:
        report(DiagnosticStream::Error, "Unrecognised TCP connection state: ", static_cast<int>(state_.state));
        resetConnectionState(state_);
    }
  }
}

std::span<char> TcpFrameDecoder::bodySpace() {
  if (state_.state != ReceiveState::Body) return {};
  std::string& body = state_.body;
  if (body.size() <= state_.receivedSize) {
    // Grows with what has arrived, so a header alone commits little memory.
    const std::size_t rest = state_.expectedSize - state_.receivedSize;
    body.resize(state_.receivedSize + std::min(rest, std::max(state_.receivedSize, kMinBodyWindow)));
  }
  return {body.data() + state_.receivedSize, body.size() - state_.receivedSize};
}

void TcpFrameDecoder::bodyReceived(std::size_t length, const FrameHandler& deliver) {
  if (length == 0) {
    report(DiagnosticStream::Error, "Warning: empty TCP data received from client ", clientId_);
    return;
  }
  if (state_.state != ReceiveState::Body) return;
  state_.receivedSize += std::min(length, state_.body.size() - state_.receivedSize);
  completeBody(deliver);
}

bool TcpFrameDecoder::processHeader(const FrameHandler& deliver) {
  std::string& buffer = state_.buffer;
  if (buffer.size() < kTcpFrameHeaderSize) return false;
  const uint32_t magic = ReadBigEndian32(buffer.data());
  if (magic != kTcpFrameMagic) {
    report(DiagnosticStream::Error, "TCP header magic mismatch: expected 0x", Hex32(kTcpFrameMagic), ", actual 0x",
           Hex32(magic));
    return resyncTCPHeader(buffer);
  }
  const uint32_t length = ReadBigEndian32(buffer.data() + 4);
  if (length > kTcpMaxFrameLength) {
    report(DiagnosticStream::Error, "Invalid TCP message length: ", length, " (maximum ", kTcpMaxFrameLength,
           " bytes)");
    buffer.clear();
    resetConnectionState(state_);
    return false;
  }
  buffer.erase(0, kTcpFrameHeaderSize);
  if (length == 0) {
    report(DiagnosticStream::Output, "Complete TCP message received from client ", clientId_, " (0 bytes)");
    deliver(std::string());
    return true;
  }
  state_.header = {magic, length};
  state_.state = ReceiveState::Body;
  state_.expectedSize = length;
  state_.receivedSize = 0;
  state_.body.clear();
  // Room grows with the bytes that arrive: a header alone, which anyone can send, must not
  // claim its declared 10 MiB.
  state_.body.reserve(std::min<std::size_t>(length, kMinBodyWindow));
  report(DiagnosticStream::Output, "Receiving a TCP message body of ", length, " bytes from client ", clientId_);
  return true;
}

bool TcpFrameDecoder::processBody(const FrameHandler& deliver) {
  std::string& buffer = state_.buffer;
  if (buffer.empty()) return false;
  const std::size_t take = std::min(buffer.size(), state_.expectedSize - state_.receivedSize);
  state_.body.resize(state_.receivedSize);
  state_.body.append(buffer, 0, take);
  buffer.erase(0, take);
  state_.receivedSize += take;
  return completeBody(deliver);
}

bool TcpFrameDecoder::completeBody(const FrameHandler& deliver) {
  if (state_.receivedSize < state_.expectedSize) {
    report(DiagnosticStream::Output, "Partial TCP message body from client ", clientId_, ": ", state_.receivedSize,
           " bytes present, ", state_.expectedSize - state_.receivedSize, " bytes missing");
    return false;
  }
  const std::size_t size = state_.expectedSize;
  state_.body.resize(size);
  std::string payload = std::exchange(state_.body, std::string());
  resetConnectionState(state_);
  report(DiagnosticStream::Output, "Complete TCP message of ", size, " bytes received from client ", clientId_);
  report(DiagnosticStream::Output, "Waiting for the next TCP message header, ", state_.buffer.size(),
         " bytes buffered");
  deliver(std::move(payload));
  return true;
}

bool TcpFrameDecoder::resyncTCPHeader(std::string& buffer) {
  if (buffer.size() < 4) return false;
  report(DiagnosticStream::Output, "Resynchronising the TCP header in ", buffer.size(), " bytes");
  for (std::size_t i = 0; i + 4 <= buffer.size(); ++i) {
    if (!MagicAt(buffer, i)) continue;
    if (buffer.size() - i < kTcpFrameHeaderSize) {
      report(DiagnosticStream::Output, "TCP magic found, header incomplete; waiting for more data");
      buffer.erase(0, i);
      return true;
    }
    const uint32_t length = ReadBigEndian32(buffer.data() + i + 4);
    if (length <= kTcpMaxFrameLength) {
      report(DiagnosticStream::Output, "TCP header resynchronised, skipped ", i, " bytes");
      buffer.erase(0, i);
      return true;
    }
    report(DiagnosticStream::Error, "TCP magic found but data length invalid: ", length);
  }
  if (buffer.size() <= kTcpResyncKeepLimit) return false;
  report(DiagnosticStream::Error, "Cannot resynchronise the TCP header, buffer of ", buffer.size(), " bytes cleared");
  // Keep a tail that could be the start of the magic: the rest of that header may be in the
  // next read, and dropping it would lose the frame behind the garbage.
  std::size_t keep = 3;
  while (keep > 0 && !std::equal(kMagicBytes, kMagicBytes + keep, buffer.end() - static_cast<std::ptrdiff_t>(keep)))
    --keep;
  buffer.erase(0, buffer.size() - keep);
  return true;
}
