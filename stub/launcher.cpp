#include "launcher.h"

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

extern char** environ;

namespace luvrin::launcher {

namespace {

// The log's bound, as LogFile keeps it (platform/log_file.h).
constexpr off_t kMaxLogBytes = 1024 * 1024;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string fileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// "." and "x/.." taken out, repeated slashes made one, as QDir::cleanPath does.
std::string cleanPath(const std::string& path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i > 0 ? "/" : "") + parts[i];
  return out.empty() ? "." : out;
}

std::string currentFolder() {
  std::vector<char> buffer(PATH_MAX);
  return ::getcwd(buffer.data(), buffer.size()) != nullptr ? buffer.data() : "/";
}

std::string absolute(const std::string& path) {
  return cleanPath(!path.empty() && path.front() == '/' ? path : currentFolder() + "/" + path);
}

std::string folderOf(const std::string& file) {
  const std::string path = absolute(file);
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool executableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string canonical(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string out = resolved;
  std::free(resolved);
  return out;
}

}  // namespace

std::string programFile() {
  std::vector<char> buffer(PATH_MAX);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), std::size_t(n)) : std::string();
}

namespace {

// A bare name, found through PATH as the shell found it (empty entries skipped, as Qt does).
std::string findInPath(const std::string& name) {
  std::string path = environment("PATH");
  if (std::getenv("PATH") == nullptr) path = "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string folder = path.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = absolute(folder + "/" + name);
      if (executableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

std::string homeFolder() {
  const std::string home = environment("HOME");
  return home.empty() ? "/" : cleanPath(home);
}

// An XDG base folder: the variable when set (and absolute, where absoluteOnly says so), else
// the default below home.
std::string userFolder(const char* variable, const char* fallback, bool absoluteOnly) {
  const std::string set = environment(variable);
  if (!set.empty() && (!absoluteOnly || set.front() == '/')) return set;
  const std::string home = homeFolder();
  return (home == "/" ? "" : home) + fallback;
}

std::string timeStamp() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                int(now.tv_nsec / 1'000'000));
  return stamp;
}

bool makeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

}  // namespace

std::string launcherName(std::string_view argv0, std::string_view programFile) {
  const std::string name = fileName(argv0);
  return name.empty() ? fileName(programFile) : name;
}

std::string programFolder(const char* argv0) {
  const std::string exe = programFile();
  std::string started = argv0 != nullptr ? argv0 : "";
  if (!started.empty())
    started = started.find('/') != std::string::npos ? absolute(started) : findInPath(started);
  // argv0 is whatever the starter chose to pass: trust it only when it names this program.
  struct stat st {};
  const bool isFile = !started.empty() && ::stat(started.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  if (isFile && (exe.empty() || canonical(started) == canonical(exe))) return folderOf(started);
  if (!exe.empty()) return folderOf(exe);
  return started.empty() ? currentFolder() : folderOf(started);
}

std::string launcherFolder(const char* argv0) {
  const std::string started = programFolder(argv0);
  if (driverProblem(driverProgramPath(started)).empty()) return started;
  const std::string file = programFile();
  if (file.empty()) return started;
  const std::string own = folderOf(file);
  return driverProblem(driverProgramPath(own)).empty() ? own : started;
}

std::string driverFolder(const std::string& launcherFolder) {
  return (launcherFolder == "/" ? "" : launcherFolder) + "/驱动";
}

std::string driverProgramPath(const std::string& launcherFolder) {
  return driverFolder(launcherFolder) + "/LUVRIN";
}

std::string driverProblem(const std::string& driver) {
  struct stat st {};
  if (::stat(driver.c_str(), &st) != 0) return "找不到驱动程序 " + driver;
  if (!S_ISREG(st.st_mode) || ::access(driver.c_str(), X_OK) != 0)
    return "驱动程序 " + driver + " 不是可执行的文件";
  return {};
}

int startDetached(const std::string& program) {
  posix_spawnattr_t attr;
  if (const int e = ::posix_spawnattr_init(&attr); e != 0) return e;
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  // Whatever the starter ignored or blocked is not the driver's to inherit (nohup, a shell).
  ::posix_spawnattr_setsigdefault(&attr, &all);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::string argv0 = program;
  char* argv[] = {argv0.data(), nullptr};
  pid_t pid = 0;
  const int e = ::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  return e;
}

// As Qt's configuration folder: a relative $XDG_CONFIG_HOME is taken as it is, so that the
// launcher writes where the driver reads.
std::string handoffPath() {
  return userFolder("XDG_CONFIG_HOME", "/.config", false) + "/TALVEN/LUVRIN.ini";
}

std::string logPath() {
  return userFolder("XDG_STATE_HOME", "/.local/state", true) + "/TALVEN/LUVRIN.log";
}

bool appendLogLine(const std::string& path, const std::string& program, const std::string& line) {
  const std::string text = timeStamp() + program + ": " + line + "\n";
  // Only a regular file (or none yet): a FIFO or a device put there would block or swallow it.
  struct stat st {};
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return false;
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash))) return false;
  if (exists && st.st_size + off_t(text.size()) > kMaxLogBytes) {
    const std::string old = path + ".1";
    ::unlink(old.c_str());
    ::rename(path.c_str(), old.c_str());
  }
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  return ::close(fd) == 0 && written;
}

}  // namespace luvrin::launcher
