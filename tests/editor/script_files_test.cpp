#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <optional>

#include "codepage.h"
#include "editor_rig.h"
#include "editor_window.h"
#include "script.h"

using namespace luvrin;
using namespace luvrin::testing;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return f.readAll();
}

// An open editor whose dialogs answer from fields and record what they were asked.
struct FileRig {
  FileRig() {
    ed().Show();
    ed().dialogs.saveFileName = [this] { return saveAnswer; };
    ed().dialogs.openFileName = [this] { return openAnswer; };
    ed().dialogs.message = [this](const QString& m) { messages << m; };
    ed().dialogs.confirm = [this](const QString& q) {
      questions << q;
      return confirmAnswer;
    };
  }
  Form3& ed() { return rig.editor(); }
  QString path(const QString& name) const { return rig.show.path(name); }

  EditorRig rig;
  std::optional<QString> saveAnswer;
  std::optional<QString> openAnswer;
  bool confirmAnswer = true;
  QStringList messages;
  QStringList questions;
};

}  // namespace

TEST(EditorScriptFiles, SaveAndOpenRoundTripByteExact) {
  FileRig f;
  const QString script = QStringLiteral("\r\nDMX255,000,\r\n!T000005'100mS");
  f.ed().Text5.setText(script);
  f.saveAnswer = f.path(QStringLiteral("look.ini"));
  f.ed().Command3_Click();
  EXPECT_EQ(readAll(*f.saveAnswer), QByteArray("\"\r\nDMX255,000,\r\n!T000005'100mS\"\r\n"));

  f.ed().Text5.setText(QStringLiteral("something else"));
  f.openAnswer = f.saveAnswer;
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), script);
  EXPECT_TRUE(f.messages.isEmpty());
  EXPECT_TRUE(f.questions.isEmpty());
}

TEST(EditorScriptFiles, ChineseNotesAreWrittenInGbkAndReadBack) {
  FileRig f;
  const QString script = QStringLiteral("\r\nDMX001,\r\n!T000002'第一个动作");
  f.ed().Text5.setText(script);
  f.saveAnswer = f.path(QStringLiteral("场景一.ini"));
  f.ed().Command3_Click();
  EXPECT_EQ(readAll(*f.saveAnswer), encodeGbk(u'"' + script + QStringLiteral("\"\r\n")));
  f.ed().Text5.setText(QString());
  f.openAnswer = f.saveAnswer;
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), script);
}

TEST(EditorScriptFiles, GbkScriptsThatAreValidUtf8OpenAndSaveBackUnchanged) {
  // Scripts from Windows whose GBK notes happen to be valid UTF-8 as well: "谢幕" is D0 BB C4 BB.
  for (const char* note : {"谢幕", "摇头", "扫", "一十前转"}) {
    FileRig f;
    const QString script = QStringLiteral("\r\nDMX255,000,\r\n!T000005'") + QString::fromUtf8(note);
    const QByteArray windowsBytes =
        "\"\r\nDMX255,000,\r\n!T000005'" + encodeGbk(QString::fromUtf8(note)) + "\"\r\n";
    ASSERT_EQ(QString::fromUtf8(windowsBytes).toUtf8(), windowsBytes) << note;
    f.rig.show.writeFile(QStringLiteral("windows.ini"), windowsBytes);
    f.openAnswer = f.path(QStringLiteral("windows.ini"));
    f.ed().Command6_Click();
    EXPECT_EQ(f.ed().Text5.text(), script) << note;

    f.saveAnswer = f.path(QStringLiteral("saved.ini"));
    f.ed().Command3_Click();
    EXPECT_EQ(readAll(*f.saveAnswer), windowsBytes) << note;
    EXPECT_TRUE(f.messages.isEmpty()) << note;
  }
}

TEST(EditorScriptFiles, SavingReplacesAnExistingFileWhole) {
  FileRig f;
  f.rig.show.writeFile(QStringLiteral("old.ini"), QByteArray(5000, 'x'));
  f.ed().Text5.setText(QStringLiteral("DMX"));
  f.saveAnswer = f.path(QStringLiteral("old.ini"));
  f.ed().Command3_Click();
  EXPECT_EQ(readAll(*f.saveAnswer), QByteArray("\"DMX\"\r\n"));
}

TEST(EditorScriptFiles, QuoteInTheScriptWarnsBeforeSaving) {
  FileRig f;
  const QString script = QStringLiteral("\r\nDMX001,'a \"quoted\" note\r\n!T000001'100mS");
  f.ed().Text5.setText(script);
  f.saveAnswer = f.path(QStringLiteral("q.ini"));

  f.confirmAnswer = false;
  f.ed().Command3_Click();
  EXPECT_EQ(f.questions.size(), 1);
  EXPECT_FALSE(QFile::exists(*f.saveAnswer));

  f.confirmAnswer = true;
  f.ed().Command3_Click();
  EXPECT_EQ(f.questions.size(), 2);
  // Saved unchanged; reading it back stops at the quote, as the warning said.
  EXPECT_EQ(readAll(*f.saveAnswer), encodeGbk(u'"' + script + QStringLiteral("\"\r\n")));
  f.openAnswer = f.saveAnswer;
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), QStringLiteral("\r\nDMX001,'a "));
}

