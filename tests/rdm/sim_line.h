#pragma once

// A DMX line with a few simulated responders behind it. Answers to a discovery branch are merged
// as the line merges them when several devices talk at once (the bits of all of them ANDed).

#include <map>
#include <set>
#include <vector>

#include "pids.h"
#include "rdm_message.h"
#include "rdm_transport.h"

namespace luvrin::rdm::sim {

struct Responder {
  Uid uid;
  int footprint = 17, personality = 1, personalities = 4, address = 1;
  QByteArray label = "Spot";
  bool identify = false;
  int sensors = 0, subDevices = 0;
  std::set<std::uint16_t> unknown;  // NACKed with NR_UNKNOWN_PID
  std::vector<std::uint16_t> listed = {
      kManufacturerLabel,         kDeviceModelDescription, kDeviceLabel, kDmxPersonality,
      kDmxPersonalityDescription, kSensorDefinition,       kSensorValue, kLampHours};
  int ackTimerTenths = 0;  // every GET first answered with ACK_TIMER
  bool overflow = false;   // SUPPORTED_PARAMETERS in two parts
  bool overflowed = false;
  int loseAnswers = 0;   // this many answers vanish on the line
  bool garbled = false;  // its discovery answers are always damaged
  bool present = true;
  bool muted = false;
  std::map<std::uint16_t, QByteArray> queued;
};

class Line final : public Transport {
 public:
  std::vector<Responder> devices;
  std::int64_t lineMicros = 0;  // line time used: 2.8 ms a discovery request, 3 ms other ones
  std::int64_t branches = 0;
  // An interface that sees several devices talk at once says so; otherwise the merged bits come
  // through, and they can look like one clean answer.
  bool reportsCollisions = false;

  void send(const Request& r, std::function<void(LineResult)> done) override {
    lineMicros += r.commandClass == CommandClass::Discovery ? 2800 : 3000;
    if (r.pid == kDiscUniqueBranch) return done(branch(r));
    LineResult out;
    for (Responder& d : devices)
      if (d.present && (r.destination == d.uid || r.destination.isBroadcast())) {
        const auto answer = respond(d, r);
        if (!answer || r.destination.isBroadcast()) continue;
        if (d.loseAnswers > 0) {
          --d.loseAnswers;
          continue;
        }
        out = {LineResult::Kind::Answer, encode(*answer), {}};
      }
    done(out);
  }

 private:
  LineResult branch(const Request& r) {
    ++branches;
    const std::uint64_t lower = uidAt(r.data, 0).value(), upper = uidAt(r.data, 6).value();
    QByteArray merged;
    int talking = 0;
    for (Responder& d : devices) {
      if (!d.present || d.muted || d.uid.value() < lower || d.uid.value() > upper) continue;
      ++talking;
      QByteArray mine = encodeDiscoveryAnswer(d.uid);
      if (d.garbled) mine[10] = char(mine[10] ^ 0x10);
      if (merged.isEmpty()) {
        merged = mine;
      } else {
        for (qsizetype i = 0; i < merged.size(); ++i) merged[i] = char(merged[i] & mine[i]);
      }
    }
    if (merged.isEmpty()) return {};
    if (talking > 1 && reportsCollisions) return {LineResult::Kind::Collision, {}, {}};
    return {LineResult::Kind::Answer, merged, {}};
  }

  static QByteArray be(std::initializer_list<std::uint16_t> words) {
    QByteArray b;
    for (auto w : words) putBe16(b, w);
    return b;
  }

