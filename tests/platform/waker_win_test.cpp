#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>

#include "waker.h"

namespace luvrin {
namespace {

constexpr std::int64_t kMs = 1'000'000;

// Runs the calling thread's event loop until done() holds or a generous deadline passes. A wake
// that runs inside the loop's wait does not end that wait: a Qt timer ends it now and then, so
// that done() is looked at.
template <typename Done>
bool runUntil(Done done) {
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  look.start(10);
  QTimer::singleShot(20'000, &loop, &QEventLoop::quit);
  if (!done()) loop.exec();
  return done();
}

struct Outcome {
  bool wokeOnItsThread = true;
  int wakes = 0;
  bool armedAfterFirst = false;
  bool armedAfterDisarm = true;
};

// Arms the waker on the calling thread and watches it wake three times (periodic) or once.
Outcome watch(std::unique_ptr<Waker> waker, bool periodic) {
  Outcome out;
  QThread* const self = QThread::currentThread();
  waker->onWake = [&](std::uint64_t) {
    out.wokeOnItsThread = out.wokeOnItsThread && QThread::currentThread() == self;
    if (++out.wakes == 1) out.armedAfterFirst = waker->armed();
  };
  waker->arm(2 * kMs, periodic ? 2 * kMs : 0);
  runUntil([&] { return out.wakes >= (periodic ? 3 : 1); });
  waker->disarm();
  out.armedAfterDisarm = waker->armed();
  return out;
}

class WindowsWaker : public ::testing::Test {
 protected:
  WindowsWaker() {
    if (QCoreApplication::instance() == nullptr)
      app_ = std::make_unique<QCoreApplication>(argc_, argv_);
  }

 private:
  int argc_ = 0;
  char** argv_ = nullptr;
  std::unique_ptr<QCoreApplication> app_;
};

// The window's thread and a thread of its own (the output's) get their wakes differently: both
// must wake on the thread that armed them, a single shot once, a periodic waker until disarmed.
TEST_F(WindowsWaker, WakesOnTheThreadThatArmedIt) {
  struct Case {
    const char* what;
    bool ownThread;
    std::function<std::unique_ptr<Waker>()> make;
    bool periodic;
  };
  const auto kind = [](WakerKind k) { return [k] { return makeSystemWaker(k); }; };
  const Case cases[] = {
      {"window's thread, single shot", false, kind(WakerKind::Once), false},
      {"window's thread, periodic", false, kind(WakerKind::Grid), true},
      {"own thread, single shot", true, kind(WakerKind::Once), false},
      {"own thread, periodic", true, kind(WakerKind::Grid), true},
      {"own thread, the frame timer's", true, makeFrameWaker, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome out;
    const auto run = [&] {
      auto waker = c.make();
      if (waker) out = watch(std::move(waker), c.periodic);
    };
    if (c.ownThread) {
      std::unique_ptr<QThread> thread(QThread::create(run));
      thread->start();
      ASSERT_TRUE(thread->wait(30'000));
    } else {
      run();
    }
    EXPECT_GE(out.wakes, c.periodic ? 3 : 1);
    EXPECT_TRUE(out.wokeOnItsThread);
    EXPECT_EQ(out.armedAfterFirst, c.periodic);
    EXPECT_FALSE(out.armedAfterDisarm);
  }
}

}  // namespace
}  // namespace luvrin
