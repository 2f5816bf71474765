#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>

#include "address_forms.h"
#include "output_factory.h"
#include "output_link.h"
#include "support/recording_port.h"
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
       port + QStringLiteral("序列号 12345678")},
      {"a number that is not BCD",
       {bytes({0x7E, 10, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xE7})},
       port + QStringLiteral("序列号 4294967295")},
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
  EXPECT_EQ(rig.output->status(), QStringLiteral("USB Pro /dev/ttyUSB0: 序列号 12345678"));
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
