// The outputs other than the serial box against real peers: olad from the ola package read back
// through OLA's own client, and the sACN and Art-Net packets as tshark's dissectors read them.
// Everything the tests start is ended by process id; nothing is sent beyond the loopback address.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <algorithm>
#include <optional>

#include "artnet_packet.h"
#include "e131_packet.h"
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

// Settings for a driver whose 端口 is an output: a frame every 25 ms, no window, frames of
// length + 1 levels (the scenes set the first four).
void writeOutputSettings(const Show& show, const QString& port, int length = 4) {
  show.writeSettings({{QStringLiteral("发送定时器时间"), QStringLiteral("25")},
                      {QStringLiteral("端口"), port},
                      {QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("发送数据长度"), QString::number(length)}});
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

  // netns: run inside that network namespace; receiveOn: the address whose interface olad's
  // E1.31 and Art-Net plugins bind to (otherwise every plugin is off).
  explicit Olad(quint16 rpcPort, QString netns = {}, const QString& receiveOn = {})
      : port_(rpcPort), netns_(std::move(netns)) {
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
      const QString name = QLatin1String(plugin);
      const bool receiver = !receiveOn.isEmpty() && (name == u"e131" || name == u"artnet");
      QFile conf(config_ + QStringLiteral("/ola-%1.conf").arg(name));
      if (!conf.open(QIODevice::WriteOnly)) continue;
      conf.write(receiver ? "enabled = true\nip = " + receiveOn.toLatin1() + "\n"
                          : QByteArray("enabled = false\n"));
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
    const QStringList olad = {QStringLiteral("--reuid=%1").arg(uid_),
                              QStringLiteral("--regid=%1").arg(gid_),
                              QStringLiteral("--clear-groups"),
                              program(),
                              QStringLiteral("--config-dir"),
                              config_,
                              QStringLiteral("--rpc-port"),
                              QString::number(port_),
                              QStringLiteral("--no-http"),
                              QStringLiteral("--no-register-with-dns-sd"),
                              QStringLiteral("--log-level"),
                              QStringLiteral("1")};
    // Each of ip and setpriv replaces itself by the next program: the process is olad's.
    if (netns_.isEmpty())
      process_->start(QStringLiteral("setpriv"), olad);
    else
      process_->start(QStringLiteral("ip"),
                      QStringList{QStringLiteral("netns"), QStringLiteral("exec"), netns_,
                                  QStringLiteral("setpriv")} +
                          olad);
    if (!process_->waitForStarted(10000)) return false;
    if (!netns_.isEmpty()) return process_->state() == QProcess::Running;
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
  QString netns_;
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
  // The scene stays as it is: the driver finds olad gone and back by itself.
  waitUntil([] { return false; }, 300ms);
  EXPECT_EQ(driver.state(), QProcess::Running);

  QElapsedTimer sinceBack;
  ASSERT_TRUE(olad.start());
  sinceBack.start();
  ASSERT_TRUE(reader.waitForLine(levelsLine("200 100 50 25 0")));
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

namespace {

// tshark capturing on the loopback interface into a file of the test's.
class Capture {
 public:
  static QString program() { return QStandardPaths::findExecutable(QStringLiteral("tshark")); }
  static std::optional<QString> unavailable() {
    if (program().isEmpty())
      return QStringLiteral("tshark is not installed (Debian package tshark)");
    if (::geteuid() != 0) return QStringLiteral("capturing on the loopback interface needs root");
    return std::nullopt;
  }

  QString file() const { return dir_.path() + QStringLiteral("/capture.pcapng"); }

  bool start(const QString& filter) {
    if (!process_.start(program(),
                        {QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-f"), filter,
                         QStringLiteral("-w"), file(), QStringLiteral("-q")},
                        QProcess::MergedChannels))
      return false;
    return process_.waitForLine([](const QString& l) { return l.startsWith(u"Capturing on"); });
  }
  // Ends the capture the way a user does, so the file is complete.
  void stop() {
    if (process_.process().state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(process_.pid()), SIGINT);
    if (!process_.process().waitForFinished(15000)) process_.stop();
  }
  // The capture as tshark's dissectors read it.
  QStringList read(const QStringList& args) const {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program(), QStringList{QStringLiteral("-r"), file()} + args);
    if (!p.waitForFinished(60000)) {
      p.kill();
      p.waitForFinished(5000);
      return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
  }
  ~Capture() { stop(); }

 private:
  QTemporaryDir dir_;
  LineProcess process_;
};

// Every number after a colon in a dissector's table of levels ("001-005:  10  20 | 30 ...").
Levels tableLevels(const QString& text) {
  Levels levels;
  for (const QString& row : text.split(u',')) {
    const auto colon = row.indexOf(u':');
    if (colon < 0) continue;
    for (const QString& cell : row.mid(colon + 1).split(u' ', Qt::SkipEmptyParts))
      if (cell != u"|") levels.push_back(static_cast<std::uint8_t>(cell.toUInt()));
  }
  return levels;
}

// Waits until the receiver on the port has seen `count` packets whose levels start with `look`.
bool receive(QUdpSocket& socket, const Levels& look, int count, bool sacn) {
  int seen = 0;
  return waitUntil([&] {
    while (socket.hasPendingDatagrams()) {
      QByteArray d(static_cast<qsizetype>(socket.pendingDatagramSize()), 0);
      socket.readDatagram(d.data(), d.size());
      const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(d.data()),
                                                static_cast<std::size_t>(d.size()));
      Levels levels;
      if (sacn) {
        if (auto p = luvrin::e131::parseDataPacket(bytes)) levels = p->levels;
      } else if (auto p = luvrin::artnet::parseDmxPacket(bytes)) {
        levels = p->levels;
      }
      if (levels.size() >= look.size() && std::equal(look.begin(), look.end(), levels.begin()))
        ++seen;
    }
    if (seen >= count) return true;
    socket.waitForReadyRead(20);
    return seen >= count;
  });
}

const Levels kIntro{10, 20, 30, 40, 0};
const Levels kWarm{200, 100, 50, 25, 0};

// A scene, then a switch to another, with the capture running throughout.
void playSceneAndSwitch(Show& show, Capture& capture, quint16 port, bool sacn) {
  QUdpSocket receiver;
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, port, QUdpSocket::ShareAddress));
  show.setHandoffValue(QStringLiteral("Intro"));
  show.startDriver();
  ASSERT_TRUE(receive(receiver, kIntro, 10, sacn));
  show.setHandoffValue(QStringLiteral("Warm"));
  ASSERT_TRUE(receive(receiver, kWarm, 10, sacn));
  capture.stop();
  show.endAllProcesses();
}

