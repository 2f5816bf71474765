#include "qt_serial_port.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

using namespace luvrin;

namespace {

constexpr bool kWith15 = true;
constexpr bool kWithout15 = false;

}  // namespace

TEST(SerialSettingsString, ReadsEveryField) {
  const auto s = parseSerialSettings(u"9600,E,7,2", kWithout15);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->baudRate, 9600);
  EXPECT_EQ(s->parity, QSerialPort::EvenParity);
  EXPECT_EQ(s->dataBits, QSerialPort::Data7);
  EXPECT_EQ(s->stopBits, QSerialPort::TwoStop);

  const auto fast = parseSerialSettings(u"250000,N,8,1", kWithout15);
  ASSERT_TRUE(fast);
  EXPECT_EQ(fast->baudRate, 250000);
  EXPECT_EQ(fast->dataBits, QSerialPort::Data8);
  EXPECT_EQ(fast->stopBits, QSerialPort::OneStop);
}

TEST(SerialSettingsString, ParityLetterInEitherCase) {
  const std::pair<const char16_t*, QSerialPort::Parity> cases[] = {
      {u"n", QSerialPort::NoParity},   {u"N", QSerialPort::NoParity},
      {u"e", QSerialPort::EvenParity}, {u"o", QSerialPort::OddParity},
      {u"O", QSerialPort::OddParity},  {u"m", QSerialPort::MarkParity},
      {u"M", QSerialPort::MarkParity}, {u"s", QSerialPort::SpaceParity},
      {u"S", QSerialPort::SpaceParity}};
  for (const auto& [letter, parity] : cases) {
    const QString text =
        QStringLiteral("4800,") + QString::fromUtf16(letter) + QStringLiteral(",8,1");
    const auto s = parseSerialSettings(text, kWithout15);
    ASSERT_TRUE(s) << text.toStdString();
    EXPECT_EQ(s->parity, parity) << text.toStdString();
  }
}

TEST(SerialSettingsString, DataBitsFiveToEightAndBlanksAroundFields) {
  for (int bits = 5; bits <= 8; ++bits) {
    const auto s = parseSerialSettings(QStringLiteral("1200, n ,%1, 1 ").arg(bits), kWithout15);
    ASSERT_TRUE(s) << bits;
    EXPECT_EQ(static_cast<int>(s->dataBits), bits);
  }
}

TEST(SerialSettingsString, OneAndAHalfStopBitsOnlyWhereTheSystemHasThem) {
  const auto s = parseSerialSettings(u"9600,N,5,1.5", kWith15);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->stopBits, QSerialPort::OneAndHalfStop);
  EXPECT_FALSE(parseSerialSettings(u"9600,N,5,1.5", kWithout15));
}

TEST(SerialSettingsString, RejectsAnythingElseWhole) {
  const char16_t* bad[] = {u"",
                           u"9600",
                           u"9600,N,8",
                           u"9600,N,8,1,1",
                           u",N,8,1",
                           u"0,N,8,1",
                           u"-9600,N,8,1",
                           u"+9600,N,8,1",
                           u"96O0,N,8,1",
                           u"0x2580,N,8,1",
                           u"999999999,N,8,1",
                           u"9600,X,8,1",
                           u"9600,NN,8,1",
                           u"9600,,8,1",
                           u"9600,N,4,1",
                           u"9600,N,9,1",
                           u"9600,N,08,1",
                           u"9600,N,8,0",
                           u"9600,N,8,3",
                           u"9600,N,8,1.0",
                           u"9600;N;8;1"};
  for (const char16_t* text : bad)
    EXPECT_FALSE(parseSerialSettings(QString::fromUtf16(text), kWith15))
        << QString::fromUtf16(text).toStdString();
}

TEST(SerialPortSettings, BuiltInIs115200N81AndABadStringKeepsThePrevious) {
  QtSerialPort port;
  EXPECT_EQ(port.settings(), SerialSettings{});
  EXPECT_EQ(port.settings().baudRate, 115200);  // not QSerialPort's own 9600

  ASSERT_TRUE(port.setSettings(QStringLiteral("19200,o,7,2")));
  const SerialSettings chosen = port.settings();
  EXPECT_EQ(chosen.baudRate, 19200);

  // Parsed whole before anything is applied: a good baud rate in a bad string changes nothing.
  EXPECT_FALSE(port.setSettings(QStringLiteral("38400,N,8,7")));
  EXPECT_FALSE(port.setSettings(QString()));
  EXPECT_EQ(port.settings(), chosen);
}

TEST(SerialPortNaming, NumbersNameComPortsOnWindows) {
  auto never = [](const QString&) { return false; };
  EXPECT_EQ(portNameForNumber(1, PortNaming::Com, never), QStringLiteral("COM1"));
  EXPECT_EQ(portNameForNumber(12, PortNaming::Com, never), QStringLiteral("COM12"));
  EXPECT_EQ(portNameForNumber(0, PortNaming::Com, never), QString());
  EXPECT_EQ(portNameForNumber(-3, PortNaming::Com, never), QString());
}

TEST(SerialPortNaming, NumbersPreferAUsbInterfaceOnLinux) {
  const QSet<QString> present = {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyS1")};
  auto exists = [&](const QString& p) { return present.contains(p); };
  EXPECT_EQ(portNameForNumber(1, PortNaming::Device, exists), QStringLiteral("/dev/ttyUSB0"));
  // No second USB interface: the on-board port of that number.
  EXPECT_EQ(portNameForNumber(2, PortNaming::Device, exists), QStringLiteral("/dev/ttyS1"));
  EXPECT_EQ(portNameForNumber(5, PortNaming::Device, exists), QStringLiteral("/dev/ttyS4"));
  EXPECT_EQ(portNameForNumber(0, PortNaming::Device, exists), QString());
}

TEST(SerialPortNaming, ANumberFollowsWhatIsPluggedInNow) {
  QTemporaryDir dev;
  ASSERT_TRUE(dev.isValid());
  QtSerialPort port;
  port.setDeviceFolder(dev.path());
  ASSERT_TRUE(port.setPortNumber(2));
  if (nativePortNaming() == PortNaming::Com) {
    EXPECT_EQ(port.systemName(), QStringLiteral("COM2"));
    return;
  }
  EXPECT_EQ(port.systemName(), dev.filePath(QStringLiteral("ttyS1")));
  QFile usb(dev.filePath(QStringLiteral("ttyUSB1")));
  ASSERT_TRUE(usb.open(QIODevice::WriteOnly));
  EXPECT_EQ(port.systemName(), dev.filePath(QStringLiteral("ttyUSB1")));
  ASSERT_TRUE(usb.remove());
  EXPECT_EQ(port.systemName(), dev.filePath(QStringLiteral("ttyS1")));
}

TEST(SerialPortNaming, ADevicePathIsUsedAsItStandsUntilANumberReplacesIt) {
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(QStringLiteral("/dev/serial/by-id/usb-DMX_Interface-if00")));
  EXPECT_EQ(port.systemName(), QStringLiteral("/dev/serial/by-id/usb-DMX_Interface-if00"));

  EXPECT_FALSE(port.setPortNumber(0));
  EXPECT_EQ(port.systemName(), QStringLiteral("/dev/serial/by-id/usb-DMX_Interface-if00"));

  ASSERT_TRUE(port.setPortNumber(3));
  EXPECT_EQ(port.systemName(), portNameForNumber(3, nativePortNaming(), [](const QString& p) {
              return QFileInfo::exists(p);
            }));
}
