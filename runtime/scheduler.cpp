#include "scheduler.h"

#include <algorithm>

namespace luvrin {

Scheduler::Scheduler(Clock& clock) : clock_(clock) {}

Scheduler::~Scheduler() {
  for (auto& e : tasks_) {
    if (e->handle) e->handle.destroy();
  }
  tasks_.clear();
}

void Scheduler::post(std::function<void()> fn) {
  posted_.push_back(std::move(fn));
  wake();
}

TaskId Scheduler::spawn(Task task) {
  auto handle = task.release();
  if (!handle) return 0;
  const TaskId id = nextTaskId_++;
  tasks_.push_back(std::make_unique<Entry>(Entry{id, handle, State::Ready, {}, kNever, false}));
  wake();
  return id;
}

Scheduler::Entry* Scheduler::find(TaskId id) {
  for (auto& e : tasks_) {
    if (e->id == id) return e.get();
  }
  return nullptr;
}

const Scheduler::Entry* Scheduler::find(TaskId id) const {
  for (const auto& e : tasks_) {
    if (e->id == id) return e.get();
  }
  return nullptr;
}

bool Scheduler::alive(TaskId id) const {
  const Entry* e = find(id);
  return e != nullptr && !e->cancelled;
}

void Scheduler::destroy(TaskId id) {
  auto it = std::find_if(tasks_.begin(), tasks_.end(), [id](const auto& e) { return e->id == id; });
  if (it == tasks_.end()) return;
  std::unique_ptr<Entry> entry = std::move(*it);
  tasks_.erase(it);
  // Destroying the frame runs the coroutine's destructors, which may touch the scheduler.
  if (entry->handle) entry->handle.destroy();
}

void Scheduler::cancel(TaskId id) {
  Entry* e = find(id);
  if (e == nullptr) return;
  if (e->state == State::Running) {
    e->cancelled = true;
  } else {
    destroy(id);
  }
}

void Scheduler::Suspend::await_suspend(std::coroutine_handle<>) const {
  Entry* e = scheduler->find(scheduler->currentId_);
  if (e == nullptr) return;
  e->state = predicate ? State::Waiting : State::Yielded;
  e->predicate = predicate;
  e->deadline = deadline;
}

void Scheduler::registerTimer(Timer* t) {
  t->seq_ = ++nextTimerSeq_;
  timers_.push_back(t);
}

void Scheduler::unregisterTimer(Timer* t) { std::erase(timers_, t); }

void Scheduler::wake() {
  if (onWorkScheduled) onWorkScheduled();
}

bool Scheduler::fireDueTimers() {
  bool ran = false;
  const std::int64_t t = now();
  for (;;) {
    Timer* next = nullptr;
    for (Timer* c : timers_) {
      if (!c->armed() || c->due_ > t || c->firedRound_ == round_) continue;
      if (next == nullptr || c->due_ < next->due_ ||
          (c->due_ == next->due_ && c->seq_ < next->seq_))
        next = c;
    }
    if (next == nullptr) break;
    next->firedRound_ = round_;
    // Stay on the timer's grid; a tick that came up to one period late is made up once in the
    // next round, one that came later is dropped, so a held-up thread never causes a burst.
    std::int64_t following = next->due_ + next->interval_;
    if (following <= t - next->interval_) following = t + next->interval_;
    next->due_ = following;
    // A copy: the handler may destroy or rewire its own timer.
    auto handler = next->onTimer;
    if (handler) handler();
    ran = true;
  }
  return ran;
}

bool Scheduler::runPosted() {
  std::size_t n = posted_.size();
  bool ran = n > 0;
  while (n-- > 0 && !posted_.empty()) {
    auto fn = std::move(posted_.front());
    posted_.pop_front();
    if (fn) fn();
  }
  return ran;
}

void Scheduler::releaseWaiters() {
  const std::int64_t t = now();
  for (std::size_t i = 0; i < tasks_.size(); ++i) {
    Entry* e = tasks_[i].get();
    if (e->state == State::Yielded) {
      e->state = State::Ready;
    } else if (e->state == State::Waiting) {
      if (e->deadline <= t || (e->predicate && e->predicate())) {
        e->state = State::Ready;
        e->predicate = {};
      }
    }
  }
}

bool Scheduler::runTasks() {
  std::vector<TaskId> ready;
  for (const auto& e : tasks_) {
    if (e->state == State::Ready && !e->cancelled) ready.push_back(e->id);
  }
  for (TaskId id : ready) {
    Entry* e = find(id);
    if (e == nullptr || e->state != State::Ready) continue;
    e->state = State::Running;
    currentId_ = id;
    e->handle.resume();
    currentId_ = 0;
    e = find(id);
    if (e == nullptr) continue;
    if (e->cancelled || e->handle.done()) {
      destroy(id);
    } else if (e->state == State::Running) {
      e->state = State::Yielded;  // suspended on something foreign: treat as a yield
    }
  }
  return !ready.empty();
}

bool Scheduler::runOnce() {
  if (inRound_) return false;
  inRound_ = true;
  ++round_;
  bool ran = fireDueTimers();
  ran = runPosted() || ran;
  releaseWaiters();
  ran = runTasks() || ran;
  inRound_ = false;
  return ran;
}

bool Scheduler::hasReadyWork() const {
  if (!posted_.empty()) return true;
  const std::int64_t t = now();
  for (const Timer* c : timers_) {
    if (c->armed() && c->due_ <= t) return true;
  }
  for (const auto& e : tasks_) {
    if (e->cancelled) continue;
    if (e->state == State::Ready || e->state == State::Yielded) return true;
    if (e->state == State::Waiting && (e->deadline <= t || (e->predicate && e->predicate())))
      return true;
  }
  return false;
}

std::optional<std::int64_t> Scheduler::nextDue() const {
  std::optional<std::int64_t> best;
  for (const Timer* c : timers_) {
    if (c->armed() && (!best || c->due_ < *best)) best = c->due_;
  }
  for (const auto& e : tasks_) {
    if (e->state == State::Waiting && e->deadline != kNever && (!best || e->deadline < *best))
      best = e->deadline;
  }
  return best;
}

Timer::Timer(Scheduler& scheduler, int intervalMs, bool enabled, std::function<void()> handler)
    : onTimer(std::move(handler)), scheduler_(scheduler), interval_(intervalMs), enabled_(enabled) {
  scheduler_.registerTimer(this);
  restart();
}

Timer::~Timer() { scheduler_.unregisterTimer(this); }

void Timer::restart() {
  due_ = scheduler_.now() + interval_;
  if (armed()) scheduler_.wake();
}

void Timer::setInterval(int ms) {
  if (ms < 0) ms = 0;
  if (ms == interval_) return;
  interval_ = ms;
  restart();
}

void Timer::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  restart();
}

}  // namespace luvrin