// The looks in the order they were sent, each once: zeros before the scene, then the scenes.
std::vector<Levels> looksInOrder(const std::vector<Levels>& packets) {
  std::vector<Levels> looks;
  for (const Levels& l : packets)
    if (looks.empty() || looks.back() != l) looks.push_back(l);
  return looks;
}

}  // namespace

TEST(NetworkOutputEndToEnd, SacnPacketsAsTsharkReadsThemForASceneAndASwitch) {
  if (const auto why = Capture::unavailable()) GTEST_SKIP() << why->toStdString();
  Show show;
  // tshark's E1.31 dissector reads fewer than 20 levels as a malformed packet, though the
  // standard allows any number from 1; the frames here carry 25.
  writeOutputSettings(show, QStringLiteral("sacn:1@127.0.0.1"), 24);
  Capture capture;
  ASSERT_TRUE(capture.start(QStringLiteral("udp port 5568")));
  playSceneAndSwitch(show, capture, 5568, true);

  // The E1.31 dissector is heuristic and off by default; its levels are asked for in decimal.
  const QStringList rows = capture.read({QStringLiteral("--enable-heuristic"),
                                         QStringLiteral("acn"),
                                         QStringLiteral("-o"),
                                         QStringLiteral("acn.dmx_enable:TRUE"),
                                         QStringLiteral("-o"),
                                         QStringLiteral("acn.dmx_display_view:Decimal"),
                                         QStringLiteral("-o"),
                                         QStringLiteral("acn.dmx_display_zeros:TRUE"),
                                         QStringLiteral("-Y"),
                                         QStringLiteral("acn"),
                                         QStringLiteral("-T"),
                                         QStringLiteral("fields"),
                                         QStringLiteral("-E"),
                                         QStringLiteral("separator=/t"),
                                         QStringLiteral("-e"),
                                         QStringLiteral("acn.dmx.universe"),
                                         QStringLiteral("-e"),
                                         QStringLiteral("acn.dmx.seq_number"),
                                         QStringLiteral("-e"),
                                         QStringLiteral("acn.dmx.priority"),
                                         QStringLiteral("-e"),
                                         QStringLiteral("acn.dmx.source_name"),
                                         QStringLiteral("-e"),
                                         QStringLiteral("acn.cid"),
                                         QStringLiteral("-e"),
                                         QStringLiteral("acn.dmx.count"),
                                         QStringLiteral("-e"),
                                         QStringLiteral("acn.dmx.data")});
  // The receiver saw ten of each look; the capture may lack the last few it had not written.
  ASSERT_GE(rows.size(), 15) << "packets the dissector read";

  std::vector<Levels> packets;
  std::optional<int> sequence;
  const QString cid = rows.front().split(u'\t').value(4);
  EXPECT_FALSE(cid.isEmpty());
  for (const QString& row : rows) {
    const QStringList f = row.split(u'\t');
    ASSERT_EQ(f.size(), 7) << row.toStdString();
    EXPECT_EQ(f[0], u"1");
    EXPECT_EQ(f[2], u"100");
    EXPECT_EQ(f[3], u"LUVRIN");
    EXPECT_EQ(f[4], cid);
    EXPECT_EQ(f[5], u"26");  // start code and 25 slots
    const int s = f[1].toInt();
    if (sequence) {
      EXPECT_EQ(s, (*sequence + 1) % 256) << "sequence numbers run without gaps";
    }
    sequence = s;
    const Levels levels = tableLevels(f[6]);
    EXPECT_EQ(levels.size(), 25u);
    packets.push_back(
        Levels(levels.begin(), levels.begin() + std::min<std::size_t>(5, levels.size())));
  }
  const std::vector<Levels> looks = looksInOrder(packets);
  ASSERT_GE(looks.size(), 2u) << rows.back().toStdString();
  EXPECT_EQ(looks[looks.size() - 2], kIntro);
  EXPECT_EQ(looks.back(), kWarm);
  EXPECT_LE(looks.size(), 3u) << "only zeros, the scene and the next scene went out";
}

