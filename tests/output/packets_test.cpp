#include <gtest/gtest.h>

#include <numeric>

#include "artnet_packet.h"
#include "e131_packet.h"

namespace luvrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

e131::Source testSource() {
  e131::Source s;
  for (std::uint8_t i = 0; i < 16; ++i) s.cid[i] = static_cast<std::uint8_t>(0xA0 + i);
  s.name = "LUVRIN";
  s.priority = 100;
  return s;
}

// The published layout, written out field by field for three slots (129 bytes).
TEST(E131Packet, ThreeSlotsMatchThePublishedLayoutByteForByte) {
  const Bytes levels{255, 0, 128};
  const Bytes packet = e131::buildDataPacket(testSource(), 0x0102, 0x7F, levels);

  Bytes expected = {
      0x00, 0x10, 0x00, 0x00,                                             // preamble, post
      'A',  'S',  'C',  '-',  'E', '1', '.', '1', '7', 0x00, 0x00, 0x00,  // ACN identifier
      0x70, 0x71,                                                         // root: 129 - 16
      0x00, 0x00, 0x00, 0x04,                                             // root vector
  };
  for (std::uint8_t i = 0; i < 16; ++i) expected.push_back(static_cast<std::uint8_t>(0xA0 + i));
  expected.insert(expected.end(), {0x70, 0x5B,                // framing: 129 - 38 = 91
                                   0x00, 0x00, 0x00, 0x02});  // framing vector
  const Bytes name = {'L', 'U', 'V', 'R', 'I', 'N'};
  expected.insert(expected.end(), name.begin(), name.end());
  expected.resize(expected.size() + 64 - name.size(), 0);
  expected.insert(expected.end(), {100,                     // priority
                                   0x00, 0x00,              // synchronization address
                                   0x7F,                    // sequence
                                   0x00,                    // options
                                   0x01, 0x02,              // universe
                                   0x70, 0x0E,              // DMP: 129 - 115 = 14
                                   0x02, 0xA1,              // set property, address and data type
                                   0x00, 0x00, 0x00, 0x01,  // first address, increment
                                   0x00, 0x04,              // start code and three slots
                                   0x00,                    // start code
                                   255,  0,    128});
  EXPECT_EQ(packet, expected);
}

TEST(E131Packet, FullUniverseIs638BytesAndA513thSlotIsDropped) {
  Bytes levels(513);
  std::iota(levels.begin(), levels.end(), std::uint8_t{0});
  const Bytes packet = e131::buildDataPacket(testSource(), 1, 0, levels);
  ASSERT_EQ(packet.size(), 638u);
  EXPECT_EQ(packet[16] << 8 | packet[17], 0x7000 | 622);
  EXPECT_EQ(packet[38] << 8 | packet[39], 0x7000 | 600);
  EXPECT_EQ(packet[115] << 8 | packet[116], 0x7000 | 523);
  EXPECT_EQ(packet[123] << 8 | packet[124], 513);
  EXPECT_EQ(packet[126], 0);           // channel 1
  EXPECT_EQ(packet[637], 511 & 0xFF);  // channel 512: slot 512 of the frame is not sent
}

TEST(E131Packet, LongSourceNameKeepsItsTerminatingNul) {
  e131::Source s = testSource();
  s.name = std::string(80, 'x');
  const Bytes packet = e131::buildDataPacket(s, 1, 0, Bytes{1});
  EXPECT_EQ(packet[44 + 62], 'x');
  EXPECT_EQ(packet[44 + 63], 0);
  EXPECT_EQ(e131::parseDataPacket(packet)->sourceName, std::string(63, 'x'));
}

