#pragma once

#include <QByteArray>
#include <QString>
#include <QUrlQuery>

#include "remote_host.h"

namespace luvrin {

// One request as the HTTP server received it, whole.
struct RemoteRequest {
  QByteArray method;  // "GET", "POST", ...
  QString path;
  QUrlQuery query;
  QByteArray authorization;  // the Authorization header as sent
  QByteArray body;
};

struct RemoteReply {
  int status = 200;
  QByteArray contentType;
  QByteArray body;
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

  RemoteApi(RemoteHost& host, QString key);

  RemoteReply answer(const RemoteRequest& request);
  // True when no key is set, or the request carries it (?key=K or "Authorization: Bearer K").
  bool authorized(const QUrlQuery& query, const QByteArray& authorization) const;
  bool hasKey() const { return !key_.isEmpty(); }
  // What the live feed sends: levels, playing scene, rate, output status, faders.
  QByteArray liveMessage() const;

 private:
  RemoteReply scenes(const QUrlQuery& query);
  RemoteReply play(const QByteArray& body);
  RemoteReply channels(const QByteArray& body);

  RemoteHost& host_;
  QByteArray key_;
};

// Equal texts, in a time that depends on neither text: both are hashed first, so neither the
// length nor the first differing byte of the key shows in the answer's timing.
bool keysMatch(const QByteArray& given, const QByteArray& key);

}  // namespace luvrin
