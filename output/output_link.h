#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "frame_loop.h"
#include "frame_output.h"
#include "scheduler.h"

namespace luvrin {

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
};

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

 private:
  FrameLoop loop_;
  std::int64_t counted_ = 0;
  std::function<void()> onCounted_;
  std::function<void()> onStatus_;
  std::function<void()> onReceived_;
  ReceivedHold received_;
};

}  // namespace luvrin
