// What a hand-written file's place may hold on a POSIX system: FIFOs, devices, links, files of
// gigabytes. Each is refused without waiting, and without reading more than the limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

#include "file_handoff_store.h"
#include "regular_file.h"
#include "support/fifo_watchdog.h"

namespace luvrin {
namespace {

using platform::FileRefusal;
using platform::Links;
using testing::returnsWithoutWaitingOnFifo;

constexpr qint64 kLimit = 10;

class Place {
 public:
  QString path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }
  QString file(const char* name, const QByteArray& bytes) const {
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return path(name);
  }
  QString fifo(const char* name) const {
    EXPECT_EQ(::mkfifo(QFile::encodeName(path(name)).constData(), 0600), 0);
    return path(name);
  }
  QString link(const char* name, const QString& target) const {
    EXPECT_TRUE(QFile::link(target, path(name)));
    return path(name);
  }
  QString hardLink(const char* name, const QString& target) const {
    EXPECT_EQ(
        ::link(QFile::encodeName(target).constData(), QFile::encodeName(path(name)).constData()),
        0);
    return path(name);
  }
  QString sparse(const char* name, qint64 size) const {
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size));
    return path(name);
  }

 private:
  QTemporaryDir dir_;
};

TEST(RegularFile, OnlyRegularFilesUpToTheLimitAreReadAndNothingWaits) {
  struct Case {
    const char* what;
    std::function<QString(const Place&)> make;
    Links links;
    FileRefusal refusal;
    QByteArray bytes;
  };
  const Case cases[] = {
      {"file", [](const Place& p) { return p.file("a", "0123456789"); }, Links::Follow,
       FileRefusal::None, "0123456789"},
      {"empty file", [](const Place& p) { return p.file("a", ""); }, Links::Refuse,
       FileRefusal::None, ""},
      {"one byte too many", [](const Place& p) { return p.file("a", "0123456789!"); },
       Links::Follow, FileRefusal::TooLarge, ""},
      {"2 GB sparse file", [](const Place& p) { return p.sparse("a", 2LL << 30); }, Links::Follow,
       FileRefusal::TooLarge, ""},
      {"missing", [](const Place& p) { return p.path("none"); }, Links::Follow,
       FileRefusal::Missing, ""},
      {"link to nothing", [](const Place& p) { return p.link("a", p.path("none")); }, Links::Follow,
       FileRefusal::Missing, ""},
      {"folder", [](const Place& p) { return QFileInfo(p.path("none")).absolutePath(); },
       Links::Follow, FileRefusal::NotRegular, ""},
      {"FIFO", [](const Place& p) { return p.fifo("a"); }, Links::Follow, FileRefusal::NotRegular,
       ""},
      {"link to a FIFO", [](const Place& p) { return p.link("b", p.fifo("a")); }, Links::Follow,
       FileRefusal::NotRegular, ""},
      {"link to /dev/zero", [](const Place& p) { return p.link("a", "/dev/zero"); }, Links::Follow,
       FileRefusal::NotRegular, ""},
      {"/dev/null", [](const Place&) { return QStringLiteral("/dev/null"); }, Links::Follow,
       FileRefusal::NotRegular, ""},
      {"link to a file, followed", [](const Place& p) { return p.link("b", p.file("a", "x")); },
       Links::Follow, FileRefusal::None, "x"},
      {"link to a file, where links are refused",
       [](const Place& p) { return p.link("b", p.file("a", "x")); }, Links::Refuse,
       FileRefusal::NotRegular, ""},
      {"file of its own, where shared files are refused",
       [](const Place& p) { return p.file("a", "x"); }, Links::RefuseShared, FileRefusal::None,
       "x"},
      {"link to a file, where shared files are refused",
       [](const Place& p) { return p.link("b", p.file("a", "x")); }, Links::RefuseShared,
       FileRefusal::NotRegular, ""},
      {"hard link, where shared files are refused",
       [](const Place& p) { return p.hardLink("b", p.file("a", "x")); }, Links::RefuseShared,
       FileRefusal::NotRegular, ""},
      {"hard link, where links are refused",
       [](const Place& p) { return p.hardLink("b", p.file("a", "x")); }, Links::Refuse,
       FileRefusal::None, "x"},
  };
  for (const Case& c : cases) {
    const Place place;
    const QString path = c.make(place);
    platform::RegularFileRead read;
    EXPECT_TRUE(returnsWithoutWaitingOnFifo(place.path("a"), [&] {
      read = platform::readRegularFile(path, kLimit, c.links);
    })) << c.what;
    EXPECT_EQ(read.refusal, c.refusal) << c.what;
    EXPECT_EQ(read.bytes, c.bytes) << c.what;
    EXPECT_EQ(platform::refusalMessage(path, read.refusal, kLimit).isEmpty(),
              c.refusal == FileRefusal::None || c.refusal == FileRefusal::Missing)
        << c.what;
  }
}

