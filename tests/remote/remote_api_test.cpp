// The remote's answers on a recording host: what each request does to the driver and what it
// answers, without a socket.
#include "remote_api.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace luvrin;

namespace {

class RecordingHost : public RemoteHost {
 public:
  QStringList sceneNames() const override { return names; }
  QString catalogueProblem() const override { return problem; }
  PlayResult play(const QString& name) override {
    if (!names.contains(name)) return {};
    if (!handoffWritable)
      return {PlayResult::Outcome::NotHandedOver, name, QStringLiteral("磁盘已满")};
    handedOver.append(name);
    return {PlayResult::Outcome::Played, name, {}};
  }
  QString playing() const override { return handedOver.isEmpty() ? QString() : handedOver.last(); }
  std::vector<std::uint8_t> levels() const override { return {255, 0, 7}; }
  int framesPerSecond() const override { return 333; }
  QString outputStatus() const override { return QStringLiteral("串口 COM1"); }
  std::vector<int> faders() const override { return {}; }
  FaderMove setChannels(const std::map<int, int>& levels) override {
    moves.push_back(levels);
    return {};
  }

  QStringList names{QStringLiteral("摇头"), QStringLiteral("a/b %20 c")};
  QStringList handedOver;
  std::vector<std::map<int, int>> moves;
  bool handoffWritable = true;
  QString problem;
};

RemoteRequest request(const char* method, const char* target, QByteArray body = {}) {
  const QUrl url(QString::fromUtf8(target));
  RemoteRequest r;
  r.method = method;
  r.path = url.path();
  r.query = QUrlQuery(url.query());
  r.body = std::move(body);
  r.host = "127.0.0.1:8080";
  r.contentType = "application/json";
  r.peer = QStringLiteral("192.168.1.99");
  return r;
}

QJsonObject json(const RemoteReply& reply) { return QJsonDocument::fromJson(reply.body).object(); }

}  // namespace

TEST(RemoteApi, EachRequestAnswersAndActsAsItShould) {
  struct Case {
    const char* method;
    const char* path;
    QByteArray body;
    int status;
    QStringList handedOver;  // after the request
    std::vector<std::map<int, int>> moves;
  };
  const QString swing = QStringLiteral("摇头");
  const Case cases[] = {
      {"POST", "/api/play", R"({"scene": "摇头"})", 200, {swing}, {}},
      {"POST", "/api/play", R"({"scene": "a/b %20 c"})", 200, {QStringLiteral("a/b %20 c")}, {}},
      {"POST", "/api/play", R"({"scene": "摇"})", 404, {}, {}},
      {"POST", "/api/play", R"({"scene": "摇头 "})", 404, {}, {}},
      {"POST", "/api/play", "", 400, {}, {}},
      {"POST", "/api/play", R"({"scene": "摇头")", 400, {}, {}},
      {"POST", "/api/play", R"({"name": "摇头"})", 400, {}, {}},
      {"POST", "/api/play", R"({"scene": 5})", 400, {}, {}},
      {"POST", "/api/play", R"(["摇头"])", 400, {}, {}},
      {"POST", "/api/play", QByteArray(RemoteApi::kMaxBodyBytes + 1, ' '), 413, {}, {}},
      {"GET", "/api/play", {}, 404, {}, {}},
      {"POST",
       "/api/channels",
       R"({"channels": {"1": 255, "17": 128}})",
       200,
       {},
       {{{1, 255}, {17, 128}}}},
      {"POST", "/api/channels", R"({"channels": {"512": 0}})", 200, {}, {{{512, 0}}}},
      {"POST", "/api/channels", R"({"channels": {}})", 200, {}, {}},
      // One bad entry and nothing moves.
      {"POST", "/api/channels", R"({"channels": {"1": 255, "2": 256}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": {"1": -1}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": {"1": 1.5}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": {"1": "9"}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": {"0": 9}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": {"513": 9}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": {" 1": 9}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": {"1e2": 9}})", 400, {}, {}},
      {"POST", "/api/channels", R"({"channels": [9]})", 400, {}, {}},
      {"POST", "/api/channels", "{", 400, {}, {}},
      {"GET", "/api/scenes", {}, 200, {}, {}},
      {"GET", "/api/levels", {}, 200, {}, {}},
      {"OTHER", "/api/scenes", {}, 404, {}, {}},
      {"POST", "/api/scenes", {}, 404, {}, {}},
      {"GET", "/api/scenes/", {}, 404, {}, {}},
      {"GET", "/api/", {}, 404, {}, {}},
      {"GET", "/index.html", {}, 404, {}, {}},
      {"GET", "/../etc/passwd", {}, 404, {}, {}},
      {"GET", "/%2e%2e/%2e%2e/etc/passwd", {}, 404, {}, {}},
      {"GET", "/..%2f..%2fetc/passwd", {}, 404, {}, {}},
      {"GET", "/remote/index.html", {}, 404, {}, {}},
  };
  for (const Case& c : cases) {
    RecordingHost host;
    RemoteApi api(host, QString());
    const RemoteReply reply = api.answer(request(c.method, c.path, c.body));
    SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body.left(60).toStdString());
    EXPECT_EQ(reply.status, c.status);
    EXPECT_TRUE(reply.contentType.startsWith("application/json"));
    EXPECT_FALSE(json(reply).isEmpty());
    EXPECT_EQ(host.handedOver, c.handedOver);
    EXPECT_EQ(host.moves, c.moves);
  }
}

