#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryDir>
#include <random>

#include "discovery.h"
#include "rdm_device.h"
#include "sim_line.h"
#include "source_uid.h"
#include "support/virtual_time.h"

namespace luvrin::rdm {
namespace {

const Uid kUs{0x7ff0, 0x12345678};

TEST(RdmUid, PrintsAndParsesBack) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> value;
  } cases[] = {{"7a70:00000001", 0x7a7000000001ull},
               {"FFFF:fffffffe", 0xfffffffffffeull},
               {"0000:00000000", 0},
               {"7a70:0000001", std::nullopt},
               {"7a70-00000001", std::nullopt},
               {"7a70:0000000g", std::nullopt},
               {" 7a70:0000001", std::nullopt}};
  for (const Case& c : cases) {
    const auto uid = Uid::parse(QString::fromLatin1(c.text));
    ASSERT_EQ(uid.has_value(), c.value.has_value()) << c.text;
    if (!uid) continue;
    EXPECT_EQ(Uid::parse(uid->toString()), uid) << c.text;
    EXPECT_EQ(uid->value(), *c.value) << c.text;
  }
  EXPECT_EQ(Uid::fromValue(0x7a7000000001ull).toString(), "7a70:00000001");
}

Request getDeviceInfo() { return {{0x7a70, 1}, kUs, 5, 1, 0, CommandClass::Get, kDeviceInfo, {}}; }

TEST(RdmMessage, RequestHasTheLineForm) {
  // Worked by hand: the header's bytes summed come to 0x0437.
  EXPECT_EQ(encode(getDeviceInfo()).toHex(),
            "cc011"
            "87a700000000"
            "17ff012345678"
            "050100"
            "0000"
            "20"
            "0060"
            "00"
            "04d9");
  EXPECT_EQ(decodeRequest(encode(getDeviceInfo())), getDeviceInfo());
}

TEST(RdmMessage, DamagedAnswersAreNeverADevice) {
  const Request sent = getDeviceInfo();
  const Response good{kUs, sent.destination,          5,           ResponseType::Ack,  0,
                      0,   CommandClass::GetResponse, kDeviceInfo, QByteArray(19, 'x')};
  struct Case {
    const char* what;
    std::function<QByteArray()> bytes;
  } cases[] = {
      {"bad checksum",
       [&] {
         auto b = encode(good);
         b[b.size() - 1] = char(b.back() ^ 1);
         return b;
       }},
      {"cut short", [&] { return encode(good).chopped(1); }},
      {"one byte more", [&] { return encode(good) + 'x'; }},
      {"length field",
       [&] {
         auto b = encode(good);
         b[2] = char(b[2] + 1);
         return b;
       }},
      {"start code",
       [&] {
         auto b = encode(good);
         b[0] = 0;
         return b;
       }},
      {"transaction",
       [&] {
         auto r = good;
         r.transaction = 6;
         return encode(r);
       }},
      {"source",
       [&] {
         auto r = good;
         r.source = {0x7a70, 2};
         return encode(r);
       }},
      {"destination",
       [&] {
         auto r = good;
         r.destination = {0x7ff0, 1};
         return encode(r);
       }},
      {"command class",
       [&] {
         auto r = good;
         r.commandClass = CommandClass::SetResponse;
         return encode(r);
       }},
      {"parameter",
       [&] {
         auto r = good;
         r.pid = kDeviceLabel;
         return encode(r);
       }},
      {"nack size",
       [&] {
         auto r = good;
         r.type = ResponseType::NackReason;
         return encode(r);
       }},
  };
  const auto ok = decodeResponse(encode(good), sent);
  ASSERT_TRUE(ok.response) << ok.damage.toStdString();
  EXPECT_EQ(*ok.response, good);
  for (const Case& c : cases) {
    const Decoded d = decodeResponse(c.bytes(), sent);
    EXPECT_FALSE(d.response) << c.what;
    EXPECT_FALSE(d.damage.isEmpty()) << c.what;
  }
}