TEST(E131Packet, ParsesWhatItBuildsAndRefusesOtherPackets) {
  const Bytes levels{1, 2, 3, 4, 5};
  const Bytes packet = e131::buildDataPacket(testSource(), 63999, 200, levels);
  const auto parsed = e131::parseDataPacket(packet);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->universe, 63999);
  EXPECT_EQ(parsed->sequence, 200);
  EXPECT_EQ(parsed->priority, 100);
  EXPECT_EQ(parsed->sourceName, "LUVRIN");
  EXPECT_EQ(parsed->cid, testSource().cid);
  EXPECT_EQ(parsed->levels, levels);

  Bytes truncated = packet;
  truncated.pop_back();
  EXPECT_FALSE(e131::parseDataPacket(truncated));  // lengths no longer agree
  Bytes discovery = packet;
  discovery[21] = 0x08;  // root vector of universe discovery
  EXPECT_FALSE(e131::parseDataPacket(discovery));
  Bytes artnet = artnet::buildDmxPacket(1, 1, levels);
  EXPECT_FALSE(e131::parseDataPacket(artnet));
}

TEST(E131Packet, MulticastGroupOfAUniverse) {
  EXPECT_EQ(e131::multicastGroup(1), (std::array<std::uint8_t, 4>{239, 255, 0, 1}));
  EXPECT_EQ(e131::multicastGroup(63999), (std::array<std::uint8_t, 4>{239, 255, 249, 255}));
}

TEST(ArtNetPacket, ArtDmxMatchesThePublishedLayoutByteForByte) {
  const Bytes packet = artnet::buildDmxPacket(0x1234, 7, Bytes{10, 20, 30, 40});
  const Bytes expected = {'A',  'r',  't',  '-',  'N',
                          'e',  't',  0x00, 0x00, 0x50,  // OpDmx, low byte first
                          0x00, 0x0E,                    // protocol version 14, high byte first
                          0x07,                          // sequence
                          0x00,                          // physical
                          0x34,                          // SubUni: sub-net and universe
                          0x12,                          // Net
                          0x00, 0x04,                    // length, high byte first
                          10,   20,   30,   40};
  EXPECT_EQ(packet, expected);
}

TEST(ArtNetPacket, DataIsPaddedToAnEvenLengthOfAtLeastTwoAndCutAt512) {
  EXPECT_EQ(artnet::buildDmxPacket(0, 1, Bytes{9, 8, 7}).size(), 18u + 4u);
  EXPECT_EQ(artnet::buildDmxPacket(0, 1, Bytes{9}).size(), 18u + 2u);
  EXPECT_EQ(artnet::buildDmxPacket(0, 1, Bytes{}).size(), 18u + 2u);
  const Bytes padded = artnet::buildDmxPacket(0, 1, Bytes{9, 8, 7});
  EXPECT_EQ(padded.back(), 0);
  const Bytes full = artnet::buildDmxPacket(0, 1, Bytes(513, 0x55));
  ASSERT_EQ(full.size(), 18u + 512u);
  EXPECT_EQ(full[16], 0x02);
  EXPECT_EQ(full[17], 0x00);
}

TEST(ArtNetPacket, PortAddressSpansNetSubNetAndUniverse) {
  const Bytes top = artnet::buildDmxPacket(32767, 1, Bytes{1, 2});
  EXPECT_EQ(top[14], 0xFF);
  EXPECT_EQ(top[15], 0x7F);
  const auto parsed = artnet::parseDmxPacket(top);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->portAddress, 32767);
  EXPECT_EQ(parsed->levels, (Bytes{1, 2}));
}

TEST(ArtNetPacket, SequenceRunsFrom1To255AndNeverHits0) {
  EXPECT_EQ(artnet::nextSequence(1), 2);
  EXPECT_EQ(artnet::nextSequence(254), 255);
  EXPECT_EQ(artnet::nextSequence(255), 1);
}

TEST(ArtNetPacket, RefusesOtherOpCodesAndShortData) {
  Bytes poll = artnet::buildDmxPacket(0, 1, Bytes{1, 2});
  poll[9] = 0x20;  // OpPoll
  EXPECT_FALSE(artnet::parseDmxPacket(poll));
  Bytes shortData = artnet::buildDmxPacket(0, 1, Bytes{1, 2, 3, 4});
  shortData.resize(20);
  EXPECT_FALSE(artnet::parseDmxPacket(shortData));
}

}  // namespace
}  // namespace luvrin
