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
#include <map>
#include <optional>
#include <set>
#include <tuple>

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

TEST(OlaOutputEndToEnd, ScenesReachTheUniverseAndComeBackAfterOladRestarts) {
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
  // How soon is the unit tests' business, on virtual time; a loaded machine only shows it here.
  RecordProperty("levels_back_ms", static_cast<int>(sinceBack.elapsed()));
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

  // inside: the command that runs tshark somewhere else (in a network namespace).
  bool start(const QString& filter, const QString& interface = QStringLiteral("lo"),
             QStringList inside = {}) {
    const QStringList args = {program(), QStringLiteral("-i"), interface, QStringLiteral("-f"),
                              filter, QStringLiteral("-w"), file(),
                              // A short line a packet as it comes, for waitLive.
                              QStringLiteral("-P"), QStringLiteral("-l"), QStringLiteral("-T"),
                              QStringLiteral("fields"), QStringLiteral("-e"),
                              QStringLiteral("udp.dstport"), QStringLiteral("-e"),
                              QStringLiteral("udp.length")};
    inside += args;
    if (!process_.start(inside.takeFirst(), inside, QProcess::MergedChannels)) return false;
    return process_.waitForLine([](const QString& l) { return l.startsWith(u"Capturing on"); });
  }
  // Waits until the capture takes packets: it says "Capturing on" some time before it does.
  // Probes go to the port on the loopback address until one shows up in the capture's summary;
  // they are no sACN or Art-Net packet.
  bool waitLive(quint16 port) {
    QUdpSocket probe;
    const QString seen = QStringLiteral("%1\t13").arg(port);  // 8 bytes of header and "probe"
    return waitUntil([&] {
      probe.writeDatagram(QByteArray("probe"), QHostAddress::LocalHost, port);
      return process_.waitForLine([&](const QString& l) { return l == seen; }, 100ms);
    });
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

quint16 freeUdpPort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::LocalHost, 0);
  return probe.localPort();
}

// A show whose frames fill two universes: 发送数据长度 600, so 601 levels a frame, 512 in the
// first universe and 89 in the second. Its scenes are script files: a catalogue value holds
// at most 2047 bytes, and a frame line of 600 channels is 2403.
struct WideLook {
  QString scene;
  std::map<int, int> levels;  // channel slot (0: channel 1) to level; the rest are 0
};
const WideLook kWideA{QStringLiteral("WideA"),
                      {{0, 10}, {1, 20}, {2, 30}, {3, 40}, {511, 51}, {512, 61}}};
const WideLook kWideB{QStringLiteral("WideB"),
                      {{0, 200}, {1, 100}, {2, 50}, {3, 25}, {511, 52}, {512, 62}}};
const WideLook kWideZeros{QStringLiteral("zeros"), {}};
constexpr int kWideLength = 600;
// A level in every slot of a 600-channel script, each universe's different from its neighbours'.
const WideLook kWideFull{QStringLiteral("WideFull"), [] {
                           std::map<int, int> levels;
                           for (int k = 0; k < kWideLength; ++k) levels[k] = (k * 7 + 3) % 256;
                           return levels;
                         }()};

// What universe i (0: the first) of a look carries; Art-Net pads it to an even length.
Levels wideLevels(const WideLook& look, int i, bool padded = false) {
  Levels levels(i == 0 ? 512 : kWideLength + 1 - 512, 0);
  if (padded && levels.size() % 2 != 0) levels.push_back(0);
  for (const auto& [slot, level] : look.levels)
    if (slot / 512 == i)
      levels[static_cast<std::size_t>(slot % 512)] = static_cast<std::uint8_t>(level);
  return levels;
}

