#pragma once

#include <coroutine>
#include <exception>
#include <utility>

namespace luvrin {

// A resumable operation. It starts suspended; the Scheduler owns and resumes it.
// Long handlers (a script run, a delay) are written as Task coroutines and suspend with
// `co_await scheduler.yield()` or `co_await scheduler.waitUntil(...)` where they let
// pending events run; Scheduler::Suspend says where those may be awaited.
class Task {
 public:
  struct promise_type {
    Task get_return_object() {
      return Task(std::coroutine_handle<promise_type>::from_promise(*this));
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_always final_suspend() noexcept { return {}; }
    void return_void() {}
    void unhandled_exception() { std::terminate(); }
  };

  Task() = default;
  explicit Task(std::coroutine_handle<promise_type> h) : handle_(h) {}
  Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() { reset(); }

  std::coroutine_handle<promise_type> release() { return std::exchange(handle_, {}); }

 private:
  void reset() {
    if (handle_) handle_.destroy();
    handle_ = {};
  }
  std::coroutine_handle<promise_type> handle_;
};

}  // namespace luvrin
