#include "output_link.h"

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

DirectOutputLink::DirectOutputLink(FrameOutput& output) : output_(output), sender_(output) {
  sender_.onCounted = [this] {
    ++counted_;
    if (onCounted_) onCounted_();
  };
  output_.onStatusChanged = [this] {
    if (onStatus_) onStatus_();
  };
  output_.onLevelsReceived = [this](const ReceivedLevels& in) {
    if (received_.size() < kReceivedUniverses || received_.contains(in.universe))
      received_[in.universe] = in;
    if (onReceived_) onReceived_();
  };
}

DirectOutputLink::~DirectOutputLink() {
  output_.onStatusChanged = nullptr;
  output_.onLevelsReceived = nullptr;
}

std::vector<ReceivedLevels> DirectOutputLink::takeReceivedLevels() {
  std::vector<ReceivedLevels> out;
  for (auto& [universe, levels] : received_) out.push_back(std::move(levels));
  received_.clear();
  return out;
}

std::int64_t DirectOutputLink::takeFramesCounted() { return std::exchange(counted_, 0); }

void DirectOutputLink::watch(std::function<void()> counted, std::function<void()> statusChanged) {
  onCounted_ = std::move(counted);
  onStatus_ = std::move(statusChanged);
}

void DirectOutputLink::detach() {
  watch({}, {});
  onReceived_ = nullptr;
  sender_.stop();
}

}  // namespace luvrin
