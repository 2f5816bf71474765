#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <utility>
#include <vector>

#include "platform.h"
#include "regular_file.h"

namespace luvrin::platform {

qint64 pendingOutputBytes(qintptr handle) {
  if (handle < 0) return 0;
  int queued = 0;
  if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

// The kernel's high-resolution timers wake within microseconds.
qint64 timerWakeSlackNs() { return 0; }

bool windowsConventions() { return false; }

QByteArray windowPlatforms() {
  const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
  if (!chosen.isEmpty()) return chosen.contains("offscreen") ? chosen : chosen + ";offscreen";
  const bool x = !qEnvironmentVariableIsEmpty("DISPLAY");
  const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  // Qt itself prefers Wayland only in a Wayland session; keep that order.
  const bool waylandSession = qgetenv("XDG_SESSION_TYPE") == "wayland";
  QByteArray list;
  if (wayland && (waylandSession || !x)) list += "wayland;";
  if (x) list += "xcb;";
  if (wayland && x && !waylandSession) list += "wayland;";
  return list + "offscreen";
}

QString programFolder(const char* argv0) {
  const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
  QString started = argv0 != nullptr ? QString::fromLocal8Bit(argv0) : QString();
  if (!started.isEmpty()) {
    // A bare name was found through PATH, as the shell found it.
    started = started.contains(u'/') ? QDir::current().absoluteFilePath(started)
                                     : QStandardPaths::findExecutable(started);
  }
  // argv0 is whatever the starter chose to pass: trust it only when it names this program.
  if (!started.isEmpty() && QFileInfo(started).isFile() &&
      (exe.isEmpty() ||
       QFileInfo(started).canonicalFilePath() == QFileInfo(exe).canonicalFilePath()))
    return QFileInfo(started).absolutePath();
  if (!exe.isEmpty()) return QFileInfo(exe).absolutePath();
  return QFileInfo(started).absolutePath();
}

std::unique_ptr<QObject> watchUserRegistryKey(const QString&, std::function<void()>) {
  return nullptr;
}

QString userLogFolder() {
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QStringLiteral("/TALVEN");
}

QString userFixtureFolder() {
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/share");
  return base + QStringLiteral("/TALVEN/灯库");
}

// Debian's package of open fixture definitions puts them here.
QString installedFixtureFolder(const QString&) {
  return QStringLiteral("/usr/share/qlcplus/fixtures");
}

QString userKey() { return QString::number(::getuid()); }

bool ownPrivateFolder(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) return false;
  // Judged by what is there, not by what was asked: another user may have made it first.
  struct stat st {};
  return ::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

bool ownedByAnotherUser(const QString& path) {
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
  return st.st_uid != ::getuid();
}

namespace {

// The write ends of the pipes the signal handlers write to; the only things they may touch.
// One pair for the end request, one for the raise request.
int endPipe[2] = {-1, -1};
int raisePipe[2] = {-1, -1};

void handleEndSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(endPipe[1], &byte, 1);
  errno = saved;
}

void handleRaiseSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(raisePipe[1], &byte, 1);
  errno = saved;
}

// Hears a pipe on the program's thread, so the request runs as a handler like any other.
class SignalListener final : public QObject {
 public:
  SignalListener(int pipe, std::vector<int> numbers, std::function<void()> fn)
      : pipe_(pipe),
        numbers_(std::move(numbers)),
        notifier_(pipe, QSocketNotifier::Read),
        fn_(std::move(fn)) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, this, [this] {
      char buffer[16];
      while (::read(pipe_, buffer, sizeof buffer) > 0) {
      }
      if (fn_) fn_();
    });
  }
  ~SignalListener() override {
    for (const int sig : numbers_) std::signal(sig, SIG_DFL);
  }

 private:
  int pipe_;
  std::vector<int> numbers_;
  QSocketNotifier notifier_;
  std::function<void()> fn_;
};

std::unique_ptr<QObject> listenForSignals(int (&pipe)[2], void (*handler)(int),
                                          std::vector<int> numbers, std::function<void()> fn) {
  if (pipe[0] < 0) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pipe) != 0)
      return nullptr;
  }
  auto listener = std::make_unique<SignalListener>(pipe[0], numbers, std::move(fn));
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int sig : numbers) ::sigaction(sig, &action, nullptr);
  return listener;
}

}  // namespace

void ignoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

