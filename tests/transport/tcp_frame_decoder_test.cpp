// TCP framing without sockets: reassembly over every split of a stream, the length limit,
// resynchronisation and the 64-byte keep limit. Test thread only.
#include "transport/tcp_frame_decoder.h"

#include <gtest/gtest.h>

namespace {

// One silent decoder with the frames it delivered.
struct Decoder {
  std::vector<std::string> frames;
  TcpFrameDecoder decoder{7, {}};
  Decoder& feed(const std::string& bytes) {
    decoder.processTCPData(bytes.data(), bytes.size(), [this](std::string&& p) { frames.push_back(std::move(p)); });
    return *this;
  }
  std::size_t buffered() const { return decoder.connectionState().buffer.size(); }
};

const std::string kFrame = EncodeTcpFrame("frame");
using Frames = std::vector<std::string>;

TEST(TcpFrameDecoderTest, DeliversTheSameFramesHoweverTheStreamIsSplit) {
  const std::pair<std::string, Frames> cases[] = {
      {kFrame, {"frame"}},
      {EncodeTcpFrame("") + EncodeTcpFrame("ab") + kFrame, {"", "ab", "frame"}},
      {"xyz" + kFrame, {"frame"}},
      {std::string(70, 'x') + kFrame, {"frame"}},  // a split inside the magic must not lose the frame
      {"\xDE\xAD" + kFrame, {"frame"}}};
  for (const auto& [stream, expected] : cases) {
    for (std::size_t split = 0; split <= stream.size(); ++split) {
      Decoder d;
      d.feed(stream.substr(0, split)).feed(stream.substr(split));
      EXPECT_EQ(d.frames, expected) << "split at " << split;
      EXPECT_EQ(d.buffered(), 0u);
    }
    Decoder bytewise;
    for (char c : stream) bytewise.feed(std::string(1, c));
    EXPECT_EQ(bytewise.frames, expected);
  }
}

TEST(TcpFrameDecoderTest, AcceptsTenMebibytesAndDropsTheBufferForOneByteMore) {
  // A stranger's header alone must not claim the 10 MiB it declares.
  Decoder header;
  header.feed(EncodeTcpFrameHeader(kTcpMaxFrameLength) + "abc");
  EXPECT_LE(header.decoder.connectionState().body.capacity(), 128u * 1024);
  Decoder d;
  const std::string largest(kTcpMaxFrameLength, 'L'), stream = EncodeTcpFrame(largest);
  for (std::size_t at = 0; at < stream.size(); at += 65536) d.feed(stream.substr(at, 65536));
  ASSERT_EQ(d.frames.size(), 1u);
  EXPECT_TRUE(d.frames[0] == largest);
  d.feed(EncodeTcpFrameHeader(kTcpMaxFrameLength + 1) + "body" + kFrame);
  EXPECT_EQ(d.frames.size(), 1u);  // the frame behind the bad header goes with it
  EXPECT_EQ(d.buffered(), 0u);
  EXPECT_EQ(d.feed(kFrame).frames.back(), "frame");  // the connection goes on
}

// The resync scan checks the limit on its own.
TEST(TcpFrameDecoderTest, ResyncTakesAHeaderAtTheLimitAndPassesOneByteOver) {
  const std::string largest(kTcpMaxFrameLength, 'L');
  Decoder d;
  d.feed("ab" + EncodeTcpFrameHeader(kTcpMaxFrameLength + 1) + "zz" + EncodeTcpFrame(largest) + kFrame);
  ASSERT_EQ(d.frames.size(), 2u);
  EXPECT_TRUE(d.frames[0] == largest);
  EXPECT_EQ(d.frames[1], "frame");
}

TEST(TcpFrameDecoderTest, KeepsUpTo64GarbageBytesAndResynchronisesPastAnImpossibleLength) {
  Decoder d;
  EXPECT_EQ(d.feed(std::string(64, 'x')).buffered(), 64u);
  EXPECT_EQ(d.feed("x").buffered(), 0u);
  // The scan passes over a magic with an impossible length; the body then comes in two reads.
  d.feed("ab" + EncodeTcpFrameHeader(kTcpMaxFrameLength + 1) + kFrame.substr(0, 10)).feed("").feed(kFrame.substr(10));
  EXPECT_EQ(d.frames, Frames{"frame"});
}

}  // namespace
