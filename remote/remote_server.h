#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "remote_api.h"
#include "scheduler.h"

class QHttpServerRequest;
class QTcpServer;
class QTcpSocket;
class QWebSocket;

namespace luvrin {

class RemoteHttp;

// The remote on the network: the API and the page over HTTP, the live feed over WebSocket, on
// every IPv4 interface. Runs on the window's thread; each handler is short and the frames go from
// the output's own thread, so no client can hold a frame back. Its timers (the feed's rate, the
// idle close) run on the window's scheduler.
class RemoteServer : public QObject {
  Q_OBJECT

 public:
  // What one client can make the driver hold: connections, unanswered bytes on one, answers it
  // has not read, feed clients and what waits to be sent to one of them.
  static constexpr int kMaxConnections = 128;
  static constexpr qint64 kMaxUnansweredBytes = 256 * 1024;
  // A connection whose answers wait unsent past this is closed before it gets another: a client
  // that reads gets each answer into the system's buffers at once, so this only meets one that
  // asks and never reads.
  static constexpr qint64 kMaxUnsentBytes = 64 * 1024;
  static constexpr int kIdleMs = 60000;
  static constexpr int kMaxLiveClients = 64;
  // A feed client gets a message only when the one before has gone; beside it, only the pongs to
  // its pings may wait, up to this, or it is closed.
  static constexpr qint64 kMaxLivePongBytes = 16 * 1024;
  // At most 20 messages a second to each feed client.
  static constexpr int kLiveIntervalMs = 50;
  static constexpr const char* kLivePath = "/api/live";

  RemoteServer(RemoteHost& host, const QString& key, Scheduler& scheduler,
               QObject* parent = nullptr);
  ~RemoteServer() override;

  // Listens on every IPv4 interface; false, with error() saying why, when it cannot.
  bool start(quint16 port);
  QString error() const { return error_; }
  quint16 port() const;
  int liveClients() const { return static_cast<int>(live_.size()); }
  int connections() const;
  bool hasKey() const { return api_.hasKey(); }

  // "http://A:P/" for every non-loopback IPv4 address of this machine.
  static QStringList addresses(quint16 port);
  // The line the window's status and the log show: where the remote is (and that no key is
  // set), or why it did not start.
  QString statusText() const;

 private:
  struct LiveClient {
    std::unique_ptr<QWebSocket> socket;
    QPointer<QTcpSocket> tcp;  // the connection under it, watched for what it makes wait
    QByteArray sent;
  };
  struct Connection {
    QPointer<QTcpSocket> socket;
    qint64 unanswered = 0;
    qint64 lastActive = 0;
    bool upgraded = false;
  };

  friend class RemoteHttp;
  void accept(QTcpSocket* socket);
  void sweep();
  // Why an upgrade is refused (an HTTP answer that leaves nothing behind), none when the feed
  // takes it.
  std::optional<RemoteReply> refusedUpgrade(const QHttpServerRequest& request) const;
  void takeLiveClients();
  void watchLive(QWebSocket* raw);
  void dropLive(QWebSocket* raw);
  void sendLive();
  qint64 now() const { return scheduler_.now(); }

  RemoteApi api_;
  Scheduler& scheduler_;
  std::unique_ptr<RemoteHttp> http_;
  QTcpServer* tcp_ = nullptr;  // owned by http_
  std::vector<std::unique_ptr<LiveClient>> live_;
  std::vector<Connection> connections_;
  Timer liveTimer_;
  Timer sweepTimer_;
  QString error_;
  quint16 requestedPort_ = 0;
};

}  // namespace luvrin
