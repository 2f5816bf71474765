// A device found on the line, patched into the show's 配接.ini as the devices window and the API
// do it: matched to a definition or written one from its slot names, refused without a byte
// written when the line cannot go in.
#include "device_patch.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "codepage.h"
#include "fixtures/qxf.h"
#include "support/temp_show.h"

using namespace luvrin;
using namespace luvrin::testing;

namespace {

using Kind = DevicePatchOutcome::Kind;

const QString kPatch = QStringLiteral(
    "; 舞台\r\n[配接]\r\n左1=1,Maker/Spot,2ch\r\n; 侧光\r\n\r\n[备注]\r\n说明=手写\r\n");

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(DevicePatch, MatchesOrWritesADefinitionAndRefusesWithoutWriting) {
  struct Case {
    const char* what;
    DeviceFacts device;
    std::optional<QString> name;
    Kind kind;
    QString added;  // the line inserted after 左1's; "" when the file must stay as it was
  };
  const Case cases[] = {
      {"matched, the mode of its footprint, the label's name taken: the next free one",
       {QStringLiteral("maker"), QStringLiteral("S-P-O-T"), QStringLiteral("左1"), 3, 2, {}},
       std::nullopt,
       Kind::Done,
       QStringLiteral("左1 2=3,Maker/Spot,2ch")},
      {"no definition: one from the slot names",
       {QStringLiteral("Other"), QStringLiteral("Wash"), {}, 10, 3, {"Red", "", "Blue"}},
       QStringLiteral("洗墙"),
       Kind::Done,
       QStringLiteral("洗墙=10,Other/Wash,3 channels")},
      {"a definition without a mode of its footprint keeps its key",
       {QStringLiteral("Maker"), QStringLiteral("Spot"), {}, 20, 3, {}},
       std::nullopt,
       Kind::Done,
       QStringLiteral("Spot=20,Maker/Spot RDM,3 channels")},
      {"name taken", {"Maker", "Spot", {}, 3, 2, {}}, QStringLiteral("左1"), Kind::Taken, {}},
      {"overlap", {"Maker", "Spot", "右1", 2, 2, {}}, std::nullopt, Kind::Taken, {}},
      {"past the last channel", {"Maker", "Spot", {}, 128, 2, {}}, std::nullopt, Kind::Refused, {}},
      {"no name a line can hold",
       {"Maker", "Spot", {}, 3, 2, {}},
       QStringLiteral("a=b"),
       Kind::BadName,
       {}},
  };
  for (const Case& c : cases) {
    TempShow show;
    fixtures_testing::writeFile(show.path("灯库/spot.qxf"),
                                fixtures_testing::dimmer("Maker", "Spot"));
    show.writeFile(QStringLiteral("配接.ini"), encodeGbk(kPatch));
    const QString library = show.path("灯库");
    DevicePatchJob job{
        show.programFolder(), 128, c.device, c.name, true, [library](const QString&) {
          return fixtures::FixtureLibrary({{library, fixtures::Source::Show}});
        }};
    const DevicePatchOutcome o = patchDevice(job);
    EXPECT_EQ(o.kind, c.kind) << c.what << ": " << o.why.toStdString();
    QString expected = kPatch;
    if (!c.added.isEmpty()) {
      expected.replace(QStringLiteral("2ch\r\n"), QStringLiteral("2ch\r\n") + c.added + "\r\n");
      ASSERT_TRUE(o.line.written) << c.what;
      EXPECT_TRUE(o.line.written->mode(o.line.mode)) << c.what;
    }
    EXPECT_EQ(fileBytes(show.path("配接.ini")), encodeGbk(expected)) << c.what;
    // Only a device patched by its slot names leaves a definition behind.
    EXPECT_EQ(QDir(library).entryList(QDir::Files).size(), o.line.bySlots ? 2 : 1) << c.what;
  }
}

TEST(DevicePatch, AProposalWritesNothingAndAFileItCannotReadStaysAsItIs) {
  TempShow show;
  const DeviceFacts wash{QStringLiteral("Other"), QStringLiteral("Wash"), {}, 1, 3, {}};
  DevicePatchJob job{
      show.programFolder(), 128, wash, std::nullopt, false, [](const QString&) {
        return fixtures::FixtureLibrary(QList<std::pair<QString, fixtures::Source>>{});
      }};
  const DevicePatchOutcome proposed = patchDevice(job);
  ASSERT_TRUE(proposed.ok()) << proposed.why.toStdString();
  EXPECT_EQ(proposed.line.name, QStringLiteral("Wash"));
  EXPECT_TRUE(proposed.line.bySlots);
  EXPECT_TRUE(
      QDir(show.programFolder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

  // A patch file that is no file: nothing of it is replaced.
  ASSERT_TRUE(QDir().mkpath(show.path("配接.ini/x")));
  job.write = true;
  EXPECT_EQ(patchDevice(job).kind, Kind::Unreadable);
  EXPECT_TRUE(QFileInfo(show.path("配接.ini/x")).isDir());
  EXPECT_FALSE(QFileInfo::exists(show.path("灯库")));
}
