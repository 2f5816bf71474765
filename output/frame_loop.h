#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "frame_output.h"
#include "frame_ticker.h"
#include "scheduler.h"
#include "waker.h"

namespace luvrin {

// The frame timer's work: send the newest frame when the output is ready for it, or as soon as
// it gets ready, and count what went.
class FrameSender {
 public:
  explicit FrameSender(FrameOutput& output);
  ~FrameSender();
  FrameSender(const FrameSender&) = delete;
  FrameSender& operator=(const FrameSender&) = delete;

  void setFrame(std::span<const std::uint8_t> frame);
  void setCountOnly(bool countOnly) { countOnly_ = countOnly; }
  void tick();
  // Withdraws a wait for the line.
  void stop();

  const std::vector<std::uint8_t>& frame() const { return frame_; }
  // Called for every frame counted.
  std::function<void()> onCounted;

 private:
  void send();
  void lineFree();
  void count();

  FrameOutput& output_;
  std::vector<std::uint8_t> frame_;
  bool countOnly_ = false;
  // A tick found the line busy: the newest frame goes as soon as the line is free.
  bool frameWaiting_ = false;
};

// The newest levels an interface received, one set per universe, until the window takes them.
class ReceivedHold {
 public:
  // Levels of universes past this many are dropped until the window has taken what is held.
  static constexpr std::size_t kUniverses = 512;

  void add(const ReceivedLevels& in);
  // In universe order.
  std::vector<ReceivedLevels> take();

 private:
  std::map<std::uint32_t, ReceivedLevels> held_;
};

// One output's frame loop: its frame ticker and sender and the output's notices, all on one
// scheduler. The program runs it on the output thread's scheduler; a direct link runs it on the
// window's, so tests drive the same loop on virtual time. The output outlives the loop.
class FrameLoop {
 public:
  // frameWaker, when given, wakes the ticker instead of the scheduler's own timer (FrameTicker).
  FrameLoop(Scheduler& scheduler, FrameOutput& output, std::unique_ptr<Waker> frameWaker = {});
  ~FrameLoop();
  FrameLoop(const FrameLoop&) = delete;
  FrameLoop& operator=(const FrameLoop&) = delete;

  Scheduler& scheduler() const { return scheduler_; }
  FrameOutput& output() const { return output_; }

  // The first interval starts the frame timer: its place among the scheduler's timers, which
  // decides the order of ticks due at the same instant, is where the owner first sets it.
  void setInterval(int ms);
  int interval() const { return ticker_ ? ticker_->interval() : 0; }
  void setCountOnly(bool countOnly) { sender_.setCountOnly(countOnly); }
  void setFrame(std::span<const std::uint8_t> frame) { sender_.setFrame(frame); }
  const std::vector<std::uint8_t>& frame() const { return sender_.frame(); }
  // Ends the loop: no more ticks, and no frame waits for the line.
  void stop();

  // All called on the loop's scheduler. beforeTick: the last moment to hand in a newer frame.
  std::function<void()> beforeTick;
  std::function<void()> onCounted;
  std::function<void()> onStatusChanged;
  std::function<void(const ReceivedLevels&)> onLevelsReceived;

 private:
  Scheduler& scheduler_;
  FrameOutput& output_;
  FrameSender sender_;
  std::unique_ptr<Waker> frameWaker_;
  std::optional<FrameTicker> ticker_;
};

}  // namespace luvrin