void writeWideShow(const Show& show, const QString& port,
                   std::initializer_list<const WideLook*> looks = {&kWideA, &kWideB}) {
  show.writeSettings({{QStringLiteral("发送定时器时间"), QStringLiteral("25")},
                      {QStringLiteral("端口"), port},
                      {QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("发送数据长度"), QString::number(kWideLength)}});
  QStringList catalog;
  for (const WideLook* look : looks) {
    QString line = QStringLiteral("DMX");
    for (int k = 0; k < kWideLength; ++k)
      line += QStringLiteral("%1,").arg(look->levels.count(k) ? look->levels.at(k) : 0, 3, 10,
                                        QLatin1Char('0'));
    const QString file = look->scene + QStringLiteral(".ini");
    QFile script(show.driverFolder() + u'/' + file);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write((u'"' + line + QStringLiteral("\"\r\n")).toLatin1());
    catalog << look->scene + u'=' + file;
  }
  show.writeCatalog(catalog);
}

// One of the driver's packets: universe (port-address), sequence number, levels.
struct Packet {
  std::uint32_t universe = 0;
  int sequence = 0;
  Levels levels;
};

std::optional<Packet> parsePacket(const QByteArray& d, bool sacn) {
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(d.data()),
                                            static_cast<std::size_t>(d.size()));
  if (sacn) {
    if (auto p = luvrin::e131::parseDataPacket(bytes))
      return Packet{p->universe, p->sequence, p->levels};
  } else if (auto p = luvrin::artnet::parseDmxPacket(bytes)) {
    return Packet{p->portAddress, p->sequence, p->levels};
  }
  return std::nullopt;
}

// Waits until the receiver has seen `count` packets of the look in each of the two universes.
bool receiveWide(QUdpSocket& socket, const WideLook& look, std::uint32_t first, bool sacn,
                 int count = 10) {
  int seen[2] = {0, 0};
  return waitUntil([&] {
    while (socket.hasPendingDatagrams()) {
      QByteArray d(static_cast<qsizetype>(socket.pendingDatagramSize()), 0);
      socket.readDatagram(d.data(), d.size());
      const auto p = parsePacket(d, sacn);
      if (!p || p->universe < first || p->universe > first + 1) continue;
      const int i = static_cast<int>(p->universe - first);
      seen[i] += p->levels == wideLevels(look, i, !sacn);
    }
    if (seen[0] >= count && seen[1] >= count) return true;
    socket.waitForReadyRead(20);
    return false;
  });
}

// The wide show on the port: zeros, the first look, then a switch to the second, with the capture
// running throughout. Each look is held for a while, so the capture holds each whatever it loses
// at its start and end.
void playWideSceneAndSwitch(Show& show, Capture& capture, QUdpSocket& receiver, quint16 port,
                            bool sacn) {
  ASSERT_TRUE(capture.waitLive(port));
  show.startDriver();
  ASSERT_TRUE(receiveWide(receiver, kWideZeros, 1, sacn));
  show.setHandoffValue(kWideA.scene);
  ASSERT_TRUE(receiveWide(receiver, kWideA, 1, sacn, 20));
  show.setHandoffValue(kWideB.scene);
  ASSERT_TRUE(receiveWide(receiver, kWideB, 1, sacn, 20));
  capture.stop();
  show.endAllProcesses();
}