std::unique_ptr<QObject> onTerminationRequest(std::function<void()> onSignal) {
  return listenForSignals(endPipe, &handleEndSignal, {SIGTERM, SIGINT, SIGHUP},
                          std::move(onSignal));
}

std::unique_ptr<QObject> onRaiseRequest(std::function<void()> onRequest) {
  return listenForSignals(raisePipe, &handleRaiseSignal, {SIGUSR1}, std::move(onRequest));
}

bool requestEnd(qint64 processId) {
  return processId > 0 && ::kill(static_cast<pid_t>(processId), SIGTERM) == 0;
}

bool forceEnd(qint64 processId) {
  return processId > 0 && ::kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

// The window system decides about the foreground; the running driver asks for it itself.
bool requestRaise(qint64 processId) {
  return processId > 0 && ::kill(static_cast<pid_t>(processId), SIGUSR1) == 0;
}

QDateTime userRegistryKeyWrittenAt(const QString&) { return {}; }

void showErrorBox(const QString&, const QString&) {}

namespace {

qint64 nanoseconds(const timespec& t) { return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

FileStamp stampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.volume = static_cast<quint64>(st.st_dev);
  stamp.index = static_cast<quint64>(st.st_ino);
  stamp.size = static_cast<qint64>(st.st_size);
  stamp.modifiedNs = nanoseconds(st.st_mtim);
  stamp.changedNs = nanoseconds(st.st_ctim);
  return stamp;
}

QFileDevice::Permissions permissionsOf(mode_t mode) {
  QFileDevice::Permissions p;
  const std::pair<mode_t, QFileDevice::Permission> bits[] = {
      {S_IRUSR, QFileDevice::ReadOwner},  {S_IWUSR, QFileDevice::WriteOwner},
      {S_IXUSR, QFileDevice::ExeOwner},   {S_IRGRP, QFileDevice::ReadGroup},
      {S_IWGRP, QFileDevice::WriteGroup}, {S_IXGRP, QFileDevice::ExeGroup},
      {S_IROTH, QFileDevice::ReadOther},  {S_IWOTH, QFileDevice::WriteOther},
      {S_IXOTH, QFileDevice::ExeOther}};
  for (const auto& [bit, permission] : bits)
    if ((mode & bit) != 0) p |= permission;
  return p;
}

FileRefusal refusalOfErrno(int error) {
  return (error == ENOENT || error == ENOTDIR) ? FileRefusal::Missing : FileRefusal::Unreadable;
}

}  // namespace

OpenedFile openRegularFile(const QString& path, QFile& file, Links links) {
  OpenedFile result;
  const QByteArray name = QFile::encodeName(path);
  // The type first: a device is not even opened (opening a serial line raises its control
  // lines), and a FIFO's open would wait for a writer.
  struct stat before {};
  const bool follow = links == Links::Follow;
  const int statResult =
      follow ? ::stat(name.constData(), &before) : ::lstat(name.constData(), &before);
  if (statResult != 0) {
    result.refusal = refusalOfErrno(errno);
    result.error = qt_error_string(errno);
    return result;
  }
  if (!S_ISREG(before.st_mode)) {
    result.refusal = FileRefusal::NotRegular;
    return result;
  }
  // Whatever the name holds by the time it is opened, the open does not wait, and what was
  // opened is checked again.
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  if (!follow) flags |= O_NOFOLLOW;
  int fd = -1;
  do {
    fd = ::open(name.constData(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    if (error == ELOOP || error == ENXIO) {
      result.refusal = FileRefusal::NotRegular;
    } else {
      result.refusal = refusalOfErrno(error);
      result.error = qt_error_string(error);
    }
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      (links == Links::RefuseShared && st.st_nlink != 1)) {
    ::close(fd);
    result.refusal = FileRefusal::NotRegular;
    return result;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    result.refusal = FileRefusal::Unreadable;
    result.error = file.errorString();
    return result;
  }
  result.stamp = stampOf(st);
  result.permissions = permissionsOf(st.st_mode);
  return result;
}

bool replaceFile(const QString& from, const QString& to) {
  const QByteArray source = QFile::encodeName(from);
  const int fd = ::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  // rename() replaces the name itself, never what a link at that name points to.
  return synced && ::rename(source.constData(), QFile::encodeName(to).constData()) == 0;
}

std::optional<FileStamp> regularFileStamp(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  return stampOf(st);
}

}  // namespace luvrin::platform
