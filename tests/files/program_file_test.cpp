#include "program_file.h"

#include <gtest/gtest.h>

#include <QDir>

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
