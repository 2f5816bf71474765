#include "handoff_form.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "file_handoff_store.h"

using namespace luvrin;

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }

}  // namespace

// The launcher writes without Qt what the driver reads with it: both forms agree byte for byte,
// and a file naming its show still reads as its scene for a reader that knows no show.
TEST(HandoffForm, WritesAndReadsTheBytesOfTheQtStore) {
  const QString show = QStringLiteral("/演出 一/驱动");
  for (const QString& name :
       {QStringLiteral("Intro"), QStringLiteral("开场 1"), QStringLiteral("a\\b\\"),
        QStringLiteral("two\nlines\r\n"), QStringLiteral("\\n not a break"), QStringLiteral("=x=y"),
        QStringLiteral(" padded "), QStringLiteral("[LUVRIN]"), QString()}) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray qt = FileHandoffStore::encode(name);
    EXPECT_EQ(handoff::encode(utf8(name), {}), qt.toStdString());
    EXPECT_EQ(handoff::decode(qt.toStdString()).scene, utf8(name));

    const std::string both = handoff::encode(utf8(name), utf8(show));
    EXPECT_EQ(FileHandoffStore::decode(QByteArray::fromStdString(both)), name);
    EXPECT_EQ(FileHandoffStore::encode(Handoff{name, show}).toStdString(), both);
    EXPECT_EQ(FileHandoffStore::decodeHandoff(QByteArray::fromStdString(both)),
              (Handoff{name, show}));
    const handoff::Handoff read = handoff::decode(both);
    EXPECT_EQ(read.scene, utf8(name));
    EXPECT_EQ(read.show, utf8(show));
  }
}

// Files written by hand or by older programs read as the driver has always read them.
TEST(HandoffForm, ReadsHandWrittenFilesAsTheQtStoreDoes) {
  struct Case {
    const char* text;
    const char* show;
  };
  const Case cases[] = {
      {"[LUVRIN]\r\n场景=Intro\r\n演出=/a/驱动\r\n", "/a/驱动"},
      {"[其他]\n场景=别的\n演出=/x\n[LUVRIN]\n名称=x\n", ""},
      {" [luvrin] \n 场景 = spaced \n", ""},
      {"[LUVRIN]\n演出=/first\n演出=/second\n场景=a=b\n场景=later\n", "/first"},
      {"[LUVRIN]\nno equals sign\n场景\n场景=x\\", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const handoff::Handoff read = handoff::decode(c.text);
    EXPECT_EQ(QString::fromStdString(read.scene), FileHandoffStore::decode(QByteArray(c.text)));
    EXPECT_EQ(read.show, c.show);
  }
}

// The file is written so on Linux; Windows keeps the hand-off in the registry.
#ifndef _WIN32
namespace {

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(HandoffForm, ReplacesALinkAndLeavesNothingBehind) {
  QTemporaryDir dir;
  const QString folder = dir.path() + QStringLiteral("/new/TALVEN");
  const QString path = folder + QStringLiteral("/LUVRIN.ini");
  std::string error;
  ASSERT_TRUE(handoff::write(utf8(path), {"开场", "/s/驱动"}, &error)) << error;
  EXPECT_EQ(FileHandoffStore(path).read(), QStringLiteral("开场"));

  // A link in the file's place is replaced; what it pointed to keeps its bytes.
  const QString other = dir.path() + QStringLiteral("/other.ini");
  ASSERT_TRUE(QFile(other).open(QIODevice::WriteOnly));
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::link(other, path));
  ASSERT_TRUE(handoff::write(utf8(path), {"Finale", ""}, &error)) << error;
  EXPECT_EQ(fileBytes(other), QByteArray());
  EXPECT_FALSE(QFileInfo(path).isSymLink());
  EXPECT_EQ(FileHandoffStore(path).read(), QStringLiteral("Finale"));

  // Refused writes say why and leave the file as it was.
  EXPECT_FALSE(handoff::write(utf8(path), {std::string(handoff::kMaxFileBytes, 'x'), ""}, &error));
  EXPECT_NE(error.find("名称太长"), std::string::npos) << error;
  const QString folderInPlace = folder + QStringLiteral("/taken");
  ASSERT_TRUE(QDir().mkpath(folderInPlace + QStringLiteral("/x")));
  EXPECT_FALSE(handoff::write(utf8(folderInPlace), {"a", ""}, &error));
  EXPECT_NE(error.find("无法写入"), std::string::npos) << error;
  EXPECT_EQ(FileHandoffStore(path).read(), QStringLiteral("Finale"));
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
            QStringList{QStringLiteral("LUVRIN.ini")});
}
#endif
