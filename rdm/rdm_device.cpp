#include "rdm_device.h"

#include <QJsonArray>
#include <QStringDecoder>
#include <algorithm>

#include "log_categories.h"
#include "pids.h"

namespace luvrin::rdm {

namespace {

// Labels are meant to be ASCII; many devices send UTF-8, older ones Latin-1. A NUL ends them.
QString labelText(QByteArrayView b) {
  if (const qsizetype nul = b.indexOf('\0'); nul >= 0) b = b.first(nul);
  auto utf8 = QStringDecoder(QStringDecoder::Utf8);
  const QString text = utf8(b);
  return utf8.hasError() ? QString::fromLatin1(b) : text;
}

QByteArray labelBytes(const QString& label) { return label.toUtf8(); }

constexpr std::uint16_t kRequired[] = {kDeviceInfo, kSupportedParameters, kSoftwareVersionLabel,
                                       kDmxStartAddress, kIdentifyDevice};

QString statusText(QByteArrayView b) {
  const int sub = be16(b, 0), type = std::uint8_t(b[2]), id = be16(b, 3);
  const int v1 = std::int16_t(be16(b, 5)), v2 = std::int16_t(be16(b, 7));
  static const std::map<int, const char*> kTypes = {{2, "提示"},          {3, "警告"},
                                                    {4, "错误"},          {0x12, "提示已清除"},
                                                    {0x13, "警告已清除"}, {0x14, "错误已清除"}};
  static const std::map<int, const char*> kIds = {
      {0x0001, "校准失败"},   {0x0002, "找不到传感器"},   {0x0003, "传感器常开"},
      {0x0011, "灯泡熄灭"},   {0x0012, "灯泡点火失败"},   {0x0021, "温度过高"},
      {0x0022, "温度过低"},   {0x0023, "传感器超出范围"}, {0x0031, "电压过高"},
      {0x0032, "电压过低"},   {0x0033, "电流过大"},       {0x0034, "电流过小"},
      {0x0042, "断路器跳闸"}, {0x0044, "调光失败"},       {0x0050, "就绪"},
      {0x0051, "未就绪"},     {0x0052, "液体不足"}};
  const auto t = kTypes.find(type);
  const auto i = kIds.find(id);
  QString text =
      QStringLiteral("%1: %2")
          .arg(t != kTypes.end() ? QString::fromUtf8(t->second)
                                 : QStringLiteral("类型 %1").arg(type))
          .arg(i != kIds.end() ? QString::fromUtf8(i->second)
                               : QStringLiteral("状态 0x%1").arg(id, 4, 16, QLatin1Char('0')));
  text += QStringLiteral(" (%1, %2)").arg(v1).arg(v2);
  if (sub != 0) text = QStringLiteral("子设备 %1 %2").arg(sub).arg(text);
  return text;
}

}  // namespace

QString Sensor::unitText() const {
  static const char* const kUnits[] = {
      "",      "°C",  "V",    "V", "V", "A",  "A", "A", "Hz", "Ω",  "W",  "kg", "m",   "m²", "m³",
      "kg/m³", "m/s", "m/s²", "N", "J", "Pa", "s", "°", "sr", "cd", "lm", "lx", "IRE", "B"};
  static const std::map<int, const char*> kPrefixes = {
      {0x01, "d"}, {0x02, "c"}, {0x03, "m"}, {0x04, "µ"},  {0x05, "n"}, {0x06, "p"}, {0x07, "f"},
      {0x08, "a"}, {0x09, "z"}, {0x0A, "y"}, {0x11, "da"}, {0x12, "h"}, {0x13, "k"}, {0x14, "M"},
      {0x15, "G"}, {0x16, "T"}, {0x17, "P"}, {0x18, "E"},  {0x19, "Z"}, {0x1A, "Y"}};
  if (unit >= std::size(kUnits)) return QStringLiteral("单位 %1").arg(unit);
  const auto p = kPrefixes.find(prefix);
  return (p != kPrefixes.end() ? QString::fromUtf8(p->second) : QString()) +
         QString::fromUtf8(kUnits[unit]);
}

bool Device::supports(std::uint16_t pid) const {
  if (std::find(std::begin(kRequired), std::end(kRequired), pid) != std::end(kRequired))
    return true;
  // A device that would not list what it has is asked for everything.
  return !supportedKnown || std::find(supported.begin(), supported.end(), pid) != supported.end();
}

std::optional<std::pair<int, int>> Device::range() const {
  if (!hasInfo || footprint == 0 || address < 1 || address > 512) return std::nullopt;
  return std::pair{address, address + footprint - 1};
}

QString lampStateText(std::uint8_t state) {
  switch (state) {
    case 0:
      return QStringLiteral("关");
    case 1:
      return QStringLiteral("亮");
    case 2:
      return QStringLiteral("点火中");
    case 3:
      return QStringLiteral("待机");
    case 4:
      return QStringLiteral("没有灯泡");
    case 0x7F:
      return QStringLiteral("故障");
  }
  return QStringLiteral("状态 %1").arg(state);
}

QJsonObject toJson(const Device& d, bool details) {
  QJsonObject o{{"uid", d.uid.toString()},
                {"manufacturer", d.manufacturer},
                {"model", d.model},
                {"label", d.label},
                {"software", d.software},
                {"address", d.address},
                {"footprint", d.footprint},
                {"personality", d.personality},
                {"personalities", d.personalities},
                {"identify", d.identify}};
  if (d.subDevice != kRootDevice) o.insert("subDevice", d.subDevice);
  if (!details) return o;
  QJsonArray slotInfo, sensors, status, names, subs;
  for (const Slot& s : d.slotInfo)
    slotInfo.append(QJsonObject{{"offset", s.offset}, {"name", s.name}});
  for (const Sensor& s : d.sensors) {
    QJsonObject j{{"name", s.name}, {"unit", s.unitText()}};
    j.insert("value", s.value ? QJsonValue(*s.value) : QJsonValue());
    sensors.append(j);
  }
  for (const QString& s : d.status) status.append(s);
  for (const QString& n : d.personalityNames) names.append(n);
  o.insert("slots", slotInfo);
  o.insert("sensors", sensors);
  o.insert("status", status);
  o.insert("personalityNames", names);
  if (d.lampHours) o.insert("lampHours", qint64(*d.lampHours));
  if (d.deviceHours) o.insert("deviceHours", qint64(*d.deviceHours));
  if (d.lampState) o.insert("lampState", lampStateText(*d.lampState));
  for (const Device& s : d.subDevices) subs.append(toJson(s, false));
  if (!subs.isEmpty()) o.insert("subDevices", subs);
  return o;
}

std::vector<Uid> overlapping(const std::vector<Device>& devices) {
  std::vector<Uid> out;
  for (const Device& a : devices) {
    const auto ra = a.range();
    if (!ra) continue;
    for (const Device& b : devices) {
      const auto rb = b.range();
      if (&a == &b || !rb) continue;
      if (ra->first <= rb->second && rb->first <= ra->second) {
        out.push_back(a.uid);
        break;
      }
    }
  }
  return out;
}

DeviceReader::DeviceReader(Controller& controller) : controller_(controller) {}

Device& DeviceReader::target(std::uint16_t subDevice) {
  if (subDevice == kRootDevice) return device_;
  for (Device& s : device_.subDevices)
    if (s.subDevice == subDevice) return s;
  return device_;
}

void DeviceReader::add(std::uint16_t pid, QByteArray data, std::function<bool(QByteArrayView)> take,
                       std::uint16_t subDevice) {
  steps_.push_back({pid, std::move(data), std::move(take), subDevice});
}

void DeviceReader::read(Uid uid, std::function<void(Device)> done) {
  busy_ = true;
  device_ = Device{};
  device_.uid = uid;
  done_ = std::move(done);
  steps_.clear();
  subTried_ = 0;
  Device& d = device_;
  auto info = [&d](QByteArrayView b) {
    if (b.size() < 19) return false;
    d.hasInfo = true;
    d.modelId = be16(b, 2);
    d.category = be16(b, 4);
    d.softwareId = be32(b, 6);
    d.footprint = be16(b, 10);
    d.personality = std::uint8_t(b[12]);
    d.personalities = std::uint8_t(b[13]);
    d.address = be16(b, 14);
    d.subDeviceCount = be16(b, 16);
    d.sensorCount = std::uint8_t(b[18]);
    return true;
  };
  add(kDeviceInfo, {}, info);
  add(kSupportedParameters, {}, [&d](QByteArrayView b) {
    if (b.size() % 2) return false;
    d.supportedKnown = true;
    for (qsizetype i = 0; i < b.size(); i += 2) d.supported.push_back(be16(b, i));
    return true;
  });
  afterSteps_ = [this] { rootKnown(); };
  next();
}

void DeviceReader::rootKnown() {
  Device& d = device_;
  auto text = [](QString& into) {
    return [&into](QByteArrayView b) {
      into = labelText(b);
      return b.size() <= 32;
    };
  };
  add(kSoftwareVersionLabel, {}, text(d.software));
  if (d.supports(kManufacturerLabel)) add(kManufacturerLabel, {}, text(d.manufacturer));
  if (d.supports(kDeviceModelDescription)) add(kDeviceModelDescription, {}, text(d.model));
  if (d.supports(kDeviceLabel)) add(kDeviceLabel, {}, text(d.label));
  if (d.footprint > 0 || !d.hasInfo)
    add(kDmxStartAddress, {}, [&d](QByteArrayView b) {
      if (b.size() != 2) return false;
      d.address = be16(b, 0);
      return true;
    });
  add(kIdentifyDevice, {}, [&d](QByteArrayView b) {
    if (b.size() != 1) return false;
    d.identify = b[0] != 0;
    return true;
  });
  if (d.supports(kDmxPersonality))
    add(kDmxPersonality, {}, [this, &d](QByteArrayView b) {
      if (b.size() != 2) return false;
      d.personality = std::uint8_t(b[0]);
      d.personalities = std::uint8_t(b[1]);
      if (d.supports(kDmxPersonalityDescription)) {
        d.personalityNames = QStringList(d.personalities, QString());
        d.personalityFootprints.assign(d.personalities, 0);
        for (int p = 1; p <= d.personalities; ++p)
          add(kDmxPersonalityDescription, QByteArray(1, char(p)), [&d, p](QByteArrayView r) {
            if (r.size() < 3 || std::uint8_t(r[0]) != p) return false;
            d.personalityFootprints[p - 1] = be16(r, 1);
            d.personalityNames[p - 1] = labelText(r.sliced(3));
            return true;
          });
      }
      return true;
    });
  if (d.supports(kSlotInfo))
    add(kSlotInfo, {}, [this, &d](QByteArrayView b) {
      if (b.size() % 5) return false;
      for (qsizetype i = 0; i < b.size(); i += 5)
        d.slotInfo.push_back({be16(b, i), std::uint8_t(b[i + 2]), be16(b, i + 3), {}});
      if (d.supports(kSlotDescription))
        for (std::size_t s = 0; s < d.slotInfo.size(); ++s) {
          QByteArray which;
          putBe16(which, std::uint16_t(d.slotInfo[s].offset));
          add(kSlotDescription, which, [&d, s](QByteArrayView r) {
            if (r.size() < 2 || be16(r, 0) != d.slotInfo[s].offset) return false;
            d.slotInfo[s].name = labelText(r.sliced(2));
            return true;
          });
        }
      return true;
    });
  d.sensors.resize(d.sensorCount);
  for (int n = 0; n < d.sensorCount; ++n) {
    Sensor& s = d.sensors[n];
    s.number = n;
    if (d.supports(kSensorDefinition))
      add(kSensorDefinition, QByteArray(1, char(n)), [&s, n](QByteArrayView r) {
        if (r.size() < 13 || std::uint8_t(r[0]) != n) return false;
        s.type = std::uint8_t(r[1]);
        s.unit = std::uint8_t(r[2]);
        s.prefix = std::uint8_t(r[3]);
        s.rangeMin = std::int16_t(be16(r, 4));
        s.rangeMax = std::int16_t(be16(r, 6));
        s.name = labelText(r.sliced(13));
        return true;
      });
    if (d.supports(kSensorValue))
      add(kSensorValue, QByteArray(1, char(n)), [&s, n](QByteArrayView r) {
        if (r.size() != 9 || std::uint8_t(r[0]) != n) return false;
        s.value = std::int16_t(be16(r, 1));
        return true;
      });
  }
  auto hours = [](std::optional<std::uint32_t>& into) {
    return [&into](QByteArrayView b) {
      if (b.size() != 4) return false;
      into = be32(b, 0);
      return true;
    };
  };
  if (d.supports(kDeviceHours)) add(kDeviceHours, {}, hours(d.deviceHours));
  if (d.supports(kLampHours)) add(kLampHours, {}, hours(d.lampHours));
  if (d.supports(kLampState))
    add(kLampState, {}, [&d](QByteArrayView b) {
      if (b.size() != 1) return false;
      d.lampState = std::uint8_t(b[0]);
      return true;
    });
  if (d.supports(kStatusMessages))
    add(kStatusMessages, QByteArray(1, char(kStatusAdvisory)), [&d](QByteArrayView b) {
      if (b.size() % 9) return false;
      for (qsizetype i = 0; i < b.size(); i += 9) d.status.append(statusText(b.sliced(i, 9)));
      return true;
    });
  afterSteps_ = [this] { subDeviceRead(0); };
  next();
}

void DeviceReader::subDeviceRead(int found) {
  // Sub-devices one after the other, until as many answered as the root counts.
  const int count = device_.subDeviceCount;
  if (found >= count || subTried_ >= std::min(512, count + kSubDeviceSlack)) {
    busy_ = false;
    afterSteps_ = {};
    if (done_) std::exchange(done_, {})(std::move(device_));
    return;
  }
  const auto number = std::uint16_t(++subTried_);
  Device sub;
  sub.uid = device_.uid;
  sub.subDevice = number;
  device_.subDevices.push_back(sub);
  controller_.get(device_.uid, number, kDeviceInfo, {}, [this, number, found](Outcome o) {
    Device& s = device_.subDevices.back();
    if (!o.ok() || o.data.size() < 19) {
      // Not there: the next number is tried.
      device_.subDevices.pop_back();
      return subDeviceRead(found);
    }
    s.hasInfo = true;
    s.modelId = be16(o.data, 2);
    s.footprint = be16(o.data, 10);
    s.personality = std::uint8_t(o.data[12]);
    s.personalities = std::uint8_t(o.data[13]);
    s.address = be16(o.data, 14);
    s.manufacturer = device_.manufacturer;
    s.model = device_.model;
    if (device_.supports(kDeviceLabel))
      add(
          kDeviceLabel, {},
          [&s](QByteArrayView b) {
            s.label = labelText(b);
            return b.size() <= 32;
          },
          number);
    afterSteps_ = [this, found] { subDeviceRead(found + 1); };
    next();
  });
}

void DeviceReader::next() {
  if (steps_.empty()) {
    if (afterSteps_) std::exchange(afterSteps_, {})();
    return;
  }
  Step step = std::move(steps_.front());
  steps_.pop_front();
  controller_.get(device_.uid, step.subDevice, step.pid, step.data, [this, step](Outcome o) {
    Device& d = target(step.subDevice);
    if (!o.ok())
      d.problems[step.pid] = o.text();
    else if (!step.take(o.data))
      d.problems[step.pid] = QStringLiteral("回答的数据格式不对");
    next();
  });
}

std::optional<QString> DeviceWriter::refusal(const Device& d, const Change& c) {
  if (c.address) {
    const int last = *c.address + std::max<int>(d.footprint, 1) - 1;
    if (*c.address < 1 || last > 512)
      return QStringLiteral("地址 %1 不行: 这台设备占 %2 个通道, 地址须在 1 到 %3 之间")
          .arg(*c.address)
          .arg(d.footprint)
          .arg(513 - std::max<int>(d.footprint, 1));
  }
  if (c.personality && (*c.personality < 1 || *c.personality > d.personalities))
    return QStringLiteral("模式 %1 不行: 须在 1 到 %2 之间")
        .arg(*c.personality)
        .arg(d.personalities);
  if (c.label && labelBytes(*c.label).size() > 32) return QStringLiteral("名称太长: 最多 32 字节");
  return std::nullopt;
}

void DeviceWriter::apply(Device device, Change c, std::function<void(Device, Outcome)> done) {
  device_ = std::move(device);
  done_ = std::move(done);
  failure_ = {Outcome::Kind::Ack};
  items_.clear();
  if (c.address) {
    QByteArray data;
    putBe16(data, std::uint16_t(*c.address));
    items_.push_back({kDmxStartAddress, data, kDmxStartAddress, [](Device& d, QByteArrayView b) {
                        if (b.size() != 2) return false;
                        d.address = be16(b, 0);
                        return true;
                      }});
  }
  if (c.personality)
    // The footprint changes with the personality: DEVICE_INFO gives both.
    items_.push_back({kDmxPersonality, QByteArray(1, char(*c.personality)), kDeviceInfo,
                      [](Device& d, QByteArrayView b) {
                        if (b.size() < 19) return false;
                        d.footprint = be16(b, 10);
                        d.personality = std::uint8_t(b[12]);
                        d.address = be16(b, 14);
                        return true;
                      }});
  if (c.label)
    items_.push_back(
        {kDeviceLabel, labelBytes(*c.label), kDeviceLabel, [](Device& d, QByteArrayView b) {
           d.label = labelText(b);
           return true;
         }});
  if (c.identify)
    items_.push_back({kIdentifyDevice, QByteArray(1, char(*c.identify ? 1 : 0)), kIdentifyDevice,
                      [](Device& d, QByteArrayView b) {
                        if (b.size() != 1) return false;
                        d.identify = b[0] != 0;
                        return true;
                      }});
  next();
}

void DeviceWriter::next() {
  if (items_.empty()) {
    if (done_) std::exchange(done_, {})(std::move(device_), failure_);
    return;
  }
  Item item = std::move(items_.front());
  items_.pop_front();
  const Uid uid = device_.uid;
  const std::uint16_t sub = device_.subDevice;
  controller_.set(uid, sub, item.pid, item.setData, [this, item, uid, sub](Outcome set) {
    if (!set.ok()) {
      if (failure_.ok()) failure_ = set;
      qCWarning(lcRdm).noquote() << QStringLiteral("RDM %1 参数 0x%2 未改: %3")
                                        .arg(uid.toString())
                                        .arg(item.pid, 4, 16, QLatin1Char('0'))
                                        .arg(set.text());
      return next();
    }
    controller_.get(uid, sub, item.confirmPid, {}, [this, item, uid](Outcome got) {
      if (!got.ok() || !item.confirm(device_, got.data)) {
        if (failure_.ok()) failure_ = got.ok() ? Outcome{Outcome::Kind::Damaged} : got;
      } else {
        qCInfo(lcRdm).noquote() << QStringLiteral("RDM %1 参数 0x%2 已改 (changed)")
                                       .arg(uid.toString())
                                       .arg(item.pid, 4, 16, QLatin1Char('0'));
      }
      next();
    });
  });
}

}  // namespace luvrin::rdm
