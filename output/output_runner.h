#pragma once

#include <QByteArray>
#include <QString>
#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "frame_output.h"
#include "output_link.h"
#include "rdm_transport.h"
#include "scheduler.h"
#include "waker.h"

namespace luvrin {

// Runs fn on the other side, after everything posted there before it.
using PostTo = std::function<void(std::function<void()>)>;

// The output with its frame loop on one side, the window's OutputLink on the other. The output's
// side (the output, its FrameLoop, the requests it is serving) is built by start()
// and runs on that side's scheduler; this object itself is the window's side, used on the
// window's thread only. Between the two: a one-frame mailbox, the frame count, the status text,
// the bytes and the newest levels per universe the interface received, and requests posted one
// way with their answers posted back. The program runs the output's side on a thread of its own
// (OutputThread); a test can run both sides on one virtual scheduler.
class OutputRunner final : public OutputLink {
 public:
  // Received bytes held for the window; beyond it the oldest are dropped.
  static constexpr qsizetype kInputBytes = 4096;
  // A notice for every frame would wake the window's thread a thousand times a second for a
  // number it shows; the rate meter collects the rest when it reads.
  static constexpr std::int64_t kCountNoticeMs = 50;
  // An RDM transaction takes a few ms on a DMX line and rarely a second through a daemon or a
  // node; a device table from a node or a daemon may take a long discovery of its own.
  static constexpr int kRdmSendDeadlineMs = 5000;
  static constexpr int kRdmFindDeadlineMs = 60000;

  using Factory = std::function<std::unique_ptr<FrameOutput>(Scheduler&)>;
  struct Sides {
    Scheduler& window;  // the window's scheduler: the requests' deadlines run there
    PostTo toOutput;
    PostTo toWindow;
  };
  explicit OutputRunner(Sides sides);
  // After stop(), or with start() never called.
  ~OutputRunner() override;
  OutputRunner(const OutputRunner&) = delete;
  OutputRunner& operator=(const OutputRunner&) = delete;

  // On the output's side: builds the output with that side's scheduler. frameWaker, when given,
  // wakes the frame ticker instead of the scheduler's own timer (see FrameTicker).
  void start(Scheduler& scheduler, const Factory& make, std::unique_ptr<Waker> frameWaker);
  // On the output's side: closes the output; the requests it was serving fail.
  void stop();

  // Requests (OutputLink::ask) are served on the output's side. When the output closes, or its
  // RDM goes to another interface or none, the requests it was serving are answered with failed.
  void cancel(RequestId id) override { requests_.cancel(id); }
  // Requests whose done has not been called yet.
  std::size_t waiting() const { return requests_.size(); }
  RequestId askAny(AnyWork work, int deadlineMs, std::any failed,
                   std::function<void(std::any&)> answered) override;

  void open() override;
  void setFrameInterval(int ms) override;
  void setCountOnly(bool countOnly) override;
  void setFrame(std::span<const std::uint8_t> frame) override;
  std::int64_t takeFramesCounted() override { return counted_.exchange(0); }
  QByteArray takeInput() override;
  std::vector<ReceivedLevels> takeReceivedLevels() override;
  QString status() const override;
  void watch(std::function<void()> counted, std::function<void()> statusChanged) override;
  void watchReceived(std::function<void()> received) override { onReceived_ = std::move(received); }
  void detach() override;
  // Lives on the window's thread and carries each transaction to the output's own RDM.
  rdm::Transport* rdm() override;
  QString rdmRefusal() const override;

 private:
  struct Worker;
  class RdmProxy;
  enum class Kind { Plain, Rdm };

  void serve(RequestId id, Kind kind, std::any failed, AnyWork work);
  void answered(RequestId id, std::any& reply);
  void post(std::function<void(Worker&)> fn);
  void toWindow(std::atomic<bool>& posted, std::function<void()> OutputRunner::*handler);
  void takeNewestFrame(Worker& w);
  void publishRdm(Worker& w);

  Sides sides_;
  std::unique_ptr<Worker> worker_;  // the output's side
  std::unique_ptr<RdmProxy> rdm_;
  // Answers and notices for this object that come after it is gone reach nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  mutable std::mutex mutex_;
  std::vector<std::uint8_t> frame_;
  bool frameNew_ = false;
  QByteArray input_;
  ReceivedHold received_;
  QString status_;
  struct RdmState {
    bool carried = false;
    bool findsDevices = false;
    QString refusal;
  } rdmState_;

  std::atomic<std::int64_t> counted_{0};
  std::atomic<bool> countedPosted_{false};
  std::atomic<bool> statusPosted_{false};
  std::atomic<bool> receivedPosted_{false};
  // The window's thread only.
  std::function<void()> onCounted_;
  std::function<void()> onStatus_;
  std::function<void()> onReceived_;
  PendingRequests requests_;
};

}  // namespace luvrin