// The driver's packets as captured, in the order they were sent, judged: every frame is universe
// 1 then universe 2 with the same look; each universe's sequence runs on without a gap; the
// looks are zeros (before the scene), the first scene, the second, in that order.
void judgeWide(const std::vector<Packet>& packets, bool sacn) {
  ASSERT_FALSE(packets.empty()) << "no packet the dissector read";
  const WideLook* looks[] = {&kWideZeros, &kWideA, &kWideB};
  std::vector<int> lookOf;
  std::optional<int> sequence[2];
  for (std::size_t k = 0; k < packets.size(); ++k) {
    const Packet& p = packets[k];
    const int i = static_cast<int>(k % 2);
    SCOPED_TRACE(k);
    ASSERT_EQ(p.universe, 1u + static_cast<std::uint32_t>(i)) << "universe 1, then 2";
    int look = -1;
    for (int l = 0; l < 3; ++l)
      if (p.levels == wideLevels(*looks[l], i, !sacn)) look = l;
    ASSERT_GE(look, 0) << "levels of no look, " << p.levels.size() << " of them";
    if (i == 1) {
      EXPECT_EQ(look, lookOf.back()) << "both universes of a frame carry one look";
    } else if (lookOf.empty() || lookOf.back() != look) {
      lookOf.push_back(look);
    }
    if (sequence[i]) {
      const int next =
          sacn ? (*sequence[i] + 1) % 256 : (*sequence[i] == 255 ? 1 : *sequence[i] + 1);
      EXPECT_EQ(p.sequence, next) << "universe " << i + 1 << ": the sequence runs without gaps";
    }
    sequence[i] = p.sequence;
  }
  ASSERT_GE(lookOf.size(), 2u);
  EXPECT_EQ(lookOf[lookOf.size() - 2], 1);
  EXPECT_EQ(lookOf.back(), 2);
  EXPECT_LE(lookOf.size(), 3u) << "only zeros, the scene and the next scene went out";
}

// The identifier the show's driver will send, planted in its per-user folder.
const QString kTestCid = QStringLiteral("5e7a1c0d-9b42-4f6e-8a31-c2d4e6f80a17");

void plantCid(const Show& show) {
  QDir().mkpath(show.configHome() + QStringLiteral("/TALVEN"));
  QFile cid(show.configHome() + QStringLiteral("/TALVEN/LUVRIN-sACN-CID.txt"));
  ASSERT_TRUE(cid.open(QIODevice::WriteOnly));
  cid.write(kTestCid.toLatin1() + '\n');
}

// tshark's reading of sACN packets from the test's driver: the fields asked for, a row a packet.
QStringList readSacn(const Capture& capture, const QStringList& fields) {
  QStringList args = {QStringLiteral("--enable-heuristic"),
                      QStringLiteral("acn"),
                      QStringLiteral("-o"),
                      QStringLiteral("acn.dmx_enable:TRUE"),
                      QStringLiteral("-o"),
                      QStringLiteral("acn.dmx_display_view:Decimal"),
                      QStringLiteral("-o"),
                      QStringLiteral("acn.dmx_display_zeros:TRUE"),
                      QStringLiteral("-Y"),
                      QStringLiteral("acn.cid == %1").arg(kTestCid),
                      QStringLiteral("-T"),
                      QStringLiteral("fields"),
                      QStringLiteral("-E"),
                      QStringLiteral("separator=/t")};
  for (const QString& f : fields) args << QStringLiteral("-e") << f;
  return capture.read(args);
}

}  // namespace

// To a port of the test's own on the loopback address, so nothing else on the machine (another
// test, another LUVRIN) adds to or takes from the capture; sACN is also told apart by its CID.
TEST(NetworkOutputEndToEnd, SacnPacketsAsTsharkReadsThemForAWideSceneAndASwitch) {
  if (const auto why = Capture::unavailable()) GTEST_SKIP() << why->toStdString();
  Show show;
  const quint16 port = freeUdpPort();
  ASSERT_NO_FATAL_FAILURE(writeWideShow(show, QStringLiteral("sacn:1@127.0.0.1:%1").arg(port)));
  ASSERT_NO_FATAL_FAILURE(plantCid(show));
  QUdpSocket receiver;
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, port));
  Capture capture;
  ASSERT_TRUE(capture.start(QStringLiteral("udp dst port %1").arg(port)));
  ASSERT_NO_FATAL_FAILURE(playWideSceneAndSwitch(show, capture, receiver, port, true));

  // The E1.31 dissector is heuristic and off by default; its levels are asked for in decimal.
  const QStringList rows =
      readSacn(capture, {QStringLiteral("acn.dmx.universe"), QStringLiteral("acn.dmx.seq_number"),
                         QStringLiteral("acn.dmx.priority"), QStringLiteral("acn.dmx.source_name"),
                         QStringLiteral("acn.dmx.count"), QStringLiteral("acn.dmx.data")});
  std::vector<Packet> packets;
  for (const QString& row : rows) {
    const QStringList f = row.split(u'\t');
    ASSERT_EQ(f.size(), 6) << row.toStdString();
    EXPECT_EQ(f[2], u"100");
    EXPECT_EQ(f[3], u"LUVRIN");
    Packet p{f[0].toUInt(), f[1].toInt(), tableLevels(f[5])};
    EXPECT_EQ(f[4].toULongLong(), p.levels.size() + 1) << "start code and the levels";
    packets.push_back(std::move(p));
  }
  judgeWide(packets, true);
}

