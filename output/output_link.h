#pragma once

#include <QByteArray>
#include <QString>
#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "frame_loop.h"
#include "frame_output.h"
#include "scheduler.h"

namespace luvrin {

// The requests a window is waiting on, each with its deadline on the window's scheduler: every
// request ends once, answered or late, and a cancelled one not at all.
class PendingRequests {
 public:
  using RequestId = std::uint64_t;
  explicit PendingRequests(Scheduler& window) : window_(window) {}

  // answered gets late when no answer came within deadlineMs.
  RequestId add(int deadlineMs, std::any late, std::function<void(std::any&)> answered);
  // An answer for a request that ended already (cancelled, late, answered) is dropped.
  void answer(RequestId id, std::any& reply);
  void cancel(RequestId id) { pending_.erase(id); }
  std::size_t size() const { return pending_.size(); }

 private:
  struct Pending {
    std::unique_ptr<Timer> deadline;
    std::function<void(std::any&)> answered;
    std::any late;
  };
  Scheduler& window_;
  RequestId lastId_ = 0;
  std::map<RequestId, Pending> pending_;
};

// What the driver window asks of its output, always from the window's thread: the newest frame
// in, the count of frames out. Whether the frames then go from this thread or another is the
// link's own business.
class OutputLink {
 public:
  virtual ~OutputLink() = default;

  virtual void open() = 0;
  // The frame timer's interval (发送定时器时间); the link's own frame loop keeps the time.
  virtual void setFrameInterval(int ms) = 0;
  // Ticks count frames without sending them (the 测试 status).
  virtual void setCountOnly(bool countOnly) = 0;
  // The newest output frame; an older one that has not gone out yet is dropped, never queued.
  virtual void setFrame(std::span<const std::uint8_t> frame) = 0;
  // Frames counted since the last call: sent, or ticked while only counting.
  virtual std::int64_t takeFramesCounted() = 0;
  // What the interface sent back since the last call, as bytes for the window's log.
  virtual QByteArray takeInput() = 0;
  // Levels the interface received since the last call, in universe order: the newest of each
  // universe, the older ones dropped; levels of universes past kReceivedUniverses are dropped
  // until the window has taken what is held.
  static constexpr std::size_t kReceivedUniverses = ReceivedHold::kUniverses;
  virtual std::vector<ReceivedLevels> takeReceivedLevels() { return {}; }
  // received: levels came in, called on the window's thread; an empty function withdraws.
  virtual void watchReceived(std::function<void()> received) { (void)received; }
  virtual QString status() const = 0;
  // counted: frames were counted; statusChanged: status() changed. Both are called on the
  // window's thread, and an empty function withdraws.
  virtual void watch(std::function<void()> counted, std::function<void()> statusChanged) = 0;
  // The window is going: nothing calls into it any more and no frame waits for the line.
  virtual void detach() = 0;

  // RDM with the devices on the output's line, used from the window's thread, its results
  // called there too. nullptr: the output carries none, and rdmRefusal() says why.
  virtual rdm::Transport* rdm() { return nullptr; }
  virtual QString rdmRefusal() const { return QStringLiteral("此接口不支持 RDM"); }

  // A typed request: work runs where the output lives, with the output, and calls its answer
  // once, then or later. done gets the answer on the window's thread, never from inside this
  // call, or failed when none came within deadlineMs (an answer after that is dropped). A
  // cancelled request's done is never called.
  using RequestId = PendingRequests::RequestId;
  template <typename Reply>
  using Answer = std::function<void(Reply)>;
  template <typename Reply>
  using Work = std::function<void(FrameOutput&, Answer<Reply>)>;
  template <typename Reply>
  RequestId ask(Work<Reply> work, int deadlineMs, Reply failed, std::function<void(Reply)> done);
  virtual void cancel(RequestId id) { (void)id; }

  // What the interface says about itself; the wait is the widget's own answer wait and more.
  static constexpr int kAboutDeadlineMs = 3000;
  RequestId askAbout(std::function<void(InterfaceAbout)> done);

  // The untyped form under ask, for a link that hands its requests on to another.
  using AnyAnswer = std::function<void(std::any)>;
  using AnyWork = std::function<void(FrameOutput&, AnyAnswer)>;
  // failed: the answer when none came in time, or when the output cannot serve the request.
  // A link that carries no requests answers every one with failed at once.
  virtual RequestId askAny(AnyWork work, int deadlineMs, std::any failed,
                           std::function<void(std::any&)> answered) {
    (void)work;
    (void)deadlineMs;
    answered(failed);
    return 0;
  }
};

template <typename Reply>
OutputLink::RequestId OutputLink::ask(Work<Reply> work, int deadlineMs, Reply failed,
                                      std::function<void(Reply)> done) {
  auto shared = std::make_shared<std::function<void(Reply)>>(std::move(done));
  return askAny(
      [work = std::move(work)](FrameOutput& output, AnyAnswer answer) {
        work(output, [answer = std::move(answer)](Reply r) { answer(std::any(std::move(r))); });
      },
      deadlineMs, std::any(std::move(failed)),
      [shared](std::any& reply) { (*shared)(std::any_cast<Reply&>(reply)); });
}

// An output used from the window's own thread: its frame loop runs on the window's scheduler,
// so a test drives the same ticker and sender as the output thread does, on virtual time, with
// everything on one scheduler in a known order.
class DirectOutputLink : public OutputLink {
 public:
  DirectOutputLink(Scheduler& scheduler, FrameOutput& output);
  ~DirectOutputLink() override;
  DirectOutputLink(const DirectOutputLink&) = delete;
  DirectOutputLink& operator=(const DirectOutputLink&) = delete;

  void open() override { loop_.output().open(); }
  void setFrameInterval(int ms) override { loop_.setInterval(ms); }
  void setCountOnly(bool countOnly) override { loop_.setCountOnly(countOnly); }
  void setFrame(std::span<const std::uint8_t> frame) override { loop_.setFrame(frame); }
  std::int64_t takeFramesCounted() override;
  QByteArray takeInput() override { return loop_.output().takeInput(); }
  std::vector<ReceivedLevels> takeReceivedLevels() override { return received_.take(); }
  QString status() const override { return loop_.output().status(); }
  void watch(std::function<void()> counted, std::function<void()> statusChanged) override;
  void watchReceived(std::function<void()> received) override { onReceived_ = std::move(received); }
  void detach() override;
  // The output is used on this thread, so its own RDM is the link's.
  rdm::Transport* rdm() override { return loop_.output().rdm(); }
  QString rdmRefusal() const override { return loop_.output().rdmRefusal(); }
  void cancel(RequestId id) override { requests_.cancel(id); }
  RequestId askAny(AnyWork work, int deadlineMs, std::any failed,
                   std::function<void(std::any&)> answered) override;

 private:
  FrameLoop loop_;
  PendingRequests requests_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::int64_t counted_ = 0;
  std::function<void()> onCounted_;
  std::function<void()> onStatus_;
  std::function<void()> onReceived_;
  ReceivedHold received_;
};

}  // namespace luvrin
