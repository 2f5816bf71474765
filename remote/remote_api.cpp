#include "remote_api.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "log_categories.h"

// The page lives in this library's resources, which a static library must bring in itself.
static void initRemoteResources() { Q_INIT_RESOURCE(remote); }

namespace luvrin {

namespace {

const QByteArray kJson = "application/json; charset=utf-8";

RemoteReply json(int status, const QJsonObject& object) {
  return {status, kJson, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

RemoteReply failure(int status, const QString& why) {
  return json(status, QJsonObject{{QStringLiteral("error"), why}});
}

const QByteArray& page() {
  static const QByteArray bytes = [] {
    initRemoteResources();
    QFile file(QStringLiteral(":/remote/index.html"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }();
  return bytes;
}

template <typename Numbers>
QJsonArray numbers(const Numbers& values) {
  QJsonArray array;
  for (const auto v : values) array.append(static_cast<int>(v));
  return array;
}

// Plain decimal digits, at most nine of them.
std::optional<int> plainNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 9) return std::nullopt;
  int n = 0;
  for (const QChar c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + (c.unicode() - u'0');
  }
  return n;
}

// A channel number as a client writes it: plain decimal digits, 1 to 512.
std::optional<int> channelNumber(const QString& text) {
  const auto n = text.size() > 3 ? std::nullopt : plainNumber(text);
  if (!n || *n < 1 || *n > RemoteApi::kChannels) return std::nullopt;
  return n;
}

// The host and port a Host header names: "name", "name:port", "[v6]:port". The port is -1 when
// none is given; nothing for a header that is not of that form.
struct HostAndPort {
  QString host;
  int port = -1;
};
std::optional<HostAndPort> hostAndPort(const QByteArray& header) {
  QByteArray text = header.trimmed();
  QByteArray host = text;
  QByteArray port;
  if (text.startsWith('[')) {
    const qsizetype close = text.indexOf(']');
    if (close < 0) return std::nullopt;
    host = text.mid(1, close - 1);
    const QByteArray rest = text.mid(close + 1);
    if (!rest.isEmpty() && !rest.startsWith(':')) return std::nullopt;
    port = rest.mid(1);
    if (!rest.isEmpty() && port.isEmpty()) return std::nullopt;
  } else if (const qsizetype colon = text.indexOf(':'); colon >= 0) {
    host = text.left(colon);
    port = text.mid(colon + 1);
    if (port.isEmpty()) return std::nullopt;
  }
  if (host.isEmpty() || port.size() > 5) return std::nullopt;
  HostAndPort result{QString::fromLatin1(host).toLower(), -1};
  if (result.host.endsWith(u'.')) result.host.chop(1);
  if (!port.isEmpty()) {
    result.port = 0;
    for (const char c : port) {
      if (c < '0' || c > '9') return std::nullopt;
      result.port = result.port * 10 + (c - '0');
    }
  }
  return result;
}

// The media type of a Content-Type header, without its parameters.
bool isJson(const QByteArray& contentType) {
  return contentType.split(';').first().trimmed().toLower() == "application/json";
}

}  // namespace

bool keysMatch(const QByteArray& given, const QByteArray& key) {
  const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
  const QByteArray b = QCryptographicHash::hash(key, QCryptographicHash::Sha256);
  unsigned char differ = 0;
  for (qsizetype i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

RemoteApi::RemoteApi(RemoteHost& host, QString key, RemoteAccess access)
    : host_(host), key_(key.toUtf8()), access_(std::move(access)) {}

bool RemoteApi::ownAddress(const QHostAddress& address, qint64 now) {
  if (address.isLoopback()) return true;
  const auto known = [&] {
    return std::any_of(addresses_.begin(), addresses_.end(),
                       [&](const QHostAddress& a) { return a.isEqual(address); });
  };
  if (known()) return true;
  // Read again for an address not seen yet, but not for every request that names one.
  if (addressesRead_ && now - *addressesRead_ < 1000) return false;
  addressesRead_ = now;
  addresses_ = access_.addresses ? access_.addresses() : QNetworkInterface::allAddresses();
  return known();
}

std::optional<RemoteReply> RemoteApi::refuseSource(const RemoteRequest& request) {
  const auto host = hostAndPort(request.host);
  const bool named = host && (host->host == u"localhost" ||
                              access_.hostNames.contains(host->host, Qt::CaseInsensitive) || [&] {
                                const QHostAddress address(host->host);
                                return !address.isNull() && ownAddress(address, request.at);
                              }());
  if (!named) return failure(421, QStringLiteral("unknown host name: add it to 远程主机名"));
  if (request.origin.isEmpty()) return std::nullopt;
  // The remote's own page is plain HTTP at the address the request names.
  const QUrl origin(QString::fromLatin1(request.origin));
  const int port = host->port < 0 ? 80 : host->port;
  if (origin.scheme() != u"http" || origin.host().toLower() != host->host ||
      origin.port(80) != port || !origin.path().isEmpty())
    return failure(403, QStringLiteral("requests from other sites are refused"));
  return std::nullopt;
}

std::optional<RemoteReply> RemoteApi::refuseKey(const RemoteRequest& request) {
  if (!hasKey()) return std::nullopt;
  if (const qint64 wait = guard_.waitLeft(request.peer, request.at); wait > 0) {
    RemoteReply reply = failure(429, QStringLiteral("too many wrong keys: wait"));
    reply.retryAfterSeconds = static_cast<int>((wait + 999) / 1000);
    return reply;
  }
  if (authorized(request.query, request.authorization)) {
    guard_.succeeded(request.peer);
    return std::nullopt;
  }
  guard_.failed(request.peer, request.at);
  for (const QString& line : guard_.report(request.at)) qCWarning(lcRemote).noquote() << line;
  return failure(401, QStringLiteral("key required"));
}

std::optional<RemoteReply> RemoteApi::refuseUpgrade(const RemoteRequest& request) {
  if (auto refused = refuseSource(request)) return refused;
  if (request.path != u"/api/live") return failure(404, QStringLiteral("not found"));
  return refuseKey(request);
}

bool RemoteApi::authorized(const QUrlQuery& query, const QByteArray& authorization) const {
  if (key_.isEmpty()) return true;
  // Both ways are always checked, so which one was tried does not show either.
  const QByteArray fromQuery =
      query.queryItemValue(QStringLiteral("key"), QUrl::FullyDecoded).toUtf8();
  const QByteArray bearer = "Bearer ";
  const QByteArray fromHeader =
      authorization.startsWith(bearer) ? authorization.mid(bearer.size()) : QByteArray();
  const bool byQuery = query.hasQueryItem(QStringLiteral("key")) && keysMatch(fromQuery, key_);
  const bool byHeader = !fromHeader.isEmpty() && keysMatch(fromHeader, key_);
  return byQuery || byHeader;
}

std::optional<RemoteReply> RemoteApi::refuseRequest(const RemoteRequest& request) {
  if (auto refused = refuseSource(request)) return refused;
  if (request.method == "GET" && request.path == u"/") return std::nullopt;
  if (!request.path.startsWith(QStringLiteral("/api/")))
    return failure(404, QStringLiteral("not found"));
  if (auto refused = refuseKey(request)) return refused;
  // A form or a text/plain body is what another site's page may send without asking first.
  if (!request.body.isEmpty() && !isJson(request.contentType))
    return failure(415, QStringLiteral("expected Content-Type: application/json"));
  return std::nullopt;
}

void RemoteApi::answer(const RemoteRequest& request, std::function<void(RemoteReply)> reply) {
  if (auto refused = refuseRequest(request)) return reply(*refused);
  if (devices(request, reply)) return;
  reply(answer(request));
}

RemoteReply RemoteApi::answer(const RemoteRequest& request) {
  const QString& path = request.path;
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";
  if (auto refused = refuseRequest(request)) return *refused;
  if (get && path == u"/") return {200, "text/html; charset=utf-8", page()};
  if (path.startsWith(QStringLiteral("/api/rdm/"))) {
    RemoteReply now{0, {}, {}};
    // Only an answer given at once is kept: a later one would find this frame gone.
    auto given = std::make_shared<bool>(false);
    std::function<void(RemoteReply)> reply = [given, &now](RemoteReply r) {
      if (!*given) now = std::move(r);
    };
    devices(request, reply);
    *given = true;
    return now;
  }

  if (get && path == u"/api/scenes") return scenes(request.query);
  if (get && path == u"/api/levels") {
    return json(200, {{QStringLiteral("levels"), numbers(host_.levels())},
                      {QStringLiteral("fps"), host_.framesPerSecond()},
                      {QStringLiteral("port"), host_.outputStatus()}});
  }
  if (get && path == u"/api/fixtures") return fixtures();
  if (get && path == u"/api/channels") return channelNames();
  if (post && path == u"/api/play") return play(request.body);
  if (post && path == u"/api/channels") return channels(request.body);
  return failure(404, QStringLiteral("not found"));
}

namespace {

RemoteReply devicesReply(const DevicesAnswer& answer) { return json(answer.status, answer.body); }

// A fixture as /api/fixtures lists it.
QJsonObject fixtureJson(const FixtureInfo& f) {
  QJsonArray channels;
  for (const FixtureInfo::Channel& c : f.channels) {
    QJsonArray ranges;
    for (const FixtureInfo::Range& r : c.capabilities)
      ranges.append(QJsonObject{{QStringLiteral("min"), r.min},
                                {QStringLiteral("max"), r.max},
                                {QStringLiteral("name"), r.name}});
    channels.append(QJsonObject{{QStringLiteral("channel"), c.channel},
                                {QStringLiteral("name"), c.name},
                                {QStringLiteral("group"), c.group},
                                {QStringLiteral("fine"), c.fine},
                                {QStringLiteral("capabilities"), ranges}});
  }
  return QJsonObject{{QStringLiteral("name"), f.name},
                     {QStringLiteral("start"), f.start},
                     {QStringLiteral("manufacturer"), f.manufacturer},
                     {QStringLiteral("model"), f.model},
                     {QStringLiteral("mode"), f.mode},
                     {QStringLiteral("channels"), channels}};
}

// The name a patch body gives: {} or {"name": text}; nothing for any other body.
std::optional<QString> patchName(const QByteArray& body) {
  if (body.isEmpty()) return QString();
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject object = doc.object();
  const QJsonValue name = object.value(QStringLiteral("name"));
  if (object.size() > (name.isUndefined() ? 0 : 1) || !(name.isString() || name.isUndefined()))
    return std::nullopt;
  return name.toString();
}

// A body's number as a whole number, nothing for any other value.
std::optional<int> wholeNumber(const QJsonValue& value) {
  const double v = value.toDouble(0.5);
  if (!value.isDouble() || v != std::floor(v) || std::abs(v) > 1e9) return std::nullopt;
  return static_cast<int>(v);
}

// The change a body asks for: only the fields a device can be given, each of its own kind.
std::optional<DeviceChange> deviceChange(const QByteArray& body) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject() || doc.object().isEmpty())
    return std::nullopt;
  DeviceChange change;
  const QJsonObject object = doc.object();
  for (auto it = object.begin(); it != object.end(); ++it) {
    const QString& key = it.key();
    if (key == u"address" && wholeNumber(*it)) {
      change.address = wholeNumber(*it);
    } else if (key == u"personality" && wholeNumber(*it)) {
      change.personality = wholeNumber(*it);
    } else if (key == u"label" && it->isString()) {
      change.label = it->toString();
    } else if (key == u"identify" && it->isBool()) {
      change.identify = it->toBool();
    } else {
      return std::nullopt;
    }
  }
  return change;
}

}  // namespace

bool RemoteApi::devices(const RemoteRequest& request, std::function<void(RemoteReply)>& reply) {
  const QString prefix = QStringLiteral("/api/rdm/");
  if (!request.path.startsWith(prefix)) return false;
  const QString route = request.path.mid(prefix.size());
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";
  if (request.body.size() > kMaxBodyBytes) {
    reply(failure(413, QStringLiteral("body too large")));
    return true;
  }
  auto later = [reply](DevicesAnswer answer) { reply(devicesReply(answer)); };
  if (post && route == u"discover") {
    bool full = true;
    if (!request.body.isEmpty()) {
      QJsonParseError error{};
      const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
      const QJsonValue given = doc.object().value(QStringLiteral("full"));
      if (error.error != QJsonParseError::NoError || !doc.isObject() ||
          !(given.isBool() || given.isUndefined())) {
        reply(failure(400, QStringLiteral("expected {\"full\": true} or {\"full\": false}")));
        return true;
      }
      full = given.toBool(true);
    }
    host_.discoverDevices(full, later);
    return true;
  }
  if (get && route == u"devices") {
    reply(devicesReply(host_.devices()));
    return true;
  }
  const QString one = QStringLiteral("devices/");
  if (route.startsWith(one) && route.size() > one.size() && (get || post)) {
    QString uid = route.mid(one.size());
    const QString patch = QStringLiteral("/patch");
    if (uid.endsWith(patch)) {
      uid.chop(patch.size());
      const auto name = patchName(request.body);
      if (!post || !name) {
        reply(post ? failure(400, QStringLiteral("expected {} or {\"name\": text}"))
                   : failure(404, QStringLiteral("not found")));
        return true;
      }
      host_.patchDevice(uid, *name, [reply](PatchAnswer a) {
        reply(a.status == 200 ? json(200, fixtureJson(a.fixture)) : failure(a.status, a.error));
      });
      return true;
    }
    if (get) {
      reply(devicesReply(host_.device(uid)));
      return true;
    }
    const auto change = deviceChange(request.body);
    if (!change) {
      reply(failure(400, QStringLiteral("expected any of {\"address\": 1-512, "
                                        "\"personality\": n, \"label\": text, "
                                        "\"identify\": true}")));
      return true;
    }
    host_.changeDevice(uid, *change, later);
    return true;
  }
  reply(failure(404, QStringLiteral("not found")));
  return true;
}

RemoteReply RemoteApi::scenes(const QUrlQuery& query) {
  const auto given = [&](const QString& name, int absent) -> std::optional<int> {
    if (!query.hasQueryItem(name)) return absent;
    return plainNumber(query.queryItemValue(name, QUrl::FullyDecoded));
  };
  const auto offset = given(QStringLiteral("offset"), 0);
  const auto limit = given(QStringLiteral("limit"), kMaxScenesPerAnswer);
  if (!offset || !limit) return failure(400, QStringLiteral("offset and limit: plain numbers"));
  // Shared, not copied: only the page asked for is gone through.
  const QStringList names = host_.sceneNames();
  QJsonArray page;
  const qsizetype end =
      std::min<qsizetype>(names.size(), qsizetype{*offset} + std::min(*limit, kMaxScenesPerAnswer));
  for (qsizetype i = *offset; i < end; ++i)
    page.append(QJsonObject{{QStringLiteral("name"), names[i]}});
  QJsonObject answer{{QStringLiteral("scenes"), page},
                     {QStringLiteral("total"), static_cast<qint64>(names.size())},
                     {QStringLiteral("offset"), *offset},
                     {QStringLiteral("playing"), host_.playing()}};
  if (const QString problem = host_.catalogueProblem(); !problem.isEmpty())
    answer.insert(QStringLiteral("error"), problem);
  return json(200, answer);
}

RemoteReply RemoteApi::play(const QByteArray& body) {
  if (body.size() > kMaxBodyBytes) return failure(413, QStringLiteral("body too large"));
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
  const QJsonValue scene = doc.object().value(QStringLiteral("scene"));
  if (error.error != QJsonParseError::NoError || !doc.isObject() || !scene.isString())
    return failure(400, QStringLiteral("expected {\"scene\": name}"));
  const PlayResult played = host_.play(scene.toString());
  switch (played.outcome) {
    case PlayResult::Outcome::Played:
      return json(200, {{QStringLiteral("playing"), played.scene}});
    case PlayResult::Outcome::NotHandedOver:
      return failure(503, played.why);
    case PlayResult::Outcome::NoSuchScene:
      break;
  }
  return failure(404, QStringLiteral("no such scene"));
}

RemoteReply RemoteApi::channels(const QByteArray& body) {
  if (body.size() > kMaxBodyBytes) return failure(413, QStringLiteral("body too large"));
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
  const QJsonValue given = doc.object().value(QStringLiteral("channels"));
  if (error.error != QJsonParseError::NoError || !doc.isObject() || !given.isObject())
    return failure(400, QStringLiteral("expected {\"channels\": {\"1\": 255}}"));
  // Everything is checked before anything moves.
  std::map<int, int> levels;
  const QJsonObject object = given.toObject();
  for (auto it = object.begin(); it != object.end(); ++it) {
    const auto channel = channelNumber(it.key());
    const double v = it.value().toDouble(-1);
    if (!channel || !it.value().isDouble() || v < 0 || v > kMaxLevel || v != std::floor(v))
      return failure(400, QStringLiteral("channels 1-512, levels 0-255"));
    levels[*channel] = static_cast<int>(v);
  }
  const FaderMove move = levels.empty() ? FaderMove{} : host_.setChannels(levels);
  QJsonObject answer{{QStringLiteral("moved"), static_cast<int>(levels.size())},
                     {QStringLiteral("stopped"), move.stopped.has_value()}};
  if (move.stopped) {
    answer.insert(QStringLiteral("message"),
                  move.stopped->isEmpty()
                      ? QStringLiteral("脚本已停止, 推子接管")
                      : QStringLiteral("场景已停止: %1, 推子接管").arg(*move.stopped));
  }
  return json(200, answer);
}

RemoteReply RemoteApi::fixtures() const {
  QJsonArray list;
  for (const FixtureInfo& f : host_.fixtures()) list.append(fixtureJson(f));
  return {200, kJson, QJsonDocument(list).toJson(QJsonDocument::Compact)};
}

RemoteReply RemoteApi::channelNames() const {
  const std::vector<std::uint8_t> levels = host_.levels();
  const std::vector<ChannelInfo> names = host_.channelNames();
  QJsonArray list;
  // The frame's first level is channel 1's; it holds one level past the last channel sent.
  for (std::size_t c = 1; c < levels.size(); ++c) {
    QJsonObject o{{QStringLiteral("channel"), static_cast<int>(c)},
                  {QStringLiteral("level"), levels[c - 1]}};
    if (c - 1 < names.size() && !names[c - 1].fixture.isEmpty()) {
      const ChannelInfo& n = names[c - 1];
      o.insert(QStringLiteral("fixture"), n.fixture);
      o.insert(QStringLiteral("name"), n.name);
      o.insert(QStringLiteral("group"), n.group);
      if (!n.capability.isEmpty()) o.insert(QStringLiteral("capability"), n.capability);
    }
    list.append(o);
  }
  return json(200, {{QStringLiteral("channels"), list}});
}

QByteArray RemoteApi::liveMessage() const {
  const QJsonObject message{{QStringLiteral("levels"), numbers(host_.levels())},
                            {QStringLiteral("playing"), host_.playing()},
                            {QStringLiteral("fps"), host_.framesPerSecond()},
                            {QStringLiteral("port"), host_.outputStatus()},
                            {QStringLiteral("faders"), numbers(host_.faders())}};
  return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

}  // namespace luvrin
