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

// Virtual time for tests: only moves when told to.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::int64_t start = 0) : now_(start) {}
  std::int64_t tickCount() const override { return now_; }
  void set(std::int64_t t) { now_ = t; }
  void advance(std::int64_t ms) { now_ += ms; }

 private:
  std::int64_t now_;
};

}  // namespace luvrin
