#include "codepage.h"

#include <gtest/gtest.h>

#include <vector>

#include "gbk_codec.h"

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

namespace {

// The system's own GBK reading: ICU on Linux, code page 936 on Windows.
QString gbkReading(const QByteArray& bytes) { return systemGbk().decode(bytes); }

QByteArray gb2312Hanzi(int row, int cell) {
  const char pair[] = {static_cast<char>(row), static_cast<char>(cell)};
  return QByteArray(pair, 2);
}

}  // namespace

// Many GBK hanzi pairs are valid UTF-8 by chance; a GBK file of hanzi must never be read as
// UTF-8, whatever hanzi it holds.
TEST(CodePage, EveryGb2312HanziAloneReadsAsGbk) {
  int validUtf8 = 0;
  for (int row = 0xB0; row <= 0xF7; ++row) {
    for (int cell = 0xA1; cell <= 0xFE; ++cell) {
      const QByteArray bytes = gb2312Hanzi(row, cell);
      if (QString::fromUtf8(bytes).toUtf8() == bytes) ++validUtf8;
      ASSERT_EQ(decodeFileText(bytes), gbkReading(bytes)) << std::hex << row << ' ' << cell;
      ASSERT_FALSE(isUtf8Text(bytes)) << std::hex << row << ' ' << cell;
    }
  }
  // The property is only worth something where UTF-8 could take the bytes.
  EXPECT_GT(validUtf8, 800);
}

TEST(CodePage, EveryGb2312HanziPairThatIsValidUtf8ReadsAsGbk) {
  // A pair of hanzi is valid UTF-8 only as two two-byte sequences (rows C2-DF, cells A1-BF) or
  // as one four-byte sequence (rows F0-F4 followed by rows B0-BF): all of those, exhaustively.
  std::vector<QByteArray> twoByte, fourByteLead, fourByteTail;
  for (int row = 0xB0; row <= 0xF7; ++row) {
    for (int cell = 0xA1; cell <= 0xFE; ++cell) {
      if (row >= 0xC2 && row <= 0xDF && cell <= 0xBF) twoByte.push_back(gb2312Hanzi(row, cell));
      if (row >= 0xF0 && row <= 0xF4 && cell <= 0xBF)
        fourByteLead.push_back(gb2312Hanzi(row, cell));
      if (row <= 0xBF && cell <= 0xBF) fourByteTail.push_back(gb2312Hanzi(row, cell));
    }
  }
  qsizetype checked = 0;
  auto check = [&](const QByteArray& bytes) {
    ++checked;
    if (decodeFileText(bytes) != gbkReading(bytes)) {
      ADD_FAILURE() << "read as UTF-8: " << bytes.toHex().constData();
      return false;
    }
    return true;
  };
  for (const QByteArray& a : twoByte)
    for (const QByteArray& b : twoByte)
      if (!check(a + b)) return;
  for (const QByteArray& a : fourByteLead)
    for (const QByteArray& b : fourByteTail)
      if (!check(a + b)) return;
  EXPECT_GT(checked, 800'000);
}

TEST(CodePage, EveryGb2312HanziAloneInUtf8ReadsAsUtf8) {
  // Three UTF-8 bytes read as GBK leave a lead byte over at the end: it must count as broken,
  // not vanish and leave a tidy hanzi behind.
  int hanzi = 0;
  for (int row = 0xB0; row <= 0xF7; ++row) {
    for (int cell = 0xA1; cell <= 0xFE; ++cell) {
      const QString ch = gbkReading(gb2312Hanzi(row, cell));
      if (ch.size() != 1 || ch[0].category() != QChar::Letter_Other) continue;
      ++hanzi;
      ASSERT_EQ(decodeFileText(ch.toUtf8()), ch) << std::hex << row << ' ' << cell;
    }
  }
  EXPECT_EQ(hanzi, 6763);
}

TEST(CodePage, HanziInCatalogueLinesReadAsGbk) {
  // A sweep of every hanzi in a scene name, next to its neighbours, as a catalogue line.
  for (int row = 0xB0; row <= 0xF7; ++row) {
    for (int cell = 0xA1; cell <= 0xFE; ++cell) {
      const int nextRow = row == 0xF7 ? 0xB0 : row + 1;
      const QByteArray bytes = "[DMX]\r\n" + gb2312Hanzi(row, cell) + gb2312Hanzi(nextRow, cell) +
                               gb2312Hanzi(row, 0xA1 + (cell - 0xA1 + 7) % 94) + "=DMX200,201,\r\n";
      ASSERT_EQ(decodeFileText(bytes), gbkReading(bytes)) << bytes.toHex().constData();
    }
  }
}

TEST(CodePage, NamesFromShowsReadAsGbk) {
  for (const char* name : {"摇头", "谢幕", "扫", "一", "十", "前", "转", "摇头扫描", "一十前转",
                           "前场", "谢幕灯", "全部关闭", "路"}) {
    const QString text = QStringLiteral("[DMX]\r\n") + QString::fromUtf8(name) +
                         QStringLiteral("=DMX200,201,202,203,\r\n");
    EXPECT_EQ(decodeFileText(encodeGbk(text)), text) << name;
    EXPECT_EQ(decodeFileText(encodeGbk(QString::fromUtf8(name))), QString::fromUtf8(name)) << name;
  }
}

TEST(CodePage, RealUtf8ChineseTextsReadAsUtf8) {
  const char* texts[] = {
      "[DMX]\r\n摇头=DMX200,201,202,203,\r\n谢幕=谢幕.ini\r\n谢幕说明=演出结束时播放\r\n",
      "[串口配置]\r\n端口=1\r\n设置=115200,N,8,1\r\n发送数据长度=128\r\n状态=运行\r\n"
      "发送定时器时间=20\r\n",
      "舞台灯光测试：请先检查电脑灯的地址码，然后打开串口。\n",
      "一、开场；二、摇头灯扫描；三、谢幕。",
      "这是一个用于测试电脑灯的小工具，最多支持512个通道，每秒发送数十帧。",
      "“追光”——从舞台左侧慢慢移到中央……",
      "舞臺燈光測試，請檢查燈具的位址。",
      "灯光师说：温度不要超过40℃，角度±30°以内。",
      "前场",
      "[DMX]\n前=DMX001,\n",
  };
  for (const char* t : texts) {
    const QString text = QString::fromUtf8(t);
    EXPECT_EQ(decodeFileText(text.toUtf8()), text) << t;
    EXPECT_TRUE(isUtf8Text(text.toUtf8())) << t;
  }
}
