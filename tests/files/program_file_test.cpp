#include "program_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <functional>

#include "read_ini_key.h"
#include "scene_catalogue.h"
#include "serial_settings.h"
#include "show_folder.h"

using namespace luvrin;
using luvrin::files_testing::ShowFolder;

TEST(ReadSmallFile, ReadsAFileUpToTheLimitWhole) {
  ShowFolder show;
  show.write(QStringLiteral("a.ini"), QByteArray("0123456789"));
  const FileRead read = readSmallFile(show.path(QStringLiteral("a.ini")), 10);
  ASSERT_TRUE(read);
  EXPECT_EQ(read.failure, FileRead::Failure::None);
  EXPECT_EQ(*read, QByteArray("0123456789"));
  EXPECT_TRUE(read.error.isEmpty());
}

TEST(ReadSmallFile, SaysWhyAFileCouldNotBeRead) {
  ShowFolder show;
  const FileRead missing = readSmallFile(show.path(QStringLiteral("none.ini")), 10);
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.failure, FileRead::Failure::Missing);

  ASSERT_TRUE(QDir(show.path()).mkdir(QStringLiteral("folder.ini")));
  const FileRead folder = readSmallFile(show.path(QStringLiteral("folder.ini")), 10);
  EXPECT_FALSE(folder);
  EXPECT_EQ(folder.failure, FileRead::Failure::NotRegular);

  show.write(QStringLiteral("b.ini"), QByteArray("0123456789!"));
  const FileRead large = readSmallFile(show.path(QStringLiteral("b.ini")), 10);
  EXPECT_FALSE(large);
  EXPECT_EQ(large.failure, FileRead::Failure::TooLarge);
  EXPECT_TRUE(large.bytes.isEmpty());

  EXPECT_EQ(describeFailure(FileRead::Failure::Missing), QStringLiteral("missing"));
  EXPECT_EQ(describeFailure(FileRead::Failure::TooLarge), QStringLiteral("too large"));
}

// Each show file is read up to its limit and, one byte past it, read as if it were absent.
TEST(ShowFileLimits, EachFileIsReadUpToItsLimitAndNotBeyond) {
  struct Reader {
    const char* file;
    qint64 limit;
    std::function<bool(const QString& folder)> found;
  };
  const Reader readers[] = {
      {"串口配置.ini", SerialConfiguration::kMaxFileBytes,
       [](const QString& folder) { return readSerialConfiguration(folder).status == u"测试"; }},
      {"场景.ini", SceneCatalogue::kMaxFileBytes,
       [](const QString& folder) {
         return !SceneCatalogue(folder).lookup(QStringLiteral("A")).isEmpty();
       }},
      {"场景.ini", SceneCatalogue::kMaxFileBytes,
       [](const QString& folder) { return !SceneCatalogue(folder).entries().lines.isEmpty(); }},
      {"x.ini", kMaxIniFileBytes,
       [](const QString& folder) {
         return !ReadIniKey(folder + QStringLiteral("/x.ini"), QStringLiteral("DMX"),
                            QStringLiteral("A"))
                     .isEmpty();
       }},
  };
  for (const Reader& r : readers) {
    for (const qint64 size : {r.limit, r.limit + 1}) {
      ShowFolder show;
      QFile f(show.path(QString::fromUtf8(r.file)));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(encodeGbk(QStringLiteral("[串口配置]\r\n状态=测试\r\n[DMX]\r\nA=DMX001,\r\n")));
      ASSERT_TRUE(f.resize(size));
      f.close();
      EXPECT_EQ(r.found(show.path()), size == r.limit) << r.file << " of " << size << " bytes";
    }
  }
}
