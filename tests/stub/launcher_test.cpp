#include "launcher.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "file_handoff_store.h"
#include "log_file.h"
#include "platform.h"

using namespace luvrin;

namespace {

std::string local(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Sets an environment variable for one scope ("unset" when value is null) and puts it back.
class TempEnv {
 public:
  TempEnv(const char* name, const char* value)
      : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    if (value != nullptr) {
      qputenv(name, value);
    } else {
      qunsetenv(name);
    }
  }
  ~TempEnv() {
    if (had_) {
      qputenv(name_, old_);
    } else {
      qunsetenv(name_);
    }
  }

 private:
  const char* name_;
  QByteArray old_;
  bool had_;
};

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(Launcher, NameIsTheOneItWasStartedUnder) {
  const std::string program = "/show/LUVRINpREG";
  // A symbolic link resolves to LUVRINpREG as a program file; its own name is what counts.
  const std::pair<const char*, const char*> cases[] = {
      {"/show/Intro", "Intro"},        {"./开场", "开场"}, {"Finale", "Finale"},
      {"/a/b/Act 1.exe", "Act 1.exe"}, {"", "LUVRINpREG"}, {"/show/", "LUVRINpREG"}};
  for (const auto& [argv0, name] : cases) EXPECT_EQ(launcher::launcherName(argv0, program), name);
  EXPECT_EQ(launcher::driverProgramPath("/my show"), "/my show/驱动/LUVRIN");
  EXPECT_EQ(launcher::driverFolder("/"), "/驱动");
}

// The launcher finds its folder as the Qt programs do (tests/platform/program_folder_test.cpp).
TEST(Launcher, FindsItsFolderAsTheQtProgramsDo) {
  QTemporaryDir dir;
  const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("show/sub")));
  ASSERT_TRUE(QFile::link(self, dir.path() + QStringLiteral("/show/Intro")));
  ASSERT_TRUE(QFile(dir.path() + QStringLiteral("/show/plain")).open(QIODevice::WriteOnly));
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path() + QStringLiteral("/show/sub")));
  const TempEnv path(
      "PATH",
      local(QStringLiteral("/nonexistent::") + dir.path() + QStringLiteral("/show")).c_str());
  const std::string link = local(dir.path() + QStringLiteral("/show/Intro"));
  for (const char* argv0 :
       {link.c_str(), "../Intro", "./../../show/Intro", "Intro", "/bin/sh", "../plain",
        "NoSuchProgramAnywhere", "", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(argv0 != nullptr ? argv0 : "(null)");
    EXPECT_EQ(launcher::programFolder(argv0), local(platform::programFolder(argv0)));
  }
  QDir::setCurrent(before);
  EXPECT_EQ(launcher::programFolder(link.c_str()), local(dir.path() + QStringLiteral("/show")));
}

TEST(Launcher, WritesWhereTheDriverReadsAndLogs) {
  QTemporaryDir dir;
  const std::string home = local(dir.path());
  const std::string relative = "relative/place";
  const std::string absolute = home + "/elsewhere";
  const TempEnv homeVar("HOME", home.c_str());
  for (const char* set :
       {static_cast<const char*>(nullptr), "", relative.c_str(), absolute.c_str()}) {
    SCOPED_TRACE(set != nullptr ? set : "(unset)");
    const TempEnv config("XDG_CONFIG_HOME", set);
    const TempEnv state("XDG_STATE_HOME", set);
    EXPECT_EQ(launcher::handoffPath(), local(FileHandoffStore::defaultPath()));
    EXPECT_EQ(launcher::logPath(), local(LogFile::defaultPath()));
  }
}

TEST(Launcher, LogLinesReadAsTheProgramsOwn) {
  QTemporaryDir dir;
  const QString path = dir.path() + QStringLiteral("/TALVEN/LUVRIN.log");
  { LogFile(path, QStringLiteral("LUVRINpREG")).write(QStringLiteral("驱动 一")); }
  ASSERT_TRUE(launcher::appendLogLine(local(path), "LUVRINpREG", "驱动 二"));
  const QStringList lines = QString::fromUtf8(fileBytes(path)).split(u'\n');
  ASSERT_EQ(lines.size(), 3) << lines.join(u'|').toStdString();
  const QRegularExpression form(
      QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} LUVRINpREG: 驱动 .$"));
  for (int i = 0; i < 2; ++i)
    EXPECT_TRUE(form.match(lines[i]).hasMatch()) << lines[i].toStdString();

  // Past the bound the log turns over, as LogFile's does; never through a link.
  ASSERT_TRUE(QFile::resize(path, LogFile::kMaxBytes - 8));
  ASSERT_TRUE(launcher::appendLogLine(local(path), "LUVRINpREG", "新的"));
  EXPECT_EQ(QFileInfo(path + QStringLiteral(".1")).size(), LogFile::kMaxBytes - 8);
  EXPECT_TRUE(fileBytes(path).endsWith("LUVRINpREG: 新的\n"));
  const QString target = dir.path() + QStringLiteral("/target");
  ASSERT_TRUE(QFile(target).open(QIODevice::WriteOnly));
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::link(target, path));
  EXPECT_FALSE(launcher::appendLogLine(local(path), "LUVRINpREG", "x"));
  EXPECT_EQ(QFileInfo(target).size(), 0);
}

TEST(Launcher, SaysWhyADriverCannotStart) {
  QTemporaryDir dir;
  const QString plain = dir.path() + QStringLiteral("/plain");
  ASSERT_TRUE(QFile(plain).open(QIODevice::WriteOnly));
  const QString program = dir.path() + QStringLiteral("/program");
  ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/true"), program));
  const std::pair<QString, const char*> cases[] = {{dir.path() + QStringLiteral("/none"), "找不到"},
                                                   {plain, "不是可执行的文件"},
                                                   {dir.path(), "不是可执行的文件"},
                                                   {program, ""}};
  for (const auto& [path, why] : cases) {
    const std::string problem = launcher::driverProblem(local(path));
    EXPECT_EQ(problem.empty(), *why == '\0') << problem;
    EXPECT_NE(problem.find(why), std::string::npos) << problem;
  }
  EXPECT_EQ(launcher::startDetached(local(dir.path() + QStringLiteral("/none"))), ENOENT);
}