TEST(RegularFile, TheStampChangesWithTheContentAndTheFile) {
  const Place place;
  const QString path = place.file("a", "one");
  const auto first = platform::regularFileStamp(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(platform::readRegularFile(path, kLimit).stamp, *first);
  place.file("a", "three");  // in place: the size
  const auto rewritten = platform::regularFileStamp(path);
  ASSERT_TRUE(rewritten);
  EXPECT_NE(*rewritten, *first);
  // Replaced (as a launcher or an editor saves): the identity.
  ASSERT_EQ(std::rename(QFile::encodeName(place.file("b", "three")).constData(),
                        QFile::encodeName(path).constData()),
            0);
  const auto replaced = platform::regularFileStamp(path);
  ASSERT_TRUE(replaced);
  EXPECT_NE(replaced->index, rewritten->index);
  EXPECT_FALSE(platform::regularFileStamp(place.fifo("c")));
}

// Warnings sent while it lives.
class Warnings {
 public:
  Warnings() { previous_ = qInstallMessageHandler(&Warnings::handle); }
  ~Warnings() { qInstallMessageHandler(previous_); }
  static inline QStringList seen;

 private:
  static void handle(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg) seen << text;
  }
  QtMessageHandler previous_ = nullptr;
};

TEST(HandoffFile, AnythingButASmallRegularFileReadsAsNoValueUntilALauncherWritesOne) {
  struct Case {
    const char* what;
    std::function<void(const Place&, const QString&)> put;
  };
  const Case cases[] = {
      {"FIFO",
       [](const Place&, const QString& at) {
         ASSERT_EQ(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);
       }},
      {"link to a FIFO", [](const Place& p, const QString& at) { QFile::link(p.fifo("f"), at); }},
      {"link to /dev/zero",
       [](const Place&, const QString& at) { QFile::link(QStringLiteral("/dev/zero"), at); }},
      {"too large",
       [](const Place&, const QString& at) {
         QFile f(at);
         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         f.write("[LUVRIN]\n场景=Big\n");
         ASSERT_TRUE(f.resize(FileHandoffStore::kMaxFileBytes + 1));
       }},
      {"folder", [](const Place&, const QString& at) { QDir().mkdir(at); }},
  };
  for (const Case& c : cases) {
    const Place place;
    const QString at = place.path("LUVRIN.ini");
    c.put(place, at);
    FileHandoffStore store(at);
    Warnings warnings;
    Warnings::seen.clear();
    EXPECT_TRUE(returnsWithoutWaitingOnFifo(at, [&] {
      for (int poll = 0; poll < 3; ++poll) EXPECT_EQ(store.read(), QString()) << c.what;
    })) << c.what;
    // Polled ten times a second, it is told once.
    EXPECT_EQ(Warnings::seen.size(), 1) << c.what;
    // A launcher never writes through a link: it replaces the link. Tried on the FIFO of the
    // test's own folder only: a store that did would replace what the link points to.
    if (QFileInfo(at).isSymLink() && QFileInfo(at).symLinkTarget() == place.path("f")) {
      EXPECT_TRUE(store.write(QStringLiteral("Intro"))) << c.what;
      EXPECT_FALSE(QFileInfo(place.path("f")).isFile()) << c.what;
      EXPECT_FALSE(QFileInfo(at).isSymLink()) << c.what;
    }
    if (QFileInfo(at).isSymLink()) {
      ASSERT_TRUE(QFile::remove(at));
    }
    QDir().rmdir(at);
    // What the launcher writes is read at the next poll.
    ASSERT_TRUE(FileHandoffStore(at).write(QStringLiteral("Intro"))) << c.what;
    EXPECT_EQ(store.read(), QStringLiteral("Intro")) << c.what;
  }

  // A value that would not fit is not written.
  const Place place;
  FileHandoffStore store(place.path("LUVRIN.ini"));
  EXPECT_FALSE(store.write(QString(FileHandoffStore::kMaxFileBytes, u'场')));
  EXPECT_TRUE(store.write(QString(255, u'场')));
  EXPECT_EQ(store.read(), QString(255, u'场'));
}

// A hand-off file that someone replaced by a link (to a system file, to another user's file) is
// neither read nor written through: the driver plays nothing from it, and a launcher's write
// puts a file of its own in the link's place.
TEST(HandoffFile, ALinkInItsPlaceIsNeverReadNorWrittenThrough) {
  const QByteArray victimBytes = "[LUVRIN]\n场景=Evil\n";
  const std::pair<const char*, bool> cases[] = {{"symbolic link", false}, {"hard link", true}};
  for (const auto& [what, hard] : cases) {
    const Place place;
    const QString victim = place.file("victim", victimBytes);
    const QString at =
        hard ? place.hardLink("LUVRIN.ini", victim) : place.link("LUVRIN.ini", victim);
    FileHandoffStore store(at);
    EXPECT_EQ(store.read(), QString()) << what;
    EXPECT_TRUE(store.write(QStringLiteral("Intro"))) << what;
    EXPECT_EQ(store.read(), QStringLiteral("Intro")) << what;
    QFile f(victim);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), victimBytes) << what;
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(at).constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1) << what;
  }
}

}  // namespace
}  // namespace luvrin
