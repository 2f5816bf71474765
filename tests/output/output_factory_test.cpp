#include "output_factory.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "network_output.h"
#include "ola_output.h"
#include "serial_box_output.h"
#include "source_cid.h"
#include "support/virtual_time.h"

namespace luvrin {
namespace {

// The settings as the driver reads them from a 串口配置.ini with this 端口.
SerialConfiguration portIs(const QString& value) {
  return serialConfigurationFromBytes(
      "\xEF\xBB\xBF" +
      (QStringLiteral("[串口配置]\r\n端口=") + value + QStringLiteral("\r\n")).toUtf8());
}

struct Messages {
  Messages() {
    captured().clear();
    previous_ = qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context,
                                          const QString& message) {
      captured().push_back(QString::fromUtf8(context.category) + QStringLiteral(": ") + message);
    });
  }
  ~Messages() { qInstallMessageHandler(previous_); }
  static QStringList& captured() {
    static QStringList list;
    return list;
  }
  QtMessageHandler previous_;
};

TEST(Outputs, SerialPortValuesMakeTheSerialBox) {
  QTemporaryDir dir;
  ManualClock clock;
  VirtualScheduler scheduler(clock);
  for (const QString& value :
       {QStringLiteral("1"), QStringLiteral("/dev/ttyUSB0"), QString(), QStringLiteral("COM3"),
        QStringLiteral("com256"), QStringLiteral(" 5"), QStringLiteral("256")}) {
    const OutputChoice choice =
        makeOutput(portIs(value), scheduler, {.cidFile = dir.filePath("cid")});
    EXPECT_NE(dynamic_cast<SerialBoxOutput*>(choice.output.get()), nullptr);
    EXPECT_TRUE(choice.refusal.isEmpty());
  }
}

TEST(Outputs, MalformedValueIsRefusedOnceOnTheSerialCategoryAndNeverOpens) {
  QTemporaryDir dir;
  ManualClock clock;
  VirtualScheduler scheduler(clock);
  // An unknown form never falls back on port 1: that would drive whatever is there.
  for (const QString& value :
       {QStringLiteral("sacn:0"), QStringLiteral("sacn:64000"), QStringLiteral("artnet:1@nohost"),
        QStringLiteral("ola:x"), QStringLiteral("udp:1"), QStringLiteral("-1"), QStringLiteral("0"),
        QStringLiteral("70000"), QStringLiteral("257"), QStringLiteral("COM0"),
        QStringLiteral("ttyUSB0"), QStringLiteral("usbpro:")}) {
    Messages messages;
    OutputChoice choice = makeOutput(portIs(value), scheduler, {.cidFile = dir.filePath("cid")});
    ASSERT_NE(choice.output, nullptr);
    EXPECT_FALSE(choice.output->open());
    EXPECT_FALSE(choice.output->isOpen());
    EXPECT_FALSE(choice.output->send(std::vector<std::uint8_t>{1}));
    ASSERT_EQ(Messages::captured().size(), 1) << value.toStdString();
    EXPECT_TRUE(Messages::captured().front().startsWith(
        QStringLiteral("luvrin.output: 端口 \"%1\"").arg(value)))
        << Messages::captured().front().toStdString();
  }
}

TEST(Outputs, WellFormedValuesMakeTheirOutputs) {
  QTemporaryDir dir;
  ManualClock clock;
  VirtualScheduler scheduler(clock);
  Messages messages;
  // A build without Qt Network or without OLA's client (the Windows one has no OLA) refuses
  // those forms, saying why, and the driver then sends nothing, as with a missing port.
  const bool network = makeUdpSink(false) != nullptr;
  const bool olaClient = makeStreamingOlaLink(9010) != nullptr;
  qsizetype refusals = 0;
  const auto check = [&](const OutputChoice& choice, bool available, bool made) {
    if (available) {
      EXPECT_TRUE(made);
      EXPECT_TRUE(choice.refusal.isEmpty());
    } else {
      ++refusals;
      ASSERT_NE(choice.output, nullptr);
      EXPECT_FALSE(choice.output->open());
      EXPECT_TRUE(choice.refusal.contains(QStringLiteral("this build of LUVRIN has no")))
          << choice.refusal.toStdString();
    }
  };
  const OutputChoice sacn = makeOutput(portIs(QStringLiteral("sacn:1@127.0.0.1")), scheduler,
                                       {.cidFile = dir.filePath("cid")});
  check(sacn, network, dynamic_cast<NetworkOutput*>(sacn.output.get()) != nullptr);
  const OutputChoice artnet = makeOutput(portIs(QStringLiteral("artnet:0@127.0.0.1")), scheduler,
                                         {.cidFile = dir.filePath("cid")});
  check(artnet, network, dynamic_cast<NetworkOutput*>(artnet.output.get()) != nullptr);
  const OutputChoice ola =
      makeOutput(portIs(QStringLiteral("ola:1")), scheduler, {.cidFile = dir.filePath("cid")});
  check(ola, olaClient, dynamic_cast<OlaOutput*>(ola.output.get()) != nullptr);
  EXPECT_EQ(Messages::captured().size(), refusals);
}

TEST(SourceCid, KeptAcrossStartsAndRemadeWhenTheFileIsUnreadable) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("TALVEN/cid.txt"));
  const e131::Cid first = stableCid(file);
  EXPECT_NE(first, e131::Cid{});
  EXPECT_EQ(stableCid(file), first);

  QFile broken(file);
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("not an identifier");
  broken.close();
  const e131::Cid remade = stableCid(file);
  EXPECT_NE(remade, first);
  EXPECT_EQ(stableCid(file), remade);
}

}  // namespace
}  // namespace luvrin
