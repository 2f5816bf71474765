#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "rdm_controller.h"

namespace luvrin::rdm {

struct Sensor {
  int number = 0;
  std::uint8_t type = 0, unit = 0, prefix = 0;
  std::int16_t rangeMin = 0, rangeMax = 0;
  QString name;
  std::optional<std::int16_t> value;
  QString unitText() const;  // "°C", "mV", ...
};

struct Slot {
  int offset = 0;
  std::uint8_t type = 0;
  std::uint16_t labelId = 0;
  QString name;
};

// What one fixture (or one of its sub-devices) told us. A field it would not or could not give
// stays empty and says why in problems, under its parameter id.
struct Device {
  Uid uid;
  std::uint16_t subDevice = kRootDevice;

  bool hasInfo = false;  // DEVICE_INFO
  std::uint16_t modelId = 0, category = 0;
  std::uint32_t softwareId = 0;
  std::uint16_t footprint = 0;
  int personality = 0, personalities = 0;
  int address = 0;  // 0xFFFF from the device: it takes no address
  int subDeviceCount = 0, sensorCount = 0;

  QString manufacturer, model, label, software;
  bool supportedKnown = false;
  std::vector<std::uint16_t> supported;
  QStringList personalityNames;
  std::vector<int> personalityFootprints;
  std::vector<Slot> slotInfo;
  std::vector<Sensor> sensors;
  std::optional<std::uint32_t> deviceHours, lampHours;
  std::optional<std::uint8_t> lampState;
  QStringList status;
  bool identify = false;
  std::map<std::uint16_t, QString> problems;
  std::vector<Device> subDevices;

  bool supports(std::uint16_t pid) const;
  // The channels it takes, or nothing when it takes none or its address is not known.
  std::optional<std::pair<int, int>> range() const;
};

QString lampStateText(std::uint8_t state);
// The device as the remote's API gives it; details adds what the device list leaves out.
QJsonObject toJson(const Device& device, bool details);
// Devices whose channels overlap another's.
std::vector<Uid> overlapping(const std::vector<Device>& devices);

// Reads everything this program shows of a device, one request at a time; the parameters every
// responder must answer are asked whether or not SUPPORTED_PARAMETERS names them.
class DeviceReader {
 public:
  explicit DeviceReader(Controller& controller);
  void read(Uid uid, std::function<void(Device)> done);
  bool busy() const { return busy_; }

  // Sub-device numbers need not follow each other: this many more are tried than counted.
  static constexpr int kSubDeviceSlack = 8;

 private:
  struct Step {
    std::uint16_t pid;
    QByteArray data;
    // Takes the data of an ACK; false when it is malformed.
    std::function<bool(QByteArrayView)> take;
    std::uint16_t subDevice = kRootDevice;
  };
  void next();
  void rootKnown();
  void subDeviceRead(int number);
  void add(std::uint16_t pid, QByteArray data, std::function<bool(QByteArrayView)> take,
           std::uint16_t subDevice = kRootDevice);
  Device& target(std::uint16_t subDevice);

  Controller& controller_;
  bool busy_ = false;
  Device device_;
  std::deque<Step> steps_;
  std::function<void()> afterSteps_;
  std::function<void(Device)> done_;
  int subTried_ = 0;
};

// Changes made from the desk: SET, then GET to confirm. A bad value is refused before anything
// is sent; the device's NACK comes back in words.
class DeviceWriter {
 public:
  explicit DeviceWriter(Controller& controller) : controller_(controller) {}
  struct Change {
    std::optional<int> address, personality;
    std::optional<QString> label;
    std::optional<bool> identify;
  };
  // Why the change cannot be made to this device, or nothing.
  static std::optional<QString> refusal(const Device& device, const Change& change);
  // done gets the device with what it confirmed, and the first failure (Ack when none).
  void apply(Device device, Change change, std::function<void(Device, Outcome)> done);

 private:
  struct Item {
    std::uint16_t pid;
    QByteArray setData;
    std::uint16_t confirmPid;
    std::function<bool(Device&, QByteArrayView)> confirm;
  };
  void next();

  Controller& controller_;
  Device device_;
  std::deque<Item> items_;
  Outcome failure_{Outcome::Kind::Ack};
  std::function<void(Device, Outcome)> done_;
};

}  // namespace luvrin::rdm
