// The remote's limits on virtual time: its timers run on the window's scheduler, its sockets are
// real ones on the loopback interface.
#include "remote_server.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QWebSocket>
#include <functional>

#include "virtual_time.h"

using namespace luvrin;
using namespace std::chrono_literals;

namespace {

class CountingHost : public RemoteHost {
 public:
  QStringList sceneNames() const override { return {}; }
  PlayResult play(const QString&) override { return {}; }
  QString playing() const override { return {}; }
  // Different at every look when asked to: each feed tick then has something new to send.
  std::vector<std::uint8_t> levels() const override {
    if (changing) ++looks;
    return {static_cast<std::uint8_t>(looks)};
  }
  int framesPerSecond() const override { return 0; }
  QString outputStatus() const override { return {}; }
  std::vector<int> faders() const override { return {}; }
  FaderMove setChannels(const std::map<int, int>&) override { return {}; }

  bool changing = true;
  mutable int looks = 0;
};

// Lets the sockets run in real time while virtual time stands still; true once predicate holds.
bool spinUntil(const std::function<bool()>& predicate, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!predicate()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

class RemoteServerTime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "remote_server_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  void SetUp() override { ASSERT_TRUE(server.start(0)) << server.error().toStdString(); }

  ManualClock clock;
  VirtualScheduler scheduler{clock};
  CountingHost host;
  RemoteServer server{host, QString(), scheduler};
};

}  // namespace

TEST_F(RemoteServerTime, AnIdleConnectionIsClosedByTheSweepAfterAMinute) {
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, server.port());
  ASSERT_TRUE(spinUntil([&] { return server.connections() == 1; }));
  // The sweep looks every quarter minute and closes what has been idle longer than a minute.
  const struct {
    std::int64_t at;
    bool open;
  } steps[] = {{15'000, true}, {60'000, true}, {74'999, true}, {75'000, false}};
  for (const auto& step : steps) {
    scheduler.advanceTo(step.at);
    const bool closed =
        spinUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; },
                  step.open ? 200 : 5000);
    EXPECT_EQ(closed, !step.open) << "at " << step.at << " ms";
  }
}

TEST_F(RemoteServerTime, TheFeedSendsAtMostOneMessageATickAndNeverAQueue) {
  QWebSocket client;
  int received = 0;
  QObject::connect(&client, &QWebSocket::textMessageReceived, [&](const QString&) { ++received; });
  client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(server.port())));
  ASSERT_TRUE(spinUntil([&] { return server.liveClients() == 1; }));
  const struct {
    std::chrono::milliseconds advance;
    bool changing;
    int messages;  // that arrive for it
  } steps[] = {
      {49ms, true, 0},
      {1ms, true, 1},
      {50ms, true, 1},
      // Ten ticks before the socket could send: the first message waits, the rest are skipped.
      {500ms, true, 1},
      {50ms, false, 1},  // the newest, once
      {50ms, false, 0},  // nothing new, nothing sent
      {1000ms, true, 1},
  };
  for (const auto& step : steps) {
    host.changing = step.changing;
    const int before = received;
    scheduler.advanceBy(step.advance);
    spinUntil([&] { return received > before + step.messages; }, 300);
    EXPECT_EQ(received - before, step.messages) << "after " << scheduler.now() << " ms";
  }
}

// A client may send at most kMaxUnansweredBytes that get no answer (a body that never ends);
// bytes that are answered do not count against a connection kept alive for many requests.
TEST_F(RemoteServerTime, OnlyUnansweredBytesCountAgainstAConnection) {
  const QByteArray body = "{\"channels\": {}}" + QByteArray(8 * 1024, ' ');
  const auto request = [](const QByteArray& length) {
    return "POST /api/channels HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
           "Content-Length: " +
           length + "\r\n\r\n";
  };
  QTcpSocket kept;
  kept.connectToHost(QHostAddress::LocalHost, server.port());
  ASSERT_TRUE(kept.waitForConnected(5000));
  const int requests = RemoteServer::kMaxUnansweredBytes / body.size() + 8;
  int answered = 0;
  QByteArray received;
  for (int i = 0; i < requests; ++i) {
    kept.write(request(QByteArray::number(body.size())) + body);
    ASSERT_TRUE(spinUntil([&] {
      received += kept.readAll();
      return received.count("HTTP/1.1 200") > answered;
    })) << "request "
        << i;
    ++answered;
  }
  EXPECT_EQ(kept.state(), QAbstractSocket::ConnectedState);

  QTcpSocket endless;
  endless.connectToHost(QHostAddress::LocalHost, server.port());
  ASSERT_TRUE(endless.waitForConnected(5000));
  endless.write(request("10000000"));
  for (qint64 sent = 0; sent <= RemoteServer::kMaxUnansweredBytes; sent += body.size())
    endless.write(body);
  EXPECT_TRUE(spinUntil([&] { return endless.state() == QAbstractSocket::UnconnectedState; }));
  EXPECT_EQ(kept.state(), QAbstractSocket::ConnectedState);
}
