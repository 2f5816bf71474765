#include "dmxmon/frame_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using dmxmon::FrameDecoder;
using Levels = std::vector<std::uint8_t>;

namespace {

std::string frame(const Levels& levels) {
  return "::::DMX" + std::string(levels.begin(), levels.end()) + ".";
}

std::vector<Levels> decode(FrameDecoder& d, const std::string& bytes, std::size_t step = 0) {
  std::vector<Levels> out;
  auto handler = [&](std::span<const std::uint8_t> l) { out.emplace_back(l.begin(), l.end()); };
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  if (step == 0) step = bytes.size();
  for (std::size_t i = 0; i < bytes.size(); i += step)
    d.feed(std::span<const std::uint8_t>(p + i, std::min(step, bytes.size() - i)), handler);
  return out;
}

}  // namespace

TEST(FrameDecoder, WithoutLengthAFrameEndsAtTheNextHeader) {
  FrameDecoder d;
  // Levels equal to ':' and '.' are data like any other.
  const Levels a = {0x3A, 0x2E, 255, 0};
  const Levels b = {1, 2, 3, 0x2E};
  EXPECT_EQ(decode(d, frame(a)), std::vector<Levels>{});
  EXPECT_EQ(decode(d, frame(b)), std::vector<Levels>{a});
  EXPECT_EQ(decode(d, frame(b)), std::vector<Levels>{b});
  EXPECT_EQ(d.malformedFrames(), 0u);
}

TEST(FrameDecoder, ByteByByteGivesTheSameFrames) {
  FrameDecoder whole(std::size_t{5});
  FrameDecoder trickle(std::size_t{5});
  FrameDecoder unknown;
  std::string stream;
  for (int i = 0; i < 20; ++i)
    stream +=
        frame({static_cast<std::uint8_t>(i), 0x3A, 0x3A, 0x2E, static_cast<std::uint8_t>(255 - i)});
  const auto expected = decode(whole, stream);
  ASSERT_EQ(expected.size(), 20u);
  EXPECT_EQ(decode(trickle, stream, 1), expected);
  auto partial = decode(unknown, stream, 3);
  ASSERT_EQ(partial.size(), 19u);  // the last one waits for its successor
  EXPECT_EQ(partial, std::vector<Levels>(expected.begin(), expected.end() - 1));
}

TEST(FrameDecoder, AKnownLengthKeepsAHeaderInsideTheData) {
  FrameDecoder d(std::size_t{9});
  const Levels tricky = {':', ':', ':', ':', 'D', 'M', 'X', '.', 7};
  EXPECT_EQ(decode(d, frame(tricky) + frame(tricky)), (std::vector<Levels>{tricky, tricky}));
}

TEST(FrameDecoder, ZeroLengthSendsOneByte) {
  FrameDecoder d(std::size_t{1});
  EXPECT_EQ(decode(d, frame({0}) + frame({9})), (std::vector<Levels>{{0}, {9}}));
  FrameDecoder unknown;
  EXPECT_EQ(decode(unknown, frame({0}) + frame({9}) + frame({4})), (std::vector<Levels>{{0}, {9}}));
}

TEST(FrameDecoder, NoiseAndBrokenFramesAreCountedAndSkipped) {
  FrameDecoder d(std::size_t{3});
  // Stray bytes first, a frame whose "." is missing, then a good one.
  const std::string stream = "xy::" + std::string("::::DMX\x01\x02\x03!") + frame({4, 5, 6});
  EXPECT_EQ(decode(d, stream), (std::vector<Levels>{{4, 5, 6}}));
  EXPECT_EQ(d.malformedFrames(), 1u);
  EXPECT_GE(d.strayBytes(), 4u);

  FrameDecoder unknown;
  const std::string noDot = "::::DMX\x01\x02" + frame({7}) + frame({8});
  EXPECT_EQ(decode(unknown, noDot), (std::vector<Levels>{{7}}));
  EXPECT_EQ(unknown.malformedFrames(), 1u);
}