TEST(NetworkOutputEndToEnd, ArtNetPacketsAsTsharkReadsThemForAWideSceneAndASwitch) {
  if (const auto why = Capture::unavailable()) GTEST_SKIP() << why->toStdString();
  Show show;
  const quint16 port = freeUdpPort();
  ASSERT_NO_FATAL_FAILURE(writeWideShow(show, QStringLiteral("artnet:1@127.0.0.1:%1").arg(port)));
  QUdpSocket receiver;
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, port));
  Capture capture;
  ASSERT_TRUE(capture.start(QStringLiteral("udp dst port %1").arg(port)));
  ASSERT_NO_FATAL_FAILURE(playWideSceneAndSwitch(show, capture, receiver, port, false));

  // The Art-Net dissector knows port 6454 only: this port is named to it.
  const QStringList lines =
      capture.read({QStringLiteral("-d"), QStringLiteral("udp.port==%1,artnet").arg(port),
                    QStringLiteral("-Y"), QStringLiteral("artnet"), QStringLiteral("-o"),
                    QStringLiteral("dmx_chan.dmx_disp_chan_val_type:Decimal"), QStringLiteral("-O"),
                    QStringLiteral("artnet,dmx_chan"), QStringLiteral("-V")});
  // One block per packet: its ArtDMX fields, then its levels under "DMX Channels".
  struct Block {
    QMap<QString, QString> fields;
    Levels levels;
  };
  std::vector<Block> blocks;
  bool inLevels = false;
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (line.startsWith(u"Art-Net,")) {
      blocks.emplace_back();
      inLevels = false;
    } else if (blocks.empty()) {
      continue;
    } else if (line == u"DMX Channels") {
      inLevels = true;
    } else if (inLevels && line.startsWith(u"0x")) {
      const Levels row = tableLevels(line);
      blocks.back().levels.insert(blocks.back().levels.end(), row.begin(), row.end());
    } else if (const auto colon = line.indexOf(u": "); colon > 0 && !inLevels) {
      blocks.back().fields.insert(line.left(colon), line.mid(colon + 2));
    }
  }
  std::vector<Packet> packets;
  for (const Block& b : blocks) {
    EXPECT_EQ(b.fields.value(QStringLiteral("OpCode")), QStringLiteral("ArtDMX (0x5000)"));
    EXPECT_EQ(b.fields.value(QStringLiteral("ProtVer")), u"14");
    EXPECT_EQ(b.fields.value(QStringLiteral("Physical")), u"0");
    EXPECT_EQ(b.fields.value(QStringLiteral("Length")).toULongLong(), b.levels.size());
    EXPECT_NE(b.fields.value(QStringLiteral("Sequence")).toInt(), 0);
    packets.push_back({b.fields.value(QStringLiteral("Universe")).toUInt(),
                       b.fields.value(QStringLiteral("Sequence")).toInt(), b.levels});
  }
  judgeWide(packets, false);
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

}  // namespace

