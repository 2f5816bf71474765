#include "network_output.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>

#include "artnet_packet.h"
#include "e131_packet.h"
#include "output_address.h"
#include "support/recording_sink.h"
#include "support/virtual_time.h"

namespace luvrin {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::RecordingSink;
using testing::Sent;

OutputAddress sacn(std::uint32_t universe) {
  return parseOutputAddress(QStringLiteral("sacn:%1@127.0.0.1").arg(universe)).address.value();
}

OutputAddress artnetTo(std::uint32_t universe) {
  return parseOutputAddress(QStringLiteral("artnet:%1@127.0.0.1").arg(universe)).address.value();
}

// A network output fed the way the driver's frame timer feeds a port: a frame on each tick
// where the port is ready.
struct Rig {
  explicit Rig(OutputAddress address, int frameIntervalMs = 1) {
    auto s = std::make_unique<RecordingSink>(clock, sent);
    sink = s.get();
    e131::Source source;
    source.name = "LUVRIN";
    output = std::make_unique<NetworkOutput>(scheduler, address, std::move(s), source);
    output->open();
    frameTimer = std::make_unique<Timer>(scheduler, frameIntervalMs, true, [this] {
      if (!output->readyForFrame()) return;
      if (output->send(levels)) ++framesCounted;
    });
  }
  int packetsBetween(std::int64_t from, std::int64_t to) const {
    int n = 0;
    for (const Sent& s : sent) n += s.at >= from && s.at < to;
    return n;
  }

  ManualClock clock;
  VirtualScheduler scheduler{clock};
  std::vector<Sent> sent;
  RecordingSink* sink = nullptr;
  std::unique_ptr<NetworkOutput> output;
  std::unique_ptr<Timer> frameTimer;
  Bytes levels{10, 20, 30};
  int framesCounted = 0;
};

TEST(NetworkOutputRate, OneMillisecondFramesGive44PacketsInEverySecond) {
  Rig rig(sacn(1), 1);
  rig.scheduler.advanceBy(10s);
  for (int second = 0; second < 10; ++second)
    EXPECT_EQ(rig.packetsBetween(second * 1000, second * 1000 + 1000), 44) << second;
  EXPECT_EQ(rig.framesCounted, static_cast<int>(rig.sent.size()));
  for (std::size_t i = 1; i < rig.sent.size(); ++i)
    EXPECT_GE(rig.sent[i].at - rig.sent[i - 1].at, 22) << i;  // never a burst
}

// A driver that found the rate spent asks to be told: it hears once, when the next packet may go,
// never before, and a withdrawn request is never answered.
TEST(NetworkOutputRate, ReadyIsToldWhenTheRateAllowsTheNextPacket) {
  Rig rig(sacn(1), 0);
  ASSERT_TRUE(rig.output->send(rig.levels));
  ASSERT_FALSE(rig.output->readyForFrame());
  int told = 0;
  std::int64_t toldAt = -1;
  rig.output->whenReady([&] {
    ++told;
    toldAt = rig.clock.tickCount();
    EXPECT_TRUE(rig.output->readyForFrame());
  });
  rig.scheduler.advanceBy(22ms);
  EXPECT_EQ(told, 0);  // 1/44 s is 22.7 ms
  rig.scheduler.advanceBy(2ms);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(toldAt, 23);
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(told, 1);

  ASSERT_TRUE(rig.output->send(rig.levels));
  rig.output->whenReady([&] { ++told; });
  rig.output->whenReady({});
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(told, 1);
}

TEST(NetworkOutputRate, SlowerFramesAreAllSent) {
  Rig every25(artnetTo(0), 25);
  every25.scheduler.advanceBy(10s);
  EXPECT_EQ(every25.sent.size(), 400u);

  Rig every23(sacn(1), 23);
  every23.scheduler.advanceBy(23s);
  EXPECT_EQ(every23.sent.size(), 1000u);
}

TEST(NetworkOutputRate, GridIsKeptWhenTicksComeLateButNotAfterAPause) {
  PacketRate rate;
  const std::int64_t ms = 1'000'000;
  EXPECT_TRUE(rate.ready(0));
  rate.sent(0);
  EXPECT_FALSE(rate.ready(22 * ms));
  EXPECT_TRUE(rate.ready(22'727'273));
  rate.sent(23 * ms);  // late by 0.27 ms: the next is still due at 2/44 s
  EXPECT_FALSE(rate.ready(45 * ms));
  EXPECT_TRUE(rate.ready(45'454'546));
  rate.sent(500 * ms);  // after a pause the grid starts again from this packet
  EXPECT_FALSE(rate.ready(522 * ms));
  EXPECT_TRUE(rate.ready(523 * ms));
}

TEST(NetworkOutputKeepAlive, UnchangedLevelsAreRepeatedOnceASecondWithoutFrames) {
  Rig rig(sacn(2), 0);  // interval 0: the frame timer never ticks
  rig.output->send(rig.levels);
  ASSERT_EQ(rig.sent.size(), 1u);
  rig.scheduler.advanceBy(999ms);
  EXPECT_EQ(rig.sent.size(), 1u);
  rig.scheduler.advanceBy(1ms);
  EXPECT_EQ(rig.sent.size(), 2u);
  rig.scheduler.advanceBy(5s);
  ASSERT_EQ(rig.sent.size(), 7u);
  for (const Sent& s : rig.sent) EXPECT_EQ(e131::parseDataPacket(s.packet)->levels, rig.levels);
  // Sequence numbers go on through the repeats.
  EXPECT_EQ(e131::parseDataPacket(rig.sent.back().packet)->sequence, 6);
}

TEST(NetworkOutputKeepAlive, NoRepeatWhileFramesFlowAndNoneBeforeTheFirstFrame) {
  Rig idle(sacn(2), 0);
  idle.scheduler.advanceBy(5s);
  EXPECT_TRUE(idle.sent.empty());

  Rig busy(sacn(2), 100);
  busy.scheduler.advanceBy(5s);
  EXPECT_EQ(busy.sent.size(), 50u);
  EXPECT_EQ(busy.framesCounted, 50);
}

TEST(NetworkOutputPackets, SacnCarriesUniverseSourceAndRunningSequence) {
  Rig rig(sacn(300), 25);
  rig.levels = Bytes(513, 7);
  rig.levels[0] = 255;
  rig.scheduler.advanceBy(25ms * 258);
  ASSERT_EQ(rig.sent.size(), 258u);
  for (std::size_t i = 0; i < rig.sent.size(); ++i) {
    const auto p = e131::parseDataPacket(rig.sent[i].packet);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->universe, 300);
    EXPECT_EQ(p->sourceName, "LUVRIN");
    EXPECT_EQ(p->priority, 100);
    EXPECT_EQ(p->sequence, static_cast<std::uint8_t>(i));  // wraps from 255 to 0
    ASSERT_EQ(p->levels.size(), 512u);                     // the frame's 513th slot is dropped
    EXPECT_EQ(p->levels[0], 255);
  }
}

