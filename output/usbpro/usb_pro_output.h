#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "frame_output.h"
#include "output_shared.h"
#include "scheduler.h"
#include "serial_port.h"
#include "usb_pro_message.h"
#include "usb_pro_rdm.h"

namespace luvrin {

// A DMX widget that speaks the USB Pro message protocol over a serial port (an FTDI adapter
// inside). Each frame goes out as one send-DMX message: start code 0 and the first 512 levels.
// The widget drives a DMX512 line, so messages go at most 44 a second on the line's refresh
// grid, always with the newest levels, and within the serial line's own pace; while nothing
// changes the last levels go again once a second. Every time the port opens (at start and
// after a replug) the widget is asked for its parameters and serial number, and what it answers
// shows in the status; frames never wait for the answers, since many widgets never give them.
// A widget whose firmware is 2.4 or later carries RDM to the devices on its line; levels it
// receives (a label 5 with start code 0) go to onLevelsReceived.
class UsbProOutput final : public FrameOutput {
 public:
  static constexpr int kKeepAliveMs = 1000;
  // How long a widget has to answer before the status says it did not.
  static constexpr int kAnswerWaitMs = 1000;
  static constexpr int kReadIntervalMs = 20;

  UsbProOutput(Scheduler& scheduler, SerialPort& port);
  UsbProOutput(Scheduler& scheduler, std::unique_ptr<SerialPort> port);
  ~UsbProOutput() override;

  bool open() override;
  bool isOpen() const override { return port_.isOpen(); }
  bool readyForFrame() override;
  void whenReady(std::function<void()> ready) override;
  bool send(std::span<const std::uint8_t> levels) override;
  QString status() const override;
  rdm::Transport* rdm() override;
  QString rdmRefusal() const override;
  // Answered when both of this opening's questions were answered or their time was up.
  void about(std::function<void(InterfaceAbout)> answer) override;

  // The first firmware that carries RDM.
  static constexpr int kRdmFirmwareMajor = 2, kRdmFirmwareMinor = 4;

  // The status's words for what a widget said about itself: "固件 1.44, 序列号 12345678".

  // What the widget said about itself since the port last opened.
  const std::optional<usbpro::Parameters>& parameters() const { return parameters_; }
  const std::optional<QString>& serialNumber() const { return serialNumber_; }
  SerialPort& port() { return port_; }

 private:
  void portOpenChanged();
  void startSession();
  void endSession();
  void readReplies();
  bool writeMessage(const QByteArray& message);
  void writeRequest();
  void portFree();
  // A transaction holds frames back; a request still waiting does once a frame went before it.
  bool framesHeld() const;
  // A question asked at every opening: answered by a message of its label, or not before its
  // deadline. Each is handled on its own, so a widget that answers one of them still shows it.
  struct Query {
    enum class State { Asked, Answered, Unanswered };
    std::uint8_t label = 0;
    State state = State::Asked;
    std::unique_ptr<Timer> deadline;
  };
  void ask(Query& query);
  void answered(Query& query);
  void deadlineOver(Query& query);
  InterfaceAbout currentAbout() const;
  // Answers the requests waiting for this opening's questions once none is still asked.
  void tellAbout();
  void handle(const usbpro::Message& message);
  void rdmChanged();
  bool sendLevels();
  void armReady();
  void checkReady();
  std::int64_t nowNs() const { return scheduler_.clock().tickCountNs(); }

  Scheduler& scheduler_;
  std::unique_ptr<SerialPort> owned_;
  SerialPort& port_;
  PacketRate rate_;
  Timer keepAlive_;
  Timer rateWait_;  // a single shot for whenReady, at the next message the rate allows
  Timer reader_;
  Query parametersQuery_;
  Query serialQuery_;
  usbpro::RdmLine rdmLine_;
  QByteArray deferred_;   // an RDM request waiting for the serial side, or for the frame due now
  bool yielded_ = false;  // the waiting request let one frame go first
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::function<void()> ready_;
  std::vector<std::uint8_t> levels_;
  usbpro::Decoder decoder_;
  std::optional<usbpro::Parameters> parameters_;
  std::optional<QString> serialNumber_;
  std::vector<std::function<void(InterfaceAbout)>> aboutWaiting_;
  bool wanted_ = false;
  std::uint64_t sessions_ = 0;
};

}  // namespace luvrin
