// The devices on the driver's line, as the remote's API gives them: a simulated line on virtual
// time behind the driver's own output link.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include "driver_remote_host.h"
#include "rdm_rig.h"
#include "remote_api.h"

using namespace luvrin;
using namespace luvrin::testing;

namespace {

struct Api {
  explicit Api(RdmRig& r) : rig(r), host(r.driver, r.handoff), api(host, QString()) {}
  // Sends the request and lets the line work until it is answered.
  RemoteReply ask(const char* method, const QString& path, const QByteArray& body = {}) {
    std::optional<RemoteReply> got;
    start(method, path, body, [&](RemoteReply r) { got = std::move(r); });
    for (int i = 0; i < 600 && !got; ++i) rig.run(std::chrono::milliseconds(100));
    return got.value_or(RemoteReply{0, {}, {}});
  }
  void start(const char* method, const QString& path, const QByteArray& body,
             std::function<void(RemoteReply)> reply) {
    RemoteRequest r;
    r.method = method;
    r.path = path;
    r.body = body;
    r.host = "127.0.0.1:8080";
    r.contentType = "application/json";
    api.answer(r, std::move(reply));
  }
  RdmRig& rig;
  DriverRemoteHost host;
  RemoteApi api;
};

QJsonObject json(const RemoteReply& r) { return QJsonDocument::fromJson(r.body).object(); }

const QString kFirst = QStringLiteral("/api/rdm/devices/7a70:00000001");
const QString kThird = QStringLiteral("/api/rdm/devices/7a70:00000003");

}  // namespace

TEST(RdmDevicesApi, AnswersAndCodesOnASimulatedLine) {
  RdmRig rig;
  Api api(rig);
  // A second discovery while one runs is refused; the first answers with what it found.
  std::optional<RemoteReply> first;
  api.start("POST", QStringLiteral("/api/rdm/discover"), R"({"full": true})",
            [&](RemoteReply r) { first = std::move(r); });
  EXPECT_EQ(api.ask("POST", QStringLiteral("/api/rdm/discover"), {}).status, 409);
  EXPECT_TRUE(json(api.ask("GET", QStringLiteral("/api/rdm/devices")))["discovering"].toBool());
  for (int i = 0; i < 100 && !first; ++i) rig.run(std::chrono::milliseconds(100));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200);
  EXPECT_EQ(json(*first)["devices"].toArray().size(), 3);

  struct Case {
    const char* method;
    QString path;
    QByteArray body;
    int status;
    const char* key;  // a field of the answer, and what it must be
    QJsonValue value;
  };
  const Case cases[] = {
      {"GET", kFirst, {}, 200, "overlaps", true},
      {"GET", kThird, {}, 200, "address", 100},
      {"GET", QStringLiteral("/api/rdm/devices/7a70:00000009"), {}, 404, "", {}},
      {"GET", QStringLiteral("/api/rdm/devices/7a70:1"), {}, 404, "", {}},
      {"POST", kFirst, R"({"address": 496})", 200, "address", 496},
      {"POST", kFirst, R"({"address": 497})", 400, "", {}},
      {"POST", kFirst, R"({"address": 0})", 400, "", {}},
      {"POST", kFirst, R"({"personality": 5})", 400, "", {}},
      {"POST", kFirst, R"({"address": 1.5})", 400, "", {}},
      {"POST", kFirst, R"({"address": "1"})", 400, "", {}},
      {"POST", kFirst, R"({"identify": 1})", 400, "", {}},
      {"POST", kFirst, R"({"colour": 1})", 400, "", {}},
      {"POST", kFirst, "{}", 400, "", {}},
      {"POST", QStringLiteral("/api/rdm/discover"), R"({"full": 1})", 400, "", {}},
      {"GET", QStringLiteral("/api/rdm/devices/"), {}, 404, "", {}},
      {"POST", kFirst, R"({"personality": 2})", 200, "footprint", 16},
      {"POST", kFirst, R"({"label": "前台左"})", 200, "label", QStringLiteral("前台左")},
      {"POST", kFirst, R"({"identify": true})", 200, "identify", true},
      {"POST", kThird, R"({"identify": true})", 502, "", {}},
      {"POST", QStringLiteral("/api/rdm/devices/7a70:00000009"), R"({"address": 1})", 404, "", {}},
  };
  for (const Case& c : cases) {
    const std::int64_t lineBefore = rig.line.lineMicros;
    const RemoteReply reply = api.ask(c.method, c.path, c.body);
    const QString what = QString::fromUtf8(c.method) + u' ' + c.path + u' ' + c.body;
    EXPECT_EQ(reply.status, c.status) << what.toStdString() << reply.body.toStdString();
    if (*c.key) {
      EXPECT_EQ(json(reply)[QLatin1String(c.key)], c.value) << what.toStdString();
    }
    // A refused value sends nothing.
    if (c.status == 400) {
      EXPECT_EQ(rig.line.lineMicros, lineBefore) << what.toStdString();
    }
  }
  // What the API confirmed is what the device holds.
  EXPECT_EQ(rig.line.devices[0].address, 496);
  EXPECT_EQ(rig.line.devices[0].personality, 2);
  EXPECT_EQ(rig.line.devices[0].label, QByteArray("前台左"));
  EXPECT_TRUE(rig.line.devices[0].identify);
  EXPECT_FALSE(json(api.ask("GET", kFirst)).contains("overlaps"));

  RdmRig without(false);
  Api none(without);
  EXPECT_EQ(none.ask("POST", QStringLiteral("/api/rdm/discover")).status, 501);
  EXPECT_EQ(none.ask("GET", QStringLiteral("/api/rdm/devices")).status, 501);
}

