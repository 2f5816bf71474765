// What the remote's API tells of the show's patch: a whole driver on virtual time reading its
// 配接.ini, behind the remote host the remote uses.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "driver_fixture.h"
#include "driver_remote_host.h"
#include "fixture_view.h"
#include "fixtures/qxf.h"
#include "remote_api.h"

using namespace luvrin;
using namespace luvrin::testing;

namespace {

// A driver whose show patches a two-channel spot at channel 2.
Form1& loadPatched(Driver& driver) {
  fixtures_testing::writeFile(driver.show.path("灯库/spot.qxf"),
                              fixtures_testing::qxf("Maker", "Spot", R"(
 <Channel Name="Pan" Preset="PositionPan"/><Channel Name="Gobo"><Group Byte="0">Gobo</Group>
  <Capability Min="0" Max="99">Open</Capability><Capability Min="100" Max="255">Gobo 3 shake</Capability>
 </Channel>
 <Mode Name="2ch"><Channel Number="0">Pan</Channel><Channel Number="1">Gobo</Channel></Mode>)"));
  driver.show.writeFile(
      QStringLiteral("配接.ini"),
      encodeGbk(QStringLiteral("[配接]\r\n左1=2,Maker/Spot,2ch\r\n坏=999,Maker/Spot,2ch\r\n")));
  Form1& form = driver.load();
  form.patch().finishReading();
  return form;
}

struct PatchedDriver {
  QByteArray get(const char* path) {
    RemoteRequest r;
    r.method = "GET";
    r.path = QString::fromUtf8(path);
    r.host = "127.0.0.1:8080";
    const RemoteReply reply = api.answer(r);
    EXPECT_EQ(reply.status, 200) << path;
    return reply.body;
  }
  Driver driver{{QStringLiteral("发送数据长度"), QStringLiteral("128")}};
  Form1& form = loadPatched(driver);
  DriverRemoteHost host{form, driver.handoff};
  RemoteApi api{host, QString()};
};

}  // namespace

TEST(FixturesApi, FixturesListsThePatchWithItsChannelsAndCapabilities) {
  PatchedDriver d;
  const QJsonArray list = QJsonDocument::fromJson(d.get("/api/fixtures")).array();
  ASSERT_EQ(list.size(), 1);
  const QJsonObject spot = list[0].toObject();
  EXPECT_EQ(spot["name"], "左1");
  EXPECT_EQ(spot["start"], 2);
  EXPECT_EQ(spot["model"], "Spot");
  EXPECT_EQ(spot["mode"], "2ch");
  const QJsonArray channels = spot["channels"].toArray();
  ASSERT_EQ(channels.size(), 2);
  EXPECT_EQ(channels[0].toObject()["group"], "pan");
  const QJsonObject gobo = channels[1].toObject();
  EXPECT_EQ(gobo["channel"], 3);
  EXPECT_EQ(gobo["capabilities"].toArray()[1].toObject()["name"], "Gobo 3 shake");
}

TEST(FixturesApi, ChannelsNameEachPatchedChannelAndTheCapabilityOfItsLevel) {
  PatchedDriver d;
  d.driver.form->Text7.setText(QStringLiteral("DMX000,000,100,"));
  d.driver.run(std::chrono::milliseconds(200));
  const QJsonArray channels =
      QJsonDocument::fromJson(d.get("/api/channels")).object()["channels"].toArray();
  ASSERT_EQ(channels.size(), 128);
  const QJsonObject free = channels[0].toObject();
  EXPECT_EQ(free["channel"], 1);
  EXPECT_FALSE(free.contains("fixture"));
  const QJsonObject gobo = channels[2].toObject();
  EXPECT_EQ(gobo["level"], 100);
  EXPECT_EQ(gobo["fixture"], "左1");
  EXPECT_EQ(gobo["name"], "Gobo");
  EXPECT_EQ(gobo["capability"], "Gobo 3 shake");
}

TEST(FixturesEditor, FadersShowTheirNamesAndTheFixtureViewMovesThem) {
  Driver driver{{QStringLiteral("发送数据长度"), QStringLiteral("128")}};
  Form1& form = loadPatched(driver);
  form.Command3_Click();
  Form3& editor = form.editor();
  EXPECT_EQ(editor.FaderName[2].caption(), "左1\n图案");
  EXPECT_TRUE(editor.FaderName[2].visible());
  EXPECT_FALSE(editor.FaderName[0].visible());
  EXPECT_EQ(editor.FaderCapability[2].caption(), "Open");
  EXPECT_EQ(editor.Option1[0].caption(), "1\n左1");

  FixtureView view(editor);
  ASSERT_EQ(view.problems().size(), 1);
  EXPECT_TRUE(view.problems()[0].startsWith("第 3 行 坏"));
  ASSERT_TRUE(view.select(QStringLiteral("左1")));
  ASSERT_EQ(view.parts().size(), 2u);
  const FixtureView::Part& gobo = view.parts()[1];
  ASSERT_EQ(gobo.kind, FixtureView::Part::Kind::List);
  view.choose(gobo, 1);
  EXPECT_EQ(editor.VScroll1[2].value(), 177);  // the middle of 100-255
  EXPECT_EQ(editor.FaderCapability[2].caption(), "Gobo 3 shake");
  view.setPad(view.parts()[0], 0x4000, 0);
  EXPECT_EQ(editor.VScroll1[1].value(), 0x40);
}
