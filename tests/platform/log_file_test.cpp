#include "log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace luvrin {
namespace {

QString readText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

TEST(LogFile, LinesArriveWithTheProgramsNameAndTheFileStaysBounded) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("TALVEN/LUVRIN.log"));
  {
    LogFile log(path, QStringLiteral("LUVRINpREG"));
    log.write(QStringLiteral("端口 \"udp:1\": refused"));
  }
  const QStringList lines = readText(path).split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral("LUVRINpREG: 端口 \"udp:1\": refused")))
      << lines[0].toStdString();

  // Days of a show: the log never grows past its bound, and the lines before the last turn are
  // kept in one older file.
  const QString kilobyte(1000, u'x');
  for (int round = 0; round < 4; ++round) {
    LogFile log(path, QStringLiteral("LUVRIN"));
    for (int i = 0; i < 500; ++i) log.write(kilobyte);
  }
  EXPECT_LE(QFileInfo(path).size(), LogFile::kMaxBytes);
  EXPECT_GT(QFileInfo(path).size(), 0);
  EXPECT_LE(QFileInfo(path + QStringLiteral(".1")).size(), LogFile::kMaxBytes);
  EXPECT_GT(QFileInfo(path + QStringLiteral(".1")).size(), LogFile::kMaxBytes / 2);
}

TEST(LogFile, SomethingElseInItsPlaceIsLeftAloneAndHoldsNothingUp) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath(QStringLiteral("fifo.log"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString target = dir.filePath(QStringLiteral("elsewhere"));
  const QString link = dir.filePath(QStringLiteral("link.log"));
  ASSERT_TRUE(QFile::link(target, link));
  for (const QString& path : {fifo, link}) {
    LogFile log(path, QStringLiteral("LUVRIN"));
    log.write(QStringLiteral("a line"));
  }  // ends: an open of the FIFO would block here for good
  EXPECT_FALSE(QFileInfo(fifo).isFile());
  EXPECT_FALSE(QFileInfo::exists(target));
}

// A flood of other lines turns the log over and over; every new file still starts with how the
// program runs, and the disk never holds more than the log and one older file.
TEST(LogFile, KeptLinesHeadEveryNewFileAndTwoFilesAtMostStay) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("LUVRIN.log"));
  const QString kilobyte(1000, u'x');
  {
    LogFile log(path, QStringLiteral("LUVRIN"));
    log.writeKept(QStringLiteral("remote"), QStringLiteral("远程: http://0.0.0.0:8080/"));
    log.writeKept(QStringLiteral("output"), QStringLiteral("输出: 端口 /dev/ttyUSB0 无法打开"));
    log.writeKept(QStringLiteral("output"), QStringLiteral("输出: 正在发送"));
    for (int i = 0; i < 2600; ++i) log.write(kilobyte);  // past the bound twice
  }
  for (const QString& file : {path, path + QStringLiteral(".1")}) {
    const QStringList lines = readText(file).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2) << file.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("远程: http://0.0.0.0:8080/")))
        << file.toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("输出: 正在发送"))) << file.toStdString();
    EXPECT_LE(QFileInfo(file).size(), LogFile::kMaxBytes) << file.toStdString();
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

}  // namespace
}  // namespace luvrin
