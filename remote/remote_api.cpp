#include "remote_api.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

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

}  // namespace

bool keysMatch(const QByteArray& given, const QByteArray& key) {
  const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
  const QByteArray b = QCryptographicHash::hash(key, QCryptographicHash::Sha256);
  unsigned char differ = 0;
  for (qsizetype i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

RemoteApi::RemoteApi(RemoteHost& host, QString key) : host_(host), key_(key.toUtf8()) {}

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

RemoteReply RemoteApi::answer(const RemoteRequest& request) {
  const QString& path = request.path;
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";
  if (get && path == u"/") return {200, "text/html; charset=utf-8", page()};
  if (!path.startsWith(QStringLiteral("/api/"))) return failure(404, QStringLiteral("not found"));
  if (!authorized(request.query, request.authorization))
    return failure(401, QStringLiteral("key required"));

  if (get && path == u"/api/scenes") return scenes(request.query);
  if (get && path == u"/api/levels") {
    return json(200, {{QStringLiteral("levels"), numbers(host_.levels())},
                      {QStringLiteral("fps"), host_.framesPerSecond()},
                      {QStringLiteral("port"), host_.outputStatus()}});
  }
  if (post && path == u"/api/play") return play(request.body);
  if (post && path == u"/api/channels") return channels(request.body);
  return failure(404, QStringLiteral("not found"));
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
  const QString name = scene.toString();
  if (!host_.play(name)) return failure(404, QStringLiteral("no such scene"));
  return json(200, {{QStringLiteral("playing"), name}});
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
  if (!levels.empty()) host_.setChannels(levels);
  return json(200, {{QStringLiteral("moved"), static_cast<int>(levels.size())}});
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
