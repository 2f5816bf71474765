#include "network_output.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <map>

#include "address_forms.h"
#include "artnet_packet.h"
#include "e131_packet.h"
#include "support/recording_sink.h"
#include "support/virtual_time.h"
#include "universe_split.h"

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

// A frame of N + 1 level bytes whose every byte tells where it was.
Bytes frameOf(std::size_t n) {
  Bytes frame(n + 1);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i % 251 + 1);
  return frame;
}

// What one packet says, whichever the protocol.
struct Seen {
  std::uint32_t universe = 0;
  std::uint8_t sequence = 0;
  Bytes levels;
};

Seen read(const Sent& s) {
  if (auto p = e131::parseDataPacket(s.packet)) return {p->universe, p->sequence, p->levels};
  const auto p = artnet::parseDmxPacket(s.packet);
  EXPECT_TRUE(p) << "neither sACN nor Art-Net";
  return p ? Seen{p->portAddress, p->sequence, p->levels} : Seen{};
}

Destination ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                 std::uint16_t port) {
  return {std::uint32_t{a} << 24 | std::uint32_t{b} << 16 | std::uint32_t{c} << 8 | d, port};
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
  EXPECT_TRUE(rig.output->status().endsWith(QStringLiteral("(datagrams not sent)")));
  rig.sink->failing = false;
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.framesCounted, 40);
  EXPECT_EQ(rig.output->status(), QStringLiteral("sACN 宇宙 1 → 127.0.0.1:5568"));
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

// Each 512 levels of the frame are a universe of their own, numbered on from the first, each to
// its group when multicast; past the protocol's last universe nothing is sent, and the status
// says so.
TEST(NetworkOutputUniverses, OneFrameGoesOutAsOnePacketPerUniverse) {
  const QString lo = QStringLiteral("127.0.0.1");
  struct Case {
    const char* port;
    std::size_t n;  // 发送数据长度: the frame is n + 1 bytes
    std::vector<std::uint32_t> universes;
    std::vector<std::size_t> lengths;  // levels each packet carries (Art-Net pads to even)
    std::vector<Destination> to;
    QString status;
  };
  const Destination loSacn = ipv4(127, 0, 0, 1, 5568);
  const Destination loArtNet = ipv4(127, 0, 0, 1, 6454);
  const std::vector<Case> cases = {
      {"sacn:1@127.0.0.1",
       600,
       {1, 2},
       {512, 89},
       {loSacn, loSacn},
       QStringLiteral("sACN 宇宙 1-2 → 127.0.0.1:5568")},
      {"sacn:1",
       600,
       {1, 2},
       {512, 89},
       {ipv4(239, 255, 0, 1, 5568), ipv4(239, 255, 0, 2, 5568)},
       QStringLiteral("sACN 宇宙 1-2 → 239.255.0.1-239.255.0.2:5568")},
      {"sacn:255",
       1200,
       {255, 256, 257},
       {512, 512, 177},
       {ipv4(239, 255, 0, 255, 5568), ipv4(239, 255, 1, 0, 5568), ipv4(239, 255, 1, 1, 5568)},
       QStringLiteral("sACN 宇宙 255-257 → 239.255.0.255-239.255.1.1:5568")},
      {"artnet:3@127.0.0.1",
       600,
       {3, 4},
       {512, 90},
       {loArtNet, loArtNet},
       QStringLiteral("Art-Net 3-4 → 127.0.0.1:6454")},
      // The spare 513th byte opens no universe; 1024 bytes fill two exactly.
      {"sacn:1@127.0.0.1",
       512,
       {1},
       {512},
       {loSacn},
       QStringLiteral("sACN 宇宙 1 → 127.0.0.1:5568")},
      {"sacn:1@127.0.0.1", 1023, {1, 2}, {512, 512}, {loSacn, loSacn}, {}},
      {"sacn:63999@127.0.0.1",
       600,
       {63999},
       {512},
       {loSacn},
       QStringLiteral("sACN 宇宙 63999-64000 → 127.0.0.1:5568; 宇宙 64000 超出范围 (最后一个是 "
                      "63999), 不发送")},
      {"artnet:32766@127.0.0.1",
       1500,
       {32766, 32767},
       {512, 512},
       {loArtNet, loArtNet},
       QStringLiteral(
           "Art-Net 32766-32768 → 127.0.0.1:6454; 宇宙 32768 超出范围 (最后一个是 32767), 不发送")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.port) + " N=" + std::to_string(c.n));
    Rig rig(parseOutputAddress(QString::fromLatin1(c.port)).address.value(), 0);
    const Bytes frame = frameOf(c.n);
    ASSERT_TRUE(rig.output->send(frame));
    ASSERT_EQ(rig.sent.size(), c.universes.size());
    for (std::size_t i = 0; i < rig.sent.size(); ++i) {
      const Seen p = read(rig.sent[i]);
      EXPECT_EQ(p.universe, c.universes[i]) << i;
      EXPECT_EQ(rig.sent[i].to, c.to[i]) << i;
      ASSERT_EQ(p.levels.size(), c.lengths[i]) << i;
      const std::size_t from = i * 512;
      const std::size_t carried = std::min<std::size_t>(512, frame.size() - from);
      EXPECT_TRUE(
          std::equal(frame.begin() + from, frame.begin() + from + carried, p.levels.begin()))
          << i;
      EXPECT_TRUE(std::all_of(p.levels.begin() + carried, p.levels.end(),
                              [](std::uint8_t v) { return v == 0; }))
          << "padding " << i;
    }
    if (!c.status.isEmpty()) {
      EXPECT_EQ(rig.output->status(), c.status);
    }
  }
}

