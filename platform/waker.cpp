#include "waker.h"

#include <QTimer>
#include <algorithm>

namespace luvrin {

namespace {

class QtWaker final : public Waker {
 public:
  QtWaker() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
      if (onWake) onWake(1);
    });
  }
  void arm(std::int64_t firstNs, std::int64_t periodNs) override {
    // Qt re-arms a repeating timer from the moment it fired: the first wake cannot be placed,
    // only the period kept. A single shot is rounded to the nearest millisecond, the finest Qt
    // places it.
    timer_.setSingleShot(periodNs == 0);
    const std::int64_t ns = periodNs == 0 ? firstNs + kNsPerMs / 2 : std::max(kNsPerMs, periodNs);
    timer_.start(static_cast<int>(std::clamp<std::int64_t>(ns / kNsPerMs, 0, 60'000)));
  }
  void disarm() override { timer_.stop(); }
  bool armed() const override { return timer_.isActive(); }

 private:
  QTimer timer_;
};

}  // namespace

std::unique_ptr<Waker> makeQtWaker() { return std::make_unique<QtWaker>(); }

}  // namespace luvrin
