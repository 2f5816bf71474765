#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>

#include "codepage.h"
#include "file_handoff_store.h"

namespace luvrin::e2e {

namespace {

constexpr QByteArrayView kHeader = "::::DMX";

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

// Hard link where possible (the program must see its own folder, so no symbolic link), else copy.
void placeProgram(const QString& from, const QString& to) {
  if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
    QFile::copy(from, to);
}

}  // namespace

Pty::Pty() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  for (int fd : {master_, slave_}) {
    // Programs the test starts must not inherit either end, or the device could never go away.
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  path_ = QString::fromLocal8Bit(name);
}

Pty::~Pty() { close(); }

void Pty::close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  master_ = slave_ = -1;
}

const QByteArray& Pty::received() {
  if (master_ < 0) return received_;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) break;
    received_.append(buf, n);
  }
  return received_;
}

void Pty::clear() {
  received();
  received_.clear();
}

bool Pty::waitFor(const std::function<bool(const QByteArray&)>& predicate,
                  std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (predicate(received())) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    if (master_ >= 0) {
      pollfd p{master_, POLLIN, 0};
      ::poll(&p, 1, 20);
    } else {
      QThread::msleep(20);
    }
  }
}

void Pty::send(const QByteArray& bytes) {
  if (master_ >= 0) (void)!::write(master_, bytes.constData(), static_cast<size_t>(bytes.size()));
}

FrameScan scanFrames(const QByteArray& stream, std::size_t levelsPerFrame) {
  FrameScan scan;
  qsizetype pos = stream.indexOf(kHeader);
  if (pos < 0) return scan;
  const qsizetype frameSize = kHeader.size() + static_cast<qsizetype>(levelsPerFrame) + 1;
  while (pos + frameSize <= stream.size()) {
    if (QByteArrayView(stream).sliced(pos, kHeader.size()) != kHeader ||
        stream.at(pos + frameSize - 1) != '.') {
      scan.wellFormed = false;
      return scan;
    }
    const auto* data =
        reinterpret_cast<const std::uint8_t*>(stream.constData() + pos + kHeader.size());
    scan.frames.emplace_back(data, data + levelsPerFrame);
    pos += frameSize;
  }
  // What is left is the beginning of a frame still on its way.
  const QByteArrayView rest = QByteArrayView(stream).sliced(pos);
  if (!QByteArrayView(kHeader).startsWith(rest.first(std::min(rest.size(), kHeader.size()))))
    scan.wellFormed = false;
  return scan;
}

std::size_t countFrames(const QByteArray& stream, const Levels& levels) {
  QByteArray wanted(kHeader.data(), kHeader.size());
  wanted.append(reinterpret_cast<const char*>(levels.data()),
                static_cast<qsizetype>(levels.size()));
  wanted.append('.');
  return static_cast<std::size_t>(stream.count(wanted));
}

Show::Show() {
  QDir().mkpath(driverFolder());
  QDir().mkpath(configHome());
  QDir().mkpath(runtimeDir());
  QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  placeProgram(QStringLiteral(LUVRIN_EXE), driverProgram());
  placeProgram(QStringLiteral(LUVRINPREG_EXE), launcherFolder() + QStringLiteral("/LUVRINpREG"));
}

Show::~Show() { endAllProcesses(); }