TEST(RdmDevices, IncrementalKeepsWhatItReadAndAnInterfaceMayFindThemItself) {
  RdmRig rig;
  RdmDevices& devices = rig.driver.devices();
  auto discover = [&](bool full) {
    bool done = false;
    EXPECT_EQ(devices.discover(full, [&] { done = true; }), RdmDevices::Start::Started);
    for (int i = 0; i < 100 && !done; ++i) rig.run(std::chrono::milliseconds(100));
    std::vector<std::uint32_t> found;
    for (const rdm::Device& d : devices.devices()) found.push_back(d.uid.device);
    return found;
  };
  EXPECT_EQ(discover(true), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_TRUE(devices.progress().contains(QStringLiteral("找到 3 台设备")));
  // A device gone, one new, one changed from its own menu: an update reads only the new one.
  rig.line.devices[0].present = false;
  rig.line.devices[1].address = 300;
  rig.line.devices.push_back(rdm::sim::consecutive(1, 7)[0]);
  EXPECT_EQ(discover(false), (std::vector<std::uint32_t>{2, 3, 7}));
  EXPECT_EQ(devices.find({0x7a70, 2})->address, 10);
  EXPECT_EQ(devices.find({0x7a70, 7})->model, QStringLiteral("Sim Spot"));
  EXPECT_EQ(discover(true).size(), 3u);
  EXPECT_EQ(devices.find({0x7a70, 2})->address, 300);

  // An interface with its own table of devices is asked instead of the line being searched.
  struct Table final : rdm::Transport {
    void send(const rdm::Request& r, std::function<void(rdm::LineResult)> done) override {
      line.send(r, std::move(done));
    }
    bool findsDevices() const override { return true; }
    void findDevices(bool, std::function<void(Found)> done) override {
      Found f;
      for (const auto& d : line.devices)
        if (d.present) f.devices.push_back(d.uid);
      done(f);
    }
    rdm::sim::Line line;
  };
  Table table;
  table.line.devices = rdm::sim::consecutive(2, 40);
  RdmRig other;
  RdmLink link(other.scheduler, *other.output, &table);
  RdmDevices fromTable(other.scheduler, link, [] { return rdm::Uid{0x7ff0, 1}; });
  bool done = false;
  fromTable.discover(true, [&] { done = true; });
  for (int i = 0; i < 100 && !done; ++i) other.run(std::chrono::milliseconds(100));
  EXPECT_EQ(fromTable.devices().size(), 2u);
  EXPECT_EQ(table.line.branches, 0);
}

TEST(RdmDevicesApi, PatchesAFoundDeviceIntoTheShowsPatch) {
  RdmRig rig;
  Api api(rig);
  rig.driver.Text5.setText(QStringLiteral("128"));
  ASSERT_EQ(api.ask("POST", QStringLiteral("/api/rdm/discover")).status, 200);
  // The library is read on a thread of its own: the answer comes once it is done.
  const auto patch = [&](const QString& uid, const QByteArray& body) {
    std::optional<RemoteReply> got;
    api.start("POST", QStringLiteral("/api/rdm/devices/%1/patch").arg(uid), body,
              [&](RemoteReply r) { got = std::move(r); });
    if (DevicePatcher* patcher = rig.driver.devicesWindow().patcher()) patcher->finish();
    return got.value_or(RemoteReply{0, {}, {}});
  };
  const RemoteReply first = patch(QStringLiteral("7a70:00000001"), {});
  ASSERT_EQ(first.status, 200) << first.body.toStdString();
  EXPECT_EQ(json(first)["name"], QStringLiteral("Spot"));
  EXPECT_EQ(json(first)["start"], 1);
  EXPECT_EQ(json(first)["channels"].toArray().size(), 17);

  struct Case {
    const char* uid;
    QByteArray body;
    int status;
  };
  const Case cases[] = {
      {"7a70:00000002", {}, 409},                     // its channels overlap the first's
      {"7a70:00000003", R"({"name": "spot"})", 409},  // the name is taken
      {"7a70:00000003", R"({"name": 1})", 400},
      {"7a70:00000009", {}, 404},
  };
  for (const Case& c : cases)
    EXPECT_EQ(patch(QString::fromUtf8(c.uid), c.body).status, c.status) << c.uid << c.body.data();
  EXPECT_EQ(patch(QStringLiteral("7a70:00000003"), R"({"name": "后排"})").status, 200);

  // The driver takes the new patch up by itself: each write starts a read, the last one is kept.
  fixtures::ShowPatch& show = rig.driver.patch();
  show.finishReading();
  show.poll(128);
  show.finishReading();
  const QJsonArray listed =
      QJsonDocument::fromJson(api.ask("GET", QStringLiteral("/api/fixtures")).body).array();
  ASSERT_EQ(listed.size(), 2);
  EXPECT_EQ(listed[1].toObject()["name"], QStringLiteral("后排"));
  EXPECT_EQ(listed[1].toObject()["start"], 100);

  RdmRig without(false);
  Api none(without);
  EXPECT_EQ(none.ask("POST", QStringLiteral("/api/rdm/devices/7a70:00000001/patch")).status, 501);
}
