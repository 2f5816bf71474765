#include "gbk_codec.h"

#include <gtest/gtest.h>

#include "codepage.h"

using namespace luvrin;

namespace {

class NoCodec : public GbkCodec {
 public:
  bool available() const override { return false; }
  QString decode(QByteArrayView) const override { return QStringLiteral("unused"); }
  QByteArray encode(QStringView) const override { return "unused"; }
};

}  // namespace

// The converter the program uses on this system: on Windows the system's code page 936, since
// Qt for Windows has no ICU.
TEST(GbkCodec, SystemConverterReadsAndWritesTheSettingsKeys) {
  ASSERT_TRUE(systemGbk().exact());
  const QString keys =
      QStringLiteral("[串口配置]\r\n发送定时器时间=1\r\n状态=运行\r\n场景=开场说明\r\n");
  const QByteArray bytes = systemGbk().encode(keys);
  // 串 B4 AE, 运 D4 CB, 行 D0 D0: two bytes for each of the 21 hanzi, one for the rest.
  EXPECT_TRUE(bytes.startsWith("[\xB4\xAE"));
  EXPECT_TRUE(bytes.contains("=\xD4\xCB\xD0\xD0\r\n"));
  EXPECT_EQ(bytes.size(), keys.size() + 21);
  EXPECT_EQ(systemGbk().decode(bytes), keys);
  // The one single byte above ASCII in code page 936.
  EXPECT_EQ(systemGbk().decode("\x80"), QStringLiteral("€"));
}

TEST(GbkCodec, BrokenBytesKeepTheTextAroundThem) {
  // A lead byte before "=" or a line end must not swallow them: keys would run together.
  EXPECT_EQ(systemGbk().decode("\x81=DMX"), QStringLiteral("\uFFFD=DMX"));
  EXPECT_EQ(systemGbk().decode("a\xB4\r\nb=1"), QStringLiteral("a\uFFFD\r\nb=1"));
  EXPECT_EQ(systemGbk().decode("\xB4\x7F"), QStringLiteral("\uFFFD\x7F"));
  EXPECT_TRUE(systemGbk().decode("k=\xB4").startsWith(QStringLiteral("k=")));
}

TEST(GbkCodec, CharactersGbkLacksBecomeQuestionMarks) {
  EXPECT_EQ(systemGbk().encode(QStringLiteral("a🎛bä")), QByteArray("a?b?"));
  EXPECT_FALSE(representableInGbk(QStringLiteral("ä")));
  EXPECT_TRUE(representableInGbk(QStringLiteral("调试状态")));
}

TEST(GbkCodec, WithoutAConverterLatin1IsUsedAndSaidOnceOnStderr) {
  NoCodec none;
  GbkConverter converter(none);
  EXPECT_FALSE(converter.exact());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(converter.decode("k=\xB4\xAE"), QStringLiteral("k=\u00B4\u00AE"));
  EXPECT_EQ(converter.encode(QStringLiteral("k=1")), QByteArray("k=1"));
  converter.decode("again");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("code page 936"), std::string::npos) << said;
  EXPECT_EQ(said.find("code page 936"), said.rfind("code page 936")) << said;
}

TEST(GbkCodec, CompletePrefixHoldsBackOnlyAHalfCharacterAtTheEnd) {
  EXPECT_EQ(completeGbkPrefix(""), 0);
  EXPECT_EQ(completeGbkPrefix("ab"), 2);
  EXPECT_EQ(completeGbkPrefix("ab\xB4"), 2);
  EXPECT_EQ(completeGbkPrefix("\xB4\xAE"), 2);
  EXPECT_EQ(completeGbkPrefix("\xB4\xAE\xD4"), 2);
  // The second half of a pair may itself look like a lead byte.
  EXPECT_EQ(completeGbkPrefix("\xD0\xD0"), 2);
  EXPECT_EQ(completeGbkPrefix("\xD0\xD0\xD0"), 2);
}

TEST(GbkCodec, StreamingKeepsAHalfCharacterForTheNextRead) {
  const QByteArray bytes = systemGbk().encode(QStringLiteral("状态=运行"));
  StreamingGbkDecoder decoder;
  QString out;
  for (char c : bytes) out += decoder.decode(QByteArray(1, c));
  EXPECT_EQ(out, QStringLiteral("状态=运行"));
}
