#include "usb_pro_output.h"

#include <QStringList>
#include <algorithm>
#include <utility>

#include "log_categories.h"
#include "output_shared.h"

namespace luvrin {

namespace {

constexpr char kEndByte[] = {static_cast<char>(usbpro::kEnd)};

}  // namespace

UsbProOutput::UsbProOutput(Scheduler& scheduler, SerialPort& port)
    : scheduler_(scheduler),
      port_(port),
      keepAlive_(scheduler, kKeepAliveMs, false),
      rateWait_(scheduler, 1, false),
      reader_(scheduler, kReadIntervalMs, false),
      answerWait_(scheduler, kAnswerWaitMs, false) {
  port_.onOpenChanged = [this] { portOpenChanged(); };
  keepAlive_.onTimer = [this] {
    // Only after a second without a message; a line still busy then gets its turn next second.
    if (port_.isOpen() && readyForFrame()) sendLevels();
  };
  rateWait_.onTimer = [this] { checkReady(); };
  reader_.onTimer = [this] { readReplies(); };
  answerWait_.onTimer = [this] { answerWaitOver(); };
}

UsbProOutput::UsbProOutput(Scheduler& scheduler, std::unique_ptr<SerialPort> port)
    : UsbProOutput(scheduler, *port) {
  owned_ = std::move(port);
}

UsbProOutput::~UsbProOutput() {
  port_.onOpenChanged = nullptr;
  port_.whenReady({});
}

bool UsbProOutput::open() {
  wanted_ = true;
  if (port_.isOpen()) return true;
  const std::uint64_t before = sessions_;
  const bool opened = port_.open();
  // A port that tells of its opening has started the session already.
  if (opened && sessions_ == before) startSession();
  statusChanged();
  return opened;
}

void UsbProOutput::portOpenChanged() {
  // Told on every opening, also when a numbered port moved to another device without being
  // seen closed: each opening may be another widget.
  if (port_.isOpen())
    startSession();
  else
    endSession();
  statusChanged();
}

void UsbProOutput::startSession() {
  ++sessions_;
  // What the port held is an earlier device's talk, and a reply cut short by the replug would
  // hold up the decoding of the new one's.
  port_.readAll();
  decoder_ = {};
  parameters_.reset();
  serialNumber_.reset();
  unanswered_ = false;
  const QByteArray queries = usbpro::encode(usbpro::kGetParameters, QByteArray(2, '\0')) +
                             usbpro::encode(usbpro::kGetSerialNumber, {});
  if (!port_.writeFrame(queries, {}, {})) qCDebug(lcUsbPro) << "cannot ask the widget";
  answerWait_.setEnabled(false);
  answerWait_.setEnabled(true);
  reader_.setEnabled(true);
}

void UsbProOutput::endSession() {
  reader_.setEnabled(false);
  answerWait_.setEnabled(false);
  rateWait_.setEnabled(false);
  ready_ = nullptr;
  port_.whenReady({});
}

void UsbProOutput::answerWaitOver() {
  answerWait_.setEnabled(false);
  if (parameters_ || serialNumber_) return;
  unanswered_ = true;
  qCDebug(lcUsbPro) << port_.systemName() << "did not answer; sending anyway";
  statusChanged();
}

void UsbProOutput::readReplies() {
  const QByteArray bytes = port_.readAll();
  if (bytes.isEmpty()) return;
  bool changed = false;
  for (const usbpro::Message& m : decoder_.feed(bytes)) {
    if (m.label == usbpro::kGetParameters) {
      const auto p = usbpro::parseParameters(m.payload);
      if (!p || p == parameters_) continue;
      parameters_ = p;
      changed = true;
      qCDebug(lcUsbPro) << "firmware" << p->firmwareMajor << p->firmwareMinor << "break"
                        << p->breakTime << "mark after break" << p->markAfterBreakTime
                        << "refresh rate" << p->refreshRate;
    } else if (m.label == usbpro::kGetSerialNumber) {
      const auto s = usbpro::parseSerialNumber(m.payload);
      if (!s || s == serialNumber_) continue;
      serialNumber_ = s;
      changed = true;
      qCDebug(lcUsbPro) << "serial number" << *s;
    }
  }
  if (changed) {
    unanswered_ = false;
    statusChanged();
  }
}

QString UsbProOutput::status() const {
  const QString name = QStringLiteral("USB Pro %1").arg(port_.systemName());
  if (!port_.isOpen()) {
    if (!wanted_) return name;
    return cannotOpenRetrying(name);
  }
  QStringList about;
  if (parameters_)
    about << QStringLiteral("固件 %1.%2")
                 .arg(parameters_->firmwareMajor)
                 .arg(parameters_->firmwareMinor);
  if (serialNumber_) about << QStringLiteral("序列号 %1").arg(*serialNumber_);
  if (!about.isEmpty()) return name + QStringLiteral(": ") + about.join(QStringLiteral(", "));
  if (unanswered_)
    return name + QStringLiteral(": 已打开, 无应答 (the widget does not answer; sending anyway)");
  return name + QStringLiteral(": 已打开");
}

bool UsbProOutput::readyForFrame() {
  return port_.isOpen() && rate_.ready(nowNs()) && port_.readyForFrame();
}

void UsbProOutput::whenReady(std::function<void()> ready) {
  ready_ = std::move(ready);
  rateWait_.setEnabled(false);
  port_.whenReady({});
  if (!ready_) return;
  if (!port_.isOpen()) {
    ready_ = nullptr;
    return;
  }
  armReady();
}

void UsbProOutput::armReady() {
  const std::int64_t ns = rate_.nsUntilReady(nowNs());
  if (ns == 0 && !port_.readyForFrame()) {
    // The rate allows a message; the line is what it waits for.
    port_.whenReady([this] { checkReady(); });
    return;
  }
  rateWait_.setInterval(static_cast<int>(std::max<std::int64_t>(1, wholeMsAfter(ns))));
  rateWait_.setEnabled(true);
}

void UsbProOutput::checkReady() {
  rateWait_.setEnabled(false);
  if (!ready_) return;
  if (!port_.isOpen()) {
    ready_ = nullptr;
    return;
  }
  if (readyForFrame()) {
    std::exchange(ready_, nullptr)();
    return;
  }
  armReady();
}

bool UsbProOutput::send(std::span<const std::uint8_t> levels) {
  levels_.assign(levels.begin(),
                 levels.begin() + static_cast<std::ptrdiff_t>(usbpro::levelsSent(levels.size())));
  // The rate holds here too: nobody gets a burst of messages by calling without asking.
  if (!readyForFrame()) return false;
  return sendLevels();
}

bool UsbProOutput::sendLevels() {
  // Restarted on every message, so it fires only after a second without one.
  keepAlive_.setEnabled(false);
  keepAlive_.setEnabled(true);
  if (!port_.writeFrame(usbpro::dmxHeader(levels_.size()), levels_, QByteArrayView(kEndByte, 1)))
    return false;
  rate_.sent(nowNs());
  return true;
}

}  // namespace luvrin
