// Scenes end to end: launchers started as a user starts them, the driver they start, the bytes
// on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>

#include "codepage.h"
#include "e2e_support.h"
#include "launcher_builder.h"

using namespace luvrin::e2e;

namespace {

constexpr std::size_t kChannels = 5;  // 发送数据长度 4

void writeScript(const Show& show, const QString& name, const QString& script) {
  QFile f(show.driverFolder() + u'/' + name);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(luvrin::encodeGbk(u'"' + script + QStringLiteral("\"\r\n")));
}

// Watches the wire and notes when the levels change, with the time they arrived.
std::vector<std::pair<qint64, Levels>> watch(Pty& pty, std::chrono::milliseconds span) {
  std::vector<std::pair<qint64, Levels>> changes;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < span.count()) {
    const Levels now = lastFrame(pty, kChannels);
    if (!now.empty() && (changes.empty() || changes.back().second != now))
      changes.emplace_back(clock.elapsed(), now);
    // Keep the buffer small: the scan only needs the newest frames.
    if (pty.received().size() > 64 * 1024) pty.clear();
    QThread::msleep(2);
  }
  return changes;
}

}  // namespace

TEST(SceneProcess, InlineSceneLauncherPutsItsLevelsOnTheWire) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,")});
  const QString launcher = show.addLauncher(QStringLiteral("Intro"));
  ASSERT_EQ(show.run(launcher, show.environment()), 0);
  EXPECT_EQ(show.handoffValue(), QStringLiteral("Intro"));
  const Levels look{10, 20, 30, 40, 0};
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) { return countFrames(s, look) >= 10; }));
  EXPECT_TRUE(scanFrames(pty.received(), kChannels).wellFormed);
}

TEST(SceneProcess, LoopingScriptAlternatesItsLooksWithTheScriptedTiming) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog({QStringLiteral("Chase=chase.ini")});
  // Each delay of 5 holds its look for four ticks: 0.4 s.
  writeScript(show, QStringLiteral("chase.ini"),
              QStringLiteral("\r\nDMX255,000,000,000,\r\n!T000005'100mS\r\n"
                             "DMX000,255,000,000,\r\n!T000005'100mS\r\n!GT000"));
  ASSERT_EQ(show.run(show.addLauncher(QStringLiteral("Chase")), show.environment()), 0);
  const Levels a{255, 0, 0, 0, 0}, b{0, 255, 0, 0, 0};
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) { return countFrames(s, a) > 0; }));
  const auto changes = watch(pty, 4s);
  ASSERT_GE(changes.size(), 6u);
  for (std::size_t i = 1; i < changes.size(); ++i) {
    EXPECT_TRUE(changes[i].second == a || changes[i].second == b);
    EXPECT_NE(changes[i].second, changes[i - 1].second);
  }
  // Over many looks the mean hold is the scripted 0.4 s (one look's timing may wobble).
  const double mean = double(changes.back().first - changes[1].first) / double(changes.size() - 2);
  EXPECT_GT(mean, 300);
  EXPECT_LT(mean, 500);
}

TEST(SceneProcess, SecondLauncherSwitchesScenesPromptly) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog({QStringLiteral("Loop=loop.ini"), QStringLiteral("Blue=DMX000,000,200,000,"),
                     QStringLiteral("Red=DMX200,000,000,000,")});
  writeScript(show, QStringLiteral("loop.ini"),
              QStringLiteral("\r\nDMX001,001,001,001,\r\n!T000003\r\n"
                             "DMX002,002,002,002,\r\n!T000003\r\n!GT000"));
  ASSERT_EQ(show.run(show.addLauncher(QStringLiteral("Loop")), show.environment()), 0);
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) {
    return countFrames(s, Levels{1, 1, 1, 1, 0}) > 0;
  }));
  show.addLauncher(QStringLiteral("Blue"));
  show.addLauncher(QStringLiteral("Red"));
  std::vector<qint64> switches;
  for (const QString& name : {QStringLiteral("Blue"), QStringLiteral("Red"), QStringLiteral("Blue"),
                              QStringLiteral("Red")}) {
    const Levels want = name == u"Blue" ? Levels{0, 0, 200, 0, 0} : Levels{200, 0, 0, 0, 0};
    pty.clear();
    ASSERT_EQ(show.run(show.launcherFolder() + u'/' + name, show.environment()), 0);
    QElapsedTimer clock;
    clock.start();  // the hand-off value is written once the launcher has ended
    ASSERT_TRUE(pty.waitFor([&](const QByteArray&) { return lastFrame(pty, kChannels) == want; }));
    switches.push_back(clock.elapsed());
  }
  std::sort(switches.begin(), switches.end());
  // The median of four switches, so that one hiccup of a busy machine does not decide.
  EXPECT_LE(switches[1], 1000) << switches[0] << ' ' << switches[1] << ' ' << switches[3];
}

