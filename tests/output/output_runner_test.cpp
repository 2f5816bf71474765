#include "output_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "support/virtual_time.h"

namespace luvrin {
namespace {

using namespace std::chrono_literals;
using Kind = rdm::LineResult::Kind;

// A line that keeps each request until the test answers it.
struct HeldLine final : rdm::Transport {
  void send(const rdm::Request&, std::function<void(rdm::LineResult)> done) override {
    held.push_back(std::move(done));
  }
  bool findsDevices() const override { return finds; }
  void findDevices(bool, std::function<void(Found)> done) override { found.push_back(done); }
  std::vector<std::function<void(rdm::LineResult)>> held;
  std::vector<std::function<void(Found)>> found;
  bool finds = false;
};

struct StandIn final : FrameOutput {
  bool open() override { return true; }
  bool isOpen() const override { return true; }
  bool readyForFrame() override { return true; }
  void whenReady(std::function<void()>) override {}
  bool send(std::span<const std::uint8_t>) override {
    if (refuseEvery > 0 && ++tries % refuseEvery == 0) return false;
    return ++sent;
  }
  QString status() const override { return {}; }
  rdm::Transport* rdm() override { return line; }
  QString rdmRefusal() const override { return QStringLiteral("no RDM here"); }
  void setLine(rdm::Transport* t) {
    line = t;
    statusChanged();
  }
  rdm::Transport* line = nullptr;
  int refuseEvery = 0, tries = 0, sent = 0;
};

// Both sides of the runner on one virtual scheduler.
struct Rig {
  explicit Rig(bool withLine = true) {
    runner.start(
        scheduler, [&](Scheduler&) { return std::unique_ptr<FrameOutput>(output = new StandIn); },
        nullptr);
    scheduler.post([&] { output->setLine(withLine ? &line : nullptr); });
    scheduler.settle();
  }
  ~Rig() { runner.stop(); }

  ManualClock clock;
  VirtualScheduler scheduler{clock};
  HeldLine line;
  StandIn* output = nullptr;
  PostTo post = [this](std::function<void()> fn) { scheduler.post(std::move(fn)); };
  OutputRunner runner{{scheduler, post, post}};
};

rdm::LineResult answer() { return {Kind::Answer, QByteArray("\xcc\x01", 2), {}}; }

TEST(OutputRunnerRdm, EachTransactionEndsOnceWhateverHappensToIt) {
  const struct {
    const char* what;
    std::function<void(Rig&)> then;
    Kind kind;
  } cases[] = {
      {"answered, twice",
       [](Rig& r) {
         r.line.held.at(0)(answer());
         r.line.held.at(0)(answer());
       },
       Kind::Answer},
      {"no answer in time, then a late one",
       [](Rig& r) {
         r.scheduler.advanceBy(std::chrono::milliseconds(OutputRunner::kRdmSendDeadlineMs));
         r.line.held.at(0)(answer());
       },
       Kind::Failed},
      {"the interface goes, then answers",
       [](Rig& r) {
         r.output->setLine(nullptr);
         r.line.held.at(0)(answer());
       },
       Kind::Failed},
      {"the output closes", [](Rig& r) { r.runner.stop(); }, Kind::Failed},
  };
  for (const auto& c : cases) {
    Rig rig;
    rig.runner.setFrameInterval(0);
    rdm::Transport* t = rig.runner.rdm();
    ASSERT_NE(t, nullptr) << c.what;
    std::vector<rdm::LineResult> got;
    t->send({}, [&](rdm::LineResult r) { got.push_back(r); });
    rig.scheduler.settle();
    EXPECT_TRUE(got.empty()) << c.what;  // never from inside send, nor before the line answers
    ASSERT_EQ(rig.line.held.size(), 1u) << c.what;
    c.then(rig);
    // Well within the deadline: what ends a transaction is what the case did.
    rig.scheduler.advanceBy(1s);
    ASSERT_EQ(got.size(), 1u) << c.what;
    EXPECT_EQ(got[0].kind, c.kind) << c.what;
    EXPECT_EQ(rig.runner.waiting(), 0u) << c.what;
  }
}

TEST(OutputRunnerRdm, TheWindowSeesTheOutputsRdmAsItIsNow) {
  Rig rig(false);
  EXPECT_EQ(rig.runner.rdm(), nullptr);
  EXPECT_EQ(rig.runner.rdmRefusal(), QStringLiteral("no RDM here"));
  rig.line.finds = true;
  rig.output->setLine(&rig.line);
  rig.scheduler.settle();
  rdm::Transport* t = rig.runner.rdm();
  ASSERT_TRUE(t && t->findsDevices());
  std::vector<rdm::Transport::Found> found;
  t->findDevices(true, [&](rdm::Transport::Found f) { found.push_back(f); });
  rig.scheduler.settle();
  rig.line.found.at(0)({{rdm::Uid{0x7a70, 7}}, false, {}});
  rig.scheduler.settle();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].devices, (std::vector<rdm::Uid>{{0x7a70, 7}}));

