#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "rdm_controller.h"

namespace luvrin::rdm {

// Finds the devices on the line: all of them are un-muted, then the UID space is searched by
// halves with DISC_UNIQUE_BRANCH. A clean answer names one device, which DISC_MUTE silences (and
// so confirms) before the same branch is asked again; several devices at once damage the answer
// and the branch is split; a silent branch is done. Incremental discovery first mutes the devices
// it knows, drops those that no longer answer, and then searches for the rest.
// A state machine that moves on each result of the controller's, so the window never waits.
class Discovery {
 public:
  explicit Discovery(Controller& controller);

  struct Result {
    std::set<Uid> devices;
    std::set<Uid> added, dropped;
    bool failed = false;
    QString error;
    std::int64_t branchRequests = 0, muteRequests = 0, collisions = 0;
    std::int64_t elapsedMs = 0;
  };

  // Known devices are kept (when they still answer) in an incremental run and forgotten in a
  // full one. Calling run while a run is going is refused with false.
  bool run(bool full, std::set<Uid> known, std::function<void(const Result&)> done);
  bool running() const { return running_; }
  // Devices found so far in this run.
  std::function<void(int found)> onProgress;

  static constexpr int kMuteTries = 3;
  static constexpr int kLeafTries = 3;
  // Every run ends: even a line of noise stops after this many requests.
  static constexpr std::int64_t kMaxRequests = 20000;

 private:
  struct Branch {
    std::uint64_t lower, upper;
    int tries = 0;
  };
  void muteKnown();
  void nextBranch();
  void branchAnswered(const Branch& branch, const LineResult& result);
  void split(Branch branch);
  void mute(Uid uid, int tries, std::function<void(bool)> done);
  void end(bool failed = false, QString error = {});

  Controller& controller_;
  bool running_ = false;
  Result result_;
  std::set<Uid> known_;
  std::vector<Uid> toMute_;
  std::vector<Branch> branches_;
  std::int64_t started_ = 0;
  std::int64_t requests_ = 0;
  std::function<void(const Result&)> done_;
};

}  // namespace luvrin::rdm
