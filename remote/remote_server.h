#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "remote_api.h"

class QTcpServer;
class QTcpSocket;
class QWebSocket;

namespace luvrin {

class RemoteHttp;

// The remote on the network: the API and the page over HTTP, the live feed over WebSocket, on
// every IPv4 interface. Runs on the window's thread; each handler is short and the frames go from
// the output's own thread, so no client can hold a frame back.
class RemoteServer : public QObject {
  Q_OBJECT

 public:
  // What one client can make the driver hold: connections, unanswered bytes on one, feed clients
  // and what waits to be sent to one of them.
  static constexpr int kMaxConnections = 128;
  static constexpr qint64 kMaxUnansweredBytes = 256 * 1024;
  static constexpr int kIdleMs = 60000;
  static constexpr int kMaxLiveClients = 64;
  static constexpr qint64 kMaxLiveBacklogBytes = 256 * 1024;
  // At most 20 messages a second to each feed client.
  static constexpr int kLiveIntervalMs = 50;
  static constexpr const char* kLivePath = "/api/live";

  RemoteServer(RemoteHost& host, const QString& key, RemoteAccess access = {},
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
    QByteArray sent;
    qint64 backlog = 0;
  };
  struct Connection {
    QPointer<QTcpSocket> socket;
    qint64 unanswered = 0;
    qint64 lastActive = 0;
    bool upgraded = false;
  };

  void accept(QTcpSocket* socket);
  void sweep();
  void takeLiveClients();
  void sendLive();
  qint64 now() const;

  RemoteApi api_;
  std::unique_ptr<RemoteHttp> http_;
  QTcpServer* tcp_ = nullptr;  // owned by http_
  std::vector<std::unique_ptr<LiveClient>> live_;
  std::vector<Connection> connections_;
  QTimer liveTimer_;
  QTimer sweepTimer_;
  QString error_;
  quint16 requestedPort_ = 0;
  qint64 epoch_ = 0;
};

}  // namespace luvrin