void Show::endAllProcesses() {
  // Asked to end first, as a service manager would: a driver then gives its port back, and with
  // it the port's lock file. What is still there after a while is killed below.
  for (auto& p : processes_) {
    if (p->state() != QProcess::NotRunning) {
      p->terminate();
      if (!p->waitForFinished(3000)) p->kill();
      p->waitForFinished(5000);
    }
  }
  // Drivers that launchers started are orphans adopted by this process (adoptOrphans()). Only
  // processes that carry this show's folders are ours to end: another show may still be running.
  const QByteArray mark = QFile::encodeName(root_.path());
  const auto ours = [&](qint64 pid) {
    QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
    if (environ.open(QIODevice::ReadOnly) && environ.readAll().contains(mark)) return true;
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid))
        .symLinkTarget()
        .startsWith(root_.path());
  };
  // A launcher that ended may have left a start on its way: keep looking until a quiet spell.
  std::vector<qint64> asked;
  for (const qint64 pid : childProcesses())
    if (processAlive(pid) && ours(pid)) asked.push_back(pid);
  if (const qint64 pid = lockOwner(); pid > 0 && processAlive(pid)) asked.push_back(pid);
  for (const qint64 pid : asked) ::kill(static_cast<pid_t>(pid), SIGTERM);
  const auto askedUntil = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < askedUntil &&
         std::any_of(asked.begin(), asked.end(), [](qint64 pid) { return processAlive(pid); })) {
    for (const qint64 pid : asked) ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
    QThread::msleep(20);
  }
  const auto quietFor = 300ms;
  const auto giveUp = std::chrono::steady_clock::now() + kDeadline;
  auto quietSince = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - quietSince < quietFor &&
         std::chrono::steady_clock::now() < giveUp) {
    bool found = false;
    for (const qint64 pid : childProcesses()) {
      // An ended child is harmless; it may be another QProcess's to reap.
      if (!processAlive(pid) || !ours(pid)) continue;
      found = true;
      ::kill(static_cast<pid_t>(pid), SIGKILL);
      ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
    }
    if (const qint64 pid = lockOwner(); pid > 0 && processAlive(pid)) {
      // Not our child (started outside this process), but it holds this show's lock.
      ::kill(static_cast<pid_t>(pid), SIGKILL);
      found = true;
    }
    if (found) quietSince = std::chrono::steady_clock::now();
    QThread::msleep(20);
  }
}

void Show::writeSettings(std::initializer_list<std::pair<QString, QString>> keys) const {
  QString text = QStringLiteral("[串口配置]\r\n");
  for (const auto& [key, value] : keys) text += key + u'=' + value + QStringLiteral("\r\n");
  writeFile(driverFolder() + QStringLiteral("/串口配置.ini"), encodeGbk(text));
}

void Show::writeCatalog(std::initializer_list<QString> lines) const {
  writeCatalog(QStringList(lines));
}

void Show::writeCatalog(const QStringList& lines) const {
  QString text = QStringLiteral("[DMX]\r\n");
  for (const QString& line : lines) text += line + QStringLiteral("\r\n");
  writeFile(driverFolder() + QStringLiteral("/场景.ini"), encodeGbk(text));
}

QString Show::addLauncher(const QString& name, bool asLink) const {
  const QString target = launcherFolder() + u'/' + name;
  if (asLink) {
    QFile::link(QStringLiteral("LUVRINpREG"), target);
  } else {
    QFile::copy(launcherFolder() + QStringLiteral("/LUVRINpREG"), target);
  }
  return target;
}

QString Show::handoffValue() const {
  return FileHandoffStore(configHome() + QStringLiteral("/TALVEN/LUVRIN.ini")).read();
}

void Show::setHandoffValue(const QString& value) const {
  FileHandoffStore(configHome() + QStringLiteral("/TALVEN/LUVRIN.ini")).write(value);
}

QString Show::logText() const {
  QFile f(stateHome() + QStringLiteral("/TALVEN/LUVRIN.log"));
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QProcessEnvironment Show::environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
  env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome());
  env.remove(QStringLiteral("DISPLAY"));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  env.remove(QStringLiteral("QT_QPA_PLATFORM"));
  return env;
}

QProcess& Show::startDriver(const QProcessEnvironment& env) {
  auto p = std::make_unique<QProcess>();
  p->setProcessEnvironment(env);
  p->setProcessChannelMode(QProcess::ForwardedChannels);
  p->start(driverProgram(), {});
  p->waitForStarted(10000);
  processes_.push_back(std::move(p));
  return *processes_.back();
}