TEST(EditorScriptFiles, CharactersOutsideTheCodePageWarnBeforeSaving) {
  FileRig f;
  f.ed().Text5.setText(QStringLiteral("DMX001,'\U0001F600"));
  f.saveAnswer = f.path(QStringLiteral("emoji.ini"));
  f.confirmAnswer = false;
  f.ed().Command3_Click();
  EXPECT_EQ(f.questions.size(), 1);
  EXPECT_FALSE(QFile::exists(*f.saveAnswer));
}

TEST(EditorScriptFiles, OpenTakesTheFirstField) {
  FileRig f;
  struct Case {
    QByteArray bytes;
    QString text;
  };
  for (const Case& c :
       {Case{"\"ABC\"xyz", QStringLiteral("ABC")}, Case{"DMX1,2\r\n", QStringLiteral("DMX1")},
        Case{"\"two\r\nlines\"\r\n\"second field\"\r\n", QStringLiteral("two\r\nlines")},
        Case{"\"unterminated\r\nDMX", QStringLiteral("unterminated\r\nDMX")}, Case{"", QString()},
        Case{"   ", QString()}}) {
    f.rig.show.writeFile(QStringLiteral("in.ini"), c.bytes);
    f.ed().Text5.setText(QStringLiteral("before"));
    f.openAnswer = f.path(QStringLiteral("in.ini"));
    f.ed().Command6_Click();
    EXPECT_EQ(f.ed().Text5.text(), c.text) << c.bytes.constData();
  }
  EXPECT_TRUE(f.messages.isEmpty());
}

TEST(EditorScriptFiles, CancelledDialogsWriteAndChangeNothing) {
  FileRig f;
  f.ed().Text5.setText(QStringLiteral("unsaved work"));
  f.ed().Command3_Click();
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), QStringLiteral("unsaved work"));
  EXPECT_TRUE(f.messages.isEmpty());
  EXPECT_EQ(QDir(f.rig.show.programFolder()).entryList(QDir::Files), QStringList{});
}

TEST(EditorScriptFiles, UnreadableOrHugeFilesLeaveTheBoxAndSaySo) {
  FileRig f;
  f.ed().Text5.setText(QStringLiteral("unsaved work"));

  f.openAnswer = f.path(QStringLiteral("missing.ini"));
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), QStringLiteral("unsaved work"));
  EXPECT_EQ(f.messages.size(), 1);

  ASSERT_TRUE(QDir(f.rig.show.programFolder()).mkdir(QStringLiteral("folder.ini")));
  f.openAnswer = f.path(QStringLiteral("folder.ini"));
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), QStringLiteral("unsaved work"));
  EXPECT_EQ(f.messages.size(), 2);

  {
    QFile big(f.path(QStringLiteral("big.ini")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write("\"DMX\"");
    ASSERT_TRUE(big.resize(kMaxScriptFileBytes + 1));
  }
  f.openAnswer = f.path(QStringLiteral("big.ini"));
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), QStringLiteral("unsaved work"));
  EXPECT_EQ(f.messages.size(), 3);

  // Exactly at the limit is still a script file.
  ASSERT_TRUE(QFile(f.path(QStringLiteral("big.ini"))).resize(kMaxScriptFileBytes));
  f.ed().Command6_Click();
  EXPECT_EQ(f.ed().Text5.text(), QStringLiteral("DMX"));
  EXPECT_EQ(f.messages.size(), 3);
}

TEST(EditorScriptFiles, FailedSaveSaysWhyAndWritesNothing) {
  FileRig f;
  f.ed().Text5.setText(QStringLiteral("DMX"));
  f.saveAnswer = f.path(QStringLiteral("no/such/folder/x.ini"));
  f.ed().Command3_Click();
  EXPECT_EQ(f.messages.size(), 1);
  EXPECT_FALSE(QFile::exists(*f.saveAnswer));

  // A folder where the file would go stays as it was.
  ASSERT_TRUE(QDir(f.rig.show.programFolder()).mkdir(QStringLiteral("taken.ini")));
  f.saveAnswer = f.path(QStringLiteral("taken.ini"));
  f.ed().Command3_Click();
  EXPECT_EQ(f.messages.size(), 2);
  EXPECT_TRUE(QFileInfo(*f.saveAnswer).isDir());
  // No temporary file is left behind either.
  EXPECT_EQ(QDir(f.rig.show.programFolder()).entryList(QDir::Files), QStringList{});
}
