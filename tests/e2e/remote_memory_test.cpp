// What a hostile peer can make a running driver hold: each attack on a real driver over real
// sockets, its memory (VmRSS) read before and after. The peers are plain sockets, so they can
// refuse to read as a careless or hostile client would.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QTcpServer>
#include <algorithm>
#include <functional>
#include <thread>

#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

// What the driver may keep after an attack beyond what it held before it: the allocator's
// slack, never what the attack sent.
constexpr qint64 kSlackKb = 8 * 1024;
const QByteArray kKey = "k3y";

qint64 rssKb(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
  return -1;
}

// The most the driver held while step ran, until step says it is done or the time is up.
qint64 peakRssKb(qint64 pid, std::chrono::seconds time, const std::function<bool()>& step) {
  qint64 most = rssKb(pid);
  const auto end = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < end && step()) most = std::max(most, rssKb(pid));
  return most;
}

// A client socket that reads only when told to; a small receive buffer makes a client that does
// not read fall behind at once.
class Peer {
 public:
  Peer(quint16 port, int receiveBuffer = 0) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    if (receiveBuffer > 0)
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const timeval wait{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) close();
  }
  ~Peer() { close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool ok() const { return fd_ >= 0; }
  // False once the driver has closed the connection.
  bool send(const QByteArray& bytes) {
    if (fd_ < 0) return false;
    const ssize_t n = ::send(fd_, bytes.constData(), static_cast<size_t>(bytes.size()),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    return n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK;
  }
  // The answer's head: everything up to the blank line.
  QByteArray head() {
    QByteArray got;
    char buffer[4096];
    while (fd_ >= 0 && !got.contains("\r\n\r\n")) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, n);
    }
    return got.left(got.indexOf("\r\n\r\n"));
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

QByteArray upgrade(const QByteArray& target) {
  return "GET " + target +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

class RemoteMemory : public ::testing::Test {
 protected:
  void start(std::initializer_list<QString> catalogue) {
    ASSERT_TRUE(pty.ok());
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port = probe.serverPort();
    probe.close();
    show.writeSettings({{QStringLiteral("端口"), pty.path()},
                        {QStringLiteral("发送数据长度"), QStringLiteral("4")},
                        {QStringLiteral("发送定时器时间"), QStringLiteral("5")},
                        {QStringLiteral("状态"), QStringLiteral("运行")},
                        {QStringLiteral("远程端口"), QString::number(port)},
                        {QStringLiteral("远程密码"), QString::fromUtf8(kKey)}});
    show.writeCatalog(catalogue);
    show.setHandoffValue(QStringLiteral("Intro"));
    pid = show.startDriver().processId();
    ASSERT_TRUE(
        waitUntil([&] { return answers("/api/levels?key=" + kKey).startsWith("HTTP/1.1 200"); }));
  }
  QByteArray answers(const QByteArray& target) {
    Peer peer(port);
    peer.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    return peer.head();
  }
  // The driver still answers and still sends its scene.
  void stillServing() {
    EXPECT_TRUE(answers("/api/levels?key=" + kKey).startsWith("HTTP/1.1 200"));
    pty.clear();
    EXPECT_TRUE(pty.waitFor([](const QByteArray& s) {
      return countFrames(s, {10, 20, 30, 40, 0}) >= 3;
    }));
  }

  Show show;
  Pty pty;
  quint16 port = 0;
  qint64 pid = 0;
};

}  // namespace

TEST_F(RemoteMemory, RefusedUpgradesLeaveNothingBehind) {
  start({QStringLiteral("Intro=DMX010,020,030,040,")});
  const auto refuse = [&](int times) {
    for (int i = 0; i < times; ++i) {
      Peer peer(port);
      peer.send(upgrade(i % 2 == 0 ? "/api/live?key=wrong" : "/elsewhere"));
      const QByteArray head = peer.head();
      if (i < 2) {
        EXPECT_TRUE(head.startsWith(i == 0 ? "HTTP/1.1 401" : "HTTP/1.1 404"))
            << head.toStdString();
      }
    }
  };
  refuse(500);
  const qint64 before = rssKb(pid);
  refuse(10000);
  stillServing();
  const qint64 after = rssKb(pid);
  EXPECT_LE(after, before + kSlackKb) << "VmRSS " << before << " kB -> " << after << " kB";
  // Nothing of it in the user's log either.
  const QString log = show.logText();
  EXPECT_FALSE(log.contains(QStringLiteral("QIODevice::peek")));
  EXPECT_FALSE(log.contains(QStringLiteral("WebSocket received")));
}

TEST_F(RemoteMemory, FeedClientsThatPingAndNeverReadAreClosed) {
  start({QStringLiteral("Intro=DMX010,020,030,040,")});
  {
    Peer warm(port);
    warm.send(upgrade("/api/live?key=" + kKey));
    EXPECT_TRUE(warm.head().startsWith("HTTP/1.1 101"));
  }
  const qint64 before = rssKb(pid);
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 64; ++i) {
    peers.push_back(std::make_unique<Peer>(port, 4096));
    peers.back()->send(upgrade("/api/live?key=" + kKey));
  }
  // Masked pings of 125 bytes, as fast as the driver takes them.
  QByteArray ping = QByteArray("\x89\xfd\0\0\0\0", 6) + QByteArray(125, 'p');
  ping = ping.repeated(64);
  const qint64 most = peakRssKb(pid, 8s, [&] {
    bool anyOpen = false;
    for (auto& peer : peers) anyOpen = peer->send(ping) || anyOpen;
    return anyOpen;
  });
  peers.clear();
  stillServing();
  EXPECT_LE(most, before + kSlackKb) << "VmRSS " << before << " kB -> " << most << " kB";
  EXPECT_LE(rssKb(pid), before + kSlackKb);
}

TEST_F(RemoteMemory, PipelinedAnswersThatAreNeverReadCloseTheConnection) {
  // 20,000 scenes: an answer of a thousand names is some 40 kB.
  QStringList lines{QStringLiteral("Intro=DMX010,020,030,040,")};
  for (int i = 0; i < 20000; ++i)
    lines.append(QStringLiteral("一个名字很长的场景%1=DMX001,").arg(i, 5, 10, QLatin1Char('0')));
  start({lines.join(QStringLiteral("\r\n"))});
  EXPECT_TRUE(answers("/api/scenes?key=" + kKey).startsWith("HTTP/1.1 200"));
  const qint64 before = rssKb(pid);
  const QByteArray request = "GET /api/scenes?key=" + kKey + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 8; ++i) {
    peers.push_back(std::make_unique<Peer>(port, 4096));
    peers.back()->send(request.repeated(100));
  }
  // Watched while the driver works through the requests; none of the answers is read.
  const qint64 most = peakRssKb(pid, 3s, [] {
    std::this_thread::sleep_for(20ms);
    return true;
  });
  peers.clear();
  stillServing();
  EXPECT_LE(most, before + kSlackKb) << "VmRSS " << before << " kB -> " << most << " kB";
}
