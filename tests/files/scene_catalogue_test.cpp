#include "scene_catalogue.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "read_ini_key.h"
#include "show_folder.h"

using namespace luvrin;
using luvrin::files_testing::ShowFolder;

namespace {

const QString kCatalogue = QStringLiteral("场景.ini");

QStringList names(const CatalogueEntries& entries) {
  QStringList out;
  for (const CatalogueLine& line : entries.lines)
    if (line.hasName) out.push_back(line.name);
  return out;
}

QStringList texts(const CatalogueEntries& entries) {
  QStringList out;
  for (const CatalogueLine& line : entries.lines) out.push_back(line.text);
  return out;
}

// As a catalogue edited a while ago: only then is its stamp to be trusted.
void age(const QString& path, const QDateTime& at = QDateTime(QDate(2015, 9, 19), QTime(12, 0))) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  ASSERT_TRUE(f.setFileTime(at, QFileDevice::FileModificationTime));
}

}  // namespace

TEST(SceneCatalogueLookup, FindsANameInSectionDmxWithoutRegardToCase) {
  ShowFolder show;
  show.writeGbk(kCatalogue, QStringLiteral("[Other]\r\nIntro=other.ini\r\n[DMX]\r\n"
                                           "intro=DMX001,\r\n摇头=\"摇头.ini\"\r\n"));
  const SceneCatalogue catalogue(show.path());
  EXPECT_EQ(catalogue.lookup(QStringLiteral("INTRO")), QStringLiteral("DMX001,"));
  EXPECT_EQ(catalogue.lookup(QStringLiteral("Intro")), QStringLiteral("DMX001,"));
  // One pair of quotes around a value is dropped, as the profile reader does.
  EXPECT_EQ(catalogue.lookup(QStringLiteral("摇头")), QStringLiteral("摇头.ini"));
  EXPECT_EQ(catalogue.lookup(QStringLiteral("Finale")), QString());
  EXPECT_EQ(catalogue.lookup(QString()), QString());
}

TEST(SceneCatalogueLookup, ReadsUtf8CataloguesAndMissingOnesGiveNothing) {
  ShowFolder show;
  const SceneCatalogue catalogue(show.path());
  EXPECT_EQ(catalogue.lookup(QStringLiteral("谢幕")), QString());
  show.write(kCatalogue, QStringLiteral("[DMX]\n谢幕=谢幕.ini\n").toUtf8());
  EXPECT_EQ(catalogue.lookup(QStringLiteral("谢幕")), QStringLiteral("谢幕.ini"));
  EXPECT_EQ(catalogue.path(), show.path(kCatalogue));
}

TEST(SceneCatalogueLookup, FindsWhatReadIniKeyFinds) {
  ShowFolder show;
  const QString text = QStringLiteral(
      "A=before any section\r\n[dmx]\r\n a\t=DMX001, \r\nB='q'\r\nA=second of a name\r\n"
      ";C=comment\r\n=no name\r\n[Other]\r\nD=elsewhere\r\n[DMX]\r\nE=second DMX section\r\n");
  show.writeGbk(kCatalogue, text);
  const SceneCatalogue catalogue(show.path());
  for (const char* name : {"A", "a", " A ", "B", "C", ";C", "", "D", "E", "F"}) {
    const QString key = QString::fromUtf8(name);
    EXPECT_EQ(catalogue.lookup(key),
              readIniKeyFromBytes(encodeGbk(text), QStringLiteral("DMX"), key))
        << name;
  }
  EXPECT_EQ(catalogue.lookup(QStringLiteral("a")), QStringLiteral("DMX001,"));
}

