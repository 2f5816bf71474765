#include "frame_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "output_link.h"
#include "output_runner.h"
#include "support/virtual_time.h"

namespace luvrin {
namespace {

using namespace std::chrono_literals;

struct Counting final : FrameOutput {
  bool open() override { return true; }
  bool isOpen() const override { return true; }
  bool readyForFrame() override { return true; }
  void whenReady(std::function<void()>) override {}
  bool send(std::span<const std::uint8_t>) override { return ++sent; }
  QString status() const override { return {}; }
  int sent = 0;
};

// The direct link, and the runner with both its sides on the same virtual scheduler.
struct Links {
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  Counting direct;
  DirectOutputLink directLink{scheduler, direct};
  Counting* run = nullptr;
  PostTo post = [this](std::function<void()> fn) { scheduler.post(std::move(fn)); };
  OutputRunner runner{{scheduler, post, post}};

  Links() {
    runner.start(
        scheduler, [&](Scheduler&) { return std::unique_ptr<FrameOutput>(run = new Counting); },
        nullptr);
  }
  ~Links() { runner.stop(); }
};

TEST(FrameLoop, BothLinksTickTheFramesAtTheIntervalTheyAreTold) {
  struct Step {
    int interval;  // -1: unchanged
    bool countOnly;
    int advanceMs;
  };
  const struct {
    const char* what;
    std::vector<Step> steps;
    int sent, counted;
  } cases[] = {
      {"1 ms", {{1, false, 100}}, 100, 100},
      {"every 25 ms", {{25, false, 100}}, 4, 4},
      {"0 sends nothing", {{0, false, 100}}, 0, 0},
      {"a new interval restarts the period", {{10, false, 5}, {20, false, 19}}, 0, 0},
      {"the same interval again does not", {{10, false, 5}, {10, false, 5}}, 1, 1},
      {"counting only", {{10, true, 100}}, 0, 10},
      {"counting, then sending again", {{10, true, 50}, {-1, false, 50}}, 5, 10},
  };
  const std::uint8_t frame[] = {0, 7, 9};
  for (const auto& c : cases) {
    Links l;
    OutputLink* const links[] = {&l.directLink, &l.runner};
    for (OutputLink* link : links) {
      link->open();
      link->setFrame(frame);
    }
    l.scheduler.settle();
    for (const Step& step : c.steps) {
      for (OutputLink* link : links) {
        if (step.interval >= 0) link->setFrameInterval(step.interval);
        link->setCountOnly(step.countOnly);
      }
      l.scheduler.settle();
      l.scheduler.advanceBy(std::chrono::milliseconds(step.advanceMs));
    }
    EXPECT_EQ(l.direct.sent, c.sent) << c.what;
    EXPECT_EQ(l.directLink.takeFramesCounted(), c.counted) << c.what;
    EXPECT_EQ(l.run->sent, c.sent) << c.what;
    EXPECT_EQ(l.runner.takeFramesCounted(), c.counted) << c.what;
  }
}

TEST(FrameLoop, ADetachedDirectLinkSendsNoMoreFrames) {
  Links l;
  const std::uint8_t frame[] = {0, 1};
  l.directLink.open();
  l.directLink.setFrameInterval(1);
  l.directLink.setFrame(frame);
  l.scheduler.advanceBy(10ms);
  ASSERT_EQ(l.direct.sent, 10);
  l.directLink.detach();
  l.scheduler.advanceBy(10ms);
  EXPECT_EQ(l.direct.sent, 10);
}

}  // namespace
}  // namespace luvrin
