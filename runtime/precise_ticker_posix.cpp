#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdint>

#include "precise_ticker.h"

namespace luvrin {

namespace {
timespec toTimespec(std::int64_t ns) {
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}
}  // namespace

PreciseTicker::PreciseTicker(QObject* parent) : QObject(parent) {
  fallback_.setTimerType(Qt::PreciseTimer);
  connect(&fallback_, &QTimer::timeout, this, &PreciseTicker::timeout);
  fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ < 0) return;
  auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  notifier->setEnabled(false);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    std::uint64_t expirations = 0;
    // Several expirations while the thread was busy still make one tick: no burst.
    if (::read(fd_, &expirations, sizeof expirations) > 0 && active_) emit timeout();
  });
  notifier_ = notifier;
}

PreciseTicker::~PreciseTicker() {
  delete notifier_;
  if (fd_ >= 0) ::close(fd_);
}

void PreciseTicker::start(std::int64_t firstNs, std::int64_t periodNs) {
  active_ = true;
  if (fd_ < 0) {
    fallback_.start(static_cast<int>(std::max<std::int64_t>(1, periodNs / 1'000'000)));
    return;
  }
  itimerspec timing{toTimespec(periodNs), toTimespec(std::max<std::int64_t>(1, firstNs))};
  ::timerfd_settime(fd_, 0, &timing, nullptr);
  static_cast<QSocketNotifier*>(notifier_)->setEnabled(true);
}

void PreciseTicker::stop() {
  active_ = false;
  fallback_.stop();
  if (fd_ < 0) return;
  itimerspec off{};
  ::timerfd_settime(fd_, 0, &off, nullptr);
  static_cast<QSocketNotifier*>(notifier_)->setEnabled(false);
}

}  // namespace luvrin
