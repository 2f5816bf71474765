#include "output_link.h"

#include <utility>

namespace luvrin {

DirectOutputLink::DirectOutputLink(Scheduler& scheduler, FrameOutput& output)
    : loop_(scheduler, output) {
  loop_.onCounted = [this] {
    ++counted_;
    if (onCounted_) onCounted_();
  };
  loop_.onStatusChanged = [this] {
    if (onStatus_) onStatus_();
  };
  loop_.onLevelsReceived = [this](const ReceivedLevels& in) {
    received_.add(in);
    if (onReceived_) onReceived_();
  };
}

DirectOutputLink::~DirectOutputLink() = default;

std::int64_t DirectOutputLink::takeFramesCounted() { return std::exchange(counted_, 0); }

void DirectOutputLink::watch(std::function<void()> counted, std::function<void()> statusChanged) {
  onCounted_ = std::move(counted);
  onStatus_ = std::move(statusChanged);
}

void DirectOutputLink::detach() {
  watch({}, {});
  onReceived_ = nullptr;
  loop_.stop();
}

}  // namespace luvrin