  // Gone between the window's look and the request's arrival: the output's refusal answers it.
  rig.output->line = nullptr;
  std::optional<rdm::LineResult> got;
  t->send({}, [&](rdm::LineResult r) { got = r; });
  rig.scheduler.settle();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->error, QStringLiteral("no RDM here"));
}

TEST(OutputRunnerRequests, ACancelledRequestIsNeverAnswered) {
  Rig rig;
  OutputRunner::Answer<int> later;
  int calls = 0;
  const auto id =
      rig.runner.ask<int>([&](FrameOutput&, OutputRunner::Answer<int> a) { later = std::move(a); },
                          1000, -1, [&](int) { ++calls; });
  rig.scheduler.settle();
  ASSERT_TRUE(later);
  rig.runner.cancel(id);
  later(5);
  rig.scheduler.advanceBy(2s);
  EXPECT_EQ(calls, 0);
}

// An output that holds each question about itself until the test answers it, or refuses them.
struct AboutStandIn final : FrameOutput {
  bool open() override { return true; }
  bool isOpen() const override { return true; }
  bool readyForFrame() override { return true; }
  void whenReady(std::function<void()>) override {}
  bool send(std::span<const std::uint8_t>) override { return true; }
  QString status() const override { return {}; }
  void about(std::function<void(InterfaceAbout)> answer) override {
    if (!serves) return FrameOutput::about(std::move(answer));
    held.push_back(std::move(answer));
  }
  void answer(const char* firmware) {
    InterfaceAbout a;
    a.firmware = QString::fromLatin1(firmware);
    held.at(0)(a);
  }
  bool serves = true;
  std::vector<std::function<void(InterfaceAbout)>> held;
};