  std::optional<Response> respond(Responder& d, const Request& r) {
    Response a{r.source,
               d.uid,
               r.transaction,
               ResponseType::Ack,
               0,
               r.subDevice,
               CommandClass(std::uint8_t(r.commandClass) + 1),
               r.pid,
               {}};
    auto nack = [&](std::uint16_t reason) {
      a.type = ResponseType::NackReason;
      a.data = be({reason});
      return a;
    };
    if (r.pid == kDiscMute || r.pid == kDiscUnMute) {
      d.muted = r.pid == kDiscMute;
      a.data = be({0});
      return a;
    }
    if (r.subDevice > d.subDevices) return nack(kSubDeviceOutOfRange);
    if (r.pid == kQueuedMessage) {
      if (d.queued.empty()) {
        a.pid = kStatusMessages;
        return a;
      }
      a.pid = d.queued.begin()->first;
      a.data = d.queued.begin()->second;
      d.queued.erase(d.queued.begin());
      return a;
    }
    if (d.unknown.contains(r.pid)) return nack(kUnknownPid);
    const bool set = r.commandClass == CommandClass::Set;
    if (set) {
      switch (r.pid) {
        case kDmxStartAddress:
          if (r.data.size() != 2 || be16(r.data, 0) < 1 || be16(r.data, 0) > 512)
            return nack(kDataOutOfRange);
          d.address = be16(r.data, 0);
          return a;
        case kDmxPersonality:
          if (r.data.size() != 1 || r.data[0] < 1 || r.data[0] > d.personalities)
            return nack(kDataOutOfRange);
          d.personality = r.data[0];
          d.footprint = 8 * d.personality;
          return a;
        case kDeviceLabel:
          d.label = r.data;
          return a;
        case kIdentifyDevice:
          d.identify = r.data.size() == 1 && r.data[0] != 0;
          return a;
      }
      return nack(kUnsupportedCommandClass);
    }
    switch (r.pid) {
      case kDeviceInfo:
        a.data = be({0x0100, 1, 0x0101}) + be({0, 1}) +
                 be({std::uint16_t(r.subDevice ? 1 : d.footprint)}) +
                 (QByteArray(1, char(d.personality)) + char(d.personalities)) +
                 be({std::uint16_t(d.address + 100 * r.subDevice),
                     std::uint16_t(r.subDevice ? 0 : d.subDevices)}) +
                 QByteArray(1, char(r.subDevice ? 0 : d.sensors));
        break;
      case kSupportedParameters:
        for (auto p : d.listed) a.data += be({p});
        if (d.overflow) {
          d.overflow = false;
          a.type = ResponseType::AckOverflow;
        } else if (d.overflowed) {
          a.data = be({kDeviceHours});
        }
        d.overflowed = a.type == ResponseType::AckOverflow;
        break;
      case kSoftwareVersionLabel:
        a.data = "1.2";
        break;
      case kManufacturerLabel:
        a.data = "Sim";
        break;
      case kDeviceModelDescription:
        a.data = "Sim Spot";
        break;
      case kDeviceLabel:
        a.data = d.label;
        break;
      case kDmxStartAddress:
        a.data = be({std::uint16_t(d.address)});
        break;
      case kIdentifyDevice:
        a.data = QByteArray(1, char(d.identify));
        break;
      case kDmxPersonality:
        a.data = (QByteArray(1, char(d.personality)) + char(d.personalities));
        break;
      case kDmxPersonalityDescription:
        a.data =
            r.data + be({std::uint16_t(8 * r.data[0])}) + "Mode " + QByteArray::number(r.data[0]);
        break;
      case kSensorDefinition:
        a.data = r.data + QByteArray::fromHex("000100") + be({0, 100, 0, 80}) + QByteArray(1, 0) +
                 "Temp";
        break;
      case kSensorValue:
        a.data = r.data + be({std::uint16_t(40 + r.data[0]), 0, 0, 0});
        break;
      case kDeviceHours:
        a.data = QByteArray::fromHex("000003e8");
        break;
      case kLampHours:
        a.data = QByteArray::fromHex("0000007b");
        break;
      default:
        return nack(kUnknownPid);
    }
    if (d.ackTimerTenths > 0) {
      d.queued[r.pid] = a.data;
      a.type = ResponseType::AckTimer;
      a.data = be({std::uint16_t(d.ackTimerTenths)});
    }
    return a;
  }
};

// Devices of one maker with consecutive numbers, the hardest case for a binary search.
inline std::vector<Responder> consecutive(int n, std::uint32_t first = 1) {
  std::vector<Responder> out(n);
  for (int i = 0; i < n; ++i) out[i].uid = {0x7a70, first + std::uint32_t(i)};
  return out;
}

// The branches a binary search must ask to single the devices out: every branch it reaches,
// where a branch with more than one device is split in two.
inline std::int64_t leastBranches(const std::vector<std::uint64_t>& uids, std::uint64_t lower,
                                  std::uint64_t upper) {
  std::int64_t asked = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> todo{{lower, upper}};
  while (!todo.empty()) {
    auto [lo, hi] = todo.back();
    todo.pop_back();
    ++asked;
    int in = 0;
    for (auto u : uids) in += u >= lo && u <= hi;
    if (in < 2) continue;
    const std::uint64_t mid = lo + (hi - lo) / 2;
    todo.push_back({lo, mid});
    todo.push_back({mid + 1, hi});
  }
  return asked;
}

}  // namespace luvrin::rdm::sim
