// Whatever a user writes into the show's files, or however launchers are started, the driver
// keeps sending and stays alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>

#include "codepage.h"
#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

constexpr std::size_t kChannels = 5;

void writeDriverFile(const Show& show, const QString& name, const QByteArray& bytes) {
  QFile f(show.driverFolder() + u'/' + name);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

QByteArray randomBytes(qsizetype n, quint32 seed) {
  QRandomGenerator rng(seed);
  QByteArray b(n, Qt::Uninitialized);
  for (auto& c : b) c = static_cast<char>(rng.bounded(256));
  return b;
}

// Every file under the temporary root, so a test can see that nothing appeared elsewhere.
QSet<QString> filesUnder(const QString& root) {
  QSet<QString> files;
  QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) files.insert(it.next());
  return files;
}

// Hands the driver a name and waits for the given levels (or for frames to go on at all).
bool handAndSee(Show& show, Pty& pty, const QString& name, const Levels& want) {
  pty.clear();
  show.setHandoffValue(name);
  return pty.waitFor([&](const QByteArray& s) {
    const FrameScan scan = scanFrames(s, kChannels);
    return scan.frames.size() > 20 && (want.empty() || scan.frames.back() == want);
  });
}

}  // namespace

TEST(BadInput, HugeCatalogueBinaryScriptsAndBrokenTextKeepTheDriverSending) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  // 15 MB of catalogue (16 MiB is the most read) with the wanted scene at its very end, invalid
  // GBK bytes among the lines.
  QByteArray catalog = "[DMX]\r\n";
  const QByteArray filler = "Filler=DMX001,001,001,001,\xFF\xFE\x81\r\n";
  while (catalog.size() < 15 * 1000 * 1000) catalog += filler;
  catalog += "Bin=bin.ini\r\nMany=" + QByteArray(10000 * 3, 'X').replace("XXX", "DMX") +
             "\r\nManyFile=many.ini\r\nLast=DMX009,008,007,006,\r\nBroken=\x81\x30\xFF.ini\r\n";
  writeDriverFile(show, QStringLiteral("场景.ini"), catalog);
  writeDriverFile(show, QStringLiteral("bin.ini"), randomBytes(1 << 20, 7));
  QByteArray manyDmx;
  for (int i = 0; i < 10000; ++i) manyDmx += "DMX";
  writeDriverFile(show, QStringLiteral("many.ini"), "\"" + manyDmx + "\r\n!GT000\"\r\n");
  const QSet<QString> before = filesUnder(show.path(QString()));

  show.startDriver();
  ASSERT_TRUE(handAndSee(show, pty, QStringLiteral("Last"), Levels{9, 8, 7, 6, 0}));
  for (const char* name : {"Bin", "Many", "ManyFile", "Broken"}) {
    ASSERT_TRUE(handAndSee(show, pty, QString::fromLatin1(name), {})) << name;
    EXPECT_TRUE(scanFrames(pty.received(), kChannels).wellFormed) << name;
  }
  // A hand-off value of 300 characters is no file name, and no scene either.
  ASSERT_TRUE(handAndSee(show, pty, QString(300, u'场'), {}));
  ASSERT_TRUE(handAndSee(show, pty, QStringLiteral("Last"), Levels{9, 8, 7, 6, 0}));

  // The driver wrote nothing anywhere: the only new files are the hand-off value, the lock, the
  // note beside it naming the show, and the user's log.
  const QSet<QString> after = filesUnder(show.path(QString()));
  for (const QString& file : after - before)
    EXPECT_TRUE(file.endsWith(QStringLiteral("/TALVEN/LUVRIN.ini")) ||
                file.endsWith(QStringLiteral("/LUVRIN.lock")) ||
                file.endsWith(QStringLiteral("/runtime/LUVRIN.show")) ||
                file.endsWith(QStringLiteral("/state/TALVEN/LUVRIN.log")))
        << file.toStdString();
}

