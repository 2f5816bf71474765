#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdint>

#include "waker.h"

namespace luvrin {

namespace {

timespec toTimespec(std::int64_t ns) {
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// The kernel's interval timer, waited on by the event loop: it keeps its grid however late the
// thread comes to read it.
class KernelWaker final : public Waker {
 public:
  explicit KernelWaker(int fd) : fd_(fd), notifier_(fd, QSocketNotifier::Read) {
    notifier_.setEnabled(false);
    QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] {
      std::uint64_t expirations = 0;
      if (::read(fd_, &expirations, sizeof expirations) <= 0 || !armed_) return;
      if (!periodic_) {
        armed_ = false;
        notifier_.setEnabled(false);
      }
      if (onWake) onWake(expirations);
    });
  }
  ~KernelWaker() override {
    notifier_.setEnabled(false);
    ::close(fd_);
  }
  void arm(std::int64_t firstNs, std::int64_t periodNs) override {
    const itimerspec timing{toTimespec(std::max<std::int64_t>(0, periodNs)),
                            toTimespec(std::max<std::int64_t>(1, firstNs))};
    armed_ = ::timerfd_settime(fd_, 0, &timing, nullptr) == 0;
    periodic_ = periodNs > 0;
    notifier_.setEnabled(armed_);
  }
  void disarm() override {
    armed_ = false;
    const itimerspec off{};
    ::timerfd_settime(fd_, 0, &off, nullptr);
    notifier_.setEnabled(false);
  }
  bool armed() const override { return armed_; }

 private:
  int fd_;
  QSocketNotifier notifier_;
  bool armed_ = false;
  bool periodic_ = false;
};

}  // namespace

std::unique_ptr<Waker> makeSystemWaker(WakerKind kind) {
  if (kind == WakerKind::Grid) {
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0) return std::make_unique<KernelWaker>(fd);
  }
  return makeQtWaker();
}

std::unique_ptr<Waker> makeFrameWaker() { return nullptr; }

}  // namespace luvrin
