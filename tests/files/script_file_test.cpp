#include "script_file.h"

#include <gtest/gtest.h>

#include "codepage.h"

using namespace luvrin;

TEST(ScriptFile, WriteIsOneQuotedFieldInGbk) {
  const QString script = QStringLiteral("\r\nDMX255,000,\r\n!T000005'100mS");
  EXPECT_EQ(scriptFileBytes(script), QByteArray("\"\r\nDMX255,000,\r\n!T000005'100mS\"\r\n"));
  EXPECT_EQ(scriptFileBytes(QStringLiteral("灯")), encodeGbk(QStringLiteral("\"灯\"\r\n")));
}

TEST(ScriptFile, ReadTakesTheFirstField) {
  const QString script = QStringLiteral("\r\nDMX255,000,\r\n!T000005'100mS");
  EXPECT_EQ(readScriptFile(scriptFileBytes(script)), script);
  EXPECT_EQ(readScriptFile("\"ABC\"xyz"), QStringLiteral("ABC"));
  EXPECT_EQ(readScriptFile("DMX1,2\r\n"), QStringLiteral("DMX1"));
  EXPECT_EQ(readScriptFile("  DMX255\r\nDMX000"), QStringLiteral("DMX255"));
  EXPECT_EQ(readScriptFile("\"a\"b\"c\""), QStringLiteral("a"));
  EXPECT_EQ(readScriptFile("\"unterminated\r\nDMX"), QStringLiteral("unterminated\r\nDMX"));
  EXPECT_EQ(readScriptFile("\"\"\r\n"), QString());
  EXPECT_FALSE(readScriptFile("").has_value());
  EXPECT_FALSE(readScriptFile("   ").has_value());
  // Written on Linux in UTF-8: still read.
  EXPECT_EQ(readScriptFile(QStringLiteral("\"灯光\"\r\n").toUtf8()), QStringLiteral("灯光"));
}