TEST(RemoteApi, TheFeedAndThePageCarryTheDriversState) {
  RecordingHost host;
  host.handedOver = {QStringLiteral("摇头")};
  RemoteApi api(host, QString());
  const QJsonObject live = QJsonDocument::fromJson(api.liveMessage()).object();
  EXPECT_EQ(live[QStringLiteral("levels")].toArray(), (QJsonArray{255, 0, 7}));
  EXPECT_EQ(live[QStringLiteral("playing")].toString(), QStringLiteral("摇头"));
  EXPECT_EQ(live[QStringLiteral("fps")].toInt(), 333);
  EXPECT_EQ(live[QStringLiteral("port")].toString(), QStringLiteral("串口 COM1"));
  const RemoteReply page = api.answer(request("GET", "/"));
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(page.contentType.startsWith("text/html"));
  EXPECT_TRUE(page.body.contains("/api/live"));
}

TEST(RemoteApi, AKeyIsNeededForEveryApiRequestButNotForThePage) {
  struct Case {
    const char* path;
    QByteArray authorization;
    int status;
  };
  const Case cases[] = {
      {"/api/scenes", {}, 401},
      {"/api/scenes?key=s3cr%C3%A9t", {}, 200},
      {"/api/scenes?key=s3cr%C3%A9", {}, 401},
      {"/api/scenes?key=s3cr%C3%A9tt", {}, 401},
      {"/api/scenes?key=", {}, 401},
      {"/api/scenes", "Bearer s3cr\xC3\xA9t", 200},
      {"/api/scenes", "Bearer s3cr\xC3\xA9", 401},
      {"/api/scenes", "Basic s3cr\xC3\xA9t", 401},
      {"/api/scenes", "s3cr\xC3\xA9t", 401},
      {"/api/nothing", {}, 401},
      {"/", {}, 200},
  };
  for (const Case& c : cases) {
    RecordingHost host;
    RemoteApi api(host, QStringLiteral("s3cré t").remove(u' '));
    RemoteRequest r = request("GET", c.path);
    r.authorization = c.authorization;
    EXPECT_EQ(api.answer(r).status, c.status) << c.path << " " << c.authorization.toStdString();
  }
  // A refused play changes nothing.
  RecordingHost host;
  RemoteApi api(host, QStringLiteral("k"));
  EXPECT_EQ(api.answer(request("POST", "/api/play", R"({"scene": "摇头"})")).status, 401);
  EXPECT_TRUE(host.handedOver.isEmpty());
}

TEST(RemoteApi, KeysMatchOnlyWhenEqual) {
  EXPECT_TRUE(keysMatch("abc", "abc"));
  for (const char* other : {"", "ab", "abd", "abcd", "ABC"}) EXPECT_FALSE(keysMatch(other, "abc"));
}

TEST(RemoteApi, OnlyTheRemotesOwnPageAndNamesMayAct) {
  struct Case {
    const char* host;
    const char* origin;
    const char* contentType;
    int status;
  };
  const Case cases[] = {
      {"127.0.0.1:8080", "", "application/json", 200},
      {"127.0.0.1:8080", "http://127.0.0.1:8080", "application/json; charset=utf-8", 200},
      {"LOCALHOST:8080", "http://localhost:8080", "Application/JSON", 200},
      {"192.168.1.20:8080", "", "application/json", 200},  // an address of the machine
      {"Stage.Local.:8080", "", "application/json", 200},  // a name of 远程主机名
      {"192.168.1.20", "http://192.168.1.20", "application/json", 200},
      {"127.0.0.1:8080", "", "text/plain", 415},
      {"127.0.0.1:8080", "", "application/x-www-form-urlencoded", 415},
      {"127.0.0.1:8080", "", "", 415},
      {"127.0.0.1:8080", "http://evil.test", "application/json", 403},
      {"127.0.0.1:8080", "http://127.0.0.1:9999", "application/json", 403},
      {"127.0.0.1:8080", "https://127.0.0.1:8080", "application/json", 403},
      {"127.0.0.1:8080", "null", "application/json", 403},
      {"evil.test:8080", "", "application/json", 421},
      {"evil.test:8080", "http://evil.test:8080", "application/json", 421},
      {"192.168.1.21:8080", "", "application/json", 421},
      {"", "", "application/json", 421},
      {"127.0.0.1:80x", "", "application/json", 421},
      {"127.0.0.1:", "", "application/json", 421},
  };
  for (const Case& c : cases) {
    RecordingHost host;
    RemoteApi api(host, QString(),
                  {{QStringLiteral("stage.local")}, [] {
                     return QList<QHostAddress>{QHostAddress(QStringLiteral("192.168.1.20"))};
                   }});
    RemoteRequest r = request("POST", "/api/play", R"({"scene": "摇头"})");
    r.host = c.host;
    r.origin = c.origin;
    r.contentType = c.contentType;
    SCOPED_TRACE(std::string(c.host) + " " + c.origin + " " + c.contentType);
    EXPECT_EQ(api.answer(r).status, c.status);
    EXPECT_EQ(host.handedOver.size(), c.status == 200 ? 1 : 0);
    // The feed is held to the same rules (it takes no body).
    r.path = QStringLiteral("/api/live");
    const auto refused = api.refuseUpgrade(r);
    EXPECT_EQ(refused ? refused->status : 200, c.status == 415 ? 200 : c.status);
  }
}

