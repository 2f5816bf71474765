#include "file_handoff_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform.h"

using namespace luvrin;

namespace {

// Points XDG_CONFIG_HOME at a fresh folder for one test and puts the old value back.
class TempConfigHome {
 public:
  TempConfigHome()
      : old_(qgetenv("XDG_CONFIG_HOME")), had_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
  }
  ~TempConfigHome() {
    if (had_) {
      qputenv("XDG_CONFIG_HOME", old_);
    } else {
      qunsetenv("XDG_CONFIG_HOME");
    }
  }
  QString path() const { return dir_.path(); }
  QString storeFile() const { return dir_.path() + QStringLiteral("/TALVEN/LUVRIN.ini"); }

 private:
  QTemporaryDir dir_;
  QByteArray old_;
  bool had_;
};

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(HandoffFile, LivesUnderTheUsersConfigFolder) {
  if (platform::windowsConventions()) GTEST_SKIP() << "the registry holds it on Windows";
  TempConfigHome home;
  EXPECT_EQ(FileHandoffStore::defaultPath(), home.storeFile());

  // The store the programs use writes there, and creates the folders on the way.
  ASSERT_TRUE(makeUserHandoffStore()->write(QStringLiteral("Intro")));
  EXPECT_EQ(fileBytes(home.storeFile()),
            QByteArray("[LUVRIN]\n") + QStringLiteral("场景=Intro\n").toUtf8());
}

TEST(HandoffFile, MissingFileOrKeyReadsEmpty) {
  TempConfigHome home;
  FileHandoffStore store(home.storeFile());
  EXPECT_EQ(store.read(), QString());

  QDir().mkpath(home.path() + QStringLiteral("/TALVEN"));
  QFile f(home.storeFile());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QStringLiteral("[其他]\n场景=别的\n[LUVRIN]\n名称=x\n").toUtf8());
  f.close();
  EXPECT_EQ(store.read(), QString());
}

TEST(HandoffFile, TwoQuickWritesOfEqualLengthAreBothSeen) {
  TempConfigHome home;
  FileHandoffStore writer(home.storeFile());
  FileHandoffStore reader(home.storeFile());

  // Same size, same second: a reader that trusted size and modification time would keep "AAAA".
  ASSERT_TRUE(writer.write(QStringLiteral("AAAA"))) << writer.writeError().toStdString();
  EXPECT_EQ(reader.read(), QStringLiteral("AAAA"));
  ASSERT_TRUE(writer.write(QStringLiteral("BBBB")));
  EXPECT_EQ(reader.read(), QStringLiteral("BBBB"));
  ASSERT_TRUE(FileHandoffStore(home.storeFile()).write(QStringLiteral("CCCC")));
  EXPECT_EQ(reader.read(), QStringLiteral("CCCC"));
}

TEST(HandoffFile, AnyFileNameSurvivesTheRoundTrip) {
  TempConfigHome home;
  FileHandoffStore store(home.storeFile());
  const QString names[] = {QStringLiteral("开场"),
                           QStringLiteral("a=b"),
                           QStringLiteral("  blanks around  "),
                           QStringLiteral("back\\slash\\"),
                           QStringLiteral("line\nbreak\r\nname"),
                           QStringLiteral("[LUVRIN]"),
                           QStringLiteral("\\n literally"),
                           QString()};
  for (const QString& name : names) {
    ASSERT_TRUE(store.write(name));
    EXPECT_EQ(store.read(), name) << name.toStdString();
  }
  // No half-written or temporary files stay behind.
  EXPECT_EQ(QDir(home.path() + QStringLiteral("/TALVEN")).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("LUVRIN.ini")});
}

TEST(HandoffFile, ReadsHandWrittenFiles) {
  // CR LF line ends, blanks around the key, another section first, section name in any case.
  EXPECT_EQ(
      FileHandoffStore::decode(
          QStringLiteral("[TALVEN]\r\n场景=不是这个\r\n[luvrin]\r\n 场景 =Finale\r\n").toUtf8()),
      QStringLiteral("Finale"));
  // The first key wins.
  EXPECT_EQ(FileHandoffStore::decode(QStringLiteral("[LUVRIN]\n场景=一\n场景=二\n").toUtf8()),
            QStringLiteral("一"));
  EXPECT_EQ(FileHandoffStore::decode(QByteArray()), QString());
  EXPECT_EQ(FileHandoffStore::decode(QByteArray("\xff\xfe garbage\n=\n[")), QString());
}

TEST(HandoffFile, AFailedWriteReportsFailureAndKeepsTheValue) {
  TempConfigHome home;
  FileHandoffStore store(home.storeFile());
  ASSERT_TRUE(store.write(QStringLiteral("Intro")));

  // A file where the store's folder would have to be.
  QFile blocker(home.path() + QStringLiteral("/blocked"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  FileHandoffStore blocked(home.path() + QStringLiteral("/blocked/TALVEN/LUVRIN.ini"));
  EXPECT_FALSE(blocked.write(QStringLiteral("Finale")));
  EXPECT_EQ(blocked.read(), QString());
  EXPECT_EQ(store.read(), QStringLiteral("Intro"));
}
