#include "remote_server.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>
#include <functional>

#include "log_categories.h"

namespace luvrin {

namespace {

QByteArray methodName(QHttpServerRequest::Method method) {
  switch (method) {
    case QHttpServerRequest::Method::Get:
      return "GET";
    case QHttpServerRequest::Method::Post:
      return "POST";
    default:
      return "OTHER";
  }
}

bool isWebSocket(const QHttpServerRequest& request) {
  return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

void send(QHttpServerResponder&& responder, const RemoteReply& reply) {
  const auto status = static_cast<QHttpServerResponder::StatusCode>(reply.status);
  if (reply.retryAfterSeconds > 0) {
    responder.write(reply.body,
                    {{"Content-Type", reply.contentType},
                     {"Retry-After", QByteArray::number(reply.retryAfterSeconds)}},
                    status);
  } else {
    responder.write(reply.body, reply.contentType, status);
  }
}

// Qt's server warns of every upgrade it is told not to make; the remote refuses those on
// purpose (a wrong key, another site), and a crowd of them must not fill the user's log.
QLoggingCategory::CategoryFilter previousFilter = nullptr;
void quietRefusedUpgrades(QLoggingCategory* category) {
  if (previousFilter) previousFilter(category);
  if (qstrcmp(category->categoryName(), "qt.httpserver") == 0)
    category->setEnabled(QtWarningMsg, false);
}

// Hands each accepted socket to the remote first, so it can watch and bound it before the HTTP
// server reads from it.
class GuardedTcpServer : public QTcpServer {
 public:
  std::function<void(QTcpSocket*)> onAccept;

 protected:
  void incomingConnection(qintptr handle) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
      delete socket;
      return;
    }
    if (onAccept) onAccept(socket);
    addPendingConnection(socket);
  }
};

}  // namespace

// Qt's HTTP server, answering every request from the remote's API.
class RemoteHttp : public QAbstractHttpServer {
 public:
  RemoteHttp(RemoteApi& api, std::function<qint64()> now) : api_(api), now_(std::move(now)) {}

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    const RemoteRequest r{methodName(request.method()),
                          request.url().path(),
                          request.query(),
                          request.value("authorization"),
                          request.body(),
                          request.value("host"),
                          request.value("origin"),
                          request.value("content-type"),
                          socket->peerAddress().toString(),
                          now_()};
    if (isWebSocket(request)) {
      // Refused with an HTTP answer before any WebSocket is made; one taken is left unanswered:
      // Qt's server then hands the socket over to the live feed.
      const auto refused = api_.refuseUpgrade(r);
      if (!refused) return true;
      qCDebug(lcRemote) << "upgrade" << r.path << refused->status;
      send(makeResponder(request, socket), *refused);
      return false;
    }
    const RemoteReply reply = api_.answer(r);
    qCDebug(lcRemote) << methodName(request.method()) << request.url().path() << reply.status;
    send(makeResponder(request, socket), reply);
    return true;
  }
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
    if (isWebSocket(request)) return;
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
  }

 private:
  RemoteApi& api_;
  std::function<qint64()> now_;
};

RemoteServer::RemoteServer(RemoteHost& host, const QString& key, RemoteAccess access,
                           QObject* parent)
    : QObject(parent),
      api_(host, key, std::move(access)),
      http_(std::make_unique<RemoteHttp>(api_, [this] { return now(); })) {
  static const bool quiet = [] {
    previousFilter = QLoggingCategory::installFilter(quietRefusedUpgrades);
    return true;
  }();
  (void)quiet;
  QElapsedTimer clock;
  clock.start();
  epoch_ = clock.msecsSinceReference();
  liveTimer_.setTimerType(Qt::PreciseTimer);
  liveTimer_.setInterval(kLiveIntervalMs);
  connect(&liveTimer_, &QTimer::timeout, this, &RemoteServer::sendLive);
  sweepTimer_.setInterval(kIdleMs / 4);
  connect(&sweepTimer_, &QTimer::timeout, this, &RemoteServer::sweep);
  connect(http_.get(), &QAbstractHttpServer::newWebSocketConnection, this,
          &RemoteServer::takeLiveClients);
}

RemoteServer::~RemoteServer() {
  live_.clear();
  http_.reset();
}

qint64 RemoteServer::now() const {
  QElapsedTimer clock;
  clock.start();
  return clock.msecsSinceReference() - epoch_;
}

bool RemoteServer::start(quint16 port) {
  requestedPort_ = port;
  auto tcp = std::make_unique<GuardedTcpServer>();
  tcp->onAccept = [this](QTcpSocket* socket) { accept(socket); };
  if (!tcp->listen(QHostAddress::AnyIPv4, port)) {
    error_ = tcp->serverError() == QAbstractSocket::AddressInUseError
                 ? QStringLiteral("端口 %1 已被占用").arg(port)
                 : QStringLiteral("端口 %1: %2").arg(port).arg(tcp->errorString());
    return false;
  }
  tcp_ = tcp.release();
  http_->bind(tcp_);
  sweepTimer_.start();
  return true;
}

quint16 RemoteServer::port() const { return tcp_ ? tcp_->serverPort() : 0; }

int RemoteServer::connections() const {
  return static_cast<int>(std::count_if(connections_.begin(), connections_.end(),
                                        [](const Connection& c) { return !c.socket.isNull(); }));
}

