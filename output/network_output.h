#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "e131_packet.h"
#include "frame_output.h"
#include "output_address.h"
#include "scheduler.h"

namespace luvrin {

// Where a network output's packets go: a UDP socket in the program, a recorder in tests.
class DatagramSink {
 public:
  virtual ~DatagramSink() = default;
  virtual bool open() = 0;
  virtual bool send(std::span<const std::uint8_t> packet) = 0;
};

// At most 44 packets a second, the refresh limit of a DMX512 line, which is what the receiving
// node drives. Packets are due on a fixed grid of 1/44 s, so a frame timer that ticks a little
// late does not lower the rate: a send less than one step behind its due time keeps the grid.
class PacketRate {
 public:
  static constexpr std::int64_t kPerSecond = 44;

  bool ready(std::int64_t nowNs) const { return !started_ || nowNs * kPerSecond >= nextDue_; }
  // Nanoseconds until ready() holds; 0 when it holds now.
  std::int64_t nsUntilReady(std::int64_t nowNs) const {
    return ready(nowNs) ? 0 : (nextDue_ - nowNs * kPerSecond + kPerSecond - 1) / kPerSecond;
  }
  void sent(std::int64_t nowNs);

 private:
  static constexpr std::int64_t kSecondNs = 1'000'000'000;
  bool started_ = false;
  // Due time of the next packet in units of 1/44 ns, so the grid never drifts by rounding.
  std::int64_t nextDue_ = 0;
};

// sACN or Art-Net. The frame timer still decides when a
// frame is due; a frame is taken only when the rate allows, so the driver counts what was sent.
// While no frame comes, the newest levels are repeated once a second: receivers take 2.5 s of
// silence for a lost source and go dark.
class NetworkOutput final : public FrameOutput {
 public:
  static constexpr int kKeepAliveMs = 1000;

  NetworkOutput(Scheduler& scheduler, const OutputAddress& address,
                std::unique_ptr<DatagramSink> sink, e131::Source source = {});

  bool open() override;
  bool isOpen() const override { return open_; }
  bool readyForFrame() override;
  void whenReady(std::function<void()> ready) override;
  bool send(std::span<const std::uint8_t> levels) override;
  QString status() const override;

  std::uint64_t packetsSent() const { return packetsSent_; }

 private:
  bool sendLevels();
  std::int64_t nowNs() const { return scheduler_.clock().tickCountNs(); }

  Scheduler& scheduler_;
  OutputAddress address_;
  std::unique_ptr<DatagramSink> sink_;
  e131::Source source_;
  PacketRate rate_;
  Timer keepAlive_;
  Timer readyCheck_;  // a single shot for whenReady, at the next packet the rate allows
  std::function<void()> ready_;
  std::vector<std::uint8_t> levels_;
  std::uint8_t sequence_ = 0;
  std::uint64_t packetsSent_ = 0;
  bool open_ = false;
};

// A UDP socket to host:port; nullptr where this build has no Qt Network.
std::unique_ptr<DatagramSink> makeUdpSink(const QString& host, std::uint16_t port, bool multicast);

}  // namespace luvrin
