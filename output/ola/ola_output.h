#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "frame_output.h"
#include "ola_rdm.h"
#include "output_address.h"
#include "scheduler.h"

namespace luvrin {

// A connection to olad: the streaming client in the program, a stand-in in tests.
class OlaLink {
 public:
  virtual ~OlaLink() = default;
  virtual bool connect() = 0;
  // False once olad has gone away; the link is then closed.
  virtual bool send(std::uint32_t universe, std::span<const std::uint8_t> levels) = 0;
  virtual void close() = 0;
};

// Universes of olad, one for each 512 levels of the frame (universe_split.h); olad drives the
// interfaces itself and keeps sending the last levels it got. So olad gets every change of a
// universe, at most once per frame tick, and each universe's levels again once a second: that
// repeat finds out when olad has gone. When olad is not running or goes away, the output is
// closed and tried again about once a second, as the serial port is after a hot-plug; the first
// frame after a reconnection always goes out whole.
class OlaOutput final : public FrameOutput {
 public:
  static constexpr int kReconnectMs = 1000;
  static constexpr int kRepeatMs = 1000;

  // RDM goes through the full client when there is one (ola_rdm.h).
  OlaOutput(Scheduler& scheduler, std::uint32_t universe, std::unique_ptr<OlaLink> link,
            std::unique_ptr<OlaRdmClient> rdm = nullptr);
  ~OlaOutput() override;

  bool open() override;
  bool isOpen() const override { return connected_; }
  bool readyForFrame() override { return connected_; }
  // Told when olad is reached again.
  void whenReady(std::function<void()> ready) override { ready_ = std::move(ready); }
  bool send(std::span<const std::uint8_t> levels) override;
  QString status() const override;
  rdm::Transport* rdm() override { return rdm_.get(); }
  QString rdmRefusal() const override;

 private:
  // What olad last got for one universe and when.
  struct Universe {
    bool sent = false;  // nothing yet since the (re)connection
    std::vector<std::uint8_t> levels;
    std::int64_t sentAt = 0;
  };
  enum class Outcome { Sent, NothingDue, OladGone };

  bool tryConnect();
  void cover(std::size_t universes);
  Outcome sendDue(std::span<const std::uint8_t> frame);

  Scheduler& scheduler_;
  std::uint32_t universe_;
  std::unique_ptr<OlaLink> link_;
  Timer reconnect_;
  bool connected_ = false;
  std::function<void()> ready_;
  // The universes the newest frame fills, and how many of them olad can number.
  std::size_t covered_ = 0;
  std::size_t sending_ = 0;
  std::vector<Universe> universes_;
  std::unique_ptr<OlaRdm> rdm_;
};

// The link over OLA's streaming client to olad's RPC port on this machine; nullptr where this
// build has no OLA client library.
std::unique_ptr<OlaLink> makeStreamingOlaLink(std::uint16_t rpcPort);

}  // namespace luvrin