TEST(SceneCatalogueLookup, AnUnchangedCatalogueIsReadOnceAndEveryChangeIsSeen) {
  ShowFolder show;
  const QString file = show.path(kCatalogue);
  const auto sceneA = [&] { return SceneCatalogue(show.path()).lookup(QStringLiteral("A")); };
  show.write(kCatalogue, "[DMX]\r\nA=DMX001,\r\n");
  age(file);
  const int before = SceneCatalogue::fileReads();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sceneA(), QStringLiteral("DMX001,"));
  EXPECT_EQ(SceneCatalogue::fileReads() - before, 1);

  // Rewritten in place, twice within a tick of the file's clock, the size kept.
  show.write(kCatalogue, "[DMX]\r\nA=DMX002,\r\n");
  EXPECT_EQ(sceneA(), QStringLiteral("DMX002,"));
  show.write(kCatalogue, "[DMX]\r\nA=DMX003,\r\n");
  EXPECT_EQ(sceneA(), QStringLiteral("DMX003,"));

  // Rewritten in place within one tick of its clock, its size and times kept: the same stamp
  // (where the system keeps no change time, or within its granularity), so a stamp that recent
  // is not trusted and the catalogue is read again at every lookup until it has aged.
  // (An hour ahead, as from a machine whose clock runs fast: recent however slow the run.)
  const QDateTime tick = QDateTime::currentDateTime().addSecs(3600);
  show.write(kCatalogue, "[DMX]\r\nA=DMX005,\r\n");
  age(file, tick);
  EXPECT_EQ(sceneA(), QStringLiteral("DMX005,"));
  show.write(kCatalogue, "[DMX]\r\nA=DMX006,\r\n");
  age(file, tick);
  const int recent = SceneCatalogue::fileReads();
  EXPECT_EQ(sceneA(), QStringLiteral("DMX006,"));
  EXPECT_EQ(sceneA(), QStringLiteral("DMX006,"));
  EXPECT_EQ(SceneCatalogue::fileReads() - recent, 2);

  // Replaced by a file of the same size and times.
  age(file);
  EXPECT_EQ(sceneA(), QStringLiteral("DMX006,"));
  show.write(QStringLiteral("new.ini"), "[DMX]\r\nA=DMX004,\r\n");
  age(show.path(QStringLiteral("new.ini")));
  ASSERT_TRUE(QFile::remove(file));
  ASSERT_TRUE(QFile::rename(show.path(QStringLiteral("new.ini")), file));
  EXPECT_EQ(sceneA(), QStringLiteral("DMX004,"));

  ASSERT_TRUE(QFile::remove(file));
  EXPECT_EQ(sceneA(), QString());
}

TEST(SceneCatalogueEntries, EveryLineInOrderWithNamesExactlyAsWritten) {
  ShowFolder show;
  // Mixed line ends, a last line without one, a blank before "=", quotes, a comment with "=",
  // another section and a description line: the builder decides what they mean, not the reader.
  show.writeGbk(kCatalogue, QStringLiteral("[DMX]\r\nIntro =DMX001,\n\"Q\"=x\r;c=d\r\n\r\n"
                                           "Intro说明=开场\r\n[Other]\r\n=lone\r\nlast=a=b"));
  const CatalogueEntries entries = SceneCatalogue(show.path()).entries();
  EXPECT_EQ(entries.failure, FileRead::Failure::None);
  EXPECT_EQ(texts(entries),
            (QStringList{QStringLiteral("[DMX]"), QStringLiteral("Intro =DMX001,"),
                         QStringLiteral("\"Q\"=x"), QStringLiteral(";c=d"), QString(),
                         QStringLiteral("Intro说明=开场"), QStringLiteral("[Other]"),
                         QStringLiteral("=lone"), QStringLiteral("last=a=b")}));
  EXPECT_EQ(names(entries),
            (QStringList{QStringLiteral("Intro "), QStringLiteral("\"Q\""), QStringLiteral(";c"),
                         QStringLiteral("Intro说明"), QString(), QStringLiteral("last")}));
}

TEST(SceneCatalogueEntries, AFinalLineEndAddsNoEmptyLine) {
  ShowFolder show;
  show.write(kCatalogue, QStringLiteral("[DMX]\n谢幕=谢幕.ini\n").toUtf8());
  EXPECT_EQ(texts(SceneCatalogue(show.path()).entries()),
            (QStringList{QStringLiteral("[DMX]"), QStringLiteral("谢幕=谢幕.ini")}));
  show.write(kCatalogue, QByteArray());
  const CatalogueEntries empty = SceneCatalogue(show.path()).entries();
  EXPECT_EQ(empty.failure, FileRead::Failure::None);
  EXPECT_TRUE(empty.lines.isEmpty());
}

TEST(SceneCatalogueEntries, SaysWhyACatalogueCouldNotBeRead) {
  ShowFolder show;
  const SceneCatalogue catalogue(show.path());
  EXPECT_EQ(catalogue.entries().failure, FileRead::Failure::Missing);

  ASSERT_TRUE(QDir(show.path()).mkdir(kCatalogue));
  EXPECT_EQ(catalogue.entries().failure, FileRead::Failure::NotRegular);
  ASSERT_TRUE(QDir(show.path()).rmdir(kCatalogue));

  {
    QFile f(show.path(kCatalogue));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(SceneCatalogue::kMaxFileBytes + 1));
  }
  const CatalogueEntries large = catalogue.entries();
  EXPECT_EQ(large.failure, FileRead::Failure::TooLarge);
  EXPECT_TRUE(large.lines.isEmpty());
}
