#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "controls.h"
#include "scheduler.h"
#include "task.h"

namespace luvrin {

// What both windows' countdown labels show.
inline QString countdownText(std::int32_t n) { return QStringLiteral("乘余时间:%1").arg(n); }

// The controls and values a window's playback works through, in both windows.
struct ScriptWindow {
  TextBox* scriptBox = nullptr;       // read afresh at every step
  TextBox* channelDataBox = nullptr;  // receives each frame
  Label* countdownLabel = nullptr;
  Timer* timdelay = nullptr;             // the countdown timer
  std::function<double()> channelCount;  // OUTBUFCNT
};

// The script runs one window has in progress, oldest first, each a task of the scheduler. A run
// is known by its number, which its coroutine is given when it starts, so every step and every
// delay can ask whether its own run still counts.
class RunList {
 public:
  using Run = std::uint64_t;

  explicit RunList(Scheduler& scheduler) : scheduler_(scheduler) {}
  ~RunList() { stopAll(); }
  RunList(const RunList&) = delete;
  RunList& operator=(const RunList&) = delete;

  // The number the next run started will carry.
  Run next() { return nextRun_++; }
  // Hands a run's coroutine to the scheduler; it goes on top of the list.
  void start(Run run, Task task);
  // Ends every run at once; none carries out anything more.
  void stopAll();

  bool contains(Run run) const;
  bool isTop(Run run) const { return !runs_.empty() && runs_.back().run == run; }
  // The top run's number, 0 when nothing runs.
  Run top() const { return runs_.empty() ? 0 : runs_.back().run; }
  bool empty() const { return runs_.empty(); }
  std::size_t size() const { return runs_.size(); }

  // Held by a run's coroutine: takes the run off the list when the coroutine ends, however it
  // ends (finished, cancelled, or destroyed with the scheduler).
  class Guard {
   public:
    Guard(RunList& list, Run run) : list_(list), run_(run) {}
    ~Guard() { list_.remove(run_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    RunList& list_;
    Run run_;
  };

 private:
  void remove(Run run);

  struct Entry {
    Run run;
    TaskId task;
  };
  Scheduler& scheduler_;
  std::vector<Entry> runs_;
  Run nextRun_ = 1;
};

}  // namespace luvrin
