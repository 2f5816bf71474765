#include "runtime/codepage.h"

#include <gtest/gtest.h>

using namespace luvrin;

TEST(CodePage, GbkRoundTripOfChineseText) {
  const QString text = QStringLiteral("[串口配置]\r\n状态=运行\r\n");
  const QByteArray bytes = encodeGbk(text);
  // 串 is B4 AE in code page 936.
  EXPECT_TRUE(bytes.contains("\xB4\xAE"));
  EXPECT_EQ(decodeFileText(bytes), text);
}

TEST(CodePage, Utf8FilesAreAcceptedWithOrWithoutMark) {
  const QString text = QStringLiteral("场景=DMX255,");
  EXPECT_EQ(decodeFileText(text.toUtf8()), text);
  EXPECT_EQ(decodeFileText(QByteArray("\xEF\xBB\xBF") + text.toUtf8()), text);
  EXPECT_TRUE(isUtf8Text(text.toUtf8()));
  EXPECT_FALSE(isUtf8Text(encodeGbk(text)));
  EXPECT_FALSE(isUtf8Text(QByteArray("plain ascii")));
}

TEST(CodePage, InvalidBytesDoNotBreakDecoding) {
  const QByteArray junk("\xFF\xFE\x80\x81 DMX\x00\xC3", 10);
  const QString text = decodeFileText(junk);
  EXPECT_TRUE(text.contains(QStringLiteral("DMX")));
}

TEST(CodePage, StreamingDecoderJoinsACharacterSplitAcrossReads) {
  const QByteArray bytes = encodeGbk(QStringLiteral("运行"));
  ASSERT_EQ(bytes.size(), 4);
  StreamingGbkDecoder decoder;
  QString out = decoder.decode(bytes.left(1));
  out += decoder.decode(bytes.mid(1, 2));
  out += decoder.decode(bytes.mid(3));
  EXPECT_EQ(out, QStringLiteral("运行"));
}

TEST(CodePage, RepresentableInGbk) {
  EXPECT_TRUE(representableInGbk(QStringLiteral("延时(100mS):")));
  EXPECT_FALSE(representableInGbk(QStringLiteral("🎛")));
}
