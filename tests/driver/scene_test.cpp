#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>

#include "codepage.h"
#include "driver_fixture.h"
#include "log_file.h"
#include "script.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {

QString key(const char* k) { return QString::fromUtf8(k); }

struct SceneDriver : Driver {
  SceneDriver() : Driver({{key("发送数据长度"), key("2")}}) {}
  void start(const QString& launcher) {
    handoff.value = launcher;
    run(100ms);
  }
  void script(const QString& name, const QString& text) {
    show.writeFile(name, scriptFileBytes(text));
  }
};

const QString kLoopAB =
    QStringLiteral("\r\nDMX010,011,\r\n!T000003'100mS\r\nDMX020,021,\r\n!T000003'100mS\r\n!GT000");

}  // namespace

TEST(SceneLoading, InlineEntryGoesToTheChannelDataBox) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("Intro=DMX100,200,")});
  Form1& f = d.load();
  f.Text4.setText(QStringLiteral("leftover"));
  d.start(QStringLiteral("intro"));  // the catalogue ignores letter case
  EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX100,200,"));
  EXPECT_EQ(f.Text4.text(), QString());
  EXPECT_EQ(f.Text3.text(), QString());
  d.run(200ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{100, 200, 0}));
}

TEST(SceneLoading, ScriptFileEntryIsReadAndPlayed) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("Show=show.ini")});
  d.script(QStringLiteral("show.ini"), QStringLiteral("\r\nDMX050,060,\r\n!T000005'100mS"));
  Form1& f = d.load();
  d.start(QStringLiteral("Show"));
  EXPECT_EQ(f.Text3.text(), QString());
  EXPECT_EQ(f.Text4.text(), QStringLiteral("\r\nDMX050,060,\r\n!T000005'100mS"));
  d.run(300ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{50, 60, 0}));
}

TEST(SceneLoading, EntriesOfNeitherKindStayInView) {
  for (const char* entry : {"show.Ini", "dmx100,200,", "just words"}) {
    SceneDriver d;
    d.show.writeCatalog({QStringLiteral("S=") + QString::fromUtf8(entry)});
    d.script(QStringLiteral("show.Ini"), QStringLiteral("DMX001,"));
    Form1& f = d.load();
    f.Text7.setText(QStringLiteral("DMX009,009,"));
    d.start(QStringLiteral("S"));
    EXPECT_EQ(f.Text3.text(), QString::fromUtf8(entry));
    EXPECT_EQ(f.Text4.text(), QString());
    EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX009,009,"));
  }
}

TEST(SceneLoading, EntryThatIsBothIsTakenAsInlineOnly) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("S=DMX001,002,.ini")});
  d.script(QStringLiteral("DMX001,002,.ini"), QStringLiteral("DMX200,200,"));
  Form1& f = d.load();
  d.start(QStringLiteral("S"));
  EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX001,002,.ini"));
  EXPECT_EQ(f.Text4.text(), QString());
}

TEST(SceneLoading, UnknownNameOrMissingCatalogueKeepsTheScene) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("A=DMX001,001,")});
  Form1& f = d.load();
  d.start(QStringLiteral("A"));
  d.start(QStringLiteral("Nobody"));
  EXPECT_EQ(f.Text3.text(), QString());
  EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX001,001,"));
}

TEST(SceneLoading, UnloadableScriptFileLeavesTextAndSceneAlone) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("Loop=loop.ini"), QStringLiteral("Gone=gone.ini"),
                       QStringLiteral("Empty=empty.ini"), QStringLiteral("Drive=C:\\up.ini")});
  d.script(QStringLiteral("loop.ini"), kLoopAB);
  d.show.writeFile(QStringLiteral("empty.ini"), QByteArray());
  // On Windows a drive letter after the folder names no file; here it could be a folder.
  QDir(d.show.programFolder()).mkdir(QStringLiteral("C:"));
  d.script(QStringLiteral("C:/up.ini"), QStringLiteral("DMX099,"));
  Form1& f = d.load();
  d.start(QStringLiteral("Loop"));
  const std::pair<const char*, const char*> cases[] = {
      {"Gone", "gone.ini"}, {"Empty", "empty.ini"}, {"Drive", "C:\\up.ini"}};
  for (const auto& [name, entry] : cases) {
    d.start(QString::fromUtf8(name));
    EXPECT_EQ(f.Text4.text(), kLoopAB) << name;
    EXPECT_EQ(f.Text3.text(), QString::fromUtf8(entry)) << name;
    EXPECT_TRUE(f.engine().running()) << name;
  }
}

