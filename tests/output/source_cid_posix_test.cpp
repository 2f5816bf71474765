// The sACN identifier's file in the user's folder, as something else than a file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "source_cid.h"
#include "support/fifo_watchdog.h"

namespace luvrin {
namespace {

TEST(SourceCid, NoFileInItsPlaceGivesAFreshIdentifierAndIsLeftAlone) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath(QStringLiteral("fifo"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  // A link to a FIFO of this folder, never to a device: a faulty writer would replace what the
  // link points to.
  const QString link = dir.filePath(QStringLiteral("link"));
  ASSERT_TRUE(QFile::link(fifo, link));
  const QString folder = dir.filePath(QStringLiteral("folder"));
  ASSERT_TRUE(QDir().mkdir(folder));
  for (const QString& file : {fifo, link, folder}) {
    e131::Cid cid{};
    EXPECT_TRUE(testing::returnsWithoutWaitingOnFifo(fifo, [&] { cid = stableCid(file); }))
        << file.toStdString();
    EXPECT_NE(cid, e131::Cid{});
    EXPECT_FALSE(QFileInfo(file).isFile()) << file.toStdString();
  }
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_FALSE(QFileInfo(fifo).isFile());

  // A file of our own that grew past any identifier is made again, and kept from then on.
  const QString big = dir.filePath(QStringLiteral("big"));
  {
    QFile f(big);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(1LL << 30));
  }
  const e131::Cid remade = stableCid(big);
  EXPECT_LT(QFileInfo(big).size(), 64);
  EXPECT_EQ(stableCid(big), remade);
}

}  // namespace
}  // namespace luvrin