TEST(NetworkOutputEndToEnd, ArtNetPacketsAsTsharkReadsThemForASceneAndASwitch) {
  if (const auto why = Capture::unavailable()) GTEST_SKIP() << why->toStdString();
  Show show;
  writeOutputSettings(show, QStringLiteral("artnet:1@127.0.0.1"));
  Capture capture;
  ASSERT_TRUE(capture.start(QStringLiteral("udp port 6454")));
  playSceneAndSwitch(show, capture, 6454, false);

  const QStringList lines =
      capture.read({QStringLiteral("-Y"), QStringLiteral("artnet"), QStringLiteral("-o"),
                    QStringLiteral("dmx_chan.dmx_disp_chan_val_type:Decimal"), QStringLiteral("-O"),
                    QStringLiteral("artnet,dmx_chan"), QStringLiteral("-V")});
  // One block per packet: its ArtDMX fields, then its levels under "DMX Channels".
  struct Packet {
    QMap<QString, QString> fields;
    Levels levels;
  };
  std::vector<Packet> packets;
  bool inLevels = false;
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (line.startsWith(u"Art-Net,")) {
      packets.emplace_back();
      inLevels = false;
    } else if (packets.empty()) {
      continue;
    } else if (line == u"DMX Channels") {
      inLevels = true;
    } else if (inLevels && line.startsWith(u"0x")) {
      const Levels row = tableLevels(line);
      packets.back().levels.insert(packets.back().levels.end(), row.begin(), row.end());
    } else if (const auto colon = line.indexOf(u": "); colon > 0 && !inLevels) {
      packets.back().fields.insert(line.left(colon), line.mid(colon + 2));
    }
  }
  ASSERT_GE(packets.size(), 15u);

  std::optional<int> sequence;
  std::vector<Levels> levels;
  for (const Packet& p : packets) {
    EXPECT_EQ(p.fields.value(QStringLiteral("OpCode")), QStringLiteral("ArtDMX (0x5000)"));
    EXPECT_EQ(p.fields.value(QStringLiteral("ProtVer")), u"14");
    EXPECT_EQ(p.fields.value(QStringLiteral("Universe")), u"1");
    EXPECT_EQ(p.fields.value(QStringLiteral("Physical")), u"0");
    EXPECT_EQ(p.fields.value(QStringLiteral("Length")), u"6");  // five levels, padded to even
    const int s = p.fields.value(QStringLiteral("Sequence")).toInt();
    EXPECT_NE(s, 0);
    if (sequence) {
      EXPECT_EQ(s, *sequence == 255 ? 1 : *sequence + 1);
    }
    sequence = s;
    levels.push_back(
        Levels(p.levels.begin(), p.levels.begin() + std::min<std::size_t>(5, p.levels.size())));
  }
  const std::vector<Levels> looks = looksInOrder(levels);
  ASSERT_GE(looks.size(), 2u);
  EXPECT_EQ(looks[looks.size() - 2], kIntro);
  EXPECT_EQ(looks.back(), kWarm);
  EXPECT_LE(looks.size(), 3u);
}