void RemoteServer::accept(QTcpSocket* socket) {
  sweep();
  if (connections() >= kMaxConnections) {
    // The longest idle makes room: a crowd of silent connections cannot lock the phones out.
    auto oldest = connections_.end();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (it->socket.isNull() || it->upgraded) continue;
      if (oldest == connections_.end() || it->lastActive < oldest->lastActive) oldest = it;
    }
    if (oldest == connections_.end()) {
      socket->abort();
      return;
    }
    oldest->socket->abort();
    oldest->socket = nullptr;
  }
  connections_.push_back({socket, 0, now(), false});
  // Connected before the HTTP server's own reading: this sees each arrival first. What a client
  // sends without getting an answer is bounded, however Qt's server buffers it.
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
    for (Connection& c : connections_) {
      if (c.socket != socket) continue;
      c.lastActive = now();
      c.unanswered += socket->bytesAvailable();
      if (c.unanswered > kMaxUnansweredBytes) {
        qCDebug(lcRemote) << "connection dropped: more than" << kMaxUnansweredBytes
                          << "bytes unanswered";
        socket->abort();
      }
      return;
    }
  });
  connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
    for (Connection& c : connections_) {
      if (c.socket != socket) continue;
      c.lastActive = now();
      c.unanswered = 0;
      return;
    }
  });
}

void RemoteServer::sweep() {
  const qint64 t = now();
  for (const QString& line : api_.wrongKeyReport(t)) qCWarning(lcRemote).noquote() << line;
  for (Connection& c : connections_) {
    if (!c.socket.isNull() && !c.upgraded && t - c.lastActive > kIdleMs) c.socket->abort();
  }
  std::erase_if(connections_, [](const Connection& c) { return c.socket.isNull(); });
}

void RemoteServer::takeLiveClients() {
  // The feed's sockets are no longer the HTTP server's: they leave the idle sweep.
  for (Connection& c : connections_) {
    if (!c.socket.isNull() && c.socket->parent() != tcp_) c.upgraded = true;
  }
  while (http_->hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> socket = http_->nextPendingWebSocketConnection();
    if (!socket) continue;
    const QUrl url = socket->requestUrl();
    QWebSocket* raw = socket.get();
    if (url.path() != QLatin1String(kLivePath)) {
      raw->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("not found"));
    } else if (!api_.authorized(QUrlQuery(url), socket->request().rawHeader("Authorization"))) {
      raw->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("key required"));
    } else if (liveClients() >= kMaxLiveClients) {
      raw->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("too many clients"));
    } else {
      // Clients only listen: anything they send is small and dropped.
      raw->setMaxAllowedIncomingFrameSize(4096);
      raw->setMaxAllowedIncomingMessageSize(4096);
      auto client = std::make_unique<LiveClient>();
      client->socket = std::move(socket);
      LiveClient* c = client.get();
      connect(raw, &QWebSocket::bytesWritten, this,
              [c](qint64 n) { c->backlog = std::max<qint64>(0, c->backlog - n); });
      connect(raw, &QWebSocket::disconnected, this, [this, raw] {
        const auto it = std::find_if(live_.begin(), live_.end(),
                                     [raw](const auto& l) { return l->socket.get() == raw; });
        if (it == live_.end()) return;
        (*it)->socket.release()->deleteLater();
        live_.erase(it);
        if (live_.empty()) liveTimer_.stop();
      });
      live_.push_back(std::move(client));
      if (!liveTimer_.isActive()) liveTimer_.start();
      qCDebug(lcRemote) << "live client" << liveClients() << "from"
                        << raw->peerAddress().toString();
      continue;
    }
    // Closed ones go once their close is sent.
    connect(raw, &QWebSocket::disconnected, raw, &QObject::deleteLater);
    socket.release();
  }
}

void RemoteServer::sendLive() {
  // One message for everyone, made once a tick; a client gets it when it differs from what it
  // last got. A client that does not read falls behind and is skipped: it gets the newest once
  // it caught up, never a queue.
  const QByteArray message = api_.liveMessage();
  for (const auto& client : live_) {
    if (client->sent == message || client->backlog > kMaxLiveBacklogBytes) continue;
    client->socket->sendTextMessage(QString::fromUtf8(message));
    client->backlog += message.size();
    client->sent = message;
  }
}

QStringList RemoteServer::addresses(quint16 port) {
  QStringList urls;
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
    if (a.protocol() != QAbstractSocket::IPv4Protocol || a.isLoopback()) continue;
    urls.append(QStringLiteral("http://%1:%2/").arg(a.toString()).arg(port));
  }
  return urls;
}

QString RemoteServer::statusText() const {
  if (!tcp_) return QStringLiteral("远程: ") + error_ + QStringLiteral(", 远程未启动");
  QStringList urls = addresses(port());
  if (urls.isEmpty()) urls.append(QStringLiteral("http://127.0.0.1:%1/").arg(port()));
  QString text = QStringLiteral("远程: ") + urls.join(u' ');
  if (!api_.hasKey()) text += QStringLiteral(" (未设密码: 网络上任何人都可播放场景)");
  if (api_.shortKey())
    text += QStringLiteral(" (密码太短, 容易被猜中: 请用至少 %1 个字符)").arg(RemoteApi::kShortKey);
  return text;
}

}  // namespace luvrin