// The same rules on both links: one answer, on the window's side and never from inside the asking.
TEST(OutputLinkRequests, EachQuestionAboutTheInterfaceEndsOnceOnEitherLink) {
  using Then = std::function<void(AboutStandIn&, OutputLink&, OutputLink::RequestId)>;
  const struct {
    const char* what;
    bool serves;
    Then then;  // before the deadline
    const char* firmware;
    const char* refusalStart;  // nullptr: no answer at all
  } cases[] = {
      {"answered, twice", true,
       [](AboutStandIn& o, OutputLink&, auto) { o.answer("2.4"), o.answer("9.9"); }, "2.4", ""},
      {"an output that tells nothing about itself", false, {}, "", "此接口不提供设备信息"},
      {"cancelled", true,
       [](AboutStandIn& o, OutputLink& link, auto id) { link.cancel(id), o.answer("2.4"); }, "",
       nullptr},
      {"late", true, {}, "", "接口没有及时回答"},
  };
  for (const bool threaded : {false, true}) {
    for (const auto& c : cases) {
      ManualClock clock;
      VirtualScheduler scheduler{clock};
      PostTo post = [&](std::function<void()> fn) { scheduler.post(std::move(fn)); };
      OutputRunner runner{{scheduler, post, post}};
      AboutStandIn* output = new AboutStandIn;
      std::unique_ptr<FrameOutput> owned(output);
      std::optional<DirectOutputLink> direct;
      if (threaded)
        runner.start(
            scheduler, [&](Scheduler&) { return std::move(owned); }, nullptr);
      else
        direct.emplace(scheduler, *output);
      OutputLink& link = threaded ? static_cast<OutputLink&>(runner) : *direct;
      output->serves = c.serves;
      std::vector<InterfaceAbout> got;
      const auto id = link.askAbout([&](InterfaceAbout a) { got.push_back(std::move(a)); });
      EXPECT_TRUE(got.empty()) << c.what;
      scheduler.settle();
      if (c.then) c.then(*output, link, id);
      scheduler.advanceBy(std::chrono::milliseconds(OutputLink::kAboutDeadlineMs + 1));
      // An answer after the deadline reaches nobody.
      if (!output->held.empty()) output->answer("1.0");
      scheduler.settle();
      if (threaded) runner.stop();
      ASSERT_EQ(got.size(), c.refusalStart ? 1u : 0u) << c.what << threaded;
      if (!c.refusalStart) continue;
      EXPECT_EQ(got[0].firmware.value_or(QString()), QString::fromLatin1(c.firmware)) << c.what;
      const QString start = QString::fromUtf8(c.refusalStart);
      EXPECT_EQ(got[0].refusal.left(start.size()), start) << c.what;
    }
  }
}

// Both with frames that fail now and then: the window counts what went, and hears of it all along.
TEST(OutputRunnerFrames, TheWindowCountsEveryFrameSentAndHearsOfThemAllAlong) {
  for (const int refuseEvery : {0, 3}) {
    Rig rig;
    rig.output->refuseEvery = refuseEvery;
    int notices = 0;
    std::int64_t counted = 0;
    rig.runner.watch(
        [&] {
          ++notices;
          counted += rig.runner.takeFramesCounted();
        },
        {});
    rig.runner.setFrameInterval(1);
    rig.runner.setFrame(std::vector<std::uint8_t>{0, 7});
    rig.scheduler.advanceBy(1s);
    rig.runner.setFrameInterval(0);
    rig.scheduler.settle();
    counted += rig.runner.takeFramesCounted();
    EXPECT_GT(rig.output->sent, 500) << refuseEvery;
    EXPECT_EQ(counted, rig.output->sent) << refuseEvery;
    // A notice at most every kCountNoticeMs, and one in each such stretch while frames go.
    EXPECT_GE(notices, 1000 / OutputRunner::kCountNoticeMs - 1) << refuseEvery;
  }
}

TEST(OutputRunnerInput, TheNewestLevelsOfEachUniverseWaitForTheWindow) {
  Rig rig;
  int notices = 0;
  rig.runner.watchReceived([&] { ++notices; });
  rig.scheduler.post([&] {
    for (std::uint32_t u = 0; u < OutputLink::kReceivedUniverses + 5; ++u)
      rig.output->onLevelsReceived({u, 0, {1}});
    rig.output->onLevelsReceived({0, 0, {2, 2}});
  });
  rig.scheduler.settle();
  EXPECT_EQ(notices, 1);
  const auto got = rig.runner.takeReceivedLevels();
  ASSERT_EQ(got.size(), OutputLink::kReceivedUniverses);
  EXPECT_EQ(got[0].levels, (std::vector<std::uint8_t>{2, 2}));
  EXPECT_EQ(got.back().universe, OutputLink::kReceivedUniverses - 1);
  EXPECT_TRUE(rig.runner.takeReceivedLevels().empty());
}

}  // namespace
}  // namespace luvrin