TEST(BadInput, FifosAndHugeFilesInTheShowNeitherHangNorEndTheDriver) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  const QString catalogue = show.driverFolder() + QStringLiteral("/场景.ini");
  const QString script = show.driverFolder() + QStringLiteral("/fifo.ini");
  ASSERT_EQ(::mkfifo(QFile::encodeName(script).constData(), 0600), 0);
  show.writeCatalog(
      {QStringLiteral("First=DMX001,002,003,004,"), QStringLiteral("Script=fifo.ini")});
  show.startDriver();
  ASSERT_TRUE(handAndSee(show, pty, QStringLiteral("First"), Levels{1, 2, 3, 4, 0}));

  // A script file, then the catalogue itself, that would never open; then a catalogue of 2 GB:
  // each is refused, and the scene that plays goes on.
  ASSERT_TRUE(handAndSee(show, pty, QStringLiteral("Script"), Levels{1, 2, 3, 4, 0}));
  ASSERT_TRUE(QFile::remove(catalogue));
  ASSERT_EQ(::mkfifo(QFile::encodeName(catalogue).constData(), 0600), 0);
  ASSERT_TRUE(handAndSee(show, pty, QStringLiteral("Second"), Levels{1, 2, 3, 4, 0}));
  ASSERT_TRUE(QFile::remove(catalogue));
  {
    QFile huge(catalogue);
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write("[DMX]\r\nThird=DMX009,009,009,009,\r\n");
    ASSERT_TRUE(huge.resize(2LL << 30));
  }
  ASSERT_TRUE(handAndSee(show, pty, QStringLiteral("Third"), Levels{1, 2, 3, 4, 0}));

  // Frames alone could come from a driver whose window hangs: a good catalogue must work.
  ASSERT_TRUE(QFile::remove(catalogue));
  show.writeCatalog({QStringLiteral("Fourth=DMX005,006,007,008,")});
  ASSERT_TRUE(handAndSee(show, pty, QStringLiteral("Fourth"), Levels{5, 6, 7, 8, 0}));

  // The user's log says what was refused.
  const QString log = show.logText();
  EXPECT_TRUE(log.contains(script + QStringLiteral(" 不是普通文件"))) << log.toStdString();
  EXPECT_TRUE(log.contains(catalogue + QStringLiteral(" 不是普通文件"))) << log.toStdString();
  EXPECT_TRUE(log.contains(catalogue + QStringLiteral(" 超过 16 MiB"))) << log.toStdString();
}

TEST(BadInput, FiftyLaunchersAtOnceLeaveOneDriverPlayingTheLastName) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  writePtySettings(show, pty, QStringLiteral("运行"));
  QString catalog;
  QStringList lines;
  for (int i = 0; i < 50; ++i) {
    const QString name = QStringLiteral("S%1").arg(i);
    show.addLauncher(name);
    lines << name + QStringLiteral("=DMX%1,000,000,000,").arg(i + 100);
  }
  QByteArray text = "[DMX]\r\n";
  for (const QString& line : lines) text += line.toLatin1() + "\r\n";
  writeDriverFile(show, QStringLiteral("场景.ini"), text);

  std::vector<std::unique_ptr<QProcess>> launchers;
  for (int i = 0; i < 50; ++i) {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(show.environment());
    p->start(show.launcherFolder() + QStringLiteral("/S%1").arg(i), {});
    launchers.push_back(std::move(p));
  }
  for (auto& p : launchers) ASSERT_TRUE(p->waitForFinished(30000));

  // One driver holds the lock; every other start ends at once (a start the last launcher made
  // may still be on its way out when the launchers are done).
  ASSERT_TRUE(waitUntil([&] { return show.lockOwner() > 0; }));
  const qint64 owner = show.lockOwner();
  EXPECT_TRUE(waitUntil([&] { return driverProcesses(show) == std::vector<qint64>{owner}; }))
      << driverProcesses(show).size() << " drivers";

  // The name that was written last is the scene on the wire.
  const QString last = show.handoffValue();
  ASSERT_TRUE(last.startsWith(u'S'));
  const int index = last.mid(1).toInt();
  const Levels want{static_cast<std::uint8_t>(index + 100), 0, 0, 0, 0};
  ASSERT_TRUE(pty.waitFor([&](const QByteArray&) { return lastFrame(pty, kChannels) == want; }));
}
