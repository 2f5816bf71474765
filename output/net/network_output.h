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
#include "output_shared.h"
#include "rdm_transport.h"
#include "scheduler.h"

namespace luvrin {

// Where a datagram goes: an IPv4 address (as a number, most significant byte first) and a port.
struct Destination {
  std::uint32_t ipv4 = 0;
  std::uint16_t port = 0;
  bool operator==(const Destination&) const = default;
};

// Where a network output's packets go: a UDP socket in the program, a recorder in tests. One
// sink serves every universe of an output, each universe to its own destination.
class DatagramSink {
 public:
  virtual ~DatagramSink() = default;
  virtual bool open() = 0;
  virtual bool send(std::span<const std::uint8_t> packet, const Destination& to) = 0;
};

// sACN or Art-Net, one universe for each 512 levels of the frame (universe_split.h), each
// universe a packet of its own with its own sequence numbers. The frame timer still decides when
// a frame is due; a frame is taken only when the rate allows, and then every universe goes out
// together, so each gets at most 44 packets a second and the driver counts what was sent. While
// no frame comes, the newest levels of every universe are repeated once a second: receivers take
// 2.5 s of silence for a lost source and go dark. Universes past the protocol's last one are not
// sent, and the status says so.
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

  // Where the packets of the first universe go (its node for Art-Net).
  Destination firstDestination() const { return {baseIpv4_, address_.port}; }
  // RDM with the devices behind an Art-Net node (artnet_rdm.h); sACN carries none.
  void setRdm(std::unique_ptr<rdm::Transport> rdm) { rdm_ = std::move(rdm); }
  rdm::Transport* rdm() override { return rdm_.get(); }
  QString rdmRefusal() const override;

 private:
  // One universe's packet, laid out once for its number of levels and sent again with new
  // levels and the next sequence number written in place: a frame costs no allocation.
  struct Universe {
    std::uint16_t number = 0;
    Destination to;
    std::uint8_t sequence = 0;
    std::size_t levelCount = 0;
    std::vector<std::uint8_t> packet;  // empty until the first frame lays it out
  };

  bool artnet() const { return address_.kind == OutputAddress::Kind::ArtNet; }
  std::uint32_t lastUniverse() const;
  // Makes ready the universes a frame of this many fills.
  void cover(std::size_t universes);
  void fill(Universe& u, std::span<const std::uint8_t> levels);
  bool sendAll();
  std::int64_t nowNs() const { return scheduler_.clock().tickCountNs(); }

  Scheduler& scheduler_;
  OutputAddress address_;
  std::uint32_t baseIpv4_ = 0;
  std::unique_ptr<DatagramSink> sink_;
  e131::Source source_;
  PacketRate rate_;
  Timer keepAlive_;
  Timer readyCheck_;  // a single shot for whenReady, at the next packet the rate allows
  std::function<void()> ready_;
  // The universes the newest frame fills (one before the first frame), and how many of them,
  // from the first, the protocol has: those are sent, from universes_.
  std::size_t covered_ = 0;
  std::size_t sending_ = 0;
  std::vector<Universe> universes_;
  bool hasFrame_ = false;
  std::uint64_t packetsSent_ = 0;
  bool open_ = false;
  // The system refused the last frame's datagrams (no route, no network): the status says so.
  bool refused_ = false;
  bool wanted_ = false;
  std::unique_ptr<rdm::Transport> rdm_;
};

// A UDP socket for datagrams to any address; multicast ones stay on the local network and are
// heard on this machine too. nullptr where this build has no Qt Network.
std::unique_ptr<DatagramSink> makeUdpSink(bool multicast);

}  // namespace luvrin
