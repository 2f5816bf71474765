// The remote end to end: a real driver with its remote on, a pseudo-terminal as its port, and
// clients on real sockets.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <memory>

#include "e2e_support.h"

using namespace luvrin::e2e;

namespace {

constexpr std::size_t kChannels = 5;  // 发送数据长度 4

void writeRemoteSettings(const Show& show, const Pty& pty, quint16 port, const QString& key = {}) {
  show.writeSettings({{QStringLiteral("端口"), pty.path()},
                      {QStringLiteral("发送数据长度"), QStringLiteral("4")},
                      {QStringLiteral("发送定时器时间"), QStringLiteral("5")},
                      {QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("远程端口"), QString::number(port)},
                      {QStringLiteral("远程密码"), key}});
}

QByteArray playBody(const QString& scene) {
  return QJsonDocument(QJsonObject{{QStringLiteral("scene"), scene}}).toJson();
}

bool seen(Pty& pty, const Levels& want) {
  pty.clear();
  return pty.waitFor([&](const QByteArray& s) { return countFrames(s, want) >= 3; });
}

// Waits, letting Qt's own sockets (the feed clients) run meanwhile.
bool spinUntil(const std::function<bool()>& predicate) {
  return waitUntil([&] {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return predicate();
  });
}

}  // namespace

TEST(Remote, PlayAndFadersFromTheApiReachTheWire) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const quint16 port = freePort();
  writeRemoteSettings(show, pty, port);
  show.writeCatalog(
      {QStringLiteral("Intro=DMX010,020,030,040,"), QStringLiteral("摇头=DMX001,002,003,004,")});
  show.startDriver();
  ASSERT_TRUE(waitUntil([&] { return http(port, "GET", "/api/scenes").status == 200; }));

  const QJsonObject scenes = http(port, "GET", "/api/scenes").json();
  EXPECT_EQ(scenes[QStringLiteral("scenes")].toArray(),
            (QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Intro")}},
                        QJsonObject{{QStringLiteral("name"), QStringLiteral("摇头")}}}));
  EXPECT_EQ(scenes[QStringLiteral("playing")].toString(), QString());
  // Where the remote is, and that anyone on the network may use it.
  EXPECT_TRUE(show.logText().contains(
      QRegularExpression(QStringLiteral("远程: http://[0-9.]+:%1/.*未设密码").arg(port))));

  // Played as its launcher would: the hand-off value, then the driver's lookup.
  const Reply played = http(port, "POST", "/api/play", playBody(QStringLiteral("摇头")));
  EXPECT_EQ(played.status, 200);
  EXPECT_EQ(played.json()[QStringLiteral("playing")].toString(), QStringLiteral("摇头"));
  ASSERT_TRUE(seen(pty, {1, 2, 3, 4, 0}));
  EXPECT_EQ(show.handoffValue(), QStringLiteral("摇头"));
  EXPECT_EQ(http(port, "GET", "/api/scenes").json()[QStringLiteral("playing")].toString(),
            QStringLiteral("摇头"));
  EXPECT_EQ(http(port, "GET", "/api/levels").json()[QStringLiteral("levels")].toArray(),
            (QJsonArray{1, 2, 3, 4, 0}));

  // A name the catalogue does not hold changes nothing.
  EXPECT_EQ(http(port, "POST", "/api/play", playBody(QStringLiteral("摇"))).status, 404);
  EXPECT_EQ(show.handoffValue(), QStringLiteral("摇头"));

  // The faders start from the levels on the wire (调试状态), then move as by hand.
  EXPECT_EQ(http(port, "POST", "/api/channels", R"({"channels": {"2": 99, "4": 255}})").status,
            200);
  EXPECT_TRUE(seen(pty, {1, 99, 3, 255, 0}));
}