TEST(NetworkOutputPackets, ArtNetSequenceSkipsZeroAndNewestLevelsGoOut) {
  Rig rig(artnetTo(17), 25);
  rig.scheduler.advanceBy(25ms * 255);
  rig.levels = {1, 2, 3, 4};
  rig.scheduler.advanceBy(25ms);
  ASSERT_EQ(rig.sent.size(), 256u);
  const auto first = artnet::parseDmxPacket(rig.sent.front().packet);
  const auto last = artnet::parseDmxPacket(rig.sent.back().packet);
  EXPECT_EQ(first->sequence, 1);
  EXPECT_EQ(artnet::parseDmxPacket(rig.sent[254].packet)->sequence, 255);
  EXPECT_EQ(last->sequence, 1);
  EXPECT_EQ(last->portAddress, 17);
  EXPECT_EQ(last->physical, 0);
  EXPECT_EQ(last->levels, (Bytes{1, 2, 3, 4}));
}

TEST(NetworkOutputPackets, ASendThatFailsIsNotCountedAndTheOutputGoesOn) {
  Rig rig(sacn(1), 25);
  rig.sink->failing = true;
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.framesCounted, 0);
  rig.sink->failing = false;
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.framesCounted, 40);
  EXPECT_TRUE(rig.output->isOpen());
}

TEST(NetworkOutputPackets, AnOutputThatCannotOpenTakesNoFrames) {
  ManualClock clock;
  VirtualScheduler scheduler(clock);
  std::vector<Sent> log;
  auto sink = std::make_unique<RecordingSink>(clock, log);
  sink->openable = false;
  NetworkOutput output(scheduler, sacn(1), std::move(sink));
  EXPECT_FALSE(output.open());
  EXPECT_FALSE(output.isOpen());
  EXPECT_FALSE(output.readyForFrame());
  EXPECT_FALSE(output.send(Bytes{1}));
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace luvrin
