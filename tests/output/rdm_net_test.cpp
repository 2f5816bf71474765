#include <gtest/gtest.h>

#include "artnet_rdm.h"
#include "ola_rdm.h"
#include "pids.h"
#include "rdm_controller.h"
#include "support/virtual_time.h"

namespace luvrin {
namespace {

using rdm::Outcome;
using rdm::Uid;
const Uid kUs{0x7ff0, 7}, kLight{0x7a70, 1};

struct Rig {
  ManualClock clock;
  VirtualScheduler scheduler{clock};
};

// olad as the full client shows it: each request answered with the case's answer, later.
struct StandInOla final : OlaRdmClient {
  Scheduler& scheduler;
  std::function<Answer(const rdm::Request&)> answer;  // empty: olad never answers
  int asked = 0;
  explicit StandInOla(Scheduler& s) : scheduler(s) {}
  void request(std::uint32_t, const rdm::Request& r, std::function<void(Answer)> done) override {
    ++asked;
    if (answer) scheduler.post([done, a = answer(r)] { done(a); });
  }
  void discover(std::uint32_t, bool, std::function<void(rdm::Transport::Found)>) override {}
};

Outcome getThrough(Rig& rig, rdm::Transport& transport) {
  rdm::Controller controller(rig.scheduler, transport, kUs);
  std::optional<Outcome> got;
  controller.get(kLight, 0, rdm::kDeviceInfo, {}, [&](Outcome o) { got = o; });
  rig.scheduler.advanceBy(std::chrono::minutes(1));
  EXPECT_TRUE(got.has_value());
  return got.value_or(Outcome{});
}

TEST(OlaRdm, OladsAnswersReachTheControllerAsTheDevicesOwn) {
  using A = OlaRdmClient::Answer;
  auto ack = [](rdm::ResponseType type, QByteArray data) {
    return [type, data](const rdm::Request& r) {
      return A{A::Kind::Response,
               {{0x7a70, 0x999},
                r.destination,
                99,
                type,
                0,
                r.subDevice,
                rdm::CommandClass::GetResponse,
                r.pid,
                data},
               {}};
    };
  };
  const QByteArray joined(300, 'j');  // olad joins overflows: more than one packet holds
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
      {"timeout",
       [](auto&) {
         return A{A::Kind::Timeout, {}, {}};
       },
       Outcome::Kind::Timeout,
       {},
       rdm::Controller::kTries},
      {"damaged",
       [](auto&) {
         return A{A::Kind::Damaged, {}, {}};
       },
       Outcome::Kind::Damaged,
       {},
       rdm::Controller::kTries},
      {"failed",
       [](auto&) {
         return A{A::Kind::Failed, {}, "gone"};
       },
       Outcome::Kind::Failed,
       {},
       1},
  };
  for (const auto& c : cases) {
    Rig rig;
    auto client = std::make_unique<StandInOla>(rig.scheduler);
    StandInOla& ola = *client;
    ola.answer = c.answer;
    OlaRdm transport(rig.scheduler, 1, std::move(client));
    const Outcome o = getThrough(rig, transport);
    EXPECT_EQ(o.kind, c.kind) << c.what << ": " << o.text().toStdString();
    if (c.kind == Outcome::Kind::Ack) {
      EXPECT_EQ(o.data, c.data) << c.what;
    }
    if (c.kind == Outcome::Kind::Failed) {
      EXPECT_TRUE(o.error.contains("gone")) << c.what;
    }
    EXPECT_EQ(ola.asked, c.asked) << c.what;
  }
}

TEST(OlaRdm, AnOladThatNeverAnswersEndsAtTheDeadlineEachTime) {
  Rig rig;
  auto client = std::make_unique<StandInOla>(rig.scheduler);
  StandInOla& ola = *client;
  OlaRdm transport(rig.scheduler, 1, std::move(client));
  EXPECT_EQ(getThrough(rig, transport).kind, Outcome::Kind::Timeout);
  EXPECT_EQ(ola.asked, rdm::Controller::kTries);
}

// An Art-Net node as the port hears it: what was sent, and answers pushed back.
struct StandInPort final : DatagramPort {
  std::vector<std::vector<std::uint8_t>> sent;
  std::function<void(const std::vector<std::uint8_t>&)> node;  // answers what is sent
  bool open() override { return true; }
  bool send(std::span<const std::uint8_t> p, const Destination&) override {
    sent.emplace_back(p.begin(), p.end());
    if (node) node(sent.back());
    return true;
  }
  void hear(const std::vector<std::uint8_t>& p, std::uint32_t from = 1) { onReceived(p, from); }
};

std::uint16_t opOf(const std::vector<std::uint8_t>& p) { return std::uint16_t(p[8] | p[9] << 8); }

// One block of a node's table, as a node sends it.
std::vector<std::uint8_t> block(std::uint16_t portAddress, int total, int index,
                                std::vector<std::uint32_t> devices) {
  std::vector<std::uint8_t> p = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x81, 0, 14, 1, 1};
  p.resize(28);
  p[21] = std::uint8_t(portAddress >> 8);
  p[23] = std::uint8_t(portAddress);
  p[24] = std::uint8_t(total >> 8);
  p[25] = std::uint8_t(total);
  p[26] = std::uint8_t(index);
  p[27] = std::uint8_t(devices.size());
  for (std::uint32_t d : devices)
    for (std::uint8_t b : {0x7a, 0x70, int(d >> 24), int(d >> 16), int(d >> 8), int(d)})
      p.push_back(std::uint8_t(b));
  return p;
}