TEST(RdmMessage, DiscoveryAnswers) {
  const Uid a{0x7a70, 0x00000001};
  for (int preamble = 0; preamble <= 7; ++preamble)
    EXPECT_EQ(decodeDiscoveryAnswer(encodeDiscoveryAnswer(a, preamble)), a) << preamble;
  QByteArray flipped = encodeDiscoveryAnswer(a), eight = flipped;
  flipped[12] = char(flipped[12] ^ 0x04);
  eight.prepend(char(0xFE));
  for (const QByteArray& bad : {flipped, eight, encodeDiscoveryAnswer(a).chopped(1),
                                encodeDiscoveryAnswer(a).replace(7, 1, "\xAB")})
    EXPECT_FALSE(decodeDiscoveryAnswer(bad)) << bad.toHex().toStdString();
}

TEST(RdmMessage, NackReasonsInWords) {
  EXPECT_EQ(nackText(kDataOutOfRange), QStringLiteral("数值超出范围 (NR_DATA_OUT_OF_RANGE)"));
  EXPECT_EQ(nackText(0x0123), QStringLiteral("设备拒绝, 原因 0x0123"));
}

TEST(RdmSourceUid, MadeOnceAndKept) {
  QTemporaryDir dir;
  const QString file = dir.filePath("sub/uid.txt");
  const Uid first = stableSourceUid(file);
  EXPECT_EQ(first.manufacturer, kOwnManufacturer);
  EXPECT_EQ(stableSourceUid(file), first);
  for (const char* broken : {"", "7a70:00000001", "7ff0:ffffffff", "junk"}) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(broken);
    f.close();
    const Uid made = stableSourceUid(file);
    EXPECT_EQ(made.manufacturer, kOwnManufacturer) << broken;
    EXPECT_EQ(stableSourceUid(file), made) << broken;
  }
}

// A controller on a simulated line, on virtual time.
struct Rig {
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  sim::Line line;
  Controller controller{scheduler, line, kUs};
  Discovery discovery{controller};

  Discovery::Result discover(bool full, std::set<Uid> known = {}) {
    std::optional<Discovery::Result> out;
    EXPECT_TRUE(discovery.run(full, known, [&](const Discovery::Result& r) { out = r; }));
    scheduler.advanceBy(std::chrono::seconds(60));
    EXPECT_TRUE(out) << "discovery did not end";
    return out.value_or(Discovery::Result{});
  }
  Device read(Uid uid) {
    DeviceReader reader(controller);
    std::optional<Device> out;
    reader.read(uid, [&](Device d) { out = std::move(d); });
    scheduler.advanceBy(std::chrono::seconds(60));
    EXPECT_TRUE(out) << "reading did not end";
    return out.value_or(Device{});
  }
  std::pair<Device, Outcome> change(const Device& d, DeviceWriter::Change c) {
    DeviceWriter writer(controller);
    std::optional<std::pair<Device, Outcome>> out;
    writer.apply(d, c, [&](Device got, Outcome o) { out.emplace(std::move(got), o); });
    scheduler.advanceBy(std::chrono::seconds(60));
    EXPECT_TRUE(out);
    return out.value_or(std::pair{d, Outcome{}});
  }
};

std::set<Uid> uidsOf(const std::vector<sim::Responder>& devices) {
  std::set<Uid> out;
  for (const auto& d : devices)
    if (d.present && !d.garbled) out.insert(d.uid);
  return out;
}

