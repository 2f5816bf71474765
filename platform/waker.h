#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace luvrin {

inline constexpr std::int64_t kNsPerMs = 1'000'000;

// A waiting primitive of the event loop: it wakes its owner once, or periodically, from the event
// loop. The system's are Qt timers, the kernel's interval timer on Linux and waitable timers on
// Windows; tests put virtual ones on virtual time.
class Waker {
 public:
  virtual ~Waker() = default;
  // First wake firstNs from now, then every periodNs (0: only once). Replaces an earlier arming.
  virtual void arm(std::int64_t firstNs, std::int64_t periodNs) = 0;
  virtual void disarm() = 0;
  // A single shot is armed until it has woken; a periodic waker until it is disarmed.
  virtual bool armed() const = 0;

  // Runs at each wake with the number of periods that ended since the last wake: more than one
  // when the thread was held up.
  std::function<void(std::uint64_t expirations)> onWake;
};

enum class WakerKind {
  Soon,  // arm(0, 0): as soon as the events already pending have run
  Once,  // a precise single shot, milliseconds apart
  Grid,  // periodic, kept on its grid by the system where it can be
};
using WakerFactory = std::function<std::unique_ptr<Waker>(WakerKind)>;

// The system's wakers. Grid uses the kernel's interval timer where there is one: Qt's repeating
// timers re-arm from the moment they fired, so a 1 ms timer runs about 7% slow. On Windows Once and
// Grid are each one waitable timer for the waker's life: Qt's precise timers there are multimedia
// timers, one set up and killed for every single shot.
std::unique_ptr<Waker> makeSystemWaker(WakerKind kind);
// The system's periodic waker for an output thread's frame timer, made on that thread, where one
// serves better than the scheduler's own timer; null where it does not (Linux: the pump already
// waits on the kernel's interval timer).
std::unique_ptr<Waker> makeFrameWaker();
// A precise QTimer (single shot when the period is 0).
std::unique_ptr<Waker> makeQtWaker();

}  // namespace luvrin