TEST(ArtNetRdm, TheTableIsEveryBlockOfEveryNodeThatAnswers) {
  const struct {
    const char* what;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> heard;  // node, block
    std::vector<std::uint32_t> devices;
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
      node.node = [&](const std::vector<std::uint8_t>&) {
        for (const auto& [from, p] : c.heard)
          rig.scheduler.post([&node, from, p] { node.hear(p, from); });
      };
      ArtNetRdm transport(rig.scheduler, 3, {0x0a000001, 6454}, std::move(port));
      std::optional<rdm::Transport::Found> found;
      transport.findDevices(full, [&](rdm::Transport::Found f) { found = f; });
      rig.scheduler.advanceBy(std::chrono::seconds(10));
      ASSERT_TRUE(found) << c.what;
      std::vector<Uid> want;
      for (std::uint32_t d : c.devices) want.push_back({0x7a70, d});
      EXPECT_EQ(found->devices, want) << c.what;
      EXPECT_EQ(found->failed, c.failed) << c.what;
      ASSERT_EQ(node.sent.size(), 1u);
      EXPECT_EQ(opOf(node.sent[0]),
                std::uint16_t(full ? artnet::Op::TodControl : artnet::Op::TodRequest));
    }
  }
}

TEST(ArtNetRdm, OnlyTheAnswerToTheRequestIsTakenAndSilenceIsAskedAgain) {
  for (const bool answers : {true, false}) {
    Rig rig;
    auto port = std::make_unique<StandInPort>();
    StandInPort& node = *port;
    node.node = [&](const std::vector<std::uint8_t>& p) {
      QByteArray packet(1, char(rdm::kStartCode));
      packet.append(reinterpret_cast<const char*>(p.data()) + 24, qsizetype(p.size() - 24));
      const auto r = rdm::decodeRequest(packet);
      ASSERT_TRUE(r);
      rdm::Response reply{r->source,
                          r->destination,
                          r->transaction,
                          rdm::ResponseType::Ack,
                          0,
                          0,
                          rdm::CommandClass::GetResponse,
                          r->pid,
                          "ok"};
      rdm::Response other = reply;
      other.transaction = std::uint8_t(r->transaction + 1);
      const auto heard = [&](const rdm::Response& x) { return artnet::buildRdm(3, encode(x)); };
      // Its own request looped back, another controller's answer, then its own.
      std::vector<std::vector<std::uint8_t>> all = {p, heard(other)};
      if (answers) all.push_back(heard(reply));
      for (auto& x : all) rig.scheduler.post([&node, x] { node.hear(x); });
    };
    ArtNetRdm transport(rig.scheduler, 3, {0x0a000001, 6454}, std::move(port));
    const Outcome o = getThrough(rig, transport);
    EXPECT_EQ(o.kind, answers ? Outcome::Kind::Ack : Outcome::Kind::Timeout);
    if (answers) {
      EXPECT_EQ(o.data, "ok");
    }
    EXPECT_EQ(node.sent.size(), answers ? 1u : std::size_t(rdm::Controller::kTries));
  }
}

}  // namespace
}  // namespace luvrin
