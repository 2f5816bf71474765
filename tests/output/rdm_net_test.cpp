#include <gtest/gtest.h>

#include "artnet_rdm.h"
#include "ola_rdm.h"
#include "pids.h"
#include "rdm_controller.h"
#include "support/virtual_time.h"

namespace luvrin {
namespace {

using rdm::Outcome;
using Bytes = std::vector<std::uint8_t>;

struct Rig {
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  // A GET through the transport, as the devices window makes it, to its end.
  Outcome get(rdm::Transport& transport) {
    rdm::Controller controller(scheduler, transport, {0x7ff0, 7});
    Outcome got{Outcome::Kind::Ack, "never ended"};
    controller.get({0x7a70, 1}, 0, rdm::kDeviceInfo, {}, [&](Outcome o) { got = o; });
    scheduler.advanceBy(std::chrono::minutes(1));
    return got;
  }
};

// olad as the full client shows it: each request answered later with the case's answer.
struct StandInOla final : OlaRdmClient {
  Scheduler* scheduler;
  std::function<Answer(const rdm::Request&)> answer;  // empty: olad never answers
  int asked = 0;
  void request(std::uint32_t, const rdm::Request& r, std::function<void(Answer)> done) override {
    ++asked;
    if (answer) scheduler->post([done, a = answer(r)] { done(a); });
  }
  void discover(std::uint32_t, bool, std::function<void(rdm::Transport::Found)>) override {}
};

TEST(OlaRdm, OladsAnswersReachTheControllerAsTheDevicesOwn) {
  using A = OlaRdmClient::Answer;
  auto ack = [](rdm::ResponseType type, QByteArray data) {
    return [type, data](const rdm::Request& r) {  // olad's own UIDs and transaction number
      return A{
          A::Kind::Response,
          {{0x7a70, 9}, r.destination, 99, type, 0, 0, rdm::CommandClass::GetResponse, r.pid, data},
          {}};
    };
  };
  auto only = [](A::Kind kind) { return [kind](auto&) { return A{kind, {}, "gone"}; }; };
  const QByteArray joined(300, 'j');  // olad joins an overflow: more than one packet holds
  const int tries = rdm::Controller::kTries;
  const struct {
    const char* what;
    std::function<A(const rdm::Request&)> answer;
    Outcome::Kind kind;
    QByteArray data;
    int asked;
  } cases[] = {
      {"ack", ack(rdm::ResponseType::Ack, "abc"), Outcome::Kind::Ack, "abc", 1},
      {"joined overflow", ack(rdm::ResponseType::Ack, joined), Outcome::Kind::Ack, joined, 1},
      {"nack", ack(rdm::ResponseType::NackReason, QByteArray(2, 0)), Outcome::Kind::Nack, {}, 1},
      {"timeout", only(A::Kind::Timeout), Outcome::Kind::Timeout, {}, tries},
      {"damaged", only(A::Kind::Damaged), Outcome::Kind::Damaged, {}, tries},
      {"failed", only(A::Kind::Failed), Outcome::Kind::Failed, {}, 1},
      {"never answers", {}, Outcome::Kind::Timeout, {}, tries},
  };
  for (const auto& c : cases) {
    Rig rig;
    auto client = std::make_unique<StandInOla>();
    StandInOla& ola = *client;
    ola.scheduler = &rig.scheduler;
    ola.answer = c.answer;
    OlaRdm transport(rig.scheduler, 1, std::move(client));
    const Outcome o = rig.get(transport);
    EXPECT_EQ(o.kind, c.kind) << c.what << ": " << o.text().toStdString();
    EXPECT_EQ(o.data, c.data) << c.what;
    EXPECT_EQ(o.kind == Outcome::Kind::Failed, o.error.contains("gone")) << c.what;
    EXPECT_EQ(ola.asked, c.asked) << c.what;
  }
}

// An Art-Net node as the port hears it: what was sent, and what the node answers to it.
struct StandInPort final : DatagramPort {
  std::vector<Bytes> sent;
  std::function<std::vector<std::pair<std::uint32_t, Bytes>>(const Bytes&)> node;
  Scheduler* scheduler;
  bool open() override { return true; }
  bool send(std::span<const std::uint8_t> p, const Destination&) override {
    sent.emplace_back(p.begin(), p.end());
    for (auto& [from, b] : node(sent.back()))
      scheduler->post([this, from, b] { onReceived(b, from); });
    return true;
  }
};

// One block of a node's table, as a node sends it.
Bytes block(std::uint16_t portAddress, int total, int index, std::vector<std::uint8_t> devices) {
  Bytes p = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x81, 0, 14, 1, 1};
  p.resize(28);
  p[21] = std::uint8_t(portAddress >> 8);
  p[23] = std::uint8_t(portAddress);
  p[25] = std::uint8_t(total);
  p[26] = std::uint8_t(index);
  p[27] = std::uint8_t(devices.size());
  for (std::uint8_t d : devices) p.insert(p.end(), {0x7a, 0x70, 0, 0, 0, d});
  return p;
}

TEST(ArtNetRdm, TheTableIsEveryBlockOfEveryNodeThatAnswers) {
  const struct {
    const char* what;
    std::vector<std::pair<std::uint32_t, Bytes>> heard;  // node, block
    std::vector<std::uint8_t> devices;
    bool failed;
  } cases[] = {
      {"two blocks", {{1, block(3, 3, 0, {1, 2})}, {1, block(3, 3, 1, {3})}}, {1, 2, 3}, false},
      {"a block missing", {{1, block(3, 3, 0, {1, 2})}}, {1, 2}, true},
      {"two nodes", {{1, block(3, 1, 0, {5})}, {2, block(3, 1, 0, {4})}}, {4, 5}, false},
      {"an empty table", {{1, block(3, 0, 0, {})}}, {}, false},
      {"another port-address only", {{1, block(4, 1, 0, {1})}}, {}, true},
      {"silence", {}, {}, true},
  };
  for (const auto& c : cases) {
    for (const bool full : {false, true}) {
      Rig rig;
      auto port = std::make_unique<StandInPort>();
      StandInPort& node = *port;
      node.scheduler = &rig.scheduler;
      node.node = [&](const Bytes&) { return c.heard; };
      ArtNetRdm transport(rig.scheduler, 3, {0x0a000001, 6454}, std::move(port));
      rdm::Transport::Found found{{}, false, "never ended"};
      transport.findDevices(full, [&](rdm::Transport::Found f) { found = f; });
      rig.scheduler.advanceBy(std::chrono::minutes(1));
      std::vector<rdm::Uid> want;
      for (std::uint8_t d : c.devices) want.push_back({0x7a70, d});
      EXPECT_EQ(found.devices, want) << c.what;
      EXPECT_EQ(found.failed, c.failed) << c.what << found.error.toStdString();
      // A full search has the node search its line again first.
      ASSERT_EQ(node.sent.size(), 1u);
      const auto op = artnet::Op(node.sent[0][8] | node.sent[0][9] << 8);
      EXPECT_EQ(op, full ? artnet::Op::TodControl : artnet::Op::TodRequest) << c.what;
    }
  }
}

TEST(ArtNetRdm, OnlyTheAnswerToTheRequestIsTakenAndSilenceIsAskedAgain) {
  for (const bool answers : {true, false}) {
    Rig rig;
    auto port = std::make_unique<StandInPort>();
    StandInPort& node = *port;
    node.scheduler = &rig.scheduler;
    node.node = [&](const Bytes& p) {
      QByteArray packet(1, char(rdm::kStartCode));
      packet.append(reinterpret_cast<const char*>(p.data()) + 24, qsizetype(p.size() - 24));
      const auto r = rdm::decodeRequest(packet).value();
      rdm::Response reply{r.source,
                          r.destination,
                          r.transaction,
                          rdm::ResponseType::Ack,
                          0,
                          0,
                          rdm::CommandClass::GetResponse,
                          r.pid,
                          "ok"};
      rdm::Response other = reply;
      other.transaction = std::uint8_t(r.transaction + 1);
      // Its own request looped back, another controller's answer, then its own answer.
      std::vector<std::pair<std::uint32_t, Bytes>> heard = {
          {1, p}, {1, artnet::buildRdm(3, encode(other))}};
      if (answers) heard.push_back({1, artnet::buildRdm(3, encode(reply))});
      return heard;
    };
    ArtNetRdm transport(rig.scheduler, 3, {0x0a000001, 6454}, std::move(port));
    const Outcome o = rig.get(transport);
    EXPECT_EQ(o.kind, answers ? Outcome::Kind::Ack : Outcome::Kind::Timeout);
    EXPECT_EQ(o.data, answers ? QByteArray("ok") : QByteArray());
    EXPECT_EQ(node.sent.size(), answers ? 1u : std::size_t(rdm::Controller::kTries));
  }
}

}  // namespace
}  // namespace luvrin
