#pragma once

#include <coroutine>
#include <cstdint>
#include <functional>

#include "controls.h"
#include "playback.h"
#include "scheduler.h"

namespace luvrin {

// The editor window's playback of the script being edited: runs nest (only the top one
// advances, the one below waits until it ends), the stop button ends them all at their next
// step, the script box shows what plays, and the live output stays off while a run lasts.
class EditorPlayback {
 public:
  // The countdown timer is on only while a delay counts.
  struct Window : ScriptWindow {
    CommandButton* runButton = nullptr;  // its tag is the run flag
    Timer* liveOutput = nullptr;         // Timer3, off during a run
    Timer* refresh = nullptr;            // Timer4, on during a run
  };

  EditorPlayback(Scheduler& scheduler, Window window);
  EditorPlayback(const EditorPlayback&) = delete;
  EditorPlayback& operator=(const EditorPlayback&) = delete;

  // Starts a run of the script box text from its first character, on top of any other.
  void Command5_Click();
  // Sets the run flag to "0"; every run ends at its next step.
  void Command7_Click();
  // One tick of the countdown timer.
  void timdelay_Timer();
  // Ends every run at once, carrying out nothing more (closing the window).
  void stopAll() { runs_.stopAll(); }

  // A delay of n ticks for one run: it ends when the countdown reaches 0 and that run is on
  // top, at once for a count of 0 or less. Only that run's task may await it (see
  // Scheduler::Suspend).
  class Delay {
   public:
    bool await_ready();
    void await_suspend(std::coroutine_handle<> h);
    void await_resume() {}

   private:
    friend class EditorPlayback;
    Delay(EditorPlayback& p, std::int32_t n, RunList::Run run) : playback_(p), n_(n), run_(run) {}
    EditorPlayback& playback_;
    std::int32_t n_;
    RunList::Run run_;
  };
  // A delay for the run on top.
  Delay DelayTim(std::int32_t n) { return Delay(*this, n, runs_.top()); }

  std::int32_t countdown() const { return countdown_; }
  bool running() const { return !runs_.empty(); }
  std::size_t runDepth() const { return runs_.size(); }

 private:
  Task play(RunList::Run run);
  bool runFlagZero() const;
  void endRun();

  Scheduler& scheduler_;
  Window w_;
  std::int32_t countdown_ = 0;
  // Last: its runs end before the rest of the playback goes.
  RunList runs_;
};

}  // namespace luvrin
