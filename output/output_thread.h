#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "frame_output.h"
#include "output_link.h"
#include "scheduler.h"

namespace luvrin {

// The output on a thread of its own, with its own clock, scheduler and frame timer: opening a
// port, a slow or blocking device and reconnecting happen there, and nothing the windows do (a
// big file, a dialog, a window opening or closing) can hold a frame back. The window's thread
// leaves the newest frame in a one-frame mailbox and reads the counts back.
class OutputThread final : public OutputLink {
 public:
  // Received bytes held for the window; beyond it the oldest are dropped.
  static constexpr qsizetype kInputBytes = 4096;
  // How long ending waits for the output to close its port.
  static constexpr int kStopWaitMs = 3000;

  // Builds the output on the new thread, with that thread's scheduler.
  using Factory = std::function<std::unique_ptr<FrameOutput>(Scheduler&)>;
  explicit OutputThread(Factory make);
  // Closes the output on its thread and ends the thread.
  ~OutputThread() override;
  OutputThread(const OutputThread&) = delete;
  OutputThread& operator=(const OutputThread&) = delete;

  void open() override;
  bool ticksOnItsOwn() const override { return true; }
  void setFrameInterval(int ms) override;
  void tick() override {}
  void setCountOnly(bool countOnly) override;
  void setFrame(std::span<const std::uint8_t> frame) override;
  std::int64_t takeFramesCounted() override { return counted_.exchange(0); }
  QByteArray takeInput() override;
  QString status() const override;
  void watch(std::function<void()> counted, std::function<void()> statusChanged) override;
  void detach() override { watch({}, {}); }

 private:
  struct Worker;
  void post(std::function<void(Worker&)> fn);
  void toWindow(std::atomic<bool>& posted, std::function<void()> OutputThread::*handler);
  void takeNewestFrame(Worker& w);

  std::unique_ptr<QThread> thread_;
  QObject* threadContext_;  // lives on the output thread
  QObject windowContext_;   // lives on the window's thread
  std::unique_ptr<Worker> worker_;

  mutable std::mutex mutex_;
  std::vector<std::uint8_t> frame_;
  bool frameNew_ = false;
  QByteArray input_;
  QString status_;

  std::atomic<std::int64_t> counted_{0};
  std::atomic<bool> countedPosted_{false};
  std::atomic<bool> statusPosted_{false};
  std::function<void()> onCounted_;  // window's thread only
  std::function<void()> onStatus_;
};

}  // namespace luvrin
