#include "output_thread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace luvrin {
namespace {

using Frame = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// What the output thread did, read from the test's thread.
struct Record {
  std::mutex mutex;
  std::vector<Frame> sent;
  std::atomic<bool> openEntered{false};
  std::atomic<bool> releaseOpen{true};
  QThread* builtOn = nullptr;
  QThread* openedOn = nullptr;
  QThread* destroyedOn = nullptr;

  std::size_t count() {
    const std::lock_guard lock(mutex);
    return sent.size();
  }
};

class FakeOutput final : public FrameOutput {
 public:
  explicit FakeOutput(Record& r) : r_(r) { r_.builtOn = QThread::currentThread(); }
  ~FakeOutput() override { r_.destroyedOn = QThread::currentThread(); }
  bool open() override {
    r_.openedOn = QThread::currentThread();
    r_.openEntered = true;
    // A device whose open blocks in the system (a real UART under some drivers).
    while (!r_.releaseOpen) std::this_thread::yield();
    open_ = true;
    statusChanged();
    return true;
  }
  bool isOpen() const override { return open_; }
  bool readyForFrame() override { return true; }
  void whenReady(std::function<void()>) override {}
  bool send(std::span<const std::uint8_t> levels) override {
    const std::lock_guard lock(r_.mutex);
    r_.sent.emplace_back(levels.begin(), levels.end());
    return true;
  }
  QString status() const override {
    return open_ ? QStringLiteral("fake: 已打开") : QStringLiteral("fake");
  }

 private:
  Record& r_;
  bool open_ = false;
};

// Holds the test's thread, as a window's handler that takes long would, until cond holds.
template <typename Cond>
bool holdUntil(Cond cond, std::chrono::seconds deadline = 20s) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

class OutputThreadTest : public ::testing::Test {
 protected:
  OutputThreadTest() {
    if (QCoreApplication::instance() == nullptr)
      app_ = std::make_unique<QCoreApplication>(argc_, argv_);
  }
  std::unique_ptr<OutputThread> start() {
    return std::make_unique<OutputThread>(
        [this](Scheduler&) { return std::make_unique<FakeOutput>(record); });
  }
  // Lets the test's thread take what the output thread posted to it.
  void settle() {
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
  }

  Record record;

 private:
  int argc_ = 0;
  char** argv_ = nullptr;
  std::unique_ptr<QCoreApplication> app_;
};

TEST_F(OutputThreadTest, FramesKeepGoingWhileTheWindowThreadIsHeld) {
  auto link = start();
  link->setFrameInterval(1);
  link->setFrame(Frame{1, 2, 3});
  link->open();
  // Nothing runs on this thread meanwhile: no event loop, no scheduler.
  ASSERT_TRUE(holdUntil([&] { return record.count() >= 50; }));
  {
    const std::lock_guard lock(record.mutex);
    for (const Frame& f : record.sent) EXPECT_EQ(f, (Frame{1, 2, 3}));
  }
  // The count goes back after the frame went out: it may trail the wire for a moment.
  std::int64_t counted = 0;
  EXPECT_TRUE(holdUntil([&] {
    counted += link->takeFramesCounted();
    return counted >= 50;
  }));
  EXPECT_NE(record.builtOn, QThread::currentThread());
  link.reset();
  // Built, used and closed on its own thread.
  EXPECT_EQ(record.destroyedOn, record.builtOn);
}

TEST_F(OutputThreadTest, TheNewestFrameWinsAndNoneIsQueued) {
  auto link = start();
  link->setFrameInterval(0);  // no ticks yet
  link->open();
  link->setFrame(Frame{1});
  link->setFrame(Frame{2});
  link->setFrame(Frame{3, 3});
  link->setFrameInterval(1);
  ASSERT_TRUE(holdUntil([&] { return record.count() >= 3; }));
  const std::lock_guard lock(record.mutex);
  for (const Frame& f : record.sent) EXPECT_EQ(f, (Frame{3, 3}));
}

TEST_F(OutputThreadTest, ABlockingOpenHoldsNeitherTheWindowNorItsOwnEnd) {
  record.releaseOpen = false;
  auto link = start();
  link->setFrame(Frame{9});
  link->open();  // returns while the device is still opening
  ASSERT_TRUE(holdUntil([&] { return record.openEntered.load(); }));
  EXPECT_EQ(record.count(), 0u);
  EXPECT_EQ(link->status(), QStringLiteral("fake"));
  record.releaseOpen = true;
  ASSERT_TRUE(holdUntil([&] { return record.count() >= 1; }));
  EXPECT_EQ(record.openedOn, record.builtOn);
  EXPECT_NE(record.openedOn, QThread::currentThread());
}

TEST_F(OutputThreadTest, CountsAndStatusReachTheWindowOnItsOwnThread) {
  auto link = start();
  std::vector<QThread*> calledOn;
  QString statusSeen;
  int counted = 0;
  link->watch(
      [&] {
        calledOn.push_back(QThread::currentThread());
        counted += static_cast<int>(link->takeFramesCounted());
      },
      [&] {
        calledOn.push_back(QThread::currentThread());
        statusSeen = link->status();
      });
  link->setFrameInterval(1);
  link->setFrame(Frame{5});
  link->open();
  ASSERT_TRUE(holdUntil([&] { return record.count() >= 10; }));
  // The counts come in notices at most every 50 ms: the last ones may still be on their way.
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (counted < 10 && std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    std::this_thread::yield();
  }
  settle();
  EXPECT_EQ(statusSeen, QStringLiteral("fake: 已打开"));
  EXPECT_GE(counted, 10);
  ASSERT_FALSE(calledOn.empty());
  for (QThread* t : calledOn) EXPECT_EQ(t, QThread::currentThread());

  // A window that has gone is not called any more.
  link->detach();
  calledOn.clear();
  const std::size_t sent = record.count();
  ASSERT_TRUE(holdUntil([&] { return record.count() >= sent + 10; }));
  settle();
  EXPECT_TRUE(calledOn.empty());
}

}  // namespace
}  // namespace luvrin
