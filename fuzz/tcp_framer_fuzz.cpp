// Fuzz target for the TCP framer. The input is fed once as a raw stream in input-chosen
// chunks, through both the copying and the in-place entry: no crash, never more bytes out than
// in, buffers within their bounds. It is also turned into valid frames, encoded, and fed in
// other chunks: exactly those frames must come out. Single-threaded.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "transport/tcp_frame_decoder.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Read sizes taken from the input bytes in turn, starting at `at`: mostly 1 to 64 bytes, up
// to 8 KiB when a byte's top bit is set; bit 6 picks the in-place entry inside a body.
struct Chunker {
  const uint8_t* data;
  std::size_t size;
  std::size_t at;
  bool inPlace = false;
  std::size_t next() {
    if (size == 0) return 4096;
    const uint8_t b = data[at++ % size];
    inPlace = (b & 0x40) != 0;
    return (b & 0x80) ? 1 + std::size_t(b & 0x3F) * 128 : 1 + (b & 0x3F);
  }
};

std::vector<std::string> Decode(const std::string& stream, Chunker chunker) {
  std::vector<std::string> frames;
  std::size_t fed = 0, delivered = 0;
  // Formats every diagnostic, as the real sink would, and drops it.
  TcpFrameDecoder decoder(1, [](DiagnosticStream, const std::string& line) { Check(!line.empty()); });
  const auto deliver = [&](std::string&& payload) {
    delivered += kTcpFrameHeaderSize + payload.size();
    frames.push_back(std::move(payload));
  };
  while (fed < stream.size()) {
    std::size_t n = std::min(chunker.next(), stream.size() - fed);
    const std::span<char> room = decoder.bodySpace();
    if (chunker.inPlace && !room.empty()) {
      n = std::min(n, room.size());
      std::copy_n(stream.data() + fed, n, room.data());
      decoder.bodyReceived(n, deliver);
    } else {
      decoder.processTCPData(stream.data() + fed, n, deliver);
    }
    fed += n;
    const TCPConnectionState& state = decoder.connectionState();
    if (state.state == ReceiveState::Header) {
      Check(state.buffer.size() <= kTcpResyncKeepLimit && delivered + state.buffer.size() <= fed);
    } else {
      Check(state.buffer.empty() && state.expectedSize <= kTcpMaxFrameLength);
      Check(state.receivedSize < state.expectedSize && state.body.size() <= state.expectedSize);
      Check(delivered + kTcpFrameHeaderSize + state.receivedSize <= fed);
    }
  }
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  Decode(raw, Chunker{data, size, 0});

  // Frames made from the input: a length byte (mostly short, a few up to 64 KiB), then that
  // many bytes taken cyclically from the input, magic bytes and all. The stream is kept near
  // 32 KiB: longer ones reach no new code and only slow the run down.
  std::vector<std::string> frames;
  std::string stream;
  for (std::size_t i = 0; i < size && frames.size() < 64 && stream.size() < 32 * 1024;) {
    const uint8_t b = data[i++];
    const std::size_t length = b < 0xF0 ? b % 48 : std::size_t(b - 0xEF) * 4096;
    std::string payload;
    payload.reserve(length);
    // Block copies: a per-byte loop here costs more than the decoding under coverage tracing.
    for (std::size_t from = i % size; payload.size() < length; from = 0)
      payload.append(reinterpret_cast<const char*>(data) + from, std::min(size - from, length - payload.size()));
    i += std::min<std::size_t>(length, 16);
    stream += EncodeTcpFrame(payload);
    frames.push_back(std::move(payload));
  }
  Check(Decode(stream, Chunker{data, size, size / 2}) == frames);
  Check(Decode(stream, Chunker{nullptr, 0, 0}) == frames);
  return 0;
}
