#include "read_ini_key.h"

#include <gtest/gtest.h>

#include "codepage.h"
#include "support/temp_show.h"

using namespace luvrin;
using namespace luvrin::testing;

namespace {
const QString kSection = QStringLiteral("串口配置");
}

TEST(ReadIniKey, ChineseSectionAndKeysInGbk) {
  TempShow show;
  show.writeFile(QStringLiteral("a.ini"),
                 encodeGbk(QStringLiteral("[串口配置]\r\n发送数据长度=128\r\n状态=运行\r\n")));
  const QString path = show.path(QStringLiteral("a.ini"));
  EXPECT_EQ(ReadIniKey(path, kSection, QStringLiteral("发送数据长度")), QStringLiteral("128"));
  EXPECT_EQ(ReadIniKey(path, kSection, QStringLiteral("状态")), QStringLiteral("运行"));
}

TEST(ReadIniKey, MissingFileSectionOrKeyAndEmptyValueAllGiveEmpty) {
  TempShow show;
  show.writeCatalog({QStringLiteral("Intro="), QStringLiteral("Outro=DMX255,")});
  const QString path = show.path(QStringLiteral("场景.ini"));
  EXPECT_EQ(ReadIniKey(show.path(QStringLiteral("none.ini")), QStringLiteral("DMX"),
                       QStringLiteral("Intro")),
            QString());
  EXPECT_EQ(ReadIniKey(path, QStringLiteral("OTHER"), QStringLiteral("Outro")), QString());
  EXPECT_EQ(ReadIniKey(path, QStringLiteral("DMX"), QStringLiteral("Missing")), QString());
  EXPECT_EQ(ReadIniKey(path, QStringLiteral("DMX"), QStringLiteral("Intro")), QString());
  EXPECT_EQ(ReadIniKey(path, QStringLiteral("DMX"), QStringLiteral("Outro")),
            QStringLiteral("DMX255,"));
}

TEST(ReadIniKey, SectionAndKeyIgnoreAsciiLetterCase) {
  const QByteArray file = "[dmx]\r\nintro=DMX001,\r\n";
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("INTRO")),
            QStringLiteral("DMX001,"));
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("Dmx"), QStringLiteral("Intro")),
            QStringLiteral("DMX001,"));
}

TEST(ReadIniKey, OnlyBlanksAreTrimmedFromTheValue) {
  const QByteArray file = "[DMX]\r\n  a  =   DMX001,   \r\nb=\tx\t\r\n";
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("a")),
            QStringLiteral("DMX001,"));
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("b")),
            QStringLiteral("\tx\t"));
}

TEST(ReadIniKey, FirstMatchWinsAndValuesMayHoldEquals) {
  const QByteArray file =
      "[DMX]\r\nA=first\r\nA=second\r\nB=x=y\r\n[Other]\r\nC=other\r\n[DMX]\r\nC=late\r\n";
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("A")),
            QStringLiteral("first"));
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("B")),
            QStringLiteral("x=y"));
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("Other"), QStringLiteral("C")),
            QStringLiteral("other"));
}

TEST(ReadIniKey, LongValuesAreCutTo2047BytesWithoutSplittingACharacter) {
  const QString ascii(3000, u'7');
  const QByteArray a = "[DMX]\r\nk=" + ascii.toLatin1() + "\r\n";
  EXPECT_EQ(readIniKeyFromBytes(a, QStringLiteral("DMX"), QStringLiteral("k")).size(), 2047);

  // Two bytes a character in GBK: 2047 bytes hold 1023 whole characters.
  const QString wide(1500, QChar(0x706F));  // 灯
  const QByteArray g = encodeGbk(QStringLiteral("[DMX]\r\nk=") + wide + QStringLiteral("\r\n"));
  const QString cut = readIniKeyFromBytes(g, QStringLiteral("DMX"), QStringLiteral("k"));
  EXPECT_EQ(cut.size(), 1023);
  EXPECT_EQ(encodeGbk(cut).size(), 2046);

  // Three bytes a character in UTF-8: 682 whole characters fit.
  const QByteArray u = (QStringLiteral("[DMX]\r\nk=") + wide + QStringLiteral("\r\n")).toUtf8();
  EXPECT_EQ(readIniKeyFromBytes(u, QStringLiteral("DMX"), QStringLiteral("k")).size(), 682);
}

TEST(ReadIniKey, LineEndsOfEveryKindAndCommentLines) {
  const QByteArray file = "[DMX]\n;k=commented\rk=cr\nm=lf";
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("k")),
            QStringLiteral("cr"));
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("m")),
            QStringLiteral("lf"));
}

TEST(ReadIniKey, OnePairOfMatchingQuotesIsDroppedAfterTrimming) {
  const QByteArray file =
      "[DMX]\r\n"
      "d=\"4\"\r\n"
      "s= 's1.ini'  \r\n"
      "inner=\" DMX001, \"\r\n"
      "twice=\"\"x\"\"\r\n"
      "empty=\"\"\r\n"
      "lone=\"DMX\r\n"
      "one=\"\r\n"
      "mixed=\"x'\r\n"
      "middle=a\"b\"\r\n";
  const std::pair<const char*, const char*> cases[] = {
      {"d", "4"},        {"s", "s1.ini"}, {"inner", "DMX001,"}, {"twice", "\"x\""},  {"empty", ""},
      {"lone", "\"DMX"}, {"one", "\""},   {"mixed", "\"x'"},    {"middle", "a\"b\""}};
  for (const auto& [k, v] : cases)
    EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QString::fromUtf8(k)),
              QString::fromUtf8(v))
        << k;
}

TEST(ReadIniKey, EmptyKeyOrSectionFindsNothing) {
  const QByteArray file = "=DMX123,\r\n[]\r\nk=v\r\n[DMX]\r\n=DMX124,\r\n  =DMX125,\r\n";
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QString()), QString());
  EXPECT_EQ(readIniKeyFromBytes(file, QStringLiteral("DMX"), QStringLiteral("  ")), QString());
  EXPECT_EQ(readIniKeyFromBytes(file, QString(), QStringLiteral("k")), QString());
  EXPECT_EQ(readIniKeyFromBytes(file, QString(), QString()), QString());
}