TEST(RdmDiscovery, FindsEveryDeviceWithTheSearchItNeeds) {
  std::mt19937_64 random(7);
  std::vector<sim::Responder> scattered(20);
  for (auto& d : scattered) d.uid = Uid::fromValue(random() % Uid::kMax);
  std::vector<sim::Responder> edges(2);
  edges[0].uid = Uid::fromValue(0);
  edges[1].uid = Uid::fromValue(Uid::kMax - 1);
  const std::vector<std::vector<sim::Responder>> cases = {{},
                                                          sim::consecutive(1),
                                                          sim::consecutive(2, 0),
                                                          sim::consecutive(8),
                                                          sim::consecutive(32),
                                                          scattered,
                                                          edges};
  for (const bool reported : {true, false})
    for (const auto& devices : cases) {
      Rig rig;
      rig.line.devices = devices;
      rig.line.reportsCollisions = reported;
      const auto result = rig.discover(true);
      EXPECT_EQ(result.devices, uidsOf(devices)) << devices.size();
      EXPECT_FALSE(result.failed);
      std::vector<std::uint64_t> values;
      for (const auto& d : devices) values.push_back(d.uid.value());
      // Each device found costs one more question of its branch, to show it held no other.
      // Merged answers that look clean can only shorten the search: the mute tells.
      const std::int64_t least =
          sim::leastBranches(values, 0, Uid::kMax) + std::int64_t(devices.size());
      if (reported) {
        EXPECT_EQ(result.branchRequests, least) << devices.size();
        EXPECT_EQ(result.muteRequests, std::int64_t(devices.size()));
      } else {
        EXPECT_LE(result.branchRequests, least) << devices.size();
      }
    }
}

TEST(RdmDiscovery, LostAndDamagedAnswers) {
  Rig rig;
  rig.line.devices = sim::consecutive(4);
  rig.line.devices[1].loseAnswers = 2;  // its first two mute answers vanish
  rig.line.devices[2].garbled = true;   // it never gives a clean discovery answer
  const auto result = rig.discover(true);
  EXPECT_EQ(result.devices, uidsOf(rig.line.devices));
  EXPECT_FALSE(result.failed);
}

TEST(RdmDiscovery, IncrementalKeepsFindsAndDrops) {
  Rig rig;
  rig.line.devices = sim::consecutive(5);
  const auto first = rig.discover(true);
  ASSERT_EQ(first.devices.size(), 5u);
  rig.line.devices[0].present = false;
  rig.line.devices.push_back(sim::consecutive(1, 0x1000).front());
  const auto second = rig.discover(false, first.devices);
  EXPECT_EQ(second.devices, uidsOf(rig.line.devices));
  EXPECT_EQ(second.dropped, (std::set<Uid>{{0x7a70, 1}}));
  EXPECT_EQ(second.added, (std::set<Uid>{{0x7a70, 0x1000}}));
  // The known ones are muted at the start, not searched for.
  EXPECT_LT(second.branchRequests, first.branchRequests);
}

TEST(RdmDevice, ReadsWhatTheDeviceGivesAndMarksWhatItRefuses) {
  Rig rig;
  rig.line.devices = sim::consecutive(1);
  sim::Responder& d = rig.line.devices[0];
  d.sensors = 2;
  d.subDevices = 2;
  d.unknown = {kManufacturerLabel, kLampHours};
  d.listed = {kDeviceModelDescription, kDeviceLabel, kDmxPersonality, kDmxPersonalityDescription,
              kSensorDefinition,       kSensorValue, kLampHours,      kManufacturerLabel};
  d.overflow = true;
  const Device got = rig.read(d.uid);
  EXPECT_TRUE(got.hasInfo);
  EXPECT_EQ(got.footprint, 17);
  EXPECT_EQ(got.model, "Sim Spot");
  EXPECT_EQ(got.software, "1.2");  // required: asked though not listed
  EXPECT_EQ(got.label, "Spot");
  EXPECT_EQ(got.personalityNames, QStringList({"Mode 1", "Mode 2", "Mode 3", "Mode 4"}));
  ASSERT_EQ(got.sensors.size(), 2u);
  EXPECT_EQ(got.sensors[1].name, "Temp");
  EXPECT_EQ(got.sensors[1].value, 41);
  EXPECT_EQ(got.sensors[1].unitText(), "°C");
  // The overflow's second part lists DEVICE_HOURS.
  EXPECT_EQ(got.deviceHours, 1000u);
  EXPECT_TRUE(got.manufacturer.isEmpty());
  EXPECT_EQ(got.problems.at(kManufacturerLabel), nackText(kUnknownPid));
  EXPECT_TRUE(got.problems.contains(kLampHours));
  EXPECT_FALSE(got.lampHours);
  ASSERT_EQ(got.subDevices.size(), 2u);
  EXPECT_EQ(got.subDevices[1].address, 201);
  const QJsonObject json = toJson(got, true);
  EXPECT_EQ(json["uid"].toString(), "7a70:00000001");
  EXPECT_EQ(json["sensors"].toArray()[0].toObject()["value"].toInt(), 40);
  EXPECT_EQ(json["personalityNames"].toArray().size(), 4);
}

