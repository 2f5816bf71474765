#pragma once

#include <signal.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace luvrin::e2e {

using namespace std::chrono_literals;
using Levels = std::vector<std::uint8_t>;

// Generous: a loaded machine may be slow, but a condition that holds is seen at once.
constexpr auto kDeadline = 15s;

// A pseudo-terminal opened by the test, raw, standing in for the serial interface. The test
// reads what the driver writes from the master side.
class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0; }
  const QString& path() const { return path_; }
  // Everything received so far (kept), after reading what is waiting.
  const QByteArray& received();
  void clear();
  // Reads until predicate(received()) holds or the deadline passes.
  bool waitFor(const std::function<bool(const QByteArray&)>& predicate,
               std::chrono::milliseconds deadline = kDeadline);
  // Bytes sent towards the driver.
  void send(const QByteArray& bytes);
  // Closes both ends: to the driver the device is gone.
  void close();

 private:
  int master_ = -1;
  int slave_ = -1;
  QString path_;
  QByteArray received_;
};

// The frames in a byte stream that begin at a header and end exactly where the next begins.
struct FrameScan {
  std::vector<Levels> frames;  // whole frames "::::DMX" + levels + "."
  bool wellFormed = true;      // every byte after the first header belongs to such a frame
};
FrameScan scanFrames(const QByteArray& stream, std::size_t levelsPerFrame);
// How many frames carrying exactly these levels the stream holds.
std::size_t countFrames(const QByteArray& stream, const Levels& levels);

// A temporary show: launcher folder with LUVRINpREG, 驱动/ with LUVRIN and its settings, and
// per-test user folders (XDG_CONFIG_HOME for the hand-off value, XDG_RUNTIME_DIR for the lock,
// XDG_STATE_HOME for the log).
class Show {
 public:
  Show();
  ~Show();

  QString launcherFolder() const { return root_.path() + QStringLiteral("/show"); }
  QString driverFolder() const { return launcherFolder() + QStringLiteral("/驱动"); }
  QString driverProgram() const { return driverFolder() + QStringLiteral("/LUVRIN"); }
  QString configHome() const { return root_.path() + QStringLiteral("/config"); }
  QString runtimeDir() const { return root_.path() + QStringLiteral("/runtime"); }
  QString stateHome() const { return root_.path() + QStringLiteral("/state"); }
  // The user's log file, as the programs write it.
  QString logText() const;
  QString path(const QString& name) const { return root_.path() + u'/' + name; }

  void writeSettings(std::initializer_list<std::pair<QString, QString>> keys) const;
  // [DMX] catalogue lines, GBK.
  void writeCatalog(std::initializer_list<QString> lines) const;
  void writeCatalog(const QStringList& lines) const;
  // A launcher in the launcher folder: a copy of LUVRINpREG, or a symbolic link to it.
  QString addLauncher(const QString& name, bool asLink = false) const;
  QString handoffValue() const;
  void setHandoffValue(const QString& value) const;

  // The environment a user session would give: no display unless the test gives one.
  QProcessEnvironment environment() const;

  // Starts LUVRIN from the driver folder; killed when the show ends.
  QProcess& startDriver(const QProcessEnvironment& env);
  QProcess& startDriver() { return startDriver(environment()); }
  // Runs a program to its end; exit code, or -1 when it did not end in time or crashed.
  int run(const QString& program, const QProcessEnvironment& env,
          std::chrono::milliseconds deadline = kDeadline);
  // The process id in the driver's lock file, 0 when there is none.
  qint64 lockOwner() const;
  // Ends every process of this show, drivers that launchers started included, also those that
  // start while it runs; returns once none has been seen for a while. The destructor calls it.
  void endAllProcesses();

 private:
  QTemporaryDir root_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

// Settings for a driver on the test's pseudo-terminal: 发送数据长度 4 (frames of five level
// bytes), a frame every 5 ms, the given status.
void writePtySettings(const Show& show, const Pty& pty, const QString& status);
// The levels of the newest whole frame on the wire, empty when there is none yet.
Levels lastFrame(Pty& pty, std::size_t levelsPerFrame);
// Processes running this show's driver program (zombies aside).
std::vector<qint64> driverProcesses(const Show& show);

bool processAlive(qint64 pid);

// A free TCP port on 127.0.0.1 for a driver's remote.
quint16 freePort();
struct Reply {
  int status = 0;  // 0: no answer, the connection was closed or timed out
  QByteArray body;
  QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};
// One request on its own connection to 127.0.0.1, sent as raw bytes: a test may send what no
// client library would.
Reply raw(quint16 port, const QByteArray& request);
// One request with Connection: close and, when there is a body, a JSON type.
Reply http(quint16 port, const QByteArray& method, const QByteArray& target,
           const QByteArray& body = {}, const QByteArray& extraHeaders = {});

// Makes this process the reaper of its orphans: a driver that a launcher started detached stays
// our descendant, so a show can find it (and kill it) by process id however late it started.
// Call once, first thing in main().
void adoptOrphans();
// Processes whose parent is this process, alive or not yet reaped.
std::vector<qint64> childProcesses();
// Polls predicate until it holds or the deadline passes.
bool waitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds deadline = kDeadline);

// A process whose standard output the test reads line by line; killed by its id at the end.
class LineProcess {
 public:
  ~LineProcess() { stop(); }
  bool start(const QString& program, const QStringList& args,
             QProcess::ProcessChannelMode mode = QProcess::ForwardedErrorChannel) {
    process_.setProcessChannelMode(mode);
    process_.start(program, args);
    return process_.waitForStarted(10000);
  }
  qint64 pid() const { return process_.processId(); }
  // Waits for a line (from those not yet consumed) that the predicate accepts.
  bool waitForLine(const std::function<bool(const QString&)>& accept,
                   std::chrono::milliseconds deadline = kDeadline) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
      while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        lines_.push_back(line);
        if (accept(line)) return true;
      }
      if (clock.elapsed() >= deadline.count()) return false;
      process_.waitForReadyRead(20);
    }
  }
  void stop() {
    if (process_.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
    process_.waitForFinished(5000);
  }
  QProcess& process() { return process_; }
  const std::vector<QString>& lines() const { return lines_; }

 private:
  QProcess process_;
  std::vector<QString> lines_;
};

}  // namespace luvrin::e2e
