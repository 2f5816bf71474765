#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "network_output.h"
#include "rdm_message.h"
#include "rdm_transport.h"
#include "scheduler.h"

// Art-Net's RDM packets: the node's table of devices (ArtTodRequest, ArtTodControl, ArtTodData)
// and RDM requests and answers carried whole (ArtRdm).
namespace luvrin::artnet {

enum class Op : std::uint16_t {
  TodRequest = 0x8000,
  TodData = 0x8100,
  TodControl = 0x8200,
  Rdm = 0x8300,
};

// Asks the node for its table of the devices on one port-address.
std::vector<std::uint8_t> buildTodRequest(std::uint16_t portAddress);
// Asks the node to forget its table and search its line again (then it sends the new table).
std::vector<std::uint8_t> buildTodFlush(std::uint16_t portAddress);
// An RDM packet as rdm::encode makes it; Art-Net carries it without the start code.
std::vector<std::uint8_t> buildRdm(std::uint16_t portAddress, QByteArrayView rdmPacket);

// One block of a node's table: total is the count of all its blocks together.
struct TodData {
  std::uint16_t portAddress = 0;
  bool refused = false;  // the node has no table for this port-address
  std::uint16_t total = 0;
  std::uint8_t block = 0;
  std::vector<rdm::Uid> devices;
};
std::optional<TodData> parseTodData(std::span<const std::uint8_t> bytes);

struct RdmData {
  std::uint16_t portAddress = 0;
  QByteArray packet;  // from the start code on, as rdm::decodeResponse reads it
};
std::optional<RdmData> parseRdm(std::span<const std::uint8_t> bytes);

}  // namespace luvrin::artnet

namespace luvrin {

// A UDP socket on Art-Net's port that hears what nodes answer there: the program's socket, a
// stand-in in tests. Datagrams heard are handed to onReceived on the thread that made it.
class DatagramPort {
 public:
  virtual ~DatagramPort() = default;
  virtual bool open() = 0;
  virtual bool send(std::span<const std::uint8_t> packet, const Destination& to) = 0;
  std::function<void(std::span<const std::uint8_t> packet, std::uint32_t fromIpv4)> onReceived;
};

// RDM through an Art-Net node, which keeps its own table of the devices on its port: discovery
// asks for that table (a full one makes the node search its line again first) and takes every
// block of it from every node that answers; GET and SET go to the node as ArtRdm and the answer
// that matches the request is taken, anything else heard on the port is ignored. A node that
// does not answer in time is a timeout, which the controller asks again.
class ArtNetRdm final : public rdm::Transport {
 public:
  // An answer through the node: the network, the node's own turn on its line and its retries.
  static constexpr int kAnswerWaitMs = 1500;
  // A broadcast gets no answer; the node needs only to have sent it.
  static constexpr int kBroadcastWaitMs = 50;
  // How long a table is waited for (after a flush the node first searches its line), and once
  // every node heard from has given all its blocks, how long other nodes behind a broadcast
  // address are waited for.
  static constexpr int kTableWaitMs = 5000;
  static constexpr int kFlushWaitMs = 20000;
  static constexpr int kTableSettleMs = 300;

  ArtNetRdm(Scheduler& scheduler, std::uint16_t portAddress, Destination node,
            std::unique_ptr<DatagramPort> port);
  ~ArtNetRdm() override;

  void send(const rdm::Request& request, std::function<void(rdm::LineResult)> done) override;
  bool findsDevices() const override { return true; }
  void findDevices(bool full, std::function<void(Found)> done) override;

 private:
  // One node's table as its blocks come in.
  struct Table {
    std::set<rdm::Uid> devices;
    std::uint16_t total = 0;
    bool refused = false;
    bool complete() const { return refused || devices.size() >= total; }
  };
  bool openPort(QString& why);
  void received(std::span<const std::uint8_t> packet, std::uint32_t from);
  void tableBlock(const artnet::TodData& block, std::uint32_t from);
  void endTable();
  void endRequest(rdm::LineResult result);

  Scheduler& scheduler_;
  std::uint16_t portAddress_;
  Destination node_;
  std::unique_ptr<DatagramPort> port_;
  bool open_ = false;
  Timer answerWait_;
  Timer tableWait_;
  std::optional<rdm::Request> asked_;
  std::function<void(rdm::LineResult)> requestDone_;
  std::function<void(Found)> tableDone_;
  std::map<std::uint32_t, Table> tables_;  // by the node's address
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The program's socket on Art-Net's port, shared with other programs on this machine; nullptr
// where this build has no Qt Network.
std::unique_ptr<DatagramPort> makeArtNetPort();

}  // namespace luvrin
