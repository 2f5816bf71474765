// The outputs other than the serial box against real peers: olad from the ola package read back
// through OLA's own client, and the sACN and Art-Net packets as tshark's dissectors read them.
// Everything the tests start is ended by process id; nothing is sent beyond the loopback address.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <optional>

#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

quint16 freeTcpPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

bool acceptsConnections(quint16 port) {
  QTcpSocket s;
  s.connectToHost(QHostAddress::LocalHost, port);
  return s.waitForConnected(200);
}

// Settings for a driver whose 端口 is an output: four channels, a frame every 25 ms, no window.
void writeOutputSettings(const Show& show, const QString& port) {
  show.writeSettings({{QStringLiteral("发送定时器时间"), QStringLiteral("25")},
                      {QStringLiteral("端口"), port},
                      {QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  show.writeCatalog(
      {QStringLiteral("Intro=DMX010,020,030,040,"), QStringLiteral("Warm=DMX200,100,050,025,")});
}

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

// olad from Debian's ola package with its own configuration folder and RPC port. It refuses to
// run as root, so it runs as the olad user the package made. Every plugin is switched off: the
// test wants the daemon's universes, and nothing of it on the network.
class Olad {
 public:
  static QString program() { return QStandardPaths::findExecutable(QStringLiteral("olad")); }

  // Why olad cannot run here, or nullopt.
  static std::optional<QString> unavailable() {
    if (program().isEmpty()) return QStringLiteral("olad is not installed (Debian package ola)");
    if (::geteuid() != 0) return QStringLiteral("starting olad as the olad user needs root");
    if (!::getpwnam("olad"))
      return QStringLiteral("the olad user (made by package ola) is missing");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
      return QStringLiteral("setpriv (util-linux) is missing");
    return std::nullopt;
  }

  explicit Olad(quint16 rpcPort) : port_(rpcPort) {
    const passwd* user = ::getpwnam("olad");
    uid_ = user->pw_uid;
    gid_ = user->pw_gid;
    // olad must reach its folder through ours.
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
    config_ = dir_.path() + QStringLiteral("/ola");
    QDir().mkpath(config_);
    for (const char* plugin : {"artnet",
                               "dummy",
                               "e131",
                               "espnet",
                               "ftdidmx",
                               "gpio",
                               "karate",
                               "kinet",
                               "milinst",
                               "opendmx",
                               "openpixelcontrol",
                               "osc",
                               "pathport",
                               "renard",
                               "sandnet",
                               "shownet",
                               "spi",
                               "stageprofi",
                               "uartdmx",
                               "usbdmx",
                               "usbserial"}) {
      QFile conf(config_ + QStringLiteral("/ola-%1.conf").arg(QLatin1String(plugin)));
      if (conf.open(QIODevice::WriteOnly)) conf.write("enabled = false\n");
    }
    chownTree(config_);
  }
  ~Olad() { stop(); }

  quint16 port() const { return port_; }

  // Starts olad and waits until its RPC port takes connections.
  bool start() {
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=%1").arg(uid_), QStringLiteral("--regid=%1").arg(gid_),
                     QStringLiteral("--clear-groups"), program(), QStringLiteral("--config-dir"),
                     config_, QStringLiteral("--rpc-port"), QString::number(port_),
                     QStringLiteral("--no-http"), QStringLiteral("--no-register-with-dns-sd"),
                     QStringLiteral("--log-level"), QStringLiteral("1")});
    if (!process_->waitForStarted(10000)) return false;
    return waitUntil(
        [&] { return process_->state() == QProcess::Running && acceptsConnections(port_); });
  }
  // The daemon dies at once, as in a crash: no goodbye to its clients.
  void kill() {
    if (!process_ || process_->state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(process_->processId()), SIGKILL);
    process_->waitForFinished(5000);
  }
  void stop() { kill(); }

 private:
  void chownTree(const QString& path) {
    (void)!::chown(QFile::encodeName(path).constData(), uid_, gid_);
    for (const QString& name : QDir(path).entryList(QDir::Files))
      (void)!::chown(QFile::encodeName(path + u'/' + name).constData(), uid_, gid_);
  }

  QTemporaryDir dir_;
  QString config_;
  quint16 port_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  std::unique_ptr<QProcess> process_;
};

QString python3() {
  return QStandardPaths::findExecutable(QStringLiteral("python3"), {"/usr/bin"});
}

bool olaPythonInstalled() {
  QProcess p;
  p.start(python3(), {QStringLiteral("-c"), QStringLiteral("import ola.OlaClient")});
  return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// OLA's Python client reading one universe of the olad on the port; it follows olad restarts.
bool startReader(LineProcess& reader, quint16 port) {
  return reader.start(python3(),
                      {QStringLiteral(OLA_READER), QString::number(port), QStringLiteral("1")});
}

auto levelsLine(const char* levels) {
  return [want = QStringLiteral("levels %1").arg(QLatin1String(levels))](const QString& line) {
    return line == want;
  };
}

}  // namespace

TEST(OlaOutputEndToEnd, ScenesReachTheUniverseAndComeBackWithin2sAfterOladRestarts) {
  if (const auto why = Olad::unavailable()) GTEST_SKIP() << why->toStdString();
  if (!olaPythonInstalled())
    GTEST_SKIP() << "OLA's Python client (Debian package ola-python) is missing";

  Olad olad(freeTcpPort());
  Show show;
  writeOutputSettings(show, QStringLiteral("ola:1@127.0.0.1:%1").arg(olad.port()));
  show.setHandoffValue(QStringLiteral("Intro"));
  // The driver comes first: olad not running yet must not stop it.
  QProcess& driver = show.startDriver();
  ASSERT_TRUE(waitUntil([&] { return show.lockOwner() == driver.processId(); }));

  ASSERT_TRUE(olad.start());
  LineProcess reader;
  ASSERT_TRUE(startReader(reader, olad.port()));
  ASSERT_TRUE(reader.waitForLine(levelsLine("10 20 30 40 0")));

  show.setHandoffValue(QStringLiteral("Warm"));
  ASSERT_TRUE(reader.waitForLine(levelsLine("200 100 50 25 0")));

  olad.kill();
  ASSERT_TRUE(reader.waitForLine([](const QString& l) { return l == u"disconnected"; }));
  // The driver notices at its next frame; give it a few, then olad comes back.
  waitUntil([] { return false; }, 300ms);
  EXPECT_EQ(driver.state(), QProcess::Running);
  show.setHandoffValue(QStringLiteral("Intro"));

  QElapsedTimer sinceBack;
  ASSERT_TRUE(olad.start());
  sinceBack.start();
  ASSERT_TRUE(reader.waitForLine(levelsLine("10 20 30 40 0")));
  EXPECT_LE(sinceBack.elapsed(), 2000) << "levels took " << sinceBack.elapsed() << " ms";
  EXPECT_EQ(driver.state(), QProcess::Running);
  EXPECT_EQ(show.lockOwner(), driver.processId());
}

TEST(OutputsEndToEnd, MalformedOutputIsOneLineOnStderrAndTheDriverRunsOn) {
  Show show;
  writeOutputSettings(show, QStringLiteral("artnet:1@nohost"));
  LineProcess driver;
  driver.process().setProcessEnvironment(show.environment());
  ASSERT_TRUE(driver.start(show.driverProgram(), {}, QProcess::MergedChannels));
  ASSERT_TRUE(waitUntil([&] { return show.lockOwner() == driver.pid(); }));
  ASSERT_TRUE(driver.waitForLine([](const QString&) { return true; }));
  // Anything more it would say comes now.
  EXPECT_FALSE(driver.waitForLine([](const QString&) { return true; }, 1s));
  ASSERT_EQ(driver.lines().size(), 1u);
  EXPECT_TRUE(driver.lines().front().contains(QStringLiteral("端口 \"artnet:1@nohost\"")))
      << driver.lines().front().toStdString();
  EXPECT_EQ(driver.process().state(), QProcess::Running);
}
