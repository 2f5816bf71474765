#include "ola_output.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/virtual_time.h"

namespace luvrin {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// olad as the output sees it: up or down, restarted (which ends every connection), and what it
// received when.
struct FakeOlad {
  bool running = true;
  int generation = 0;
  int connects = 0;
  std::vector<std::pair<std::int64_t, Bytes>> received;
  std::vector<std::uint32_t> universes;  // of each in received
  const Clock* clock = nullptr;
};

class FakeLink : public OlaLink {
 public:
  explicit FakeLink(FakeOlad& olad) : olad_(olad) {}
  bool connect() override {
    ++olad_.connects;
    connection_ = olad_.running ? olad_.generation : -1;
    return connection_ >= 0;
  }
  bool send(std::uint32_t universe, std::span<const std::uint8_t> levels) override {
    if (connection_ < 0 || !olad_.running || connection_ != olad_.generation) return false;
    olad_.received.emplace_back(olad_.clock->tickCount(), Bytes(levels.begin(), levels.end()));
    olad_.universes.push_back(universe);
    return true;
  }
  void close() override { connection_ = -1; }

 private:
  FakeOlad& olad_;
  int connection_ = -1;
};

// The output fed as the driver's frame timer feeds a port, every 25 ms.
struct Rig {
  Rig() {
    olad.clock = &clock;
    output = std::make_unique<OlaOutput>(scheduler, 5, std::make_unique<FakeLink>(olad));
    frameTimer = std::make_unique<Timer>(scheduler, 25, true, [this] {
      if (output->isOpen() && output->readyForFrame() && output->send(levels)) ++framesCounted;
    });
  }
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  FakeOlad olad;
  std::unique_ptr<OlaOutput> output;
  std::unique_ptr<Timer> frameTimer;
  Bytes levels{9, 8, 7};
  int framesCounted = 0;
};

TEST(OlaOutput, EachChangeGoesOutAtTheNextTickAndSteadyLevelsOnceASecond) {
  Rig rig;
  ASSERT_TRUE(rig.output->open());
  rig.scheduler.advanceBy(3s);
  ASSERT_EQ(rig.olad.received.size(), 3u);  // at 25 ms, then 1025 and 2025
  EXPECT_EQ(rig.olad.received[1].first, 1025);
  EXPECT_EQ(rig.framesCounted, 3);  // what the driver counts is what olad got

  for (std::uint8_t v = 1; v <= 4; ++v) {
    rig.levels[0] = v;
    rig.scheduler.advanceBy(25ms);
  }
  ASSERT_EQ(rig.olad.received.size(), 7u);
  EXPECT_EQ(rig.olad.received.back(), (std::pair<std::int64_t, Bytes>{3100, Bytes{4, 8, 7}}));

  rig.levels = Bytes(513, 1);
  rig.scheduler.advanceBy(25ms);
  EXPECT_EQ(rig.olad.received.back().second.size(), 512u);  // DMX512 has no 513th slot
}

TEST(OlaOutput, OladNotRunningAtStartIsTriedOnceASecondUntilItComes) {
  Rig rig;
  rig.olad.running = false;
  EXPECT_FALSE(rig.output->open());
  rig.scheduler.advanceBy(3500ms);
  EXPECT_EQ(rig.olad.connects, 4);  // at open, then at 1, 2 and 3 s
  EXPECT_EQ(rig.framesCounted, 0);
  rig.olad.running = true;
  rig.scheduler.advanceBy(500ms);
  EXPECT_TRUE(rig.output->isOpen());
  ASSERT_EQ(rig.olad.received.size(), 1u);
  EXPECT_EQ(rig.olad.received.front().first, 4000);  // the first frame after connecting
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.olad.connects, 5);  // no more attempts once connected
}

TEST(OlaOutput, OladGoneMidShowIsNoticedByTheRepeatAndLevelsReturnWithinASecondOfIt) {
  Rig rig;
  rig.output->open();
  rig.scheduler.advanceBy(1100ms);  // sent at 25 and 1025
  rig.olad.running = false;
  rig.scheduler.advanceBy(1s);  // the repeat at 2025 fails
  EXPECT_FALSE(rig.output->isOpen());
  const int counted = rig.framesCounted;
  rig.scheduler.advanceBy(3s);
  EXPECT_EQ(rig.framesCounted, counted);

  rig.olad.running = true;
  ++rig.olad.generation;
  const std::int64_t back = rig.clock.tickCount();
  rig.scheduler.advanceBy(1025ms);
  ASSERT_TRUE(rig.output->isOpen());
  ASSERT_GT(rig.olad.received.back().first, back);
  EXPECT_LE(rig.olad.received.back().first - back, 1025);
  EXPECT_EQ(rig.olad.received.back().second, rig.levels);
}

TEST(OlaOutput, QuickOladRestartIsReconnectedInTheSameTick) {
  Rig rig;
  rig.output->open();
  rig.scheduler.advanceBy(500ms);
  ++rig.olad.generation;  // killed and started again between two sends
  rig.levels[0] = 100;
  rig.scheduler.advanceBy(25ms);
  EXPECT_TRUE(rig.output->isOpen());
  EXPECT_EQ(rig.olad.received.back(), (std::pair<std::int64_t, Bytes>{525, Bytes{100, 8, 7}}));
  EXPECT_EQ(rig.olad.connects, 2);
}

// Each 512 levels go to the next universe of olad; each universe is sent when its own levels
// change, and repeated on its own once a second.
TEST(OlaOutput, WideFrameFillsUniversesThatEachGoOutWhenTheyChange) {
  Rig rig;
  rig.levels = Bytes(601, 0);
  rig.levels[511] = 1;
  rig.levels[512] = 2;
  rig.levels[600] = 3;
  rig.output->open();
  rig.scheduler.advanceBy(25ms);
  ASSERT_EQ(rig.olad.universes, (std::vector<std::uint32_t>{5, 6}));
  EXPECT_EQ(rig.olad.received[0].second, Bytes(rig.levels.begin(), rig.levels.begin() + 512));
  EXPECT_EQ(rig.olad.received[1].second, Bytes(rig.levels.begin() + 512, rig.levels.end()));
  EXPECT_EQ(rig.output->status(), QStringLiteral("olad 宇宙 5-6: 已连接"));

  // 600 ms in, universe 6 changes; from then on each universe keeps its own second.
  rig.scheduler.advanceBy(575ms);
  rig.levels[600] = 4;
  rig.scheduler.advanceBy(2s);
  std::vector<std::pair<std::uint32_t, std::int64_t>> sends;
  for (std::size_t i = 0; i < rig.olad.received.size(); ++i)
    sends.emplace_back(rig.olad.universes[i], rig.olad.received[i].first);
  using Sends = std::vector<std::pair<std::uint32_t, std::int64_t>>;
  EXPECT_EQ(sends, (Sends{{5, 25}, {6, 25}, {6, 625}, {5, 1025}, {6, 1625}, {5, 2025}}));
  EXPECT_EQ(rig.olad.received[4].second.back(), 4);
  EXPECT_EQ(rig.framesCounted, 5);
}

}  // namespace
}  // namespace luvrin