TEST(SceneLoading, OversizedScriptFileIsRefused) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("Big=big.ini")});
  d.show.writeFile(QStringLiteral("big.ini"), QByteArray(kMaxScriptFileBytes + 1, 'D'));
  Form1& f = d.load();
  d.start(QStringLiteral("Big"));
  EXPECT_EQ(f.Text4.text(), QString());
  EXPECT_EQ(f.Text3.text(), QStringLiteral("big.ini"));
}

TEST(SceneLoading, WindowsStyleNamesResolveOnLinux) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("S=Scripts\\Finale.INI")});
  QDir(d.show.programFolder()).mkdir(QStringLiteral("scripts"));
  d.script(QStringLiteral("scripts/finale.ini"), QStringLiteral("DMX077,"));
  Form1& f = d.load();
  d.start(QStringLiteral("S"));
  EXPECT_EQ(f.Text4.text(), QStringLiteral("DMX077,"));
  EXPECT_EQ(f.Text3.text(), QString());
}

TEST(SceneLoading, SameLauncherTwiceLoadsNothingTheSecondTime) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("A=DMX001,001,")});
  Form1& f = d.load();
  d.start(QStringLiteral("A"));
  f.Text7.setText(QStringLiteral("DMX002,002,"));
  d.start(QStringLiteral("A"));
  EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX002,002,"));
}

TEST(ScenePlayback, LoopingScriptAlternatesUntilAnotherSceneTakesOver) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("Loop=loop.ini"), QStringLiteral("Still=DMX099,098,")});
  d.script(QStringLiteral("loop.ini"), kLoopAB);
  Form1& f = d.load();
  d.start(QStringLiteral("Loop"));
  EXPECT_EQ(f.Text3.text(), QString());  // emptied at once although the script loops
  std::set<Levels> seen;
  for (int i = 0; i < 30; ++i) {
    d.run(50ms);
    seen.insert(d.port.lastFrameLevels());
  }
  EXPECT_TRUE(seen.count(Levels{10, 11, 0}));
  EXPECT_TRUE(seen.count(Levels{20, 21, 0}));
  d.start(QStringLiteral("Still"));
  d.run(1000ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{99, 98, 0}));
  EXPECT_FALSE(f.engine().running());
}

TEST(ScenePlayback, OneShotSceneDuringALoopEndsOnItsOwnLastLook) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("Loop=loop.ini"), QStringLiteral("Once=once.ini")});
  d.script(QStringLiteral("loop.ini"), kLoopAB);
  d.script(QStringLiteral("once.ini"),
           QStringLiteral("\r\nDMX001,002,\r\n!T000002'100mS\r\nDMX003,004,\r\n!T000001'100mS"));
  Form1& f = d.load();
  d.start(QStringLiteral("Loop"));
  d.run(250ms);
  d.start(QStringLiteral("Once"));
  d.run(3000ms);
  EXPECT_FALSE(f.engine().running());
  EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX003,004,"));
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{3, 4, 0}));
}

TEST(ScenePlayback, ManySceneChangesDuringALoopLeaveOneRun) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("A=a.ini"), QStringLiteral("B=b.ini")});
  d.script(QStringLiteral("a.ini"), kLoopAB);
  d.script(QStringLiteral("b.ini"), QStringLiteral("\r\nDMX030,031,\r\n!T000002\r\n!GT000"));
  Form1& f = d.load();
  for (int i = 0; i < 10000; ++i) {
    d.start(i % 2 ? QStringLiteral("B") : QStringLiteral("A"));
    ASSERT_LE(d.scheduler.taskCount(), 1u);
  }
  EXPECT_EQ(f.engine().runDepth(), 1u);
}

TEST(ScenePlayback, TypingInTheScriptBoxRestartsTheRun) {
  SceneDriver d;
  Form1& f = d.load();
  f.Text4.setText(QStringLiteral("DMX"));
  f.Text4.setText(QStringLiteral("DMX0"));
  f.Text4.setText(QStringLiteral("DMX01"));
  d.run(10ms);
  EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX01"));
  EXPECT_LE(d.scheduler.taskCount(), 1u);
}

