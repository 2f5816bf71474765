#include "output_thread.h"

#include <utility>

#include "clock.h"
#include "frame_priority.h"
#include "frame_ticker.h"
#include "log_categories.h"
#include "scheduler_pump.h"

namespace luvrin {

struct OutputThread::Worker {
  Worker(OutputThread& link, const Factory& make)
      : scheduler(clock), pump(scheduler), output(make(scheduler)), sender(*output) {
    frameTicker.onTick = [this, &link] {
      link.takeNewestFrame(*this);
      sender.tick();
    };
    sender.onCounted = [this, &link] {
      link.counted_.fetch_add(1);
      // A notice for every frame would wake the window's thread a thousand times a second for a
      // number it shows; the rate meter collects the rest when it reads.
      const std::int64_t now = clock.tickCount();
      if (now - lastCountNotice < kCountNoticeMs) return;
      lastCountNotice = now;
      link.toWindow(link.countedPosted_, &OutputThread::onCounted_);
    };
    output->onStatusChanged = [this, &link] {
      {
        const std::lock_guard lock(link.mutex_);
        link.status_ = output->status();
      }
      link.toWindow(link.statusPosted_, &OutputThread::onStatus_);
    };
    output->onStatusChanged();
  }
  ~Worker() { output->onStatusChanged = nullptr; }

  static constexpr std::int64_t kCountNoticeMs = 50;

  SteadyClock clock;
  Scheduler scheduler;
  SchedulerPump pump;
  std::unique_ptr<FrameOutput> output;
  FrameSender sender;
  // Ticks as the window's frame timer would until the interval is set.
  FrameTicker frameTicker{scheduler, 1, makeFrameWaker()};
  std::int64_t lastCountNotice = -kCountNoticeMs;
};

OutputThread::OutputThread(Factory make)
    : thread_(std::make_unique<QThread>()), threadContext_(new QObject) {
  thread_->setObjectName(QStringLiteral("LUVRIN output"));
  threadContext_->moveToThread(thread_.get());
  // Ordinary until the system grants more, and then for this thread alone.
  thread_->start();
  QMetaObject::invokeMethod(
      threadContext_,
      [this, make = std::move(make)] {
        platform::raiseFramePriority(threadContext_, [](const platform::FramePriority& p) {
          if (p.granted) {
            qCDebug(lcSerial).noquote() << "输出线程: 实时优先级" << p.detail;
          } else {
            qCWarning(lcSerial).noquote() << "输出线程没有得到实时优先级:" << p.detail;
          }
        });
        worker_ = std::make_unique<Worker>(*this, make);
      },
      Qt::QueuedConnection);
}

OutputThread::~OutputThread() {
  detach();
  QMetaObject::invokeMethod(
      threadContext_,
      [this] {
        worker_.reset();
        QThread::currentThread()->quit();
      },
      Qt::QueuedConnection);
  if (thread_->wait(kStopWaitMs)) {
    delete threadContext_;
  } else {
    // The output would not close in time (a device stuck in the system): the program is ending,
    // and waiting on would only keep the lights from the next driver. Leave the thread be.
    (void)thread_.release();
  }
}

void OutputThread::post(std::function<void(Worker&)> fn) {
  QMetaObject::invokeMethod(
      threadContext_,
      [this, fn = std::move(fn)] {
        if (worker_) fn(*worker_);
      },
      Qt::QueuedConnection);
}

void OutputThread::toWindow(std::atomic<bool>& posted,
                            std::function<void()> OutputThread::*handler) {
  // One notice on its way is enough: the window reads whatever has gathered when it runs.
  if (posted.exchange(true)) return;
  QMetaObject::invokeMethod(
      &windowContext_,
      [this, &posted, handler] {
        posted.store(false);
        if (this->*handler) (this->*handler)();
      },
      Qt::QueuedConnection);
}

void OutputThread::takeNewestFrame(Worker& w) {
  const std::lock_guard lock(mutex_);
  if (!std::exchange(frameNew_, false)) return;
  w.sender.setFrame(frame_);
}

void OutputThread::open() {
  post([](Worker& w) { w.output->open(); });
}

void OutputThread::setFrameInterval(int ms) {
  post([ms](Worker& w) { w.frameTicker.setInterval(ms); });
}

void OutputThread::setCountOnly(bool countOnly) {
  post([countOnly](Worker& w) { w.sender.setCountOnly(countOnly); });
}

void OutputThread::setFrame(std::span<const std::uint8_t> frame) {
  const std::lock_guard lock(mutex_);
  frame_.assign(frame.begin(), frame.end());
  frameNew_ = true;
}

QByteArray OutputThread::takeInput() {
  // What the output thread gathered since the last call; it gathers the next part now, so the
  // window's log trails the wire by one call and the window never waits for the port.
  post([this](Worker& w) {
    const QByteArray more = w.output->takeInput();
    if (more.isEmpty()) return;
    const std::lock_guard lock(mutex_);
    input_ += more;
    if (input_.size() > kInputBytes) input_.remove(0, input_.size() - kInputBytes);
  });
  const std::lock_guard lock(mutex_);
  return std::exchange(input_, QByteArray());
}

QString OutputThread::status() const {
  const std::lock_guard lock(mutex_);
  return status_;
}

void OutputThread::watch(std::function<void()> counted, std::function<void()> statusChanged) {
  onCounted_ = std::move(counted);
  onStatus_ = std::move(statusChanged);
}

}  // namespace luvrin
