#include "serial/ola_output.h"

#include <gtest/gtest.h>

#include <chrono>

namespace luvrin {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// olad as the output sees it: up or down, and what it received.
struct FakeOlad {
  bool running = true;
  int connects = 0;
  std::vector<std::pair<std::uint32_t, Bytes>> received;
};

class FakeLink : public OlaLink {
 public:
  explicit FakeLink(FakeOlad& olad) : olad_(olad) {}
  bool connect() override {
    ++olad_.connects;
    connected_ = olad_.running;
    return connected_;
  }
  bool send(std::uint32_t universe, std::span<const std::uint8_t> levels) override {
    if (!connected_ || !olad_.running) return false;
    olad_.received.emplace_back(universe, Bytes(levels.begin(), levels.end()));
    return true;
  }
  void close() override { connected_ = false; }

 private:
  FakeOlad& olad_;
  bool connected_ = false;
};

struct Rig {
  Rig() {
    output = std::make_unique<OlaOutput>(scheduler, 5, std::make_unique<FakeLink>(olad));
    frameTimer = std::make_unique<Timer>(scheduler, 25, true, [this] {
      if (output->isOpen() && output->readyForFrame() && output->writeFrame("::::DMX", levels, "."))
        ++framesCounted;
    });
  }
  ManualClock clock;
  Scheduler scheduler{clock};
  FakeOlad olad;
  std::unique_ptr<OlaOutput> output;
  std::unique_ptr<Timer> frameTimer;
  Bytes levels{9, 8, 7};
  int framesCounted = 0;
};

TEST(OlaOutput, EveryFrameGoesToTheUniverseUpTo512Levels) {
  Rig rig;
  ASSERT_TRUE(rig.output->open());
  rig.levels = Bytes(513, 1);
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.framesCounted, 40);
  ASSERT_EQ(rig.olad.received.size(), 40u);
  EXPECT_EQ(rig.olad.received.back().first, 5u);
  EXPECT_EQ(rig.olad.received.back().second.size(), 512u);
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
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.olad.connects, 5);   // no more attempts once connected
  EXPECT_EQ(rig.framesCounted, 41);  // every tick from 4 s to 5 s, both included
}

TEST(OlaOutput, OladGoingAwayMidShowIsReconnectedWithinASecondOfItsReturn) {
  Rig rig;
  rig.output->open();
  rig.scheduler.advanceBy(1s);
  rig.olad.running = false;
  rig.scheduler.advanceBy(25ms);
  EXPECT_FALSE(rig.output->isOpen());
  const int countedWhileUp = rig.framesCounted;
  rig.scheduler.advanceBy(5s);
  EXPECT_EQ(rig.framesCounted, countedWhileUp);
  rig.olad.running = true;
  const std::size_t before = rig.olad.received.size();
  rig.scheduler.advanceBy(1025ms);
  EXPECT_TRUE(rig.output->isOpen());
  EXPECT_GT(rig.olad.received.size(), before);
}

}  // namespace
}  // namespace luvrin
