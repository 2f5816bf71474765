#include <windows.h>
// windows.h first: the timer functions need its types.
#include <mmsystem.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QWinEventNotifier>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "waker.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace luvrin {

namespace {

// Qt's precise timers on Windows are multimedia timers, and a QTimer started again after every
// wake sets one up and kills it each time, each wake going through the multimedia timer thread and
// a posted message. The wakers here are one waitable timer each, made once and set again as
// needed.
HANDLE createTimer() {
  // High resolution where Windows has it (10, version 1803 on).
  if (HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_ALL_ACCESS)) {
    return timer;
  }
  // Otherwise a plain one, which keeps to the system's clock tick (15.6 ms unless raised): raised
  // to 1 ms once for the program, as Qt's multimedia timers had it.
  static const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)raised;
  return CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

class WaitableTimerWaker;

// The wakers of this thread that APCs may still be queued for, by number: an APC queued before
// its waker was disarmed or destroyed still runs, and must then find nothing.
// One table for the program, never destroyed: an APC may still run while a thread or the program
// ends, after thread-local and static objects are gone, and a waker may be destroyed on another
// thread than the one that armed it.
struct ApcTargets {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, WaitableTimerWaker*> byId;
};
ApcTargets& apcTargets() {
  static auto* targets = new ApcTargets;
  return *targets;
}
thread_local int wakeDepth = 0;
std::atomic<std::uintptr_t> nextApcId{1};

class WaitableTimerWaker final : public Waker {
 public:
  // Apc: the timer's completion routine runs on the thread that armed it, as soon as that thread
  // waits alertably; Qt's event loop on Windows always waits so. No other thread and no posted
  // message is involved, but a thread that may run a native modal loop (a file dialog waits
  // without being alertable) would get no wakes until it ends.
  // Notifier: the event loop is told through Qt's event queue, which every message loop serves.
  enum class Delivery { Apc, Notifier };

  WaitableTimerWaker(HANDLE timer, Delivery delivery)
      : timer_(timer), delivery_(delivery), id_(nextApcId.fetch_add(1)) {
    if (delivery_ == Delivery::Apc) {
      const std::lock_guard guard(apcTargets().lock);
      apcTargets().byId.emplace(id_, this);
      return;
    }
    notifier_ = std::make_unique<QWinEventNotifier>(timer_);
    notifier_->setEnabled(false);
    QObject::connect(notifier_.get(), &QWinEventNotifier::activated, &context_, [this] { wake(); });
  }
  ~WaitableTimerWaker() override {
    {
      const std::lock_guard guard(apcTargets().lock);
      apcTargets().byId.erase(id_);
    }
    CancelWaitableTimer(timer_);
    notifier_.reset();
    CloseHandle(timer_);
  }

  void arm(std::int64_t firstNs, std::int64_t periodNs) override {
    // Relative times are negative, in 100 ns units; the period is whole milliseconds.
    LARGE_INTEGER due;
    due.QuadPart = -std::max<std::int64_t>(1, firstNs / 100);
    const LONG periodMs = periodNs > 0 ? static_cast<LONG>(std::clamp<std::int64_t>(
                                             (periodNs + kNsPerMs / 2) / kNsPerMs, 1, LONG_MAX))
                                       : 0;
    periodNs_ = periodMs * kNsPerMs;
    firstNs_ = firstNs;
    lastSlot_ = -1;
    sinceArm_.start();
    armed_ = SetWaitableTimer(timer_, &due, periodMs,
                              delivery_ == Delivery::Apc ? &WaitableTimerWaker::onApc : nullptr,
                              reinterpret_cast<void*>(id_), FALSE) != 0;
    if (notifier_) notifier_->setEnabled(armed_);
  }
  void disarm() override {
    armed_ = false;
    CancelWaitableTimer(timer_);
    if (notifier_) notifier_->setEnabled(false);
  }
  bool armed() const override { return armed_; }

 private:
  static void CALLBACK onApc(void* id, DWORD, DWORD) {
    WaitableTimerWaker* self = nullptr;
    {
      const std::lock_guard guard(apcTargets().lock);
      const auto it = apcTargets().byId.find(reinterpret_cast<std::uintptr_t>(id));
      if (it == apcTargets().byId.end()) return;
      self = it->second;
    }
    if (wakeDepth > 0) {
      // An alertable wait inside a wake's own work: the wake runs after that work, not inside.
      QMetaObject::invokeMethod(
          &self->context_, [self] { self->wake(); }, Qt::QueuedConnection);
      return;
    }
    self->wake();
  }

  void wake() {
    if (!armed_) return;
    if (periodNs_ > 0) {
      // Periods that ended while the thread was busy make one wake, not a burst (wine queues a
      // completion routine for each of them): a wake counts for the period whose start it is
      // nearest to, and a period gets one.
      const std::int64_t slot = (sinceArm_.nsecsElapsed() - firstNs_ + periodNs_ / 2) / periodNs_;
      if (slot <= lastSlot_) return;
      lastSlot_ = slot;
    } else {
      armed_ = false;
      if (notifier_) notifier_->setEnabled(false);
    }
    ++wakeDepth;
    if (onWake) onWake(1);
    --wakeDepth;
  }

  HANDLE timer_;
  Delivery delivery_;
  std::uintptr_t id_;
  QObject context_;
  std::unique_ptr<QWinEventNotifier> notifier_;
  bool armed_ = false;
  std::int64_t periodNs_ = 0;
  std::int64_t firstNs_ = 0;
  std::int64_t lastSlot_ = -1;
  QElapsedTimer sinceArm_;
};

bool onWindowThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

std::unique_ptr<Waker> makeWaitableTimerWaker(WaitableTimerWaker::Delivery delivery) {
  HANDLE timer = createTimer();
  if (timer == nullptr) return makeQtWaker();
  return std::make_unique<WaitableTimerWaker>(timer, delivery);
}

}  // namespace

std::unique_ptr<Waker> makeSystemWaker(WakerKind kind) {
  // A zero-time QTimer is a posted event, no system timer.
  if (kind == WakerKind::Soon) return makeQtWaker();
  // The window's thread shows the file dialogs; the other threads run Qt's event loop alone.
  return makeWaitableTimerWaker(onWindowThread() ? WaitableTimerWaker::Delivery::Notifier
                                                 : WaitableTimerWaker::Delivery::Apc);
}

std::unique_ptr<Waker> makeFrameWaker() { return makeSystemWaker(WakerKind::Grid); }

}  // namespace luvrin
