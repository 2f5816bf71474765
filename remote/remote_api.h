#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrlQuery>
#include <functional>
#include <optional>

#include "key_guard.h"
#include "remote_host.h"

namespace luvrin {

// One request as the HTTP server received it, whole.
struct RemoteRequest {
  QByteArray method;  // "GET", "POST", ...
  QString path;
  QUrlQuery query;
  QByteArray authorization;  // the Authorization header as sent
  QByteArray body;
  // Where it came from: the Host, Origin and Content-Type headers as sent (empty when absent),
  // the peer's address, and when it arrived (milliseconds on the server's clock).
  QByteArray host;
  QByteArray origin;
  QByteArray contentType;
  QString peer;
  qint64 at = 0;
};

struct RemoteReply {
  int status = 200;
  QByteArray contentType;
  QByteArray body;
  int retryAfterSeconds = 0;  // sent as Retry-After when above 0
};

// Who may address the remote: a page of another site must not act for the user, nor a name
// that only points at this machine for the moment (DNS rebinding).
struct RemoteAccess {
  // Names the requests may carry as Host besides the machine's addresses and localhost
  // (远程主机名).
  QStringList hostNames;
  // The machine's addresses; empty: the system's own list, read again when a Host is not in it
  // (an address may come with a network joined later), at most once a second.
  std::function<QList<QHostAddress>()> addresses;
};

// The remote's answers: the API, its key check and the page. Nothing here touches a socket or
// the file system; the page is a resource of the program.
class RemoteApi {
 public:
  static constexpr int kChannels = 512;
  static constexpr int kMaxLevel = 255;
  // Requests are a few hundred bytes; a larger body is refused unread.
  static constexpr qsizetype kMaxBodyBytes = 64 * 1024;
  // The scene list comes a page at a time, so no answer holds the window for long however large
  // the catalogue.
  static constexpr int kMaxScenesPerAnswer = 1000;

  // A key shorter than this is easily guessed: the window says so.
  static constexpr int kShortKey = 8;

  RemoteApi(RemoteHost& host, QString key, RemoteAccess access = {});

  // Most answers are ready at once. Those that wait for the devices on the line (a discovery, a
  // change) come later, through reply, on the window's thread; reply is called exactly once.
  void answer(const RemoteRequest& request, std::function<void(RemoteReply)> reply);
  // The answer when it is ready at once; status 0 for one that comes later.
  RemoteReply answer(const RemoteRequest& request);
  // A WebSocket upgrade, judged as a request: nothing when it may become a feed client, else
  // the answer that refuses it before any WebSocket is made.
  std::optional<RemoteReply> refuseUpgrade(const RemoteRequest& request);
  // The wrong keys to log now (at most once a minute).
  QStringList wrongKeyReport(qint64 now) { return guard_.report(now); }
  bool shortKey() const { return hasKey() && QString::fromUtf8(key_).size() < kShortKey; }
  // True when no key is set, or the request carries it (?key=K or "Authorization: Bearer K").
  bool authorized(const QUrlQuery& query, const QByteArray& authorization) const;
  bool hasKey() const { return !key_.isEmpty(); }
  // What the live feed sends: levels, playing scene, rate, output status, faders.
  QByteArray liveMessage() const;

 private:
  RemoteReply scenes(const QUrlQuery& query);
  RemoteReply play(const QByteArray& body);
  RemoteReply channels(const QByteArray& body);
  // What the patch makes of the output: its fixtures, and every channel's name at its level.
  RemoteReply fixtures() const;
  RemoteReply channelNames() const;
  // The routes under /api/rdm/; false when the path is not one of them.
  bool devices(const RemoteRequest& request, std::function<void(RemoteReply)>& reply);
  // Source, key and body type; nothing when the request may go on.
  std::optional<RemoteReply> refuseRequest(const RemoteRequest& request);
  // Host and Origin, then the key with the guard; nothing when the request may go on.
  std::optional<RemoteReply> refuseSource(const RemoteRequest& request);
  std::optional<RemoteReply> refuseKey(const RemoteRequest& request);
  bool ownAddress(const QHostAddress& address, qint64 now);

  RemoteHost& host_;
  QByteArray key_;
  RemoteAccess access_;
  KeyGuard guard_;
  QList<QHostAddress> addresses_;
  std::optional<qint64> addressesRead_;
};

// Equal texts, in a time that depends on neither text: both are hashed first, so neither the
// length nor the first differing byte of the key shows in the answer's timing.
bool keysMatch(const QByteArray& given, const QByteArray& key);

}  // namespace luvrin
