#include "discovery.h"

#include "log_categories.h"
#include "pids.h"

namespace luvrin::rdm {

Discovery::Discovery(Controller& controller) : controller_(controller) {}

bool Discovery::run(bool full, std::set<Uid> known, std::function<void(const Result&)> done) {
  if (running_) return false;
  running_ = true;
  result_ = {};
  known_ = full ? std::set<Uid>{} : std::move(known);
  done_ = std::move(done);
  started_ = controller_.scheduler().now();
  requests_ = 0;
  branches_.clear();
  ++requests_;
  controller_.discover(Uid::broadcast(), kDiscUnMute, {},
                       [this](const LineResult& r, const Request&) {
                         if (r.kind == LineResult::Kind::Failed) return end(true, r.error);
                         toMute_.assign(known_.begin(), known_.end());
                         muteKnown();
                       });
  return true;
}

void Discovery::muteKnown() {
  if (toMute_.empty()) {
    branches_.push_back({0, Uid::kMax});
    nextBranch();
    return;
  }
  const Uid uid = toMute_.back();
  toMute_.pop_back();
  mute(uid, 0, [this, uid](bool answered) {
    if (answered)
      result_.devices.insert(uid);
    else
      result_.dropped.insert(uid);
    muteKnown();
  });
}

void Discovery::mute(Uid uid, int tries, std::function<void(bool)> done) {
  ++result_.muteRequests;
  ++requests_;
  controller_.discover(uid, kDiscMute, {},
                       [this, uid, tries, done](const LineResult& r, const Request& sent) {
                         if (r.kind == LineResult::Kind::Failed) return end(true, r.error);
                         if (r.kind == LineResult::Kind::Answer) {
                           const Decoded reply = decodeResponse(r.bytes, sent);
                           if (reply.response && reply.response->type == ResponseType::Ack)
                             return done(true);
                         }
                         if (tries + 1 < kMuteTries && requests_ < kMaxRequests)
                           return mute(uid, tries + 1, done);
                         done(false);
                       });
}

void Discovery::nextBranch() {
  if (branches_.empty()) return end();
  if (requests_ >= kMaxRequests) return end(true, QStringLiteral("线路上的回答始终有错, 搜索中止"));
  const Branch branch = branches_.back();
  branches_.pop_back();
  ++result_.branchRequests;
  ++requests_;
  controller_.discover(
      Uid::broadcast(), kDiscUniqueBranch, branchData(branch.lower, branch.upper),
      [this, branch](const LineResult& r, const Request&) { branchAnswered(branch, r); });
}

void Discovery::branchAnswered(const Branch& branch, const LineResult& r) {
  switch (r.kind) {
    case LineResult::Kind::Failed:
      return end(true, r.error);
    case LineResult::Kind::Timeout:
      return nextBranch();
    case LineResult::Kind::Collision:
      return split(branch);
    case LineResult::Kind::Answer:
      break;
  }
  const auto uid = decodeDiscoveryAnswer(r.bytes);
  // A damaged answer, one from outside the branch, or one from a device already muted that
  // still talks: several devices at once, or one that cannot be trusted.
  if (!uid || uid->value() < branch.lower || uid->value() > branch.upper ||
      result_.devices.contains(*uid))
    return split(branch);
  mute(*uid, 0, [this, branch, uid = *uid](bool answered) {
    if (!answered) return split(branch);
    result_.devices.insert(uid);
    if (!known_.contains(uid)) result_.added.insert(uid);
    if (onProgress) onProgress(int(result_.devices.size()));
    // More devices may be left in the branch.
    branches_.push_back({branch.lower, branch.upper, 0});
    nextBranch();
  });
}

void Discovery::split(Branch branch) {
  ++result_.collisions;
  if (branch.lower == branch.upper) {
    // One UID cannot collide with itself: a device that answers badly, asked a few times.
    if (++branch.tries < kLeafTries) branches_.push_back(branch);
    return nextBranch();
  }
  const std::uint64_t middle = branch.lower + (branch.upper - branch.lower) / 2;
  branches_.push_back({middle + 1, branch.upper});
  branches_.push_back({branch.lower, middle});
  nextBranch();
}

void Discovery::end(bool failed, QString error) {
  running_ = false;
  result_.failed = failed;
  result_.error = std::move(error);
  result_.elapsedMs = controller_.scheduler().now() - started_;
  qCInfo(lcRdm).noquote() << QStringLiteral("RDM 搜索: %1 台设备, %2 ms (discovery)")
                                 .arg(result_.devices.size())
                                 .arg(result_.elapsedMs);
  if (done_) std::exchange(done_, {})(result_);
}

}  // namespace luvrin::rdm
