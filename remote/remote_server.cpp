#include "remote_server.h"

#include <QAbstractHttpServer>
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
#include <memory>

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
  RemoteHttp(RemoteServer& server, RemoteApi& api) : server_(server), api_(api) {}

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    // An upgrade the feed takes is left unanswered: Qt's server then hands the socket over to
    // it. A refused one is answered here over HTTP and closed (false: missingHandler answers),
    // before any WebSocket is made for it: a WebSocket closed from this side is never deleted.
    const RemoteRequest r{methodName(request.method()),
                          request.url().path(),
                          request.query(),
                          request.value("authorization"),
                          request.body(),
                          request.value("host"),
                          request.value("origin"),
                          request.value("content-type"),
                          socket->peerAddress().toString(),
                          server_.now()};
    if (isWebSocket(request)) {
      refusal_ = server_.refusedUpgrade(r);
      return !refusal_;
    }
    // A client that does not read its answers gets no more of them.
    if (socket->bytesToWrite() > RemoteServer::kMaxUnsentBytes) {
      qCDebug(lcRemote) << "connection dropped: more than" << RemoteServer::kMaxUnsentBytes
                        << "bytes of answers unread";
      socket->abort();
      return true;
    }
    // An answer that waits for the devices keeps its responder; the connection may be gone by
    // then, and then nothing is written.
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    const QPointer<QTcpSocket> alive(socket);
    const QByteArray method = methodName(request.method());
    const QString path = request.url().path();
    api_.answer(r, [responder, alive, method, path](const RemoteReply& reply) {
      qCDebug(lcRemote) << method << path << reply.status;
      if (alive) write(*responder, reply);
    });
    return true;
  }
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
    if (isWebSocket(request) && refusal_) {
      qCDebug(lcRemote) << "upgrade refused" << request.url().path() << refusal_->status;
      write(makeResponder(request, socket), *refusal_);
      refusal_.reset();
      return;
    }
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
  }

 private:
  static void write(QHttpServerResponder&& responder, const RemoteReply& reply) {
    write(responder, reply);
  }
  static void write(QHttpServerResponder& responder, const RemoteReply& reply) {
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

  RemoteServer& server_;
  RemoteApi& api_;
  std::optional<RemoteReply> refusal_;
};

RemoteServer::RemoteServer(RemoteHost& host, const QString& key, Scheduler& scheduler,
                           RemoteAccess access, QObject* parent)
    : QObject(parent),
      api_(host, key, std::move(access)),
      scheduler_(scheduler),
      http_(std::make_unique<RemoteHttp>(*this, api_)),
      liveTimer_(scheduler, kLiveIntervalMs, false, [this] { sendLive(); }),
      sweepTimer_(scheduler, kIdleMs / 4, false, [this] { sweep(); }) {
  connect(http_.get(), &QAbstractHttpServer::newWebSocketConnection, this,
          &RemoteServer::takeLiveClients);
  static const bool quiet = [] {
    previousFilter = QLoggingCategory::installFilter(quietRefusedUpgrades);
    return true;
  }();
  (void)quiet;
}

RemoteServer::~RemoteServer() {
  // A WebSocket says it disconnected while it is being destroyed: nobody listens any more.
  for (const auto& client : live_) {
    client->socket->disconnect(this);
    if (client->tcp) client->tcp->disconnect(this);
  }
  live_.clear();
  http_.reset();
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
  sweepTimer_.setEnabled(true);
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

std::optional<RemoteReply> RemoteServer::refusedUpgrade(const RemoteRequest& request) {
  if (auto refused = api_.refuseUpgrade(request)) return refused;
  if (liveClients() >= kMaxLiveClients)
    return RemoteReply{503, "text/plain; charset=utf-8", "too many clients"};
  return std::nullopt;
}

void RemoteServer::takeLiveClients() {
  while (http_->hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> socket = http_->nextPendingWebSocketConnection();
    if (!socket) continue;
    // Upgrades that were judged while the room was still there.
    if (liveClients() >= kMaxLiveClients) {
      socket->abort();
      continue;
    }
    QWebSocket* raw = socket.get();
    // Clients only listen: anything they send is small and dropped.
    raw->setMaxAllowedIncomingFrameSize(4096);
    raw->setMaxAllowedIncomingMessageSize(4096);
    auto client = std::make_unique<LiveClient>();
    client->socket = std::move(socket);
    live_.push_back(std::move(client));
    watchLive(raw);
    liveTimer_.setEnabled(true);
    qCDebug(lcRemote) << "live client" << liveClients() << "from" << raw->peerAddress().toString();
  }
}

void RemoteServer::watchLive(QWebSocket* raw) {
  connect(raw, &QWebSocket::disconnected, this, [this, raw] { dropLive(raw); });
  // The connection under the WebSocket, found by its peer (Qt gives no way from one to the
  // other). It is no longer the HTTP server's: it leaves the idle sweep.
  QTcpSocket* tcp = nullptr;
  for (Connection& c : connections_) {
    if (c.socket.isNull() || c.socket->peerPort() != raw->peerPort() ||
        c.socket->peerAddress() != raw->peerAddress())
      continue;
    c.upgraded = true;
    tcp = c.socket;
  }
  if (tcp == nullptr) return;
  for (const auto& client : live_)
    if (client->socket.get() == raw) client->tcp = tcp;
  // Qt answers every ping with a pong of its own, queued however much waits already: what a
  // client that sends pings and reads nothing makes wait is checked after each arrival (this
  // runs after the WebSocket's own reading, which was connected first).
  connect(tcp, &QTcpSocket::readyRead, this, [this, raw] {
    const auto it = std::find_if(live_.begin(), live_.end(),
                                 [raw](const auto& l) { return l->socket.get() == raw; });
    if (it == live_.end()) return;
    if (raw->bytesToWrite() > (*it)->sent.size() + kMaxLivePongBytes) {
      qCDebug(lcRemote) << "live client dropped: it does not read";
      dropLive(raw);
    }
  });
}

void RemoteServer::dropLive(QWebSocket* raw) {
  const auto it = std::find_if(live_.begin(), live_.end(),
                               [raw](const auto& l) { return l->socket.get() == raw; });
  if (it == live_.end()) return;
  raw->disconnect(this);
  if ((*it)->tcp) (*it)->tcp->disconnect(this);
  raw->abort();
  // Possibly inside one of its own signals: it goes once that returned.
  (*it)->socket.release()->deleteLater();
  live_.erase(it);
  if (live_.empty()) liveTimer_.setEnabled(false);
}

void RemoteServer::sendLive() {
  // One message for everyone, made once a tick; a client gets it when it differs from what it
  // last got and the one before has gone. A client that does not read is skipped: it gets the
  // newest once it caught up, never a queue.
  const QByteArray message = api_.liveMessage();
  for (const auto& client : live_) {
    if (client->sent == message || client->socket->bytesToWrite() > 0) continue;
    client->socket->sendTextMessage(QString::fromUtf8(message));
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
