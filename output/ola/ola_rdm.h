#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "rdm_message.h"
#include "rdm_transport.h"
#include "scheduler.h"

namespace luvrin {

// olad's RDM calls as the olad transport uses them: OLA's full client, on a thread of its own,
// in the program; a stand-in in tests. Answers come back later on the thread that made the
// client, never from inside the call.
class OlaRdmClient {
 public:
  virtual ~OlaRdmClient() = default;

  // What olad made of one request.
  struct Answer {
    enum class Kind { Response, Timeout, Damaged, Failed };
    Kind kind = Kind::Timeout;
    rdm::Response response;  // Response: the device's, as olad passes it on
    QString error;           // Failed: olad's own words
  };
  virtual void request(std::uint32_t universe, const rdm::Request& request,
                       std::function<void(Answer)> done) = 0;
  // olad's own discovery of the universe's ports; done gets the devices it knows after it.
  virtual void discover(std::uint32_t universe, bool full,
                        std::function<void(rdm::Transport::Found)> done) = 0;
};

// RDM through olad's universe: olad runs discovery and the transactions on its own ports, with
// its own source UID and transaction numbers. Each answer is given back as the packet the
// device would have sent to this controller, so the controller checks it, times it and asks
// again exactly as on a line. olad joins an overflow itself; a joined answer too long for one
// packet is handed back in parts marked ACK_OVERFLOW, each asked for again as usual, so nothing
// of it is cut. A request olad never answers ends at a deadline, and its late answer is dropped.
class OlaRdm final : public rdm::Transport {
 public:
  // olad ends every transaction itself (a few seconds at most, its retries included).
  static constexpr int kDeadlineMs = 10000;
  static constexpr int kDiscoveryDeadlineMs = 120000;

  OlaRdm(Scheduler& scheduler, std::uint32_t universe, std::unique_ptr<OlaRdmClient> client);
  ~OlaRdm() override;

  void send(const rdm::Request& request, std::function<void(rdm::LineResult)> done) override;
  bool findsDevices() const override { return true; }
  void findDevices(bool full, std::function<void(Found)> done) override;

 private:
  void answered(const rdm::Request& sent, OlaRdmClient::Answer answer);
  // The next part of a joined answer, or the whole of a short one, as a packet.
  rdm::LineResult packet(const rdm::Request& sent, rdm::Response response);
  void finishSend(rdm::LineResult result);

  Scheduler& scheduler_;
  std::uint32_t universe_;
  std::unique_ptr<OlaRdmClient> client_;
  Timer deadline_;
  Timer discoveryDeadline_;
  std::uint64_t sent_ = 0, searched_ = 0;  // the request and discovery in flight, by number
  std::function<void(rdm::LineResult)> sendDone_;
  std::function<void(Found)> findDone_;
  // What is left of a joined answer, for the next GET of the same parameter.
  struct Rest {
    rdm::Uid device;
    std::uint16_t subDevice = 0, pid = 0;
    QByteArray data;
  };
  std::optional<Rest> rest_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// OLA's full client to olad's RPC port on this machine; nullptr where this build has no OLA
// client library.
std::unique_ptr<OlaRdmClient> makeOlaRdmClient(std::uint16_t rpcPort);

}  // namespace luvrin
