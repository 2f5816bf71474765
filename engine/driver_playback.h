#pragma once

#include <coroutine>
#include <cstdint>
#include <functional>

#include "controls.h"
#include "playback.h"
#include "scheduler.h"

namespace luvrin {

// The driver window's playback of the current scene: a new run replaces the one in progress,
// the loop instruction starts the script over, the countdown runs on a free-running 100 ms timer
// whose every tick also runs one intake pass while a delay counts down.
class DriverPlayback {
 public:
  // The countdown timer runs freely; each of its ticks during a delay runs one intake pass.
  struct Window : ScriptWindow {
    std::function<void()> intake;  // one intake pass
    // The frame timer's interval in ms (0: none). A looping pass whose delays wait no tick runs
    // once per frame tick, or once per intake tick without a frame timer: no look could reach
    // the wire faster.
    std::function<std::int64_t()> frameInterval;
  };

  DriverPlayback(Scheduler& scheduler, Window window);
  DriverPlayback(const DriverPlayback&) = delete;
  DriverPlayback& operator=(const DriverPlayback&) = delete;

  // Starts a run of the script box text from its first character, in place of any other.
  void Command5_Click();
  // One tick of the countdown timer.
  void timdelay_Timer();
  // Ends the run at once, carrying out nothing more (unloading the window).
  void stopAll() { runs_.stopAll(); }
  // Ends the run at once and clears its countdown: the levels are someone else's now.
  void stop();

  // A delay of n ticks. Counts of 0 and 1 end at once; otherwise it ends when the countdown
  // shows 1, or when n ticks' time has passed should the ticks fall behind. Only a run's task
  // may await it (see Scheduler::Suspend).
  class Delay {
   public:
    bool await_ready();
    void await_suspend(std::coroutine_handle<> h);
    void await_resume();

   private:
    friend class DriverPlayback;
    Delay(DriverPlayback& p, std::int32_t n) : playback_(p), n_(n) {}
    DriverPlayback& playback_;
    std::int32_t n_;
  };
  Delay DelayTim(std::int32_t n) { return Delay(*this, n); }

  std::int32_t countdown() const { return countdown_; }
  std::int64_t delayStart() const { return delayStart_; }
  bool running() const { return !runs_.empty(); }
  std::size_t runDepth() const { return runs_.size(); }

 private:
  Task play(RunList::Run run);
  void endCountdown();
  void showCountdown();

  Scheduler& scheduler_;
  Window w_;
  std::int32_t countdown_ = 0;
  std::int64_t delayStart_ = 0;
  // Last: its runs end before the rest of the playback goes.
  RunList runs_;
};

}  // namespace luvrin
