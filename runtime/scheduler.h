#pragma once

#include <coroutine>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "clock.h"
#include "task.h"

namespace luvrin {

class Timer;
using TaskId = std::uint64_t;

// The one event source of the program: timers, posted events and resumable tasks, all run on
// one thread against an injected clock. Whoever owns the clock drives it: in production a
// SchedulerPump wakes it from Qt's event loop; tests step a manual clock and run each instant.
class Scheduler {
 public:
  explicit Scheduler(Clock& clock);
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  Clock& clock() const { return clock_; }
  std::int64_t now() const { return clock_.tickCount(); }

  // Runs fn after the current handler, in order with other pending events.
  void post(std::function<void()> fn);

  // Takes ownership of a task; it first runs at the next round.
  TaskId spawn(Task task);
  // Ends a task: at once if it is suspended, when it next suspends if it is running now.
  void cancel(TaskId id);
  bool alive(TaskId id) const;
  std::size_t taskCount() const { return tasks_.size(); }

  // Awaitables for tasks. A Suspend may be awaited only in the body of a Task this scheduler is
  // resuming at that moment (spawned here, run by runOnce), directly or through an awaitable that
  // forwards to it as the playback delays do. It parks the running task, not the handle it is
  // given, so anywhere else it goes wrong: outside a running task (a timer handler, a plain
  // callback) it parks nothing and the coroutine is never resumed; in a coroutine nested inside a
  // task it parks the task, which is later resumed where it awaits the nested one. A parked task
  // resumes in a later round, never in the one that parked it.
  struct Suspend {
    Scheduler* scheduler;
    std::function<bool()> predicate;  // empty: a plain yield
    std::int64_t deadline;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<>) const;
    void await_resume() const noexcept {}
  };
  // Let pending events run, then go on.
  Suspend yield() { return Suspend{this, {}, kNever}; }
  // Block until predicate holds (checked after every event) or the deadline (clock ms) passes.
  Suspend waitUntil(std::function<bool()> predicate, std::int64_t deadline = kNever) {
    return Suspend{this, std::move(predicate), deadline};
  }

  // One round: due timers, posted events, tasks that are ready. Returns whether anything ran.
  bool runOnce();
  // Whether a round would run something right now.
  bool hasReadyWork() const;
  // Clock time of the next timer or wait deadline, if any.
  std::optional<std::int64_t> nextDue() const;

  // Called whenever new work appears, so a pump can wake up early.
  std::function<void()> onWorkScheduled;

  static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

 private:
  friend class Timer;
  enum class State { Ready, Yielded, Waiting, Running };
  struct Entry {
    TaskId id;
    std::coroutine_handle<> handle;
    State state;
    std::function<bool()> predicate;
    std::int64_t deadline;
    bool cancelled;
  };

  void registerTimer(Timer* t);
  void unregisterTimer(Timer* t);
  void wake();
  bool fireDueTimers();
  bool runPosted();
  bool runTasks();
  void releaseWaiters();
  Entry* find(TaskId id);
  const Entry* find(TaskId id) const;
  void destroy(TaskId id);

  Clock& clock_;
  std::vector<Timer*> timers_;
  std::uint64_t nextTimerSeq_ = 0;
  std::deque<std::function<void()>> posted_;
  std::vector<std::unique_ptr<Entry>> tasks_;
  TaskId nextTaskId_ = 1;
  TaskId currentId_ = 0;
  std::uint64_t round_ = 0;
  bool inRound_ = false;
};

// A window timer: interval in ms, enabled flag, one handler. Enabling it or changing its interval
// restarts the period; interval 0 never fires; a late tick is not repeated in a burst.
class Timer {
 public:
  Timer(Scheduler& scheduler, int intervalMs, bool enabled, std::function<void()> handler = {});
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  int interval() const { return interval_; }
  void setInterval(int ms);
  bool enabled() const { return enabled_; }
  void setEnabled(bool on);
  std::int64_t due() const { return due_; }

  std::function<void()> onTimer;

 private:
  friend class Scheduler;
  bool armed() const { return enabled_ && interval_ > 0; }
  void restart();

  Scheduler& scheduler_;
  int interval_;
  bool enabled_;
  std::int64_t due_ = 0;
  std::uint64_t seq_ = 0;
  std::uint64_t firedRound_ = 0;
};

}  // namespace luvrin
