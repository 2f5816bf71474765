#include "serial_settings.h"

#include <gtest/gtest.h>

#include "show_folder.h"

using namespace luvrin;
using luvrin::files_testing::ShowFolder;

namespace {

SerialConfiguration withKey(const QString& key, const QString& value) {
  return serialConfigurationFromBytes(
      encodeGbk(QStringLiteral("[串口配置]\r\n%1=%2\r\n").arg(key, value)));
}

std::optional<int> interval(const QString& value) {
  return withKey(QStringLiteral("发送定时器时间"), value).frameInterval;
}

}  // namespace

TEST(SerialConfiguration, NoFileLeavesEverythingAbsent) {
  ShowFolder show;
  const SerialConfiguration c = readSerialConfiguration(show.path());
  EXPECT_FALSE(c.frameInterval);
  EXPECT_FALSE(c.portNumber);
  EXPECT_TRUE(c.portDevice.isEmpty());
  EXPECT_TRUE(c.lineSettings.isEmpty());
  EXPECT_TRUE(c.status.isEmpty());
  EXPECT_TRUE(c.sendDataLength.isEmpty());
}

TEST(SerialConfiguration, ReadsEveryKeyOfAGbkFile) {
  ShowFolder show;
  show.writeGbk(QStringLiteral("串口配置.ini"),
                QStringLiteral("[串口配置]\r\n发送定时器时间=25\r\n设置=9600,E,7,2\r\n端口=3\r\n"
                               "状态=运行\r\n发送数据长度=96\r\n"));
  const SerialConfiguration c = readSerialConfiguration(show.path());
  EXPECT_EQ(c.frameInterval, 25);
  EXPECT_EQ(c.lineSettings, QStringLiteral("9600,E,7,2"));
  EXPECT_EQ(c.portNumber, 3);
  EXPECT_TRUE(c.portDevice.isEmpty());
  EXPECT_EQ(c.status, QStringLiteral("运行"));
  EXPECT_EQ(c.sendDataLength, QStringLiteral("96"));
}

TEST(SerialConfiguration, ReadsAUtf8FileWithOrWithoutAMark) {
  const QByteArray text = QStringLiteral("[串口配置]\n状态=测试\n发送数据长度=64\n").toUtf8();
  for (const QByteArray& bytes : {text, QByteArray("\xEF\xBB\xBF") + text}) {
    ShowFolder show;
    show.write(QStringLiteral("串口配置.ini"), bytes);
    const SerialConfiguration c = readSerialConfiguration(show.path());
    EXPECT_EQ(c.status, QStringLiteral("测试"));
    EXPECT_EQ(c.sendDataLength, QStringLiteral("64"));
  }
}

TEST(SerialConfiguration, IntervalIsAStrictWholeNumberFrom0To65535) {
  EXPECT_EQ(interval(QStringLiteral("0")), 0);
  EXPECT_EQ(interval(QStringLiteral("65535")), 65535);
  EXPECT_EQ(interval(QStringLiteral("  40  ")), 40);
  EXPECT_EQ(interval(QStringLiteral("\"40\"")), 40);
  EXPECT_EQ(interval(QStringLiteral("5e1")), 50);
  EXPECT_EQ(interval(QStringLiteral("2.5")), 2);  // halves to even
  EXPECT_EQ(interval(QStringLiteral("3.5")), 4);
  for (const char* bad : {"", "abc", "10ms", "1 0", "-1", "65536", "99999999999999999999"})
    EXPECT_FALSE(interval(QString::fromLatin1(bad))) << bad;
}

