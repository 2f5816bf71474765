#include "frame_loop.h"

#include <utility>

namespace luvrin {

FrameSender::FrameSender(FrameOutput& output) : output_(output) {}

FrameSender::~FrameSender() { stop(); }

void FrameSender::stop() {
  if (std::exchange(frameWaiting_, false)) output_.whenReady({});
}

void FrameSender::setFrame(std::span<const std::uint8_t> frame) {
  frame_.assign(frame.begin(), frame.end());
}

void FrameSender::count() {
  if (onCounted) onCounted();
}

void FrameSender::tick() {
  if (countOnly_) {
    count();
    return;
  }
  send();
}

void FrameSender::send() {
  if (frame_.empty() || !output_.isOpen()) return;
  // Never queue a frame behind one still on the line: the lights get the newest levels and
  // memory stays bounded whatever the interval and the line. Nor wait for the next tick once
  // the line is free: with a long frame or a short interval that would idle the line for up to
  // a whole interval after every frame.
  if (!output_.readyForFrame()) {
    frameWaiting_ = true;
    output_.whenReady([this] { lineFree(); });
    return;
  }
  if (std::exchange(frameWaiting_, false)) output_.whenReady({});
  if (!output_.send(frame_)) return;
  count();
}

void FrameSender::lineFree() {
  if (!std::exchange(frameWaiting_, false) || countOnly_) return;
  send();
}

void ReceivedHold::add(const ReceivedLevels& in) {
  const auto held = held_.find(in.universe);
  if (held != held_.end()) {
    held->second = in;
  } else if (held_.size() < kUniverses) {
    held_.emplace(in.universe, in);
  }
}

std::vector<ReceivedLevels> ReceivedHold::take() {
  std::vector<ReceivedLevels> out;
  out.reserve(held_.size());
  for (auto& [universe, levels] : held_) out.push_back(std::move(levels));
  held_.clear();
  return out;
}

FrameLoop::FrameLoop(Scheduler& scheduler, FrameOutput& output, std::unique_ptr<Waker> frameWaker)
    : scheduler_(scheduler), output_(output), sender_(output), frameWaker_(std::move(frameWaker)) {
  sender_.onCounted = [this] {
    if (onCounted) onCounted();
  };
  output_.onStatusChanged = [this] {
    if (onStatusChanged) onStatusChanged();
  };
  output_.onLevelsReceived = [this](const ReceivedLevels& in) {
    if (onLevelsReceived) onLevelsReceived(in);
  };
}

void FrameLoop::setInterval(int ms) {
  if (ticker_) return ticker_->setInterval(ms);
  ticker_.emplace(scheduler_, ms, std::move(frameWaker_));
  ticker_->onTick = [this] {
    if (beforeTick) beforeTick();
    sender_.tick();
  };
}

void FrameLoop::stop() {
  if (ticker_) ticker_->setInterval(0);
  sender_.stop();
}

FrameLoop::~FrameLoop() {
  output_.onStatusChanged = nullptr;
  output_.onLevelsReceived = nullptr;
}

}  // namespace luvrin