int Show::run(const QString& program, const QProcessEnvironment& env,
              std::chrono::milliseconds deadline) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::ForwardedChannels);
  p.start(program, {});
  if (!p.waitForFinished(static_cast<int>(deadline.count()))) {
    p.kill();
    p.waitForFinished(5000);
    return -1;
  }
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

qint64 Show::lockOwner() const {
  QFile f(runtimeDir() + QStringLiteral("/LUVRIN.lock"));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  return f.readLine().trimmed().toLongLong();
}

void writePtySettings(const Show& show, const Pty& pty, const QString& status) {
  show.writeSettings({{QStringLiteral("端口"), pty.path()},
                      {QStringLiteral("发送数据长度"), QStringLiteral("4")},
                      {QStringLiteral("发送定时器时间"), QStringLiteral("5")},
                      {QStringLiteral("状态"), status}});
}

Levels lastFrame(Pty& pty, std::size_t levelsPerFrame) {
  const FrameScan scan = scanFrames(pty.received(), levelsPerFrame);
  return scan.frames.empty() ? Levels{} : scan.frames.back();
}

std::vector<qint64> driverProcesses(const Show& show) {
  std::vector<qint64> pids;
  const QString program = QFileInfo(show.driverProgram()).canonicalFilePath();
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool number = false;
    const qint64 pid = entry.toLongLong(&number);
    if (!number) continue;
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (exe == program && processAlive(pid)) pids.push_back(pid);
  }
  return pids;
}

bool waitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QThread::msleep(20);
  }
  return true;
}

void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1L, 0L, 0L, 0L); }

std::vector<qint64> childProcesses() {
  std::vector<qint64> pids;
  const qint64 self = ::getpid();
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool number = false;
    const qint64 pid = entry.toLongLong(&number);
    if (!number) continue;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (rest.size() > 1 && rest.at(1).toLongLong() == self) pids.push_back(pid);
  }
  return pids;
}

bool processAlive(qint64 pid) {
  if (pid <= 0) return false;
  // A zombie (ended, not yet reaped) counts as ended.
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return false;
  const QByteArray line = stat.readAll();
  const qsizetype close = line.lastIndexOf(')');
  return close > 0 && close + 2 < line.size() && line.at(close + 2) != 'Z';
}

quint16 freePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

Reply raw(quint16 port, const QByteArray& request) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  if (!socket.waitForConnected(5000)) return {};
  socket.write(request);
  QByteArray received;
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  // Whole once the header and as many bytes as it announces are in, or when the driver closes.
  const auto whole = [&] {
    const qsizetype split = received.indexOf("\r\n\r\n");
    if (split < 0) return false;
    const QByteArray head = received.left(split).toLower();
    const qsizetype at = head.indexOf("content-length:");
    const qsizetype length =
        at < 0 ? 0 : head.mid(at + 15).split('\r').first().trimmed().toLongLong();
    return received.size() >= split + 4 + length;
  };
  while (socket.state() == QAbstractSocket::ConnectedState && !whole() &&
         std::chrono::steady_clock::now() < end) {
    if (socket.waitForReadyRead(100)) received += socket.readAll();
  }
  received += socket.readAll();
  const qsizetype split = received.indexOf("\r\n\r\n");
  if (!received.startsWith("HTTP/1.1 ") || split < 0) return {};
  return {received.mid(9, 3).toInt(), received.mid(split + 4)};
}

Reply http(quint16 port, const QByteArray& method, const QByteArray& target, const QByteArray& body,
           const QByteArray& extraHeaders) {
  const QByteArray type = body.isEmpty() ? QByteArray() : "Content-Type: application/json\r\n";
  return raw(port, method + ' ' + target +
                       " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                       "\r\nConnection: close\r\n" + type + extraHeaders +
                       "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

}  // namespace luvrin::e2e