TEST(RdmDevice, AckTimerIsAskedAgainWhenItsTimeHasCome) {
  Rig rig;
  rig.line.devices = sim::consecutive(1);
  rig.line.devices[0].ackTimerTenths = 5;
  std::optional<Outcome> got;
  rig.controller.get(rig.line.devices[0].uid, 0, kDeviceLabel, {}, [&](Outcome o) { got = o; });
  rig.scheduler.advanceBy(std::chrono::milliseconds(499));
  EXPECT_FALSE(got);
  EXPECT_EQ(rig.controller.otherRequests(), 1);
  rig.scheduler.advanceBy(std::chrono::milliseconds(1));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, Outcome::Kind::Ack);
  EXPECT_EQ(got->data, "Spot");
}

DeviceWriter::Change change(std::optional<int> address, std::optional<int> personality = {},
                            std::optional<QString> label = {}, std::optional<bool> identify = {}) {
  DeviceWriter::Change c;
  c.address = address;
  c.personality = personality;
  c.label = label;
  c.identify = identify;
  return c;
}

TEST(RdmDevice, ChangesAreSetThenConfirmed) {
  Rig rig;
  rig.line.devices = sim::consecutive(1);
  const Device before = rig.read(rig.line.devices[0].uid);
  struct Case {
    DeviceWriter::Change change;
    bool refused;
  } cases[] = {{change(496), false},
               {change(497), true},
               {change(0), true},
               {change({}, 4), false},
               {change({}, 5), true},
               {change({}, {}, QString(33, u'x')), true},
               {change({}, {}, QString(11, u'前')), true},
               {change({}, {}, QString(10, u'前')), false},
               {change({}, {}, {}, true), false}};
  for (const Case& c : cases)
    EXPECT_EQ(DeviceWriter::refusal(before, c.change).has_value(), c.refused);

  auto [after, outcome] = rig.change(before, change(101, 2, QStringLiteral("前台 1"), true));
  EXPECT_TRUE(outcome.ok()) << outcome.text().toStdString();
  EXPECT_EQ(after.address, 101);
  EXPECT_EQ(after.personality, 2);
  EXPECT_EQ(after.footprint, 16);
  EXPECT_EQ(after.label, "前台 1");
  EXPECT_TRUE(after.identify);
  EXPECT_EQ(rig.line.devices[0].address, 101);

  // The device's own refusal comes back in words.
  rig.line.devices[0].unknown = {kDmxStartAddress};
  auto [same, nack] = rig.change(after, change(7));
  EXPECT_EQ(nack.kind, Outcome::Kind::Nack);
  EXPECT_EQ(nack.text(), nackText(kUnknownPid));
  EXPECT_EQ(same.address, 101);
}

TEST(RdmDevice, OverlappingAddressesAreFound) {
  std::vector<Device> devices(4);
  const int addresses[] = {1, 10, 20, 0xFFFF};
  for (std::uint32_t i = 0; i < devices.size(); ++i) {
    devices[i].uid = {1, i + 1};
    devices[i].hasInfo = true;
    devices[i].footprint = 10;
    devices[i].address = addresses[i];
  }
  EXPECT_EQ(overlapping(devices), (std::vector<Uid>{{1, 1}, {1, 2}}));
}

}  // namespace
}  // namespace luvrin::rdm
