#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include "driver_lock.h"

using namespace luvrin;

// A lock file left where ours belongs by another user, naming one of their live processes, never
// ends our driver.
TEST(DriverLock, AnotherUsersLockLetsTheDriverRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  QTemporaryDir dir;
  // A lock naming a live process that is not this one.
  QProcess sleeper;
  sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
  ASSERT_TRUE(sleeper.waitForStarted());
  QByteArrayList info;
  {
    QLockFile held(dir.filePath(QStringLiteral("held.lock")));
    ASSERT_TRUE(held.tryLock(0));
    QFile f(held.fileName());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    info = f.readAll().split('\n');
  }
  ASSERT_GE(info.size(), 3);
  info[0] = QByteArray::number(sleeper.processId());
  info[1] = "sleep";
  const QString path = dir.filePath(QStringLiteral("LUVRIN.lock"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(info.join('\n'));
  }
  QLockFile ours(path);
  EXPECT_FALSE(takeDriverLock(ours)) << "the planted lock does not stand for a live driver";

  ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
  QLockFile theirs(path);
  EXPECT_TRUE(takeDriverLock(theirs));
  sleeper.kill();
  sleeper.waitForFinished();
}

// With no runtime folder, the lock's folder in the shared temporary folder must be the user's
// own: one that another user made first (even of the same group), opened to others or turned
// into a link would let that user's file stand in for the lock, and then every driver runs.
TEST(DriverLock, TheLocksFolderIsTheUsersOwnOrTheStateFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
  struct Case {
    const char* what;
    std::function<void(const QString& folder, const QString& elsewhere)> put;
    bool inTemporary;  // else in the state folder
  };
  const auto chownTo = [](const QString& path, uid_t uid, gid_t gid) {
    ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), uid, gid), 0);
  };
  const auto folder0700 = [](const QString& path) {
    ASSERT_TRUE(QDir().mkdir(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0700), 0);
  };
  const Case cases[] = {
      {"none yet", [](const QString&, const QString&) {}, true},
      {"the user's own", [&](const QString& f, const QString&) { folder0700(f); }, true},
      {"the user's own, another group",
       [&](const QString& f, const QString&) {
         folder0700(f);
         chownTo(f, ::getuid(), 65534);
       },
       true},
      {"another user's of the same group",
       [&](const QString& f, const QString&) {
         folder0700(f);
         chownTo(f, 65534, ::getgid());
       },
       false},
      {"open to everyone",
       [&](const QString& f, const QString&) {
         folder0700(f);
         ASSERT_EQ(::chmod(QFile::encodeName(f).constData(), 0777), 0);
       },
       false},
      {"a link to a folder of the user's own",
       [&](const QString& f, const QString& elsewhere) {
         folder0700(elsewhere);
         ASSERT_TRUE(QFile::link(elsewhere, f));
       },
       false},
      {"a file",
       [](const QString& f, const QString&) {
         QFile file(f);
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
       },
       false},
  };
  const QByteArray oldTmp = qgetenv("TMPDIR"), oldRuntime = qgetenv("XDG_RUNTIME_DIR"),
                   oldState = qgetenv("XDG_STATE_HOME");
  for (const Case& c : cases) {
    QTemporaryDir tmp, state;
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    const QString folder = tmp.path() + QStringLiteral("/LUVRIN-%1").arg(::getuid());
    c.put(folder, tmp.path() + QStringLiteral("/elsewhere"));
    const QString expected = c.inTemporary ? folder + QStringLiteral("/LUVRIN.lock")
                                           : state.path() + QStringLiteral("/TALVEN/LUVRIN.lock");
    EXPECT_EQ(driverLockPath(), expected) << c.what;
    // A runtime folder that is not the user's own is passed over the same way.
    const QString runtime = tmp.path() + QStringLiteral("/runtime");
    QDir().mkdir(runtime);
    chownTo(runtime, 65534, ::getgid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    EXPECT_EQ(driverLockPath(), expected) << c.what << " (runtime folder of another user)";
  }
  const auto restore = [](const char* name, const QByteArray& value) {
    if (value.isEmpty()) {
      qunsetenv(name);
    } else {
      qputenv(name, value);
    }
  };
  restore("TMPDIR", oldTmp);
  restore("XDG_RUNTIME_DIR", oldRuntime);
  restore("XDG_STATE_HOME", oldState);
}
