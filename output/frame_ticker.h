#pragma once

#include <functional>
#include <memory>

#include "scheduler.h"
#include "waker.h"

namespace luvrin {

// A frame loop's timer, ticking every 发送定时器时间 milliseconds. Given a periodic
// system waker it keeps that one waker for its whole life and arms it again only when the
// interval changes, never at a tick: on Windows a timer set up at every wake costs the system far
// more than the frame it times. Without one, the scheduler's own Timer ticks (the pump wakes for
// it, and tests run it on virtual time). Either way it follows the Timer's rules: a new interval
// restarts the period, the same one changes nothing, 0 never ticks, a late tick comes once.
class FrameTicker {
 public:
  FrameTicker(Scheduler& scheduler, int intervalMs, std::unique_ptr<Waker> periodic);
  FrameTicker(const FrameTicker&) = delete;
  FrameTicker& operator=(const FrameTicker&) = delete;

  void setInterval(int ms);
  int interval() const { return timer_.interval(); }

  std::function<void()> onTick;

 private:
  void arm();

  Timer timer_;
  std::unique_ptr<Waker> periodic_;
};

}  // namespace luvrin
