#include "precise_ticker.h"

#include <QTimer>
#include <algorithm>

namespace luvrin {

namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;

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

PreciseTicker::PreciseTicker(const Clock& clock, std::unique_ptr<Waker> waker)
    : clock_(clock), waker_(std::move(waker)) {
  waker_->onWake = [this](std::uint64_t expirations) {
    if (active_ && expirations > 0 && onTick) onTick();
  };
}

void PreciseTicker::start(std::int64_t periodNs, std::int64_t phaseNs) {
  periodNs = std::max<std::int64_t>(1, periodNs);
  const std::int64_t now = clock_.tickCountNs();
  const std::int64_t first = (now / periodNs + 1) * periodNs + phaseNs - now;
  active_ = true;
  waker_->arm(std::max<std::int64_t>(1, first), periodNs);
}

void PreciseTicker::stop() {
  active_ = false;
  waker_->disarm();
}

}  // namespace luvrin