namespace {

// A network namespace of the test's own with a veth pair whose two ends both stay inside it:
// olad's network plugins skip the loopback interface, and whatever is sent in here stays here.
class Netns {
 public:
  static std::optional<QString> unavailable() {
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
      return QStringLiteral("ip (package iproute2) is missing");
    if (::geteuid() != 0) return QStringLiteral("making a network namespace needs root");
    return std::nullopt;
  }

  Netns() : name_(QStringLiteral("luvrin-e2e-%1").arg(QCoreApplication::applicationPid())) {
    ok_ = ip({QStringLiteral("netns"), QStringLiteral("add"), name_});
    for (const QString& step :
         {QStringLiteral("link set lo up"), QStringLiteral("link add v0 type veth peer name v1"),
          QStringLiteral("addr add %1/24 dev v0").arg(address()), QStringLiteral("link set v0 up"),
          QStringLiteral("link set v1 up"), QStringLiteral("route add default dev v0")})
      ok_ = ok_ && ip(QStringList{QStringLiteral("-n"), name_} + step.split(u' '));
  }
  ~Netns() { ip({QStringLiteral("netns"), QStringLiteral("del"), name_}); }

  bool ok() const { return ok_; }
  const QString& name() const { return name_; }
  static QString address() { return QStringLiteral("10.77.0.1"); }
  static QString broadcast() { return QStringLiteral("10.77.0.255"); }
  // The arguments of ip that run a command inside.
  QStringList exec(const QStringList& command) const {
    return QStringList{QStringLiteral("netns"), QStringLiteral("exec"), name_} + command;
  }
  // Runs a command inside to its end: exit code (-1: did not end), its output in out.
  int run(const QStringList& command, QString* out = nullptr) const {
    QProcess p;
    p.start(QStringLiteral("ip"), exec(command));
    if (!p.waitForFinished(20000)) {
      p.kill();
      p.waitForFinished(5000);
      return -1;
    }
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  }

 private:
  static bool ip(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  }

  QString name_;
  bool ok_ = false;
};

QString deviceId(const QString& devices, const QString& kind) {
  for (const QString& line : devices.split(u'\n')) {
    if (!line.startsWith(QStringLiteral("Device ")) || !line.contains(kind)) continue;
    return line.mid(7, line.indexOf(u':') - 7);
  }
  return {};
}

auto levelsFrom(const char* levels) {
  return [want = QStringLiteral("levels %1").arg(QLatin1String(levels))](const QString& line) {
    return line == want || line.startsWith(want + u' ');
  };
}

}  // namespace