TEST(Remote, HostileClientsLeaveTheDriverAnsweringAndSending) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const quint16 port = freePort();
  writeRemoteSettings(show, pty, port);
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,"),
                     QStringLiteral("a/b %2e%2e c=DMX005,005,005,005,")});
  show.startDriver();
  ASSERT_TRUE(waitUntil([&] { return http(port, "GET", "/api/scenes").status == 200; }));
  ASSERT_EQ(http(port, "POST", "/api/play", playBody(QStringLiteral("Intro"))).status, 200);
  const Levels intro{10, 20, 30, 40, 0};
  ASSERT_TRUE(seen(pty, intro));

  struct Case {
    QByteArray request;
    int status;  // 0: the connection closes unanswered
  };
  const QByteArray post =
      "POST /api/play HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: "
      "application/json\r\n";
  const QByteArray huge(10 * 1024 * 1024, '{');
  const Case cases[] = {
      {post + "Content-Length: 4\r\n\r\n{\"sc", 400},
      {post + "Content-Length: 0\r\n\r\n", 400},
      {post + "Content-Length: 7\r\n\r\n\xff\xfe\x01\x02\x03\x04\x05", 400},
      {post + "Content-Length: " + QByteArray::number(huge.size()) + "\r\n\r\n" + huge, 0},
      {post + "Content-Length: 99999999999\r\n\r\n{}", 0},
      {"BREW /api/scenes HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 404},
      {"DELETE /api/scenes HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 404},
      {"PUT /api/play HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: "
       "application/json\r\nContent-Length: 2\r\n\r\n{}",
       404},
      {"GET /../../etc/passwd HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 404},
      {"GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
       404},
      {"GET /..%2f..%2fetc%2fpasswd HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 404},
      {"GET /api/../../../etc/passwd HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
       404},
      {"GET " + QByteArray(6000, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
       404},
      {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03 not http at all\r\n\r\n", 0},
  };
  for (const Case& c : cases) {
    const Reply reply = raw(port, c.request);
    EXPECT_EQ(reply.status, c.status) << c.request.left(60).toStdString();
    EXPECT_FALSE(reply.body.contains("root:")) << c.request.left(60).toStdString();
  }
  // Odd scene names: played only when the catalogue holds them exactly.
  EXPECT_EQ(http(port, "POST", "/api/play", playBody(QString(5000, u'名'))).status, 404);
  EXPECT_EQ(http(port, "POST", "/api/play", playBody(QStringLiteral("a/b %2e%2e c"))).status, 200);
  EXPECT_TRUE(seen(pty, {5, 5, 5, 5, 0}));
  EXPECT_EQ(http(port, "POST", "/api/play", playBody(QStringLiteral("Intro"))).status, 200);
  EXPECT_TRUE(seen(pty, intro));

  // 500 idle connections and 50 feed clients at once.
  std::vector<std::unique_ptr<QTcpSocket>> idle;
  for (int i = 0; i < 500; ++i) {
    idle.push_back(std::make_unique<QTcpSocket>());
    idle.back()->connectToHost(QHostAddress::LocalHost, port);
  }
  std::vector<std::unique_ptr<QWebSocket>> live;
  std::vector<int> messages(50, 0);
  for (int i = 0; i < 50; ++i) {
    live.push_back(std::make_unique<QWebSocket>());
    QObject::connect(live.back().get(), &QWebSocket::textMessageReceived,
                     [&messages, i](const QString&) { ++messages[static_cast<std::size_t>(i)]; });
    live.back()->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
  }
  EXPECT_TRUE(spinUntil(
      [&] { return std::all_of(messages.begin(), messages.end(), [](int n) { return n > 0; }); }));
  EXPECT_EQ(http(port, "GET", "/api/levels").status, 200);
  // Frames keep coming, with the scene it held.
  EXPECT_TRUE(seen(pty, intro));
  EXPECT_TRUE(scanFrames(pty.received(), kChannels).wellFormed);
  EXPECT_EQ(http(port, "GET", "/api/scenes").json()[QStringLiteral("playing")].toString(),
            QStringLiteral("Intro"));
}

TEST(Remote, AKeyGuardsTheApiAndATakenPortCostsOnlyTheRemote) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const quint16 port = freePort();
  writeRemoteSettings(show, pty, port, QStringLiteral("舞台"));
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,")});
  show.startDriver();
  ASSERT_TRUE(waitUntil([&] { return http(port, "GET", "/").status == 200; }));
  EXPECT_EQ(http(port, "POST", "/api/play", playBody(QStringLiteral("Intro"))).status, 401);
  EXPECT_EQ(http(port, "POST", "/api/play?key=%E8%88%9E", playBody(QStringLiteral("Intro"))).status,
            401);
  EXPECT_TRUE(show.handoffValue().isEmpty());
  EXPECT_EQ(http(port, "POST", "/api/play", playBody(QStringLiteral("Intro")),
                 "Authorization: Bearer \xE8\x88\x9E\xE5\x8F\xB0\r\n")
                .status,
            200);
  EXPECT_TRUE(seen(pty, {10, 20, 30, 40, 0}));
  EXPECT_EQ(http(port, "GET", "/api/scenes?key=%E8%88%9E%E5%8F%B0").status, 200);
  EXPECT_TRUE(show.logText().contains(QStringLiteral("远程: http://")));
  EXPECT_FALSE(show.logText().contains(QStringLiteral("未设密码")));
  EXPECT_TRUE(waitUntil([&] { return show.logText().contains(QStringLiteral("密码太短")); }));

  // A second show on the same port: its remote cannot start, its frames go all the same.
  Show second;
  Pty secondPty;
  ASSERT_TRUE(secondPty.ok());
  writeRemoteSettings(second, secondPty, port);
  second.writeCatalog({QStringLiteral("Intro=DMX007,007,007,007,")});
  second.setHandoffValue(QStringLiteral("Intro"));
  second.startDriver();
  EXPECT_TRUE(seen(secondPty, {7, 7, 7, 7, 0}));
  EXPECT_TRUE(waitUntil([&] {
    return second.logText().contains(QStringLiteral("远程: 端口 %1 已被占用").arg(port));
  }));
}

// A peer guessing the key, each try on a connection of its own, by the API and by the feed.
TEST(Remote, AGuesserGetsFewTriesASecondAndIsLogged) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const quint16 port = freePort();
  writeRemoteSettings(show, pty, port, QStringLiteral("right-key-1"));
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,")});
  show.startDriver();
  ASSERT_TRUE(waitUntil([&] { return http(port, "GET", "/").status == 200; }));
  const QByteArray upgrade =
      "GET /api/live?key=KEY HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: "
      "websocket\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
      "Content-Length: 0\r\n\r\n";
  int checked = 0, held = 0;
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; clock.elapsed() < 2000; ++i) {
    const QByteArray key = "guess" + QByteArray::number(i);
    const int status = i % 2 ? raw(port, QByteArray(upgrade).replace("KEY", key)).status
                             : http(port, "GET", "/api/scenes?key=" + key).status;
    ASSERT_TRUE(status == 401 || status == 429) << status;
    (status == 401 ? checked : held) += 1;
  }
  // Five free, then waits of 0.1, 0.2, 0.4 and 0.8 s: no more than ten keys were looked at.
  EXPECT_LE(checked, 10);
  EXPECT_GT(held, 0);
  // Even the right key waits its turn, then is let in and forgives the address.
  EXPECT_EQ(raw(port, QByteArray(upgrade).replace("KEY", "right-key-1")).status, 429);
  EXPECT_TRUE(
      waitUntil([&] { return http(port, "GET", "/api/scenes?key=right-key-1").status == 200; }));
  EXPECT_EQ(http(port, "GET", "/api/scenes?key=wrong").status, 401);
  EXPECT_EQ(http(port, "GET", "/api/scenes?key=right-key-1").status, 200);
  // Told at the first wrong key, counted from then on.
  EXPECT_TRUE(waitUntil(
      [&] { return show.logText().contains(QStringLiteral("来自 127.0.0.1 的密码错误 1 次")); }));
  EXPECT_FALSE(show.logText().contains(QStringLiteral("WebSocket received")));
}

TEST(Remote, APlayThatCannotBeHandedOverAnswers503AndNamesIgnoreLetterCase) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const quint16 port = freePort();
  writeRemoteSettings(show, pty, port);
  show.writeCatalog({QStringLiteral("Blackout=DMX000,000,000,009,")});
  // The hand-off folder cannot be made: a file stands where it goes.
  QDir().mkpath(show.configHome());
  QFile blocker(show.configHome() + QStringLiteral("/TALVEN"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  show.startDriver();
  ASSERT_TRUE(waitUntil([&] { return http(port, "GET", "/api/scenes").status == 200; }));
  const Reply refused = http(port, "POST", "/api/play", playBody(QStringLiteral("blackout")));
  EXPECT_EQ(refused.status, 503);
  EXPECT_TRUE(
      refused.json()[QStringLiteral("error")].toString().contains(QStringLiteral("TALVEN")));
  EXPECT_TRUE(waitUntil(
      [&] { return show.logText().contains(QStringLiteral("场景 Blackout 未能交给驱动程序")); }));

  ASSERT_TRUE(blocker.remove());
  const Reply played = http(port, "POST", "/api/play", playBody(QStringLiteral("blackout")));
  EXPECT_EQ(played.status, 200);
  EXPECT_EQ(played.json()[QStringLiteral("playing")].toString(), QStringLiteral("Blackout"));
  EXPECT_TRUE(seen(pty, {0, 0, 0, 9, 0}));
}

TEST(Remote, ARemotePortThatIsNoPlainNumberIsRefusedAndSaysWhy) {
  Show show;
  Pty pty;
  ASSERT_TRUE(pty.ok());
  show.writeSettings({{QStringLiteral("端口"), pty.path()},
                      {QStringLiteral("发送数据长度"), QStringLiteral("4")},
                      {QStringLiteral("状态"), QStringLiteral("运行")},
                      {QStringLiteral("远程端口"), QStringLiteral("1e4")}});
  show.writeCatalog({QStringLiteral("Intro=DMX010,020,030,040,")});
  show.setHandoffValue(QStringLiteral("Intro"));
  show.startDriver();
  EXPECT_TRUE(seen(pty, {10, 20, 30, 40, 0}));
  EXPECT_TRUE(waitUntil(
      [&] { return show.logText().contains(QStringLiteral("远程: 远程端口 \"1e4\" 无效")); }));
  EXPECT_EQ(http(10000, "GET", "/").status, 0);
}
