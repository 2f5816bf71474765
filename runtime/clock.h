#pragma once

#include <QElapsedTimer>
#include <cstdint>

namespace luvrin {

// Monotonic milliseconds, 64-bit so that a show running for weeks never wraps.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t tickCount() const = 0;
  // The same time in nanoseconds, for waking up on the millisecond grid.
  virtual std::int64_t tickCountNs() const { return tickCount() * 1'000'000; }
};

class SteadyClock final : public Clock {
 public:
  SteadyClock() { timer_.start(); }
  std::int64_t tickCount() const override { return timer_.elapsed(); }
  std::int64_t tickCountNs() const override { return timer_.nsecsElapsed(); }

 private:
  QElapsedTimer timer_;
};

}  // namespace luvrin
