// The remote's faders over what the driver plays: a whole driver on virtual time, asked through
// the remote's API as a phone asks.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <map>

#include "driver_fixture.h"
#include "driver_remote_host.h"
#include "remote_api.h"
#include "script.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {

QString key(const char* k) { return QString::fromUtf8(k); }

QJsonObject post(RemoteApi& api, const QByteArray& body,
                 const QString& path = QStringLiteral("/api/channels")) {
  RemoteRequest r;
  r.method = "POST";
  r.path = path;
  r.body = body;
  r.host = "127.0.0.1:8080";
  r.contentType = "application/json";
  const RemoteReply reply = api.answer(r);
  EXPECT_EQ(reply.status, 200);
  return QJsonDocument::fromJson(reply.body).object();
}

}  // namespace

TEST(RemoteFaders, AMoveLandsOnTopOfWhatIsOnTheWireAndHolds) {
  struct Case {
    const char* scene;     // handed over before the move, "" for none
    bool editorOpen;       // the editor was open before the scene, fader 2 at 182, the rest 0
    const char* channels;  // the move, as the page posts it
    std::map<int, int> moved;
    bool stopped;
  };
  const Case cases[] = {
      {"", false, R"({"2": 182})", {{2, 182}}, false},
      {"暖光", false, R"({"3": 99})", {{3, 99}}, false},
      // The faders held an earlier look: the scene's other channels stay.
      {"暖光", true, R"({"3": 99})", {{3, 99}}, false},
      // The move makes the very text the editor's box held before the scene.
      {"暖光",
       true,
       R"({"1": 0, "2": 182, "3": 0, "4": 0})",
       {{1, 0}, {2, 182}, {3, 0}, {4, 0}},
       false},
      {"追光", false, R"({"2": 182})", {{2, 182}}, true},
      {"追光", true, R"({"4": 7})", {{4, 7}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scene) + " " + c.channels + (c.editorOpen ? " open" : ""));
    Driver d({{key("发送数据长度"), key("4")}});
    d.show.writeCatalog({key("暖光=DMX255,180,060,010,"), key("追光=chase.ini")});
    d.show.writeFile(key("chase.ini"), scriptFileBytes(key("\r\nDMX010,011,012,013,\r\n"
                                                           "!T000003'100mS\r\nDMX020,021,022,023,"
                                                           "\r\n!T000003'100mS\r\n!GT000")));
    Form1& f = d.load();
    DriverRemoteHost host(f, d.handoff);
    RemoteApi api(host, QString());
    if (c.editorOpen) {
      f.Command3_Click();
      f.editor().setFaders(std::vector<std::pair<int, int>>{{1, 182}});
      d.run(200ms);
    }
    d.handoff.value = key(c.scene);
    d.run(450ms);
    Levels expected = d.port.lastFrameLevels();
    for (const auto& [channel, level] : c.moved)
      expected[static_cast<std::size_t>(channel - 1)] = static_cast<std::uint8_t>(level);

    const QJsonObject answer = post(api, QByteArray(R"({"channels": )") + c.channels + "}");
    EXPECT_EQ(answer[QStringLiteral("stopped")].toBool(), c.stopped);
    EXPECT_EQ(answer[QStringLiteral("message")].toString(),
              c.stopped ? key("场景已停止: 追光, 推子接管") : QString());
    d.run(200ms);
    EXPECT_EQ(d.port.lastFrameLevels(), expected);
    d.run(2s);  // past the script's next looks
    EXPECT_EQ(d.port.lastFrameLevels(), expected);

    // Tapped again, the scene plays again as it was.
    if (*c.scene == '\0') continue;
    post(api, QByteArray(R"({"scene": ")") + c.scene + "\"}", QStringLiteral("/api/play"));
    d.run(1s);
    const Levels now = d.port.lastFrameLevels();
    EXPECT_TRUE(now == Levels({255, 180, 60, 10, 0}) || now == Levels({10, 11, 12, 13, 0}) ||
                now == Levels({20, 21, 22, 23, 0}))
        << int(now[0]) << "," << int(now[1]) << "," << int(now[2]);
  }
}
