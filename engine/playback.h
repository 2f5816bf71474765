#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "controls.h"
#include "scheduler.h"

namespace luvrin {

// The script playback engine, one per window. The driver's engine plays the current scene: a new
// run replaces the one in progress, the loop instruction starts the script over, the countdown
// runs on a free-running 100 ms timer. The editor's engine plays the script being edited: runs
// stack (only the top one advances), the stop button ends them, the script box shows what plays.
class PlaybackEngine {
 public:
  enum class Kind { Driver, Editor };

  // The window's controls and values the engine works through.
  struct Window {
    TextBox* scriptBox = nullptr;       // read afresh at every step
    TextBox* channelDataBox = nullptr;  // receives each frame
    Label* countdownLabel = nullptr;
    Timer* timdelay = nullptr;             // the delay countdown timer
    std::function<double()> channelCount;  // OUTBUFCNT
    std::function<void()> intake;          // driver: one intake pass on every countdown tick
    // Editor only.
    CommandButton* runButton = nullptr;  // its tag is the run flag
    Timer* liveOutput = nullptr;         // Timer3, off during a run
    Timer* refresh = nullptr;            // Timer4, on during a run
  };

  PlaybackEngine(Scheduler& scheduler, Kind kind, Window window);
  ~PlaybackEngine();
  PlaybackEngine(const PlaybackEngine&) = delete;
  PlaybackEngine& operator=(const PlaybackEngine&) = delete;

  // Starts a run of the script box text from its first character.
  void Command5_Click();
  // Editor: sets the run flag to "0"; every run ends at its next step.
  void Command7_Click();
  // One tick of the delay timer.
  void timdelay_Timer();

  // Ends every run at once, carrying out nothing more (closing the editor).
  void stopAll();

  // Awaitable delay of n ticks; only a run of this engine awaits it.
  class Delay;
  Delay DelayTim(std::int32_t n);

  std::int32_t countdown() const { return countdown_; }
  std::int64_t delayStart() const { return delayStart_; }
  bool running() const { return !runs_.empty(); }
  std::size_t runDepth() const { return runs_.size(); }

  static QString countdownText(std::int32_t n) { return QStringLiteral("乘余时间:%1").arg(n); }

  class Delay {
   public:
    bool await_ready();
    void await_suspend(std::coroutine_handle<> h);
    void await_resume();

   private:
    friend class PlaybackEngine;
    Delay(PlaybackEngine& e, std::int32_t n, std::uint64_t run) : engine_(e), n_(n), run_(run) {}
    PlaybackEngine& engine_;
    std::int32_t n_;
    std::uint64_t run_;
  };

 private:
  struct RunGuard;
  Task driverRun(std::uint64_t run);
  Task editorRun(std::uint64_t run);
  bool isTop(std::uint64_t run) const { return !runs_.empty() && runs_.back().run == run; }
  bool isCurrent(std::uint64_t run) const;
  qsizetype frameChannels() const;
  bool runFlagZero() const;
  void endEditorRun();
  void endDriverCountdown();

  struct RunEntry {
    std::uint64_t run;
    TaskId task;
  };

  Scheduler& scheduler_;
  Kind kind_;
  Window w_;
  std::vector<RunEntry> runs_;
  std::uint64_t nextRun_ = 1;
  std::uint64_t awaitingRun_ = 0;
  std::int32_t countdown_ = 0;
  std::int64_t delayStart_ = 0;
};

}  // namespace luvrin
