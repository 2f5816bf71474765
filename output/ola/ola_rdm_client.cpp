#include <ola/Callback.h>
#include <ola/client/OlaClient.h>
#include <ola/io/SelectServer.h>
#include <ola/network/IPV4Address.h>
#include <ola/network/SocketAddress.h>
#include <ola/network/TCPSocket.h>
#include <ola/rdm/RDMCommand.h>
#include <ola/rdm/UID.h>
#include <ola/rdm/UIDSet.h>

#include <QObject>
#include <QPointer>
#include <thread>

#include "log_categories.h"
#include "ola_rdm.h"
#include "platform.h"

namespace luvrin {

namespace {

// OLA's single-use callbacks around a lambda.
template <typename Fn>
class Once0 final : public ola::SingleUseCallback0<void> {
 public:
  explicit Once0(Fn fn) : fn_(std::move(fn)) {}

 private:
  void DoRun() override { fn_(); }
  Fn fn_;
};
template <typename Fn>
ola::SingleUseCallback0<void>* once(Fn fn) {
  return new Once0<Fn>(std::move(fn));
}

template <typename Fn, typename A, typename B>
class Once2 final : public ola::SingleUseCallback2<void, A, B> {
 public:
  explicit Once2(Fn fn) : fn_(std::move(fn)) {}

 private:
  void DoRun(A a, B b) override { fn_(a, b); }
  Fn fn_;
};

template <typename Fn, typename A, typename B, typename C>
class Once3 final : public ola::SingleUseCallback3<void, A, B, C> {
 public:
  explicit Once3(Fn fn) : fn_(std::move(fn)) {}

 private:
  void DoRun(A a, B b, C c) override { fn_(a, b, c); }
  Fn fn_;
};

QString words(const std::string& s) { return QString::fromStdString(s); }

OlaRdmClient::Answer answerOf(const ola::client::Result& result,
                              const ola::client::RDMMetadata& metadata,
                              const ola::rdm::RDMResponse* response) {
  using Kind = OlaRdmClient::Answer::Kind;
  OlaRdmClient::Answer a;
  if (!result.Success()) {
    a.kind = Kind::Failed;
    a.error = words(result.Error());
    return a;
  }
  switch (metadata.response_code) {
    case ola::rdm::RDM_COMPLETED_OK:
      if (!response) break;
      a.kind = Kind::Response;
      a.response.source = {response->SourceUID().ManufacturerId(),
                           response->SourceUID().DeviceId()};
      a.response.type = static_cast<rdm::ResponseType>(response->PortIdResponseType());
      a.response.messageCount = response->MessageCount();
      a.response.subDevice = response->SubDevice();
      a.response.commandClass = static_cast<rdm::CommandClass>(response->CommandClass());
      a.response.pid = response->ParamId();
      a.response.data = QByteArray(reinterpret_cast<const char*>(response->ParamData()),
                                   static_cast<qsizetype>(response->ParamDataSize()));
      return a;
    case ola::rdm::RDM_WAS_BROADCAST:
    case ola::rdm::RDM_TIMEOUT:
    case ola::rdm::RDM_UNKNOWN_UID:
      a.kind = Kind::Timeout;
      return a;
    case ola::rdm::RDM_FAILED_TO_SEND:
    case ola::rdm::RDM_PLUGIN_DISCOVERY_NOT_SUPPORTED:
      a.kind = Kind::Failed;
      a.error = QStringLiteral("olad 的接口没能发出请求");
      return a;
    default:
      break;
  }
  a.kind = Kind::Damaged;
  return a;
}

// The full client on a thread of its own with its own select server, next to the streaming
// client that carries the levels: a slow answer of olad's never holds a frame back. Requests go
// to that thread through the select server's Execute; answers come back to the thread that made
// this client through Qt's queue, to an object of its that drops them once it is gone. The
// connection is made at the first request and made again after olad has gone.
class FullOlaClient final : public OlaRdmClient {
 public:
  explicit FullOlaClient(std::uint16_t rpcPort) : port_(rpcPort), home_(new QObject) {
    platform::ignoreBrokenPipes();
    thread_ = std::thread([this] { ss_.Run(); });
  }

  ~FullOlaClient() override {
    // From inside the loop: a Terminate before Run has begun would be forgotten when it begins.
    ss_.Execute(once([this] { ss_.Terminate(); }));
    thread_.join();
    drop();
    delete home_;  // answers still queued for it are dropped with it
  }

