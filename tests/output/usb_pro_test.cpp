#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>

#include "address_forms.h"
#include "discovery.h"
#include "output_factory.h"
#include "output_link.h"
#include "pids.h"
#include "source_uid.h"
#include "support/recording_port.h"
#include "support/scripted_widget.h"
#include "support/virtual_time.h"
#include "usb_pro_message.h"
#include "usb_pro_output.h"

namespace luvrin {
namespace {

using namespace std::chrono_literals;
using testing::Levels;
using testing::RecordingPort;

QByteArray bytes(std::initializer_list<int> values) {
  QByteArray b;
  for (int v : values) b.append(static_cast<char>(v));
  return b;
}

const QByteArray kQueries = bytes({0x7E, 3, 2, 0, 0, 0, 0xE7, 0x7E, 10, 0, 0, 0xE7});
// Firmware 1.44, break 9 (96 us), mark after break 1, 40 packets a second.
const QByteArray kParametersReply = bytes({0x7E, 3, 5, 0, 44, 1, 9, 1, 40, 0xE7});
const QByteArray kSerialReply = bytes({0x7E, 10, 4, 0, 0x78, 0x56, 0x34, 0x12, 0xE7});

// A widget on a serial line at 115200 baud, fed by the driver's frame sender on a frame timer.
struct Rig {
  explicit Rig(int frameIntervalMs = 1) {
    port.device = QStringLiteral("/dev/ttyUSB0");
    port.modelLine(scheduler, 86'806);  // 10 bits a byte at 115200 baud
    output = std::make_unique<UsbProOutput>(scheduler, port);
    output->onStatusChanged = [this] { ++statusChanges; };
    sender = std::make_unique<FrameSender>(*output);
    sender->onCounted = [this] { ++framesCounted; };
    sender->setFrame(levels);
    output->open();
    frameTimer = std::make_unique<Timer>(scheduler, frameIntervalMs, frameIntervalMs > 0,
                                         [this] { sender->tick(); });
  }

  // The send-DMX messages written so far.
  std::vector<QByteArray> dmxMessages() const {
    std::vector<QByteArray> dmx;
    for (const QByteArray& f : port.frames)
      if (f.size() > 1 && f.at(1) == usbpro::kSendDmx) dmx.push_back(f);
    return dmx;
  }
  void deliver(std::initializer_list<QByteArray> pieces) {
    for (const QByteArray& piece : pieces) {
      port.pendingInput += piece;
      scheduler.advanceBy(std::chrono::milliseconds(UsbProOutput::kReadIntervalMs));
    }
  }

  ManualClock clock;
  VirtualScheduler scheduler{clock};
  RecordingPort port;
  std::unique_ptr<UsbProOutput> output;
  std::unique_ptr<FrameSender> sender;
  std::unique_ptr<Timer> frameTimer;
  Levels levels{10, 20, 30, 40};
  int framesCounted = 0;
  int statusChanges = 0;
};

TEST(UsbProMessages, EachFrameIsOneSendDmxMessageOfAtMost512Levels) {
  // The queries at the opening keep the line busy for a millisecond.
  Rig four(0);
  four.scheduler.advanceTo(2);
  ASSERT_TRUE(four.output->send(four.levels));
  ASSERT_EQ(four.dmxMessages().size(), 1u);
  EXPECT_EQ(four.dmxMessages()[0], bytes({0x7E, 6, 5, 0, 0, 10, 20, 30, 40, 0xE7}));

  for (const std::size_t count : {512u, 601u}) {
    Rig rig(0);
    Levels many(count);
    for (std::size_t i = 0; i < count; ++i) many[i] = static_cast<std::uint8_t>(i * 7 + 1);
    rig.scheduler.advanceTo(2);
    ASSERT_TRUE(rig.output->send(many));
    QByteArray want = bytes({0x7E, 6, 0x01, 0x02, 0});  // 513 bytes: start code and 512 slots
    want.append(reinterpret_cast<const char*>(many.data()), 512);
    want.append(static_cast<char>(0xE7));
    ASSERT_EQ(rig.dmxMessages().size(), 1u) << count;
    EXPECT_EQ(rig.dmxMessages()[0], want) << count;
  }
}

TEST(UsbProRate, OneMillisecondFramesGive44MessagesEverySecondNeverOnABusyLine) {
  Rig rig(1);
  std::size_t before = 0;
  for (int second = 0; second < 5; ++second) {
    rig.scheduler.advanceTo(second * 1000 + 999);
    const std::size_t now = rig.dmxMessages().size();
    EXPECT_EQ(now - before, 44u) << second;
    before = now;
  }
  EXPECT_EQ(rig.framesCounted, static_cast<int>(before));
  EXPECT_EQ(rig.port.busyWrites, 0);

  // Frames slower than the rate all go.
  Rig slow(50);
  slow.scheduler.advanceTo(4999);
  EXPECT_EQ(slow.dmxMessages().size(), 99u);
}

TEST(UsbProRate, NewestLevelsGoWhenTheRateAllows) {
  Rig rig(1);
  rig.scheduler.advanceTo(5);
  rig.sender->setFrame(Levels{1, 2, 3, 4});
  rig.scheduler.advanceTo(22);
  rig.sender->setFrame(Levels{5, 6, 7, 8});
  rig.scheduler.advanceTo(30);
  const auto dmx = rig.dmxMessages();
  ASSERT_EQ(dmx.size(), 2u);
  EXPECT_EQ(dmx[1].mid(5, 4), bytes({5, 6, 7, 8}));
}

TEST(UsbProKeepAlive, LastLevelsGoAgainOnceASecondWhileNoFrameComes) {
  Rig idle(0);
  idle.scheduler.advanceBy(3s);
  EXPECT_TRUE(idle.dmxMessages().empty());  // nothing to repeat before the first frame

  Rig rig(0);
  rig.sender->tick();
  rig.scheduler.advanceTo(2);  // once the queries at the opening have left
  ASSERT_EQ(rig.dmxMessages().size(), 1u);
  rig.scheduler.advanceTo(1001);
  EXPECT_EQ(rig.dmxMessages().size(), 1u);
  rig.scheduler.advanceTo(1002);
  EXPECT_EQ(rig.dmxMessages().size(), 2u);
  rig.scheduler.advanceBy(5s);
  const auto dmx = rig.dmxMessages();
  ASSERT_EQ(dmx.size(), 7u);
  for (const QByteArray& m : dmx) EXPECT_EQ(m, dmx.front());
  EXPECT_EQ(rig.framesCounted, 1);  // repeats are not frames of the driver's
}

struct AnswerCase {
  const char* name;
  std::vector<QByteArray> pieces;
  QString status;
};

TEST(UsbProAnswers, WhatTheWidgetAnswersShowsInTheStatusHoweverItArrives) {
  const QString port = QStringLiteral("USB Pro /dev/ttyUSB0: ");
  const QByteArray both = kParametersReply + kSerialReply;
  const std::vector<AnswerCase> cases = {
      {"whole", {both}, port + QStringLiteral("固件 1.44, 序列号 12345678")},
      {"byte by byte",
       [&] {
         std::vector<QByteArray> one;
         for (char c : both) one.push_back(QByteArray(1, c));
         return one;
       }(),
       port + QStringLiteral("固件 1.44, 序列号 12345678")},
      {"garbage, a false start and a cut message first",
       {bytes({0x00, 0xE7, 0x7E, 0x7E, 0xFF, 0xFF, 0x12}), bytes({0x7E, 10, 4, 0, 1, 2}),
        kSerialReply.left(3), kSerialReply.mid(3) + kParametersReply},
       port + QStringLiteral("固件 1.44, 序列号 12345678")},
      {"serial number only",
       {kSerialReply, bytes({0x7E, 3, 2, 0, 44, 1, 0xE7})},  // a reply too short to be one
       port + QStringLiteral("序列号 12345678, 参数查询无应答")},
      {"parameters only", {kParametersReply}, port + QStringLiteral("固件 1.44, 序列号查询无应答")},
      {"the digit 9",
       {bytes({0x7E, 10, 4, 0, 0x99, 0x09, 0x90, 0x19, 0xE7})},
       port + QStringLiteral("序列号 19900999, 参数查询无应答")},
      {"a number that is not BCD",
       {bytes({0x7E, 10, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xE7})},
       port + QStringLiteral("序列号 4294967295, 参数查询无应答")},
      {"no answer",
       {},
       port + QStringLiteral("已打开, 无应答 (the widget does not answer; sending anyway)")},
  };
  for (const AnswerCase& c : cases) {
    Rig rig(1);
    const int opened = rig.statusChanges;
    ASSERT_FALSE(rig.port.frames.empty());
    EXPECT_EQ(rig.port.frames.front(), kQueries) << c.name;
    EXPECT_EQ(rig.output->status(), port + QStringLiteral("已打开")) << c.name;
    for (const QByteArray& piece : c.pieces) rig.deliver({piece});
    rig.scheduler.advanceTo(999);
    // Frames went from the start, answered or not.
    EXPECT_EQ(rig.dmxMessages().size(), 44u) << c.name;
    rig.scheduler.advanceTo(1200);
    EXPECT_EQ(rig.output->status(), c.status) << c.name;
    EXPECT_GT(rig.statusChanges, opened) << c.name;
  }
}

TEST(UsbProAnswers, QueriesAreAskedAgainAtEveryReopening) {
  Rig rig(1);
  rig.deliver({kParametersReply + kSerialReply});
  ASSERT_EQ(rig.output->parameters(), (usbpro::Parameters{1, 44, 9, 1, 40}));
  // A reply cut short by the unplugging: its length claims the longest payload.
  rig.deliver({bytes({0x7E, 3, 0x58, 0x02, 1, 2})});

  rig.port.setOpenAndTell(false);
  EXPECT_EQ(rig.output->status(),
            QStringLiteral("USB Pro /dev/ttyUSB0: 无法打开, 每秒重试 (cannot be opened; trying "
                           "again every second)"));
  rig.scheduler.advanceBy(1s);
  // What the old widget said last, never read, and then another widget that answers late.
  rig.port.pendingInput = bytes({0x7E, 10, 4, 0, 0x21, 0x43, 0x65, 0x87, 0xE7});
  rig.port.frames.clear();
  rig.port.setOpenAndTell(true);
  ASSERT_FALSE(rig.port.frames.empty());
  EXPECT_EQ(rig.port.frames.front(), kQueries);
  EXPECT_FALSE(rig.output->parameters());
  rig.scheduler.advanceBy(999ms);
  EXPECT_FALSE(rig.output->serialNumber());
  EXPECT_EQ(rig.dmxMessages().size(), 44u);
  rig.deliver({kSerialReply});
  EXPECT_EQ(rig.output->status(),
            QStringLiteral("USB Pro /dev/ttyUSB0: 序列号 12345678, 参数查询无应答"));
}

// Asked through the link as the port opens: answered once both questions were answered or their
// time was up, and a widget unplugged before that says so.
TEST(UsbProAnswers, WhatTheWidgetSaysAboutItselfIsOneAnswerAfterBothQuestions) {
  const struct {
    const char* name;
    QByteArray replies;
    bool unplugged;
    std::size_t answersSoon;  // before the widget's answer wait is over
    std::optional<QString> firmware, serial;
    bool firmwareUnanswered, serialUnanswered;
    QString refusal;
  } cases[] = {
      {"answered", kParametersReply + kSerialReply, false, 1, "1.44", "12345678", false, false, {}},
      {"no serial number", kParametersReply, false, 0, "1.44", {}, false, true, {}},
      {"no answer", {}, false, 0, {}, {}, true, true, {}},
      {"unplugged",
       {},
       true,
       1,
       {},
       {},
       false,
       false,
       "USB Pro 接口已关闭 (the widget was closed)"},
  };
  for (const auto& c : cases) {
    ManualClock clock;
    VirtualScheduler scheduler{clock};
    RecordingPort port;
    port.device = QStringLiteral("/dev/ttyUSB0");
    UsbProOutput output(scheduler, port);
    DirectOutputLink link(scheduler, output);
    link.open();
    std::vector<InterfaceAbout> got;
    link.askAbout([&](InterfaceAbout a) { got.push_back(std::move(a)); });
    port.pendingInput = c.replies;
    if (c.unplugged) {
      scheduler.settle();
      port.setOpenAndTell(false);
    }
    scheduler.advanceBy(std::chrono::milliseconds(UsbProOutput::kAnswerWaitMs / 2));
    EXPECT_EQ(got.size(), c.answersSoon) << c.name;
    scheduler.advanceBy(2s);
    ASSERT_EQ(got.size(), 1u) << c.name;
    EXPECT_EQ(got[0].firmware, c.firmware) << c.name;
    EXPECT_EQ(got[0].serialNumber, c.serial) << c.name;
    EXPECT_EQ(got[0].firmwareUnanswered, c.firmwareUnanswered) << c.name;
    EXPECT_EQ(got[0].serialUnanswered, c.serialUnanswered) << c.name;
    EXPECT_EQ(got[0].refusal, c.refusal) << c.name;
  }
}

// A widget with responders behind it, fed frames by the driver's sender every millisecond.
struct RdmRig {
  explicit RdmRig(int major = 4, int minor = 15, int devices = 3, int frameIntervalMs = 1,
                  std::int64_t byteNs = 86'806) {
    widget.firmwareMajor = major;
    widget.firmwareMinor = minor;
    widget.line.devices = rdm::sim::consecutive(devices);
    widget.modelLine(scheduler, byteNs);  // the serial side: 115200 baud unless told
    output = std::make_unique<UsbProOutput>(scheduler, widget);
    sender = std::make_unique<FrameSender>(*output);
    sender->setFrame(Levels(24, 7));
    output->open();
    frameTimer = std::make_unique<Timer>(scheduler, frameIntervalMs, frameIntervalMs > 0,
                                         [this] { sender->tick(); });
    scheduler.advanceBy(50ms);
  }
  // The result of a request, and of the one sent right after it as a controller sends it.
  std::pair<rdm::LineResult, rdm::LineResult> transact(rdm::Request request,
                                                       std::optional<rdm::Request> then = {}) {
    std::optional<rdm::LineResult> got, next;
    output->rdm()->send(request, [&](rdm::LineResult r) {
      got = std::move(r);
      if (then) output->rdm()->send(*then, [&](rdm::LineResult n) { next = std::move(n); });
    });
    scheduler.advanceBy(1s);
    EXPECT_TRUE(got);
    EXPECT_EQ(next.has_value(), then.has_value());
    return {got.value_or(rdm::LineResult{}), next.value_or(rdm::LineResult{})};
  }
  // The labels of the messages written after the queries, other than frames.
  QByteArray rdmLabels() const {
    QByteArray labels;
    for (std::size_t i = 1; i < widget.frames.size(); ++i)
      if (widget.frames[i].at(1) != usbpro::kSendDmx) labels += widget.frames[i].at(1);
    return labels;
  }