// Every universe of a wide frame reaches olad, by its own E1.31 and Art-Net plugins and by its
// client, and is read back from olad: each universe first shows the first scene, then the next.
TEST(NetworkOutputEndToEnd, OladReceivesBothUniversesOfAWideFrameBySacnArtNetAndItsClient) {
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
  // Input ports 0 and 1 of each plugin feed universes of olad: E1.31 universes 1 and 2 to 1 and
  // 2, Art-Net port-addresses 3 and 4 to 3 and 4.
  for (const auto& [kind, first] :
       {std::pair{QStringLiteral("E1.31"), 1}, std::pair{QStringLiteral("ArtNet"), 3}})
    for (int port = 0; port < 2; ++port)
      ASSERT_EQ(
          ns.run({QStringLiteral("ola_patch"), QStringLiteral("--device"), deviceId(devices, kind),
                  QStringLiteral("--port"), QString::number(port), QStringLiteral("--universe"),
                  QString::number(first + port), QStringLiteral("--input")}),
          0)
          << kind.toStdString() << " port " << port;

  // sACN multicast to each universe's group, Art-Net broadcast on the namespace's network, and
  // olad's client.
  struct Route {
    QString port;
    int first;
    bool padded;
  };
  for (const Route& route : {Route{QStringLiteral("sacn:1"), 1, false},
                             Route{QStringLiteral("artnet:3@%1").arg(Netns::broadcast()), 3, true},
                             Route{QStringLiteral("ola:5"), 5, false}}) {
    SCOPED_TRACE(route.port.toStdString());
    Show show;
    ASSERT_NO_FATAL_FAILURE(writeWideShow(show, route.port));
    ASSERT_NO_FATAL_FAILURE(plantCid(show));
    show.setHandoffValue(kWideA.scene);
    // Where each sACN universe went, as tshark in the namespace sees it leave.
    std::optional<Capture> capture;
    if (route.port.startsWith(u"sacn") && !Capture::unavailable()) {
      capture.emplace();
      ASSERT_TRUE(capture->start(QStringLiteral("udp dst port 5568"), QStringLiteral("v0"),
                                 QStringList{QStringLiteral("ip")} + ns.exec({})));
    }
    LineProcess readers[2];
    for (int i = 0; i < 2; ++i)
      ASSERT_TRUE(readers[i].start(
          QStringLiteral("ip"),
          ns.exec({python3(), QStringLiteral(OLA_READER), QString::number(olad.port()),
                   QString::number(route.first + i)})));
    LineProcess driver;
    driver.process().setProcessEnvironment(show.environment());
    ASSERT_TRUE(driver.start(QStringLiteral("ip"), ns.exec({show.driverProgram()})));
    const auto line = [&](const WideLook& look, int i) {
      QStringList levels;
      for (std::uint8_t v : wideLevels(look, i, route.padded)) levels << QString::number(v);
      return [want = QStringLiteral("levels ") + levels.join(u' ')](const QString& l) {
        return l == want;
      };
    };
    for (int i = 0; i < 2; ++i)
      EXPECT_TRUE(readers[i].waitForLine(line(kWideA, i))) << "universe " << route.first + i;
    show.setHandoffValue(kWideB.scene);
    for (int i = 0; i < 2; ++i)
      EXPECT_TRUE(readers[i].waitForLine(line(kWideB, i))) << "universe " << route.first + i;
    driver.stop();
    show.endAllProcesses();
    if (!capture) continue;
    // olad takes any universe on any group it joined; a node patched to one universe joins
    // that universe's group alone.
    capture->stop();
    std::set<QString> universes;
    for (const QString& row :
         readSacn(*capture, {QStringLiteral("acn.dmx.universe"), QStringLiteral("ip.dst")})) {
      const QStringList f = row.split(u'\t');
      ASSERT_EQ(f.size(), 2) << row.toStdString();
      ASSERT_EQ(f[1].toStdString(), QStringLiteral("239.255.0.%1").arg(f[0]).toStdString())
          << "the group of universe " << f[0].toStdString();
      universes.insert(f[0]);
    }
    EXPECT_EQ(universes, (std::set<QString>{QStringLiteral("1"), QStringLiteral("2")}));
  }
}