  void request(std::uint32_t universe, const rdm::Request& r,
               std::function<void(Answer)> done) override {
    ss_.Execute(once([this, universe, r, done = std::move(done)]() mutable {
      if (!connected()) {
        back([done, a = Answer{Answer::Kind::Failed, {}, QStringLiteral("olad 没有运行")}] {
          done(a);
        });
        return;
      }
      using Callback =
          Once3<std::function<void(const ola::client::Result&, const ola::client::RDMMetadata&,
                                   const ola::rdm::RDMResponse*)>,
                const ola::client::Result&, const ola::client::RDMMetadata&,
                const ola::rdm::RDMResponse*>;
      auto* callback = new Callback([this, done](const ola::client::Result& result,
                                                 const ola::client::RDMMetadata& meta,
                                                 const ola::rdm::RDMResponse* response) {
        back([done, a = answerOf(result, meta, response)] { done(a); });
      });
      const ola::rdm::UID uid(r.destination.manufacturer, r.destination.device);
      const auto* data = reinterpret_cast<const std::uint8_t*>(r.data.constData());
      const auto size = static_cast<unsigned int>(r.data.size());
      if (r.commandClass == rdm::CommandClass::Set)
        client_->RDMSet(universe, uid, r.subDevice, r.pid, data, size,
                        ola::client::SendRDMArgs(callback));
      else
        client_->RDMGet(universe, uid, r.subDevice, r.pid, data, size,
                        ola::client::SendRDMArgs(callback));
    }));
  }

  void discover(std::uint32_t universe, bool full,
                std::function<void(rdm::Transport::Found)> done) override {
    ss_.Execute(once([this, universe, full, done = std::move(done)]() mutable {
      if (!connected()) {
        back([done] { done({{}, true, QStringLiteral("olad 没有运行")}); });
        return;
      }
      using Callback =
          Once2<std::function<void(const ola::client::Result&, const ola::rdm::UIDSet&)>,
                const ola::client::Result&, const ola::rdm::UIDSet&>;
      client_->RunDiscovery(universe,
                            full ? ola::client::DISCOVERY_FULL : ola::client::DISCOVERY_INCREMENTAL,
                            new Callback([this, done](const ola::client::Result& result,
                                                      const ola::rdm::UIDSet& uids) {
                              rdm::Transport::Found found;
                              if (!result.Success()) {
                                found.failed = true;
                                found.error = QStringLiteral("olad: ") + words(result.Error());
                              }
                              for (auto it = uids.Begin(); it != uids.End(); ++it)
                                found.devices.push_back({it->ManufacturerId(), it->DeviceId()});
                              back([done, found] { done(found); });
                            }));
    }));
  }

 private:
  // On the client's thread from here on.
  bool connected() {
    if (client_ && !closed_) return true;
    drop();
    socket_.reset(ola::network::TCPSocket::Connect(
        ola::network::IPV4SocketAddress(ola::network::IPV4Address::Loopback(), port_)));
    if (!socket_) return false;
    socket_->SetNoDelay();
    client_ = std::make_unique<ola::client::OlaClient>(socket_.get());
    ss_.AddReadDescriptor(socket_.get());
    if (!client_->Setup()) {
      drop();
      return false;
    }
    client_->SetCloseHandler(once([this] {
      // The client is in the middle of telling: it is let go at the next request.
      closed_ = true;
      qCDebug(lcOla) << "olad closed the RDM connection";
    }));
    qCDebug(lcOla) << "RDM connection to olad made";
    return true;
  }

  void drop() {
    if (client_) client_->Stop();
    if (socket_) ss_.RemoveReadDescriptor(socket_.get());
    client_.reset();
    socket_.reset();
    closed_ = false;
  }

  template <typename Fn>
  void back(Fn fn) {
    QMetaObject::invokeMethod(home_, std::move(fn), Qt::QueuedConnection);
  }

  std::uint16_t port_;
  QObject* home_;  // lives on the thread that made this client
  ola::io::SelectServer ss_;
  std::thread thread_;
  std::unique_ptr<ola::network::TCPSocket> socket_;
  std::unique_ptr<ola::client::OlaClient> client_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<OlaRdmClient> makeOlaRdmClient(std::uint16_t rpcPort) {
  return std::make_unique<FullOlaClient>(rpcPort);
}

}  // namespace luvrin