TEST(RemoteApi, AGuesserWaitsAndTheFeedCountsToo) {
  RecordingHost host;
  RemoteApi api(host, QStringLiteral("right-key"));
  const auto ask = [&](const char* target, qint64 at, bool upgrade = false) {
    RemoteRequest r = request("GET", target);
    r.at = at;
    if (!upgrade) return api.answer(r);
    return api.refuseUpgrade(r).value_or(RemoteReply{});
  };
  for (int i = 0; i < KeyGuard::kFreeTries - 1; ++i)
    EXPECT_EQ(ask("/api/scenes?key=x", i).status, 401);
  EXPECT_EQ(ask("/api/live?key=x", 10, true).status, 401);
  EXPECT_EQ(ask("/api/scenes?key=x", 11).status, 401);  // the first to wait after
  const RemoteReply waiting = ask("/api/live?key=right-key", 50, true);
  EXPECT_EQ(waiting.status, 429);
  EXPECT_EQ(waiting.retryAfterSeconds, 1);
  EXPECT_EQ(ask("/api/scenes?key=right-key", 110).status, 429);
  EXPECT_EQ(ask("/api/scenes?key=right-key", 111).status, 200);
  // Forgiven: a few wrong keys again before any wait.
  EXPECT_EQ(ask("/api/scenes?key=x", 112).status, 401);
  EXPECT_EQ(ask("/api/scenes?key=x", 113).status, 401);
  EXPECT_EQ(ask("/", 114).status, 200);
}

TEST(RemoteApi, APlayThatCannotBeHandedOverSaysWhyAndAShortKeyIsTold) {
  RecordingHost host;
  host.handoffWritable = false;
  RemoteApi api(host, QStringLiteral("1234567"));
  RemoteRequest r = request("POST", "/api/play", R"({"scene": "摇头"})");
  r.authorization = "Bearer 1234567";
  const RemoteReply reply = api.answer(r);
  EXPECT_EQ(reply.status, 503);
  EXPECT_EQ(json(reply)[QStringLiteral("error")].toString(), QStringLiteral("磁盘已满"));
  EXPECT_TRUE(api.shortKey());
  EXPECT_FALSE(RemoteApi(host, QStringLiteral("舞台舞台舞台舞台")).shortKey());
  EXPECT_FALSE(RemoteApi(host, QString()).shortKey());
}

TEST(RemoteApi, TheSceneListComesAPageAtATime) {
  struct Case {
    const char* target;
    int status;
    int first;  // index of the first name in the answer
    int count;
  };
  const Case cases[] = {
      {"/api/scenes", 200, 0, 1000},
      {"/api/scenes?offset=1000", 200, 1000, 1000},
      {"/api/scenes?offset=2400&limit=50", 200, 2400, 50},
      {"/api/scenes?offset=2480&limit=1000", 200, 2480, 20},
      {"/api/scenes?limit=100000", 200, 0, 1000},
      {"/api/scenes?offset=2500", 200, 2500, 0},
      {"/api/scenes?offset=999999999", 200, 999999999, 0},
      {"/api/scenes?limit=0", 200, 0, 0},
      {"/api/scenes?offset=-1", 400, 0, 0},
      {"/api/scenes?offset=1e3", 400, 0, 0},
      {"/api/scenes?limit=", 400, 0, 0},
      {"/api/scenes?offset=9999999999", 400, 0, 0},
  };
  RecordingHost host;
  host.names.clear();
  for (int i = 0; i < 2500; ++i) host.names.append(QString::number(i));
  RemoteApi api(host, QString());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const RemoteReply reply = api.answer(request("GET", c.target));
    ASSERT_EQ(reply.status, c.status);
    if (c.status != 200) continue;
    const QJsonArray scenes = json(reply)[QStringLiteral("scenes")].toArray();
    EXPECT_EQ(json(reply)[QStringLiteral("total")].toInt(), 2500);
    ASSERT_EQ(scenes.size(), c.count);
    for (int i = 0; i < c.count; ++i)
      EXPECT_EQ(scenes[i].toObject()[QStringLiteral("name")].toString(),
                QString::number(c.first + i));
  }
  // A catalogue the driver refuses: no names, and why.
  host.problem = QStringLiteral("场景.ini 超过 16 MiB");
  host.names.clear();
  const QJsonObject refused = json(api.answer(request("GET", "/api/scenes")));
  EXPECT_EQ(refused[QStringLiteral("error")].toString(), host.problem);
  EXPECT_EQ(refused[QStringLiteral("total")].toInt(), 0);
}
