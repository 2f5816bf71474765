#include "output_link.h"

#include <utility>

namespace luvrin {

PendingRequests::RequestId PendingRequests::add(int deadlineMs, std::any late,
                                                std::function<void(std::any&)> answered) {
  const RequestId id = ++lastId_;
  Pending& p = pending_[id];
  p.answered = std::move(answered);
  p.late = std::move(late);
  p.deadline = std::make_unique<Timer>(window_, deadlineMs, true);
  p.deadline->onTimer = [this, id] {
    const auto it = pending_.find(id);
    if (it == pending_.end()) return;
    const auto done = std::move(it->second.answered);
    std::any reply = std::move(it->second.late);
    pending_.erase(it);
    done(reply);
  };
  return id;
}

void PendingRequests::answer(RequestId id, std::any& reply) {
  const auto it = pending_.find(id);
  if (it == pending_.end()) return;
  const auto done = std::move(it->second.answered);
  pending_.erase(it);
  done(reply);
}

OutputLink::RequestId OutputLink::askAbout(std::function<void(InterfaceAbout)> done) {
  InterfaceAbout late;
  late.refusal = QStringLiteral("接口没有及时回答 (the interface did not answer in time)");
  return ask<InterfaceAbout>(
      [](FrameOutput& output, Answer<InterfaceAbout> answer) { output.about(std::move(answer)); },
      kAboutDeadlineMs, std::move(late), std::move(done));
}

DirectOutputLink::DirectOutputLink(Scheduler& scheduler, FrameOutput& output)
    : loop_(scheduler, output), requests_(scheduler) {
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

DirectOutputLink::~DirectOutputLink() { *alive_ = false; }

OutputLink::RequestId DirectOutputLink::askAny(AnyWork work, int deadlineMs, std::any failed,
                                               std::function<void(std::any&)> answered) {
  const RequestId id = requests_.add(deadlineMs, std::move(failed), std::move(answered));
  // The output is used here too, but later: nobody is answered from inside the asking.
  loop_.scheduler().post([this, id, alive = std::weak_ptr<bool>(alive_), work = std::move(work)] {
    if (alive.expired()) return;
    work(loop_.output(), [this, id, alive](std::any reply) {
      if (!alive.expired()) requests_.answer(id, reply);
    });
  });
  return id;
}

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