// Each universe runs its own sequence, its own 44 packets a second and its own repeat; new levels
// are written into packets laid out before, so the second frame must carry them too.
TEST(NetworkOutputUniverses, EachUniverseHasItsOwnSequenceRateAndRepeat) {
  for (const bool artnet : {false, true}) {
    SCOPED_TRACE(artnet ? "Art-Net" : "sACN");
    Rig rig(artnet ? artnetTo(0) : sacn(1), 1);
    rig.levels = frameOf(1200);  // three universes, the last 177 levels
    rig.scheduler.advanceBy(3s);
    rig.levels[0] = 99;
    rig.levels[1100] = 98;
    rig.scheduler.advanceBy(100ms);
    rig.frameTimer->setEnabled(false);
    const std::int64_t quiet = rig.clock.tickCount();
    rig.scheduler.advanceBy(2500ms);  // two repeats

    std::map<std::uint32_t, std::vector<std::pair<std::int64_t, Seen>>> byUniverse;
    for (const Sent& s : rig.sent) {
      Seen p = read(s);
      byUniverse[p.universe].emplace_back(s.at, std::move(p));
    }
    ASSERT_EQ(byUniverse.size(), 3u);
    for (auto& [universe, packets] : byUniverse) {
      SCOPED_TRACE(universe);
      for (int second = 0; second < 3; ++second) {
        int n = 0;
        for (const auto& [at, p] : packets) n += at >= second * 1000 && at < second * 1000 + 1000;
        EXPECT_EQ(n, 44) << second;
      }
      for (std::size_t i = 0; i < packets.size(); ++i) {
        const std::uint8_t want =
            artnet ? static_cast<std::uint8_t>(i % 255 + 1) : static_cast<std::uint8_t>(i);
        ASSERT_EQ(packets[i].second.sequence, want) << i;
        if (i > 0) {
          EXPECT_GE(packets[i].first - packets[i - 1].first, 22) << i;
        }
      }
      std::vector<std::int64_t> repeats;
      for (const auto& [at, p] : packets)
        if (at > quiet) repeats.push_back(at - quiet);
      ASSERT_EQ(repeats.size(), 2u);
      EXPECT_EQ(repeats[1] - repeats[0], 1000);
      const auto newest = universeLevels(rig.levels, universe - (artnet ? 0 : 1));
      const Bytes& last = packets.back().second.levels;
      EXPECT_TRUE(std::equal(newest.begin(), newest.end(), last.begin()));
    }
    EXPECT_EQ(rig.framesCounted * 3, static_cast<int>(rig.sent.size()) - 6);
  }
}

// A frame whose length changes: each packet is laid out again for its new number of levels, and
// a universe that a shorter frame left out goes on with its own sequence when it comes back.
TEST(NetworkOutputUniverses, FramesThatShrinkAndGrowKeepEachUniversesSequence) {
  const std::vector<std::vector<std::size_t>> runs = {{1200, 100, 1200}, {100, 300, 100, 700}};
  for (const bool artnet : {false, true}) {
    for (const auto& lengths : runs) {
      SCOPED_TRACE(std::string(artnet ? "Art-Net " : "sACN ") + std::to_string(lengths[1]));
      Rig rig(artnet ? artnetTo(1) : sacn(1), 0);
      std::map<std::uint32_t, std::uint8_t> last;  // each universe's last sequence
      for (const std::size_t n : lengths) {
        const Bytes frame = frameOf(n);
        const std::size_t before = rig.sent.size();
        ASSERT_TRUE(rig.output->send(frame));
        ASSERT_EQ(rig.sent.size() - before, universeCount(frame.size()));
        for (std::size_t i = before; i < rig.sent.size(); ++i) {
          const Seen p = read(rig.sent[i]);
          const auto levels = universeLevels(frame, i - before);
          EXPECT_EQ(p.levels.size(), levels.size() + (artnet ? levels.size() % 2 : 0)) << n;
          EXPECT_TRUE(std::equal(levels.begin(), levels.end(), p.levels.begin())) << n;
          if (last.count(p.universe)) {
            const std::uint8_t previous = last[p.universe];
            EXPECT_EQ(p.sequence, artnet ? artnet::nextSequence(previous)
                                         : static_cast<std::uint8_t>(previous + 1))
                << "universe " << p.universe << " after N=" << n;
          }
          last[p.universe] = p.sequence;
        }
        rig.scheduler.advanceBy(30ms);  // the next packet of each universe may go
      }
    }
  }
}

}  // namespace
}  // namespace luvrin
