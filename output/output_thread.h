#pragma once

#include <QObject>
#include <QThread>
#include <memory>

#include "clock.h"
#include "output_runner.h"
#include "scheduler.h"
#include "scheduler_pump.h"

namespace luvrin {

// The output on a thread of its own, with its own clock, scheduler and frame timer: opening a
// port, a slow or blocking device and reconnecting happen there, and nothing the windows do (a
// big file, a dialog, a window opening or closing) can hold a frame back. The work on both sides
// is the OutputRunner's; this class gives its output's side the thread, and its window's side a
// scheduler for the requests' deadlines.
class OutputThread final : public OutputLink {
 public:
  static constexpr qsizetype kInputBytes = OutputRunner::kInputBytes;
  // How long ending waits for the output to close its port.
  static constexpr int kStopWaitMs = 3000;

  // Builds the output on the new thread, with that thread's scheduler.
  using Factory = OutputRunner::Factory;
  explicit OutputThread(Factory make);
  // Closes the output on its thread and ends the thread.
  ~OutputThread() override;
  OutputThread(const OutputThread&) = delete;
  OutputThread& operator=(const OutputThread&) = delete;

  // Requests to the output (OutputRunner::ask), made on the window's thread.
  OutputRunner& runner() { return *runner_; }

  void open() override { runner_->open(); }
  void setFrameInterval(int ms) override { runner_->setFrameInterval(ms); }
  void setCountOnly(bool countOnly) override { runner_->setCountOnly(countOnly); }
  void setFrame(std::span<const std::uint8_t> frame) override { runner_->setFrame(frame); }
  std::int64_t takeFramesCounted() override { return runner_->takeFramesCounted(); }
  QByteArray takeInput() override { return runner_->takeInput(); }
  std::vector<ReceivedLevels> takeReceivedLevels() override {
    return runner_->takeReceivedLevels();
  }
  QString status() const override { return runner_->status(); }
  void watch(std::function<void()> counted, std::function<void()> statusChanged) override {
    runner_->watch(std::move(counted), std::move(statusChanged));
  }
  void watchReceived(std::function<void()> received) override {
    runner_->watchReceived(std::move(received));
  }
  void detach() override { runner_->detach(); }
  rdm::Transport* rdm() override { return runner_->rdm(); }
  QString rdmRefusal() const override { return runner_->rdmRefusal(); }
  RequestId askAny(AnyWork work, int deadlineMs, std::any failed,
                   std::function<void(std::any&)> answered) override {
    return runner_->askAny(std::move(work), deadlineMs, std::move(failed), std::move(answered));
  }
  void cancel(RequestId id) override { runner_->cancel(id); }

 private:
  // The output's side of the thread.
  struct Side {
    SteadyClock clock;
    Scheduler scheduler{clock};
    SchedulerPump pump{scheduler};
  };

  SteadyClock windowClock_;
  Scheduler windowScheduler_{windowClock_};
  SchedulerPump windowPump_{windowScheduler_};
  QObject windowContext_;  // lives on the window's thread
  std::unique_ptr<QThread> thread_;
  QObject* threadContext_;  // lives on the output thread
  std::unique_ptr<Side> side_;
  std::unique_ptr<OutputRunner> runner_;
};

}  // namespace luvrin