  ManualClock clock;
  VirtualScheduler scheduler{clock};
  testing::ScriptedWidget widget{scheduler};
  std::unique_ptr<UsbProOutput> output;
  std::unique_ptr<FrameSender> sender;
  std::unique_ptr<Timer> frameTimer;
};

const rdm::Uid kMe{rdm::kOwnManufacturer, 1};
rdm::Request get(rdm::Uid to) {
  return {to, kMe, 1, 1, 0, rdm::CommandClass::Get, rdm::kDmxStartAddress, {}};
}
rdm::Request branch(std::uint64_t lower, std::uint64_t upper) {
  return {rdm::Uid::broadcast(),
          kMe,
          1,
          1,
          0,
          rdm::CommandClass::Discovery,
          rdm::kDiscUniqueBranch,
          rdm::branchData(lower, upper)};
}

struct TransactionCase {
  const char* name;
  int major, minor;
  rdm::Request request;
  std::uint8_t label;
  rdm::LineResult::Kind kind;
  int slowCloseMs = 0;
};

TEST(UsbProRdm, EachRequestEndsWithItsOwnAnswerAndTheNextOneWithItsOwn) {
  using K = rdm::LineResult::Kind;
  const rdm::Request unMute{rdm::Uid::broadcast(), kMe, 1, 1, 0, rdm::CommandClass::Discovery,
                            rdm::kDiscUnMute,      {}};
  const std::vector<TransactionCase> cases = {
      {"get", 4, 15, get({0x7a70, 2}), usbpro::kRdmRequest, K::Answer},
      {"get, nobody there", 4, 15, get({0x7a70, 9}), usbpro::kRdmRequest, K::Timeout},
      {"broadcast", 4, 15, unMute, usbpro::kRdmRequest, K::Timeout},
      {"broadcast closed after its wait", 4, 15, unMute, usbpro::kRdmRequest, K::Timeout, 30},
      {"branch of one", 4, 15, branch(0x7a7000000002, 0x7a7000000002), usbpro::kRdmDiscovery,
       K::Answer},
      {"silent branch", 4, 15, branch(0, 5), usbpro::kRdmDiscovery, K::Timeout},
      {"branch of one, late close", 2, 4, branch(0x7a7000000001, 0x7a7000000001),
       usbpro::kRdmDiscovery, K::Answer},
      {"branch of three, late close", 2, 4, branch(0, rdm::Uid::kMax), usbpro::kRdmDiscovery,
       K::Answer},
  };
  for (const TransactionCase& c : cases) {
    RdmRig rig(c.major, c.minor);
    rig.widget.slowCloseNs = c.slowCloseMs * 1'000'000;
    ASSERT_NE(rig.output->rdm(), nullptr) << c.name;
    // Whatever the widget said to close the first one is not the next one's answer.
    const auto [result, next] = rig.transact(c.request, get({0x7a70, 3}));
    EXPECT_EQ(rig.rdmLabels().left(1), QByteArray(1, char(c.label))) << c.name;
    EXPECT_EQ(result.kind, c.kind) << c.name;
    if (c.label == usbpro::kRdmDiscovery && c.kind == K::Answer) {
      EXPECT_EQ(result.bytes.left(8), QByteArray(7, '\xFE') + '\xAA') << c.name;
    }
    ASSERT_EQ(next.kind, K::Answer) << c.name;
    EXPECT_EQ(rdm::decodeResponse(next.bytes, get({0x7a70, 3})).response->data, bytes({0, 1}))
        << c.name;
  }
}

TEST(UsbProRdm, AWidgetThatNeverClosesIsGivenUpOnAndFramesGoOn) {
  using K = rdm::LineResult::Kind;
  RdmRig rig;
  rig.widget.closesRdm = false;
  std::vector<K> kinds;
  for (int i = 0; i < usbpro::RdmLine::kSilentBeforeFailed; ++i) {
    const std::size_t frames = rig.widget.dmxAtNs.size();
    kinds.push_back(rig.transact(get({0x7a70, 1})).first.kind);
    EXPECT_GE(rig.widget.dmxAtNs.size(), frames + 40) << i;  // 44 a second all along
  }
  EXPECT_EQ(kinds, (std::vector<K>{K::Timeout, K::Timeout, K::Failed}));
  rig.widget.closesRdm = true;
  EXPECT_EQ(rig.transact(get({0x7a70, 1})).first.kind, K::Answer);

  // Unplugged in the middle of one: it fails, and the next is refused until the widget is back.
  std::optional<rdm::LineResult> got;
  rig.output->rdm()->send(get({0x7a70, 1}), [&](rdm::LineResult r) { got = r; });
  rig.widget.setOpenAndTell(false);
  rig.scheduler.settle();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, K::Failed);
  EXPECT_EQ(rig.output->rdm(), nullptr);
}

TEST(UsbProRdm, DiscoveryFindsEveryDeviceWhileFramesGoBetweenItsRequests) {
  // The longest gap: one frame interval (1/44 s) and one transaction; where the serial side is
  // set slower than the widget's USB really is (its pace is what the port keeps), also the
  // frame's and the request's bytes on it.
  const struct {
    int baud;
    std::int64_t longestMs;
  } lines[] = {{115200, 23 + 4}, {38400, 23 + 4 + 20}, {9600, 150}};
  for (const auto& line : lines) {
    RdmRig rig(4, 15, 32, 1, 10'000'000'000 / line.baud);
    rdm::Controller controller(rig.scheduler, *rig.output->rdm(), kMe);
    rdm::Discovery discovery(controller);
    std::optional<rdm::Discovery::Result> result;
    const std::size_t before = rig.widget.dmxAtNs.size();
    discovery.run(true, {}, [&](const rdm::Discovery::Result& r) { result = r; });
    rig.scheduler.advanceBy(60s);
    ASSERT_TRUE(result) << line.baud;
    EXPECT_EQ(result->devices.size(), 32u) << line.baud;
    EXPECT_FALSE(result->failed) << line.baud;
    std::int64_t longest = 0;
    for (std::size_t i = before + 1; i < rig.widget.dmxAtNs.size(); ++i)
      longest = std::max(longest, rig.widget.dmxAtNs[i] - rig.widget.dmxAtNs[i - 1]);
    EXPECT_LE(longest, line.longestMs * 1'000'000) << line.baud;
    EXPECT_GT(result->elapsedMs, 200) << line.baud;
  }
}

TEST(UsbProRdm, AFrameThatWaitedForATransactionGoesAsSoonAsItEnds) {
  RdmRig rig(4, 15, 3, 0);
  std::optional<std::int64_t> answeredAt;
  rig.output->rdm()->send(get({0x7a70, 1}),
                          [&](rdm::LineResult) { answeredAt = rig.clock.tickCount(); });
  rig.sender->tick();
  const std::size_t frames = rig.widget.dmxAtNs.size();
  while (!answeredAt) rig.scheduler.advanceTo(rig.clock.tickCount() + 1);
  ASSERT_EQ(rig.widget.dmxAtNs.size(), frames + 1);
  EXPECT_EQ(rig.widget.dmxAtNs.back() / 1'000'000, *answeredAt);
  EXPECT_LT(*answeredAt, usbpro::RdmLine::kFrameHoldMs + 50);  // before the hold would end
}

struct RefusalCase {
  const char* name;
  int major, minor;
  bool answers;
  const char* refusal;  // empty: RDM is there
};

TEST(UsbProRdm, OnlyAWidgetThatTellsOfFirmware24OrLaterCarriesRdm) {
  const std::vector<RefusalCase> cases = {
      {"4.15", 4, 15, true, ""},
      {"2.4", 2, 4, true, ""},
      {"2.3", 2, 3, true, "USB Pro 接口固件 2.3 早于 2.4, 不支持 RDM"},
      {"1.44", 1, 44, true, "USB Pro 接口固件 1.44 早于 2.4, 不支持 RDM"},
      {"no answer", 4, 15, false, "USB Pro 接口没有回答参数查询, 不能使用 RDM"},
  };
  for (const RefusalCase& c : cases) {
    ManualClock clock;
    VirtualScheduler scheduler(clock);
    testing::ScriptedWidget widget(scheduler);
    widget.firmwareMajor = c.major;
    widget.firmwareMinor = c.minor;
    widget.answersParameters = c.answers;
    UsbProOutput output(scheduler, widget);
    output.open();
    EXPECT_EQ(output.rdm(), nullptr) << c.name;  // not before the widget said which it is
    scheduler.advanceBy(2s);
    EXPECT_EQ(output.rdm() == nullptr, *c.refusal != 0) << c.name;
    if (*c.refusal) {
      EXPECT_TRUE(output.rdmRefusal().startsWith(QString::fromUtf8(c.refusal)))
          << c.name << " " << output.rdmRefusal().toStdString();
    }
  }
}

struct ReceivedCase {
  const char* name;
  QByteArray payload;
  bool duringRequest;
  std::vector<Levels> levels;
};

TEST(UsbProRdm, LevelsReceivedWithStartCode0AndNoErrorGoToTheDriver) {
  const std::vector<ReceivedCase> cases = {
      {"levels", bytes({0, 0, 1, 2, 3}), false, {{1, 2, 3}}},
      {"levels while a request waits", bytes({0, 0, 9}), true, {{9}}},
      {"errors on the line", bytes({2, 0, 1, 2, 3}), false, {}},
      {"another start code", bytes({0, 0x17, 1}), false, {}},
  };
  for (const ReceivedCase& c : cases) {
    RdmRig rig;
    std::vector<Levels> got;
    rig.output->onLevelsReceived = [&](const ReceivedLevels& r) {
      EXPECT_EQ(r.startCode, 0) << c.name;
      got.push_back(r.levels);
    };
    rig.widget.closesRdm = !c.duringRequest;
    if (c.duringRequest) rig.output->rdm()->send(get({0x7a70, 1}), [](rdm::LineResult) {});
    rig.widget.sendToDriver(usbpro::kReceived, c.payload);
    rig.scheduler.advanceBy(30ms);
    EXPECT_EQ(got, c.levels) << c.name;
  }
}

struct DecodeCase {
  const char* name;
  std::vector<QByteArray> pieces;
  std::vector<usbpro::Message> messages;
  std::int64_t skipped;
};

TEST(UsbProDecoder, MessagesComeWholeAndEverythingElseIsSkipped) {
  const usbpro::Message serial{10, bytes({0x78, 0x56, 0x34, 0x12})};
  const usbpro::Message parameters{3, bytes({44, 1, 9, 1, 40})};
  // Payload bytes that look like the start and the end of a message.
  const usbpro::Message tricky{5, bytes({0x7E, 0xE7, 0x7E})};
  const QByteArray trickyBytes = bytes({0x7E, 5, 3, 0, 0x7E, 0xE7, 0x7E, 0xE7});
  const std::vector<DecodeCase> cases = {
      {"two in one read", {kParametersReply + kSerialReply}, {parameters, serial}, 0},
      {"split in the length", {kSerialReply.left(3), kSerialReply.mid(3)}, {serial}, 0},
      {"start and end bytes in the payload", {trickyBytes}, {tricky}, 0},
      {"noise before", {bytes({1, 2, 3}) + kSerialReply}, {serial}, 3},
      {"too long to be a message", {bytes({0x7E, 3, 0x59, 0x02}) + kSerialReply}, {serial}, 4},
      {"wrong end byte, a message inside",
       {bytes({0x7E, 3, 5, 0}) + kSerialReply.left(6), kSerialReply.mid(6)},
       {serial},
       4},
      {"empty payload", {bytes({0x7E, 10, 0, 0, 0xE7})}, {{10, {}}}, 0},
  };
  for (const DecodeCase& c : cases) {
    usbpro::Decoder decoder;
    std::vector<usbpro::Message> got;
    for (const QByteArray& piece : c.pieces)
      for (usbpro::Message& m : decoder.feed(piece)) got.push_back(std::move(m));
    EXPECT_EQ(got, c.messages) << c.name;
    EXPECT_EQ(decoder.skippedBytes(), c.skipped) << c.name;
    EXPECT_EQ(decoder.heldBytes(), 0) << c.name;
  }
}

TEST(UsbProDecoder, HoldsNoMoreThanOneLongestMessage) {
  usbpro::Decoder decoder;
  // Every byte a start whose length claims the longest payload: nothing ends, nothing grows.
  const QByteArray noise(100'000, static_cast<char>(0x7E));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(decoder.feed(noise).empty());
  EXPECT_LE(decoder.heldBytes(), usbpro::kHeaderBytes + usbpro::kMaxPayload + 1);
  // And it still finds the next message.
  decoder = {};
  EXPECT_EQ(decoder.feed(QByteArray(5000, '\x55') + kSerialReply).size(), 1u);
}

struct AddressCase {
  const char* text;
  std::optional<UsbProAddress> address;
};

TEST(UsbProAddress, APortNumberOrADevicePathAndNothingElse) {
  const std::vector<AddressCase> cases = {
      {"usbpro:1", UsbProAddress{1, {}}},
      {"USBPRO:256", UsbProAddress{256, {}}},
      {"usbpro:/dev/ttyUSB0", UsbProAddress{0, QStringLiteral("/dev/ttyUSB0")}},
      {"usbpro:/dev/serial/by-id/usb-FTDI_x-if00-port0",
       UsbProAddress{0, QStringLiteral("/dev/serial/by-id/usb-FTDI_x-if00-port0")}},
      {"usbpro:", std::nullopt},
      {"usbpro:0", std::nullopt},
      {"usbpro:257", std::nullopt},
      {"usbpro:-1", std::nullopt},
      {"usbpro: 1", std::nullopt},
      {"usbpro:COM5", UsbProAddress{5, {}}},
      {"usbpro:COM0", std::nullopt},
      {"usbpro:dev/ttyUSB0", std::nullopt},
      {"usbpro:/", std::nullopt},
  };
  for (const AddressCase& c : cases) {
    const QString text = QString::fromUtf8(c.text);
    EXPECT_TRUE(isUsbProAddress(text)) << c.text;
    const ParsedUsbProAddress parsed = parseUsbProAddress(text);
    EXPECT_EQ(parsed.address, c.address) << c.text;
    if (!c.address) {
      EXPECT_TRUE(parsed.error.startsWith(QStringLiteral("端口 \"%1\": ").arg(text))) << c.text;
      EXPECT_FALSE(parsed.error.contains(u'\n')) << c.text;
    }
  }
  EXPECT_FALSE(isUsbProAddress(u"1"));
  EXPECT_FALSE(isUsbProAddress(u"usbpro"));
}

TEST(UsbProAddress, TheFactoryBuildsTheWidgetOnTheNamedPortOrRefusesTheValue) {
  QTemporaryDir dir;
  ManualClock clock;
  VirtualScheduler scheduler(clock);
  SerialConfiguration settings;
  settings.lineSettings = QStringLiteral("250000,N,8,2");

  RecordingPort byNumber;
  settings.port = QStringLiteral("usbpro:3");
  OutputChoice made =
      makeOutput(settings, scheduler, {.serialPort = &byNumber, .cidFile = dir.filePath("cid")});
  EXPECT_NE(dynamic_cast<UsbProOutput*>(made.output.get()), nullptr);
  EXPECT_EQ(byNumber.portNumber, 3);
  EXPECT_EQ(byNumber.settings, QStringLiteral("250000,N,8,2"));

  RecordingPort byPath;
  settings.port = QStringLiteral("usbpro:/dev/ttyUSB1");
  made = makeOutput(settings, scheduler, {.serialPort = &byPath, .cidFile = dir.filePath("cid")});
  EXPECT_NE(dynamic_cast<UsbProOutput*>(made.output.get()), nullptr);
  EXPECT_EQ(byPath.device, QStringLiteral("/dev/ttyUSB1"));
  made.output.reset();

  RecordingPort unused;
  settings.port = QStringLiteral("usbpro:x");
  made = makeOutput(settings, scheduler, {.serialPort = &unused, .cidFile = dir.filePath("cid")});
  EXPECT_FALSE(made.output->open());
  EXPECT_EQ(unused.openCalls, 0);
  EXPECT_EQ(made.output->status(), made.refusal);
  EXPECT_TRUE(made.refusal.startsWith(QStringLiteral("端口 \"usbpro:x\": ")));
}

}  // namespace
}  // namespace luvrin
