#pragma once

// A USB Pro widget on the recording port: it answers the queries and carries RDM to simulated
// responders, each answer readable only once the line time it takes has passed.

#include <deque>
#include <utility>

#include "rdm/sim_line.h"
#include "support/recording_port.h"
#include "usb_pro_message.h"

namespace luvrin::testing {

class ScriptedWidget : public RecordingPort {
 public:
  explicit ScriptedWidget(Scheduler& scheduler) : scheduler_(scheduler) {}

  int firmwareMajor = 4, firmwareMinor = 15;
  bool answersParameters = true, answersSerial = true;
  bool closesRdm = true;         // false: RDM requests are never answered nor closed
  std::int64_t slowCloseNs = 0;  // a label 12 for "nothing came back" comes this much later
  QByteArray serial = QByteArray::fromHex("78563412");
  rdm::sim::Line line;
  std::vector<std::int64_t> dmxAtNs;  // when each send-DMX message came
  int rdmRequests = 0;
  // Older firmware's closing label 12 may come in a later USB packet than the answer.
  std::int64_t lateCloseNs = 1'000'000;

  // Answers leave in the order of the requests, as from the widget's one processor.
  void sendToDriver(std::uint8_t label, const QByteArray& payload, std::int64_t afterNs = 0) {
    const std::int64_t at = std::max(nowNs() + afterNs, due_.empty() ? 0 : due_.back().first);
    due_.push_back({at, usbpro::encode(label, payload)});
  }

  bool writeFrame(QByteArrayView header, std::span<const std::uint8_t> data,
                  QByteArrayView trailer) override {
    if (!RecordingPort::writeFrame(header, data, trailer)) return false;
    for (const usbpro::Message& m : decoder_.feed(frames.back())) take(m);
    return true;
  }
  QByteArray readAll() override {
    while (!due_.empty() && due_.front().first <= nowNs()) {
      pendingInput += due_.front().second;
      due_.pop_front();
    }
    return RecordingPort::readAll();
  }

 private:
  const char* parameters() {
    parameters_[0] = char(firmwareMinor);
    parameters_[1] = char(firmwareMajor);
    return parameters_;
  }
  std::int64_t nowNs() const { return scheduler_.clock().tickCountNs(); }
  void take(const usbpro::Message& m) {
    switch (m.label) {
      case usbpro::kSendDmx:
        dmxAtNs.push_back(nowNs());
        return;
      case usbpro::kGetParameters:
        if (answersParameters) sendToDriver(m.label, QByteArray::fromRawData(parameters(), 5));
        return;
      case usbpro::kGetSerialNumber:
        if (answersSerial) sendToDriver(m.label, serial);
        return;
      case usbpro::kRdmRequest:
      case usbpro::kRdmDiscovery:
        return carry(m);
    }
  }
  void carry(const usbpro::Message& m) {
    ++rdmRequests;
    const auto request = rdm::decodeRequest(m.payload);
    rdm::LineResult result;
    const std::int64_t before = line.lineMicros;
    if (request) line.send(*request, [&](rdm::LineResult r) { result = std::move(r); });
    if (!closesRdm) return;
    // USB is quicker than the serial side's settings say: the widget hears a request at once, and
    // the DMX line takes its time.
    const std::int64_t after = (line.lineMicros - before) * 1000;
    if (result.kind == rdm::LineResult::Kind::Answer) {
      sendToDriver(usbpro::kReceived, QByteArray(1, '\0') + result.bytes, after);
      const bool lateClose = firmwareMajor < 4 || (firmwareMajor == 4 && firmwareMinor < 15);
      if (m.label == usbpro::kRdmDiscovery && lateClose)
        sendToDriver(usbpro::kRdmTimeout, {}, after + lateCloseNs);
      return;
    }
    sendToDriver(usbpro::kRdmTimeout, {}, after + slowCloseNs);
  }

  Scheduler& scheduler_;
  char parameters_[5] = {0, 0, 9, 1, 40};
  usbpro::Decoder decoder_;
  std::deque<std::pair<std::int64_t, QByteArray>> due_;
};

}  // namespace luvrin::testing
