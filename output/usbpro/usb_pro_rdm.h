#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "rdm_transport.h"
#include "scheduler.h"
#include "usb_pro_message.h"

namespace luvrin::usbpro {

// RDM through the widget: label 7 puts a request on the DMX line, label 11 a DISC_UNIQUE_BRANCH;
// the widget answers with label 5 (a status byte, then the packet or the raw discovery bytes)
// or label 12 (nothing, or not all of an answer, came back). One transaction at a time. Firmware
// before 4.15 closes every discovery request with a label 12 after its label 5: that 12 belongs
// to the same transaction, which stays open for it a moment, so that it is never taken for the
// next request's answer. A widget that never closes a transaction is given up on by a watchdog.
// DMX frames go between transactions, so a frame waits for one of them at most, and never longer
// than kFrameHoldMs: past that the widget queues the frame behind the late transaction.
class RdmLine final : public rdm::Transport {
 public:
  // Longer than any widget takes to close a transaction, FTDI latency included.
  static constexpr int kWatchdogMs = 250;
  // After this many watchdogs in a row the widget is taken as not carrying RDM: Failed.
  static constexpr int kSilentBeforeFailed = 3;
  // A broadcast gets no answer; the widget's label 12 ends it sooner when it sends one. A
  // transaction ended by a wait may still be closed by the widget later: the first label 12
  // after it, before any answer, is that close and not the next request's.
  static constexpr int kBroadcastWaitMs = 20;
  // How long the closing label 12 of older firmware is waited for after a discovery answer.
  static constexpr int kLateCloseMs = 20;
  // A transaction on the line takes 3 to 6 ms; frames wait no longer than this for one.
  static constexpr int kFrameHoldMs = 10;

  struct Hooks {
    // A whole message for the widget; it may wait for the serial side, and written() is told
    // when it goes.
    std::function<bool(const QByteArray&)> write;
    std::function<void()> changed;  // busy() or holdsFrames() changed
  };
  RdmLine(Scheduler& scheduler, Hooks hooks);

  void send(const rdm::Request& request, std::function<void(rdm::LineResult)> done) override;

  // The widget's firmware decides whether a discovery request ends with a label 12.
  void setFirmware(int major, int minor) { lateClose_ = major < 4 || (major == 4 && minor < 15); }
  bool busy() const { return pending_.has_value(); }
  bool holdsFrames() const { return busy() && holding_; }
  // A label 5 or 12 of the widget's. False: it is not an answer to anything in flight.
  bool received(const Message& message);
  // The request in flight has gone to the widget: its waits start now.
  void written();
  // The port closed: what is in flight fails.
  void portClosed();

  std::int64_t watchdogs() const { return watchdogs_; }

 private:
  struct Pending {
    rdm::Request request;
    std::function<void(rdm::LineResult)> done;
    bool branch = false;
    bool broadcast = false;
    std::optional<rdm::LineResult> held;  // a discovery answer waiting for its closing 12
  };
  void finish(rdm::LineResult result);
  void timedOut();

  Scheduler& scheduler_;
  Hooks hooks_;
  Timer watchdog_;
  Timer frameHold_;
  bool holding_ = false;
  std::optional<Pending> pending_;
  bool lateClose_ = true;
  bool owedClose_ = false;
  int silentInARow_ = 0;
  std::int64_t watchdogs_ = 0;
};

// Received DMX in a label 5: a status byte (errors on the line), start code 0, the slots.
bool isReceivedDmx(const Message& message);

}  // namespace luvrin::usbpro