TEST(SerialConfiguration, PortIsA16BitNumberOrADevicePath) {
  const QString key = QStringLiteral("端口");
  EXPECT_EQ(withKey(key, QStringLiteral("2")).portNumber, 2);
  // The port itself turns down numbers below 1; the file only keeps them to 16 bits.
  EXPECT_EQ(withKey(key, QStringLiteral("0")).portNumber, 0);
  EXPECT_EQ(withKey(key, QStringLiteral("-32768")).portNumber, -32768);
  EXPECT_EQ(withKey(key, QStringLiteral("32767")).portNumber, 32767);
  for (const char* bad : {"32768", "-32769", "COM3", "3x", ""}) {
    const SerialConfiguration c = withKey(key, QString::fromLatin1(bad));
    EXPECT_FALSE(c.portNumber) << bad;
    EXPECT_TRUE(c.portDevice.isEmpty()) << bad;
  }
  const SerialConfiguration device = withKey(key, QStringLiteral("/dev/ttyACM0"));
  EXPECT_EQ(device.portDevice, QStringLiteral("/dev/ttyACM0"));
  EXPECT_FALSE(device.portNumber);
}

TEST(SerialConfiguration, TextValuesComeAsTheReaderGivesThem) {
  // Trimmed of blanks and one pair of quotes, nothing more: the boxes and the port judge them.
  EXPECT_EQ(withKey(QStringLiteral("设置"), QStringLiteral(" \"9600,N,8,1\" ")).lineSettings,
            QStringLiteral("9600,N,8,1"));
  EXPECT_EQ(withKey(QStringLiteral("设置"), QStringLiteral("fast")).lineSettings,
            QStringLiteral("fast"));
  EXPECT_EQ(withKey(QStringLiteral("发送数据长度"), QStringLiteral("12x")).sendDataLength,
            QStringLiteral("12x"));
  EXPECT_EQ(withKey(QStringLiteral("状态"), QStringLiteral("运行 ")).status,
            QStringLiteral("运行"));
  // Keys of another section are not the port's.
  const SerialConfiguration other =
      serialConfigurationFromBytes(encodeGbk(QStringLiteral("[其他]\r\n状态=运行\r\n")));
  EXPECT_TRUE(other.status.isEmpty());
}

TEST(SerialConfiguration, RemotePortIsAStrictNumberFrom1To65535AndTheKeyIsText) {
  const QString key = QStringLiteral("远程端口");
  EXPECT_EQ(withKey(key, QStringLiteral("8080")).remotePort, 8080);
  EXPECT_EQ(withKey(key, QStringLiteral("1")).remotePort, 1);
  EXPECT_EQ(withKey(key, QStringLiteral("65535")).remotePort, 65535);
  // Absent, empty, 0 or not a number: no remote at all.
  for (const char* bad : {"", "0", "65536", "-80", "80x", "http", "99999999999999999999"})
    EXPECT_FALSE(withKey(key, QString::fromLatin1(bad)).remotePort) << bad;
  // Only plain ASCII digits; anything else written there is refused with its reason.
  EXPECT_EQ(withKey(key, QStringLiteral("08080")).remotePort, 8080);
  for (const QString& bad : {QStringLiteral("1e4"), QStringLiteral("+80"), QStringLiteral("8 0"),
                             QStringLiteral("８０８０"), QStringLiteral("80.0"),
                             QStringLiteral("-1"), QStringLiteral("65536")}) {
    const SerialConfiguration c = withKey(key, bad);
    EXPECT_FALSE(c.remotePort) << bad.toStdString();
    EXPECT_TRUE(c.remotePortRefusal.contains(bad)) << bad.toStdString();
  }
  EXPECT_TRUE(withKey(key, QString()).remotePortRefusal.isEmpty());
  EXPECT_EQ(
      withKey(QStringLiteral("远程主机名"), QStringLiteral(" Stage.Local. ,,灯控，pc-1"))
          .remoteHostNames,
      (QStringList{QStringLiteral("stage.local"), QStringLiteral("灯控"), QStringLiteral("pc-1")}));
  EXPECT_FALSE(serialConfigurationFromBytes(QByteArray()).remotePort);
  EXPECT_EQ(withKey(QStringLiteral("远程密码"), QStringLiteral(" 舞台 1 ")).remoteKey,
            QStringLiteral("舞台 1"));
}
