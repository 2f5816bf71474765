#include <gtest/gtest.h>

#include "address_forms.h"

namespace luvrin {
namespace {

using Kind = OutputAddress::Kind;

OutputAddress parsed(const char* text) {
  const auto p = parseOutputAddress(QString::fromUtf8(text));
  EXPECT_TRUE(p.address) << text << ": " << p.error.toStdString();
  return p.address.value_or(OutputAddress{});
}

QString refusal(const char* text) {
  const auto p = parseOutputAddress(QString::fromUtf8(text));
  EXPECT_FALSE(p.address) << text;
  return p.error;
}

TEST(OutputAddress, SerialPortValuesAreNotOutputs) {
  EXPECT_FALSE(isOutputAddress(u"1"));
  EXPECT_FALSE(isOutputAddress(u"/dev/ttyUSB0"));
  EXPECT_FALSE(isOutputAddress(u""));
  EXPECT_FALSE(isOutputAddress(u"sacn"));
  EXPECT_TRUE(isOutputAddress(u"sacn:0"));
  EXPECT_TRUE(isOutputAddress(u"OLA:1"));
  EXPECT_TRUE(isOutputAddress(u"artnet:"));
}

TEST(OutputAddress, SacnMulticastsToTheUniverseGroupUnlessGivenAnAddress) {
  EXPECT_EQ(parsed("sacn:1"),
            (OutputAddress{Kind::Sacn, 1, QStringLiteral("239.255.0.1"), 5568, true}));
  EXPECT_EQ(parsed("sacn:63999").host, QStringLiteral("239.255.249.255"));
  EXPECT_EQ(parsed("sacn:300").host, QStringLiteral("239.255.1.44"));
  EXPECT_EQ(parsed("sacn:7@192.168.1.20"),
            (OutputAddress{Kind::Sacn, 7, QStringLiteral("192.168.1.20"), 5568, false}));
  EXPECT_EQ(parsed("sacn:7@127.0.0.1:6000").port, 6000);
}

TEST(OutputAddress, ArtNetNeedsAnAddressAndTakesPortAddresses0To32767) {
  EXPECT_EQ(parsed("artnet:0@2.255.255.255"),
            (OutputAddress{Kind::ArtNet, 0, QStringLiteral("2.255.255.255"), 6454, false}));
  EXPECT_EQ(parsed("artnet:32767@127.0.0.1").universe, 32767u);
  EXPECT_FALSE(refusal("artnet:32768@127.0.0.1").isEmpty());
  EXPECT_TRUE(refusal("artnet:1").contains(QStringLiteral("address")));
}

TEST(OutputAddress, OlaDefaultsToThisMachinesRpcPort) {
  EXPECT_EQ(parsed("ola:1"),
            (OutputAddress{Kind::Ola, 1, QStringLiteral("127.0.0.1"), 9010, false}));
  EXPECT_EQ(parsed("ola:0").universe, 0u);
  EXPECT_EQ(parsed("ola:4294967295").universe, 4294967295u);
  EXPECT_EQ(parsed("ola:2@127.0.0.1:9123").port, 9123);
  EXPECT_EQ(parsed("ola:2@localhost:9123").host, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(parsed("ola:2@localhost").port, 9010);
  EXPECT_TRUE(refusal("ola:2@192.168.1.5:9010").contains(QStringLiteral("this machine")));
}

TEST(OutputAddress, MalformedValuesAreRefusedWithAReasonNamingTheValue) {
  for (const char* bad : {"sacn:0",
                          "sacn:64000",
                          "sacn:",
                          "sacn:-1",
                          "sacn:+1",
                          "sacn: 1",
                          "sacn:1@",
                          "sacn:1@host",
                          "sacn:1@1.2.3",
                          "sacn:1@1.2.3.256",
                          "sacn:1@0.0.0.0",
                          "sacn:1@1.2.3.4:0",
                          "sacn:1@1.2.3.4:65536",
                          "sacn:1@1.2.3.4:",
                          "artnet:1@nohost",
                          "artnet:x@1.2.3.4",
                          "artnet:1@1.2.3.4.5",
                          "ola:x",
                          "ola:",
                          "ola:4294967296",
                          "ola:1@",
                          "ola:1@127.0.0.1:x",
                          "sacn:99999999999999999999"}) {
    const QString why = refusal(bad);
    EXPECT_TRUE(why.startsWith(QStringLiteral("端口 \"%1\"").arg(QString::fromUtf8(bad))))
        << bad << " -> " << why.toStdString();
    EXPECT_FALSE(why.contains(u'\n')) << bad;
  }
}

TEST(OutputAddress, ABadUdpPortIsNamedAsTheFaultNotTheAddress) {
  for (const char* bad : {"sacn:1@127.0.0.1:0", "sacn:1@127.0.0.1:70000", "artnet:0@127.0.0.1:abc",
                          "artnet:0@127.0.0.1:"}) {
    const QString why = refusal(bad);
    EXPECT_TRUE(why.contains(QStringLiteral("port"))) << bad << " -> " << why.toStdString();
    EXPECT_FALSE(why.contains(QStringLiteral("IPv4"))) << bad << " -> " << why.toStdString();
  }
  EXPECT_TRUE(refusal("sacn:1@1.2.3:5568").contains(QStringLiteral("IPv4")));
}

}  // namespace
}  // namespace luvrin