// Show folders written for the Windows program: GBK catalogues, quoted values, scripts kept in
// the folder above the driver's.
TEST(WindowsShowFolders, GbkSceneNamesThatAreValidUtf8Play) {
  SceneDriver d;
  // "摇头" in GBK (D2 A1 CD B7) is also valid UTF-8, as Cyrillic and Greek.
  d.show.writeFile(QStringLiteral("场景.ini"),
                   encodeGbk(key("[DMX]\r\n摇头=DMX200,201,202,203,\r\n谢幕=谢幕.ini\r\n")));
  d.show.writeFile(key("谢幕.ini"), scriptFileBytes(key("\r\nDMX090,091,\r\n!T000001'谢幕")));
  Form1& f = d.load();
  d.start(key("摇头"));
  d.run(200ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{200, 201, 0}));
  d.start(key("谢幕"));
  d.run(200ms);
  EXPECT_EQ(f.Text4.text(), key("\r\nDMX090,091,\r\n!T000001'谢幕"));
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{90, 91, 0}));
}

TEST(WindowsShowFolders, QuotedValuesLoad) {
  Driver d({{key("发送数据长度"), key("\"4\"")}});
  d.show.writeCatalog({key("q=\"DMX031,032,033,034,\""), key("s='s1.ini'"), key("t=  \"s1.ini\"  "),
                       key("lone=\"DMX041,")});
  d.show.writeFile(QStringLiteral("s1.ini"), scriptFileBytes(QStringLiteral("DMX051,052,")));
  Form1& f = d.load();
  EXPECT_EQ(f.OUTBUFCNT, 4);
  d.handoff.value = QStringLiteral("q");
  d.run(300ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{31, 32, 33, 34, 0}));
  for (const char* name : {"s", "t"}) {
    f.Text4.setText(QString());
    d.handoff.value = QString::fromUtf8(name);
    d.run(300ms);
    EXPECT_EQ(f.Text4.text(), QStringLiteral("DMX051,052,")) << name;
    EXPECT_EQ(d.port.lastFrameLevels(), (Levels{51, 52, 0, 0, 0})) << name;
    d.handoff.value = QStringLiteral("none");
    d.run(100ms);
  }
  // A lone quote is part of the value, which then is no inline data.
  d.handoff.value = QStringLiteral("lone");
  d.run(100ms);
  EXPECT_EQ(f.Text3.text(), key("\"DMX041,"));
}

TEST(WindowsShowFolders, LineWithoutANameNeverPlays) {
  SceneDriver d;
  d.show.writeCatalog({key("=DMX123,124,"), key("A=DMX001,002,")});
  Form1& f = d.load();
  d.run(500ms);
  EXPECT_EQ(f.Text3.text(), QString());
  EXPECT_NE(f.Text7.text(), QStringLiteral("DMX123,124,"));
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{0, 0, 0}));
  d.start(QStringLiteral("A"));
  d.start(QString());
  d.run(200ms);
  EXPECT_EQ(d.port.lastFrameLevels(), (Levels{1, 2, 0}));
}

TEST(WindowsShowFolders, ScriptFilesAreFoundRelativeToTheDriverFolder) {
  // A launcher folder with the driver in 驱动 below it and scripts in both.
  Driver d;
  const QString driverFolder = d.show.path(key("驱动"));
  ASSERT_TRUE(QDir(d.show.programFolder()).mkdir(key("驱动")));
  d.show.writeFile(key("驱动/串口配置.ini"), encodeGbk(key("[串口配置]\r\n发送数据长度=2\r\n")));
  d.show.writeFile(key("驱动/场景.ini"),
                   encodeGbk(key("[DMX]\r\nup=..\\s1.ini\r\nup2=../S1.INI\r\n"
                                 "back=..\\驱动\\s2.ini\r\nrooted=\\s2.ini\r\n"
                                 "slash=/s2.ini\r\n")));
  d.show.writeFile(QStringLiteral("s1.ini"), scriptFileBytes(QStringLiteral("DMX011,012,")));
  d.show.writeFile(key("驱动/s2.ini"), scriptFileBytes(QStringLiteral("DMX021,022,")));
  const auto output = luvrin::testing::serialBoxFor(d.port, driverFolder);
  Form1 f(d.scheduler, driverFolder, *output, d.handoff);
  f.Form_Load();
  const std::pair<const char*, const char*> cases[] = {{"up", "DMX011,012,"},
                                                       {"up2", "DMX011,012,"},
                                                       {"back", "DMX021,022,"},
                                                       {"rooted", "DMX021,022,"},
                                                       {"slash", "DMX021,022,"}};
  for (const auto& [name, script] : cases) {
    f.Text4.setText(QString());
    d.handoff.value = QString::fromUtf8(name);
    d.run(100ms);
    EXPECT_EQ(f.Text4.text(), QString::fromUtf8(script)) << name;
    EXPECT_EQ(f.Text3.text(), QString()) << name;
  }
}