TEST(SceneProcess, GeneratedLaunchersPlayTheirScenes) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog({QStringLiteral("Intro=DMX001,002,003,004,"),
                     QStringLiteral("Intro说明=the first look"),
                     QStringLiteral("Finale=DMX250,251,252,253,")});
  // The builder copies the launcher that last started the driver: here "Intro".
  const QString intro = show.addLauncher(QStringLiteral("Intro"));
  ASSERT_EQ(show.run(intro, show.environment()), 0);
  luvrin::Form2 builder(show.driverFolder(), [] { return QStringLiteral("Intro"); });
  builder.Command2_Click();
  ASSERT_TRUE(QFile::exists(show.launcherFolder() + QStringLiteral("/Finale")));
  EXPECT_FALSE(QFile::exists(show.launcherFolder() + QStringLiteral("/Intro说明")));

  ASSERT_EQ(show.run(show.launcherFolder() + QStringLiteral("/Finale"), show.environment()), 0);
  EXPECT_EQ(show.handoffValue(), QStringLiteral("Finale"));
  ASSERT_TRUE(pty.waitFor([&](const QByteArray&) {
    return lastFrame(pty, kChannels) == Levels{250, 251, 252, 253, 0};
  }));
}

// A fresh show whose scenes keep their scripts beside the launchers, one of them named like a
// scene: the builder writes the launchers from the stub (the scene handed over has no launcher
// yet) and leaves the scripts alone, so the scene that plays a script still plays it.
TEST(SceneProcess, TheBuilderLeavesTheScriptsBesideTheLaunchersAlone) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  show.writeCatalog({QStringLiteral("演示=..\\s1.ini"), QStringLiteral("s1.ini=DMX001,"),
                     QStringLiteral("备份.ini=DMX002,")});
  const QByteArray script = "\"\r\nDMX011,022,033,044,\r\n!T000005'500mS\r\n!GT000\"\r\n";
  const QByteArray backup = luvrin::encodeGbk(QStringLiteral("\"\r\nDMX255,\r\n\"\r\n"));
  const QString scriptFile = show.launcherFolder() + QStringLiteral("/s1.ini");
  const QString backupFile = show.launcherFolder() + QStringLiteral("/备份.ini");
  for (const auto& [file, bytes] : {std::pair{scriptFile, script}, std::pair{backupFile, backup}}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  luvrin::Form2 builder(show.driverFolder(), [] { return QStringLiteral("演示"); });
  builder.Command2_Click();
  EXPECT_TRUE(builder.Label1.caption().contains(QStringLiteral("s1.ini、备份.ini")))
      << builder.Label1.caption().toStdString();
  for (const auto& [file, bytes] : {std::pair{scriptFile, script}, std::pair{backupFile, backup}}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), bytes) << file.toStdString();
  }

  ASSERT_EQ(show.run(show.launcherFolder() + QStringLiteral("/演示"), show.environment()), 0);
  EXPECT_TRUE(pty.waitFor([&](const QByteArray&) {
    return lastFrame(pty, kChannels) == Levels{11, 22, 33, 44, 0};
  }));
}