// Every level of a 600-channel script reaches the second universe byte for byte: as sACN to a
// socket of the test's own, and through olad, read back by its client.
TEST(NetworkOutputEndToEnd, EveryLevelOfAWideScriptReachesTheSecondUniverseBySacn) {
  const quint16 port = freeUdpPort();
  QUdpSocket receiver;
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, port));
  Show show;
  ASSERT_NO_FATAL_FAILURE(
      writeWideShow(show, QStringLiteral("sacn:7@127.0.0.1:%1").arg(port), {&kWideFull}));
  show.setHandoffValue(kWideFull.scene);
  show.startDriver();
  EXPECT_TRUE(receiveWide(receiver, kWideFull, 7, true));
  show.endAllProcesses();
}

TEST(OlaOutputEndToEnd, EveryLevelOfAWideScriptReachesTheSecondUniverse) {
  if (const auto why = Olad::unavailable()) GTEST_SKIP() << why->toStdString();
  if (!olaPythonInstalled())
    GTEST_SKIP() << "OLA's Python client (Debian package ola-python) is missing";
  Olad olad(freeTcpPort());
  ASSERT_TRUE(olad.start());
  Show show;
  ASSERT_NO_FATAL_FAILURE(
      writeWideShow(show, QStringLiteral("ola:7@127.0.0.1:%1").arg(olad.port()), {&kWideFull}));
  show.setHandoffValue(kWideFull.scene);
  LineProcess reader;
  ASSERT_TRUE(reader.start(
      python3(), {QStringLiteral(OLA_READER), QString::number(olad.port()), QStringLiteral("8")}));
  show.startDriver();
  QStringList levels;
  for (std::uint8_t v : wideLevels(kWideFull, 1)) levels << QString::number(v);
  const QString want = QStringLiteral("levels ") + levels.join(u' ');
  EXPECT_TRUE(reader.waitForLine([&](const QString& l) { return l == want; }))
      << (reader.lines().empty() ? std::string() : reader.lines().back().toStdString());
  show.endAllProcesses();
}

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

// dmxmon watching two universes prints a line for each, with that universe's levels.
TEST(NetworkOutputEndToEnd, DmxmonShowsALineForEachUniverseOfAWideFrame) {
  const quint16 port = freeUdpPort();
  LineProcess dmxmon;
  ASSERT_TRUE(
      dmxmon.start(QStringLiteral(DMXMON_EXE),
                   {QStringLiteral("--sacn"), QStringLiteral("7"), QStringLiteral("--universes"),
                    QStringLiteral("2"), QStringLiteral("--udp-port"), QString::number(port)}));
  ASSERT_TRUE(dmxmon.waitForLine([](const QString& l) { return l.startsWith(u"sacn 7-8 on"); }));
  Show show;
  ASSERT_NO_FATAL_FAILURE(writeWideShow(show, QStringLiteral("sacn:7@127.0.0.1:%1").arg(port)));
  show.setHandoffValue(kWideA.scene);
  show.startDriver();
  for (const auto& [universe, length, levels] :
       {std::tuple{7, 512,
                   QStringLiteral(" 010 020 030 040") + QStringLiteral(" 000").repeated(12)},
        std::tuple{8, 89, QStringLiteral(" 061") + QStringLiteral(" 000").repeated(15)}}) {
    EXPECT_TRUE(dmxmon.waitForLine([&](const QString& l) {
      return l.startsWith(QStringLiteral("universe %1: fps ").arg(universe)) &&
             !l.contains(u" fps 0 ") && l.contains(QStringLiteral(" len %1 ").arg(length)) &&
             l.endsWith(QStringLiteral(" levels") + levels);
    })) << "universe "
        << universe;
  }
  show.endAllProcesses();
}