TEST(SceneLoading, ARefusedSceneIsToldOnceInTheStatusAndTheLog) {
  struct Case {
    const char* catalogue;  // nullptr: no 场景.ini
    const char* script;     // show.ini's text; nullptr: none; "/": a folder of that name
    const char* status;
  };
  const Case cases[] = {
      {nullptr, nullptr, "场景目录 "},
      {"S=show.ini", nullptr, "脚本文件 show.ini 不存在"},
      {"S=show.ini", "", "没有脚本"},
      {"S=show.ini", "/", "不是普通文件"},
  };
  for (const Case& c : cases) {
    SceneDriver d;
    if (c.catalogue)
      d.show.writeCatalog({QString::fromUtf8(c.catalogue)});
    else
      QFile::remove(d.show.programFolder() + QStringLiteral("/场景.ini"));
    if (c.script && QByteArray(c.script) == "/")
      QDir(d.show.programFolder()).mkdir(QStringLiteral("show.ini"));
    else if (c.script)
      d.show.writeFile(QStringLiteral("show.ini"), c.script);
    const QString logPath = d.show.programFolder() + QStringLiteral("/test.log");
    {
      LogFile log(logPath, QString());
      installMessageLog(log);
      Form1& f = d.load();
      f.Text7.setText(QStringLiteral("DMX009,009,"));
      d.start(QStringLiteral("S"));
      EXPECT_TRUE(f.StatusLine.caption().contains(QString::fromUtf8(c.status)))
          << f.StatusLine.caption().toStdString();
      d.run(2s);  // polls with the same hand-off, and the output's status back in the line
      d.start(QStringLiteral("S"));
      EXPECT_EQ(f.Text7.text(), QStringLiteral("DMX009,009,"));  // the old scene plays on
      removeMessageLog();
    }
    QFile file(logPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).count(QStringLiteral("场景: ")), 1) << c.status;
  }
}

// Two shows side by side share the user's hand-off value: a launcher of the other show does not
// play this show's scene of the same name, and the log says so once per value.
TEST(SceneLoading, OnlyThisShowsLaunchersPlayAndAnotherShowsIsLoggedOnce) {
  SceneDriver d;
  d.show.writeCatalog({QStringLiteral("A=DMX001,001,"), QStringLiteral("B=DMX002,002,")});
  const QString ours = d.show.programFolder();
  QTemporaryDir elsewhere;
  const QString other = elsewhere.path() + QStringLiteral("/驱动");
  ASSERT_TRUE(QDir().mkpath(other));
  const struct {
    const char* scene;
    QString show;
    const char* playing;  // Text7 after the poll
    int logged;           // lines about another show's launcher so far
  } cases[] = {
      {"A", QString(), "DMX001,001,", 0},  // an older launcher names no show
      {"B", other, "DMX001,001,", 1},
      {"B", other, "DMX001,001,", 1},  // the same value at the next polls
      {"B", ours + QStringLiteral("/../") + QFileInfo(ours).fileName(), "DMX002,002,", 1},
      {"A", other, "DMX002,002,", 2},
      {"A", ours, "DMX001,001,", 2},
  };
  const QString logPath = elsewhere.path() + QStringLiteral("/test.log");
  Form1& f = d.load();
  for (const auto& c : cases) {
    {
      LogFile log(logPath, QString());  // each step's lines are on the disk when it ends
      installMessageLog(log);
      d.handoff.show = c.show;
      d.start(QString::fromUtf8(c.scene));
      d.run(500ms);
      removeMessageLog();
    }
    EXPECT_EQ(f.Text7.text(), QString::fromUtf8(c.playing)) << c.scene << c.show.toStdString();
    QFile file(logPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).count(QStringLiteral("这里运行的是演出")), c.logged)
        << c.scene << c.show.toStdString();
  }
}
