#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "frame_output.h"

namespace luvrin {

// What the driver window asks of its output, always from the window's thread: the newest frame
// in, the count of frames out. Whether the frames then go from this thread or another is the
// link's own business.
class OutputLink {
 public:
  virtual ~OutputLink() = default;

  virtual void open() = 0;
  // True where the output has a thread and a frame timer of its own; the window's frame timer
  // then stays still, so nothing the window does can hold a frame back.
  virtual bool ticksOnItsOwn() const = 0;
  virtual void setFrameInterval(int ms) = 0;
  // One tick of the frame timer, for a link that does not tick on its own.
  virtual void tick() = 0;
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
  static constexpr std::size_t kReceivedUniverses = 512;
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

// The frame timer's work on the output's thread: send the newest frame when the output is
// ready for it, or as soon as it gets ready, and count what went.
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

// An output used from the window's own thread, its frames ticked by the window's frame timer:
// the driver on virtual time in tests, where everything runs on one scheduler in a known order.
class DirectOutputLink : public OutputLink {
 public:
  explicit DirectOutputLink(FrameOutput& output);
  ~DirectOutputLink() override;
  DirectOutputLink(const DirectOutputLink&) = delete;
  DirectOutputLink& operator=(const DirectOutputLink&) = delete;

  void open() override { output_.open(); }
  bool ticksOnItsOwn() const override { return false; }
  void setFrameInterval(int) override {}
  void tick() override { sender_.tick(); }
  void setCountOnly(bool countOnly) override { sender_.setCountOnly(countOnly); }
  void setFrame(std::span<const std::uint8_t> frame) override { sender_.setFrame(frame); }
  std::int64_t takeFramesCounted() override;
  QByteArray takeInput() override { return output_.takeInput(); }
  std::vector<ReceivedLevels> takeReceivedLevels() override;
  QString status() const override { return output_.status(); }
  void watch(std::function<void()> counted, std::function<void()> statusChanged) override;
  void watchReceived(std::function<void()> received) override { onReceived_ = std::move(received); }
  void detach() override;
  // The output is used on this thread, so its own RDM is the link's.
  rdm::Transport* rdm() override { return output_.rdm(); }
  QString rdmRefusal() const override { return output_.rdmRefusal(); }

 private:
  FrameOutput& output_;
  FrameSender sender_;
  std::int64_t counted_ = 0;
  std::function<void()> onCounted_;
  std::function<void()> onStatus_;
  std::function<void()> onReceived_;
  std::map<std::uint32_t, ReceivedLevels> received_;
};

}  // namespace luvrin