TEST(NetworkOutputEndToEnd, OladReceivesSacnAndArtNetWithItsOwnPlugins) {
  if (const auto why = Olad::unavailable()) GTEST_SKIP() << why->toStdString();
  if (const auto why = Netns::unavailable()) GTEST_SKIP() << why->toStdString();
  if (!olaPythonInstalled())
    GTEST_SKIP() << "OLA's Python client (Debian package ola-python) is missing";

  Netns ns;
  ASSERT_TRUE(ns.ok()) << "network namespace " << ns.name().toStdString();
  // The namespace has its own loopback, so olad's usual RPC port is free there.
  Olad olad(9010, ns.name(), Netns::address());
  ASSERT_TRUE(olad.start());
  QString devices;
  ASSERT_TRUE(waitUntil([&] {
    return ns.run({QStringLiteral("ola_dev_info")}, &devices) == 0 &&
           !deviceId(devices, QStringLiteral("E1.31")).isEmpty() &&
           !deviceId(devices, QStringLiteral("ArtNet")).isEmpty();
  })) << devices.toStdString();
  // Input port 0 of each plugin feeds a universe of olad: E1.31 universe 1 to 1, Art-Net
  // port-address 2 to 2.
  for (const auto& [kind, universe] :
       {std::pair{QStringLiteral("E1.31"), 1}, std::pair{QStringLiteral("ArtNet"), 2}})
    ASSERT_EQ(
        ns.run({QStringLiteral("ola_patch"), QStringLiteral("--device"), deviceId(devices, kind),
                QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--universe"),
                QString::number(universe), QStringLiteral("--input")}),
        0)
        << kind.toStdString();

  // sACN multicast to the universe's group, Art-Net broadcast on the namespace's network.
  for (const auto& [port, universe] :
       {std::pair{QStringLiteral("sacn:1"), 1},
        std::pair{QStringLiteral("artnet:2@%1").arg(Netns::broadcast()), 2}}) {
    SCOPED_TRACE(port.toStdString());
    Show show;
    writeOutputSettings(show, port);
    show.setHandoffValue(QStringLiteral("Intro"));
    LineProcess reader;
    ASSERT_TRUE(reader.start(QStringLiteral("ip"),
                             ns.exec({python3(), QStringLiteral(OLA_READER),
                                      QString::number(olad.port()), QString::number(universe)})));
    LineProcess driver;
    driver.process().setProcessEnvironment(show.environment());
    ASSERT_TRUE(driver.start(QStringLiteral("ip"), ns.exec({show.driverProgram()})));
    EXPECT_TRUE(reader.waitForLine(levelsFrom("10 20 30 40 0")));
    show.setHandoffValue(QStringLiteral("Warm"));
    EXPECT_TRUE(reader.waitForLine(levelsFrom("200 100 50 25 0")));
    driver.stop();
    show.endAllProcesses();
  }
}

namespace {

quint16 freeUdpPort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::LocalHost, 0);
  return probe.localPort();
}

}  // namespace

// dmxmon as the network node of the demo: it prints the scene's levels once a second.
TEST(NetworkOutputEndToEnd, DmxmonShowsTheLevelsOfItsUniverseOnly) {
  for (const auto& [protocol, levels] :
       {std::pair{QStringLiteral("sacn"), QStringLiteral(" 010 020 030 040 000")},
        std::pair{QStringLiteral("artnet"), QStringLiteral(" 010 020 030 040 000 000")}}) {
    SCOPED_TRACE(protocol.toStdString());
    const quint16 port = freeUdpPort();
    LineProcess dmxmon;
    ASSERT_TRUE(dmxmon.start(QStringLiteral(DMXMON_EXE),
                             {QStringLiteral("--%1").arg(protocol), QStringLiteral("7"),
                              QStringLiteral("--udp-port"), QString::number(port)}));
    ASSERT_TRUE(dmxmon.waitForLine([&](const QString& l) { return l.startsWith(protocol); }));

    // A driver on another universe is not counted; then one on dmxmon's universe is.
    Show other;
    writeOutputSettings(other, QStringLiteral("%1:8@127.0.0.1:%2").arg(protocol).arg(port));
    other.setHandoffValue(QStringLiteral("Warm"));
    QProcess& driver = other.startDriver();
    ASSERT_TRUE(waitUntil([&] { return other.lockOwner() == driver.processId(); }));
    dmxmon.waitForLine([](const QString&) { return false; }, 2500ms);  // two reports at least
    ASSERT_FALSE(dmxmon.lines().empty());
    EXPECT_TRUE(dmxmon.lines().back().startsWith(u"fps 0 len 0"))
        << dmxmon.lines().back().toStdString();
    other.endAllProcesses();

    Show show;
    writeOutputSettings(show, QStringLiteral("%1:7@127.0.0.1:%2").arg(protocol).arg(port));
    show.setHandoffValue(QStringLiteral("Intro"));
    show.startDriver();
    EXPECT_TRUE(dmxmon.waitForLine([&](const QString& l) {
      return !l.startsWith(u"fps 0 ") && l.endsWith(QStringLiteral(" levels") + levels);
    })) << (dmxmon.lines().empty() ? std::string() : dmxmon.lines().back().toStdString());
    show.endAllProcesses();
  }
}
