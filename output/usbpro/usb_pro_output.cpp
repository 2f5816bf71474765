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
      rdmLine_(scheduler, {.write = [this](const QByteArray& m) { return writeMessage(m); },
                           .changed = [this] { rdmChanged(); }}) {
  port_.onOpenChanged = [this] { portOpenChanged(); };
  keepAlive_.onTimer = [this] {
    // Only after a second without a message; a line still busy then gets its turn next second.
    if (port_.isOpen() && readyForFrame()) sendLevels();
  };
  rateWait_.onTimer = [this] { checkReady(); };
  reader_.onTimer = [this] { readReplies(); };
  for (Query* q : {&parametersQuery_, &serialQuery_}) {
    q->deadline = std::make_unique<Timer>(scheduler, kAnswerWaitMs, false);
    q->deadline->onTimer = [this, q] { deadlineOver(*q); };
  }
  parametersQuery_.label = usbpro::kGetParameters;
  serialQuery_.label = usbpro::kGetSerialNumber;
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
  // Both questions in one write: the widget answers them in turn.
  const QByteArray queries = usbpro::encode(usbpro::kGetParameters, QByteArray(2, '\0')) +
                             usbpro::encode(usbpro::kGetSerialNumber, {});
  if (!port_.writeFrame(queries, {}, {})) qCDebug(lcUsbPro) << "cannot ask the widget";
  ask(parametersQuery_);
  ask(serialQuery_);
  reader_.setInterval(kReadIntervalMs);
  reader_.setEnabled(true);
}

void UsbProOutput::endSession() {
  reader_.setEnabled(false);
  for (Query* q : {&parametersQuery_, &serialQuery_}) q->deadline->setEnabled(false);
  // What this widget would have said is not coming; the next opening may be another widget.
  for (auto& answer : std::exchange(aboutWaiting_, {}))
    answer(InterfaceAbout::refused(QStringLiteral("USB Pro 接口已关闭 (the widget was closed)")));
  deferred_.clear();
  rdmLine_.portClosed();
  rateWait_.setEnabled(false);
  ready_ = nullptr;
  port_.whenReady({});
}

bool UsbProOutput::writeMessage(const QByteArray& message) {
  if (!port_.isOpen()) return false;
  deferred_ = message;
  yielded_ = false;
  writeRequest();
  return true;
}

void UsbProOutput::writeRequest() {
  if (deferred_.isEmpty()) return;
  // The frame due now goes first and the request right behind it, before the next frame: frames
  // and requests written back to back would otherwise keep the serial side busy, the one for as
  // long as the other runs.
  if (!yielded_ && ready_ && rate_.ready(nowNs())) return;
  if (!port_.readyForFrame()) {
    port_.whenReady([this] { portFree(); });
    return;
  }
  if (port_.writeFrame(std::exchange(deferred_, {}), {}, {}))
    rdmLine_.written();
  else
    qCDebug(lcUsbPro) << "cannot send an RDM request";
}

void UsbProOutput::portFree() {
  checkReady();
  writeRequest();
}

bool UsbProOutput::framesHeld() const {
  if (!deferred_.isEmpty()) return yielded_;
  return rdmLine_.holdsFrames();
}

void UsbProOutput::ask(Query& query) {
  query.state = Query::State::Asked;
  query.deadline->setEnabled(false);
  query.deadline->setEnabled(true);
}

void UsbProOutput::answered(Query& query) {
  query.state = Query::State::Answered;
  query.deadline->setEnabled(false);
}

void UsbProOutput::deadlineOver(Query& query) {
  query.deadline->setEnabled(false);
  if (query.state != Query::State::Asked) return;
  query.state = Query::State::Unanswered;
  qCDebug(lcUsbPro) << port_.systemName() << "did not answer query" << query.label
                    << "; sending anyway";
  tellAbout();
  statusChanged();
}

void UsbProOutput::about(std::function<void(InterfaceAbout)> answer) {
  if (!port_.isOpen())
    return answer(
        InterfaceAbout::refused(QStringLiteral("USB Pro 接口未打开 (the widget is not open)")));
  aboutWaiting_.push_back(std::move(answer));
  tellAbout();
}

void UsbProOutput::tellAbout() {
  if (aboutWaiting_.empty()) return;
  for (const Query* q : {&parametersQuery_, &serialQuery_})
    if (q->state == Query::State::Asked) return;
  const InterfaceAbout about = currentAbout();
  for (auto& answer : std::exchange(aboutWaiting_, {})) answer(about);
}

InterfaceAbout UsbProOutput::currentAbout() const {
  InterfaceAbout about;
  if (parameters_)
    about.firmware =
        QStringLiteral("%1.%2").arg(parameters_->firmwareMajor).arg(parameters_->firmwareMinor);
  about.serialNumber = serialNumber_;
  about.firmwareUnanswered = parametersQuery_.state == Query::State::Unanswered;
  about.serialUnanswered = serialQuery_.state == Query::State::Unanswered;
  return about;
}

void UsbProOutput::readReplies() {
  const QByteArray bytes = port_.readAll();
  if (bytes.isEmpty()) return;
  for (const usbpro::Message& m : decoder_.feed(bytes)) handle(m);
}

void UsbProOutput::handle(const usbpro::Message& m) {
  if (m.label == usbpro::kGetParameters) {
    const auto p = usbpro::parseParameters(m.payload);
    if (!p) return;
    const bool first = parametersQuery_.state != Query::State::Answered;
    answered(parametersQuery_);
    if (p == parameters_ && !first) return;
    parameters_ = p;
    rdmLine_.setFirmware(p->firmwareMajor, p->firmwareMinor);
    qCDebug(lcUsbPro) << "firmware" << p->firmwareMajor << p->firmwareMinor << "break"
                      << p->breakTime << "mark after break" << p->markAfterBreakTime
                      << "refresh rate" << p->refreshRate;
    tellAbout();
    statusChanged();
  } else if (m.label == usbpro::kGetSerialNumber) {
    const auto s = usbpro::parseSerialNumber(m.payload);
    if (!s) return;
    const bool first = serialQuery_.state != Query::State::Answered;
    answered(serialQuery_);
    if (s == serialNumber_ && !first) return;
    serialNumber_ = s;
    qCDebug(lcUsbPro) << "serial number" << *s;
    tellAbout();
    statusChanged();
  } else if (rdmLine_.received(m)) {
    return;
  } else if (usbpro::isReceivedDmx(m)) {
    // A status byte other than 0 tells of a frame damaged on the line.
    if (m.payload[0] != 0 || !onLevelsReceived) return;
    ReceivedLevels in;
    in.levels.assign(m.payload.begin() + 2, m.payload.end());
    onLevelsReceived(in);
  }
}

void UsbProOutput::rdmChanged() {
  // A widget answers within milliseconds: a transaction is read at once, not on the idle pace.
  const int interval = rdmLine_.busy() ? 1 : kReadIntervalMs;
  if (reader_.interval() != interval) reader_.setInterval(interval);
  // A request still waiting to be written when its transaction ended never goes.
  if (!rdmLine_.busy()) deferred_.clear();
  // The frame that waited for the transaction goes before the next request.
  if (!framesHeld() && ready_) checkReady();
}

rdm::Transport* UsbProOutput::rdm() {
  if (!port_.isOpen() || !parameters_) return nullptr;
  const int major = parameters_->firmwareMajor, minor = parameters_->firmwareMinor;
  if (major < kRdmFirmwareMajor || (major == kRdmFirmwareMajor && minor < kRdmFirmwareMinor))
    return nullptr;
  return &rdmLine_;
}

QString UsbProOutput::rdmRefusal() const {
  if (!port_.isOpen()) return QStringLiteral("USB Pro 接口未打开, 不能使用 RDM");
  if (!parameters_) {
    if (parametersQuery_.state == Query::State::Unanswered)
      return QStringLiteral(
          "USB Pro 接口没有回答参数查询, 不能使用 RDM (the widget does not answer the parameter "
          "query)");
    return QStringLiteral("正在询问 USB Pro 接口的固件版本, 请稍候");
  }
  return QStringLiteral("USB Pro 接口固件 %1.%2 早于 %3.%4, 不支持 RDM (firmware too old for RDM)")
      .arg(parameters_->firmwareMajor)
      .arg(parameters_->firmwareMinor)
      .arg(kRdmFirmwareMajor)
      .arg(kRdmFirmwareMinor);
}

QString UsbProOutput::status() const {
  const QString name = QStringLiteral("USB Pro %1").arg(port_.systemName());
  if (!port_.isOpen()) {
    if (!wanted_) return name;
    return cannotOpenRetrying(name);
  }
  return name + QStringLiteral(": ") + describeInterface(currentAbout());
}

bool UsbProOutput::readyForFrame() {
  return port_.isOpen() && !framesHeld() && rate_.ready(nowNs()) && port_.readyForFrame();
}

void UsbProOutput::whenReady(std::function<void()> ready) {
  ready_ = std::move(ready);
  rateWait_.setEnabled(false);
  port_.whenReady({});
  if (!ready_) {
    // Withdrawn just before the frame is sent (which takes the request along), or for good: then
    // a request held for the frame goes on its own.
    if (!deferred_.isEmpty())
      scheduler_.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired() && !ready_) writeRequest();
      });
    return;
  }
  if (!port_.isOpen()) {
    ready_ = nullptr;
    return;
  }
  armReady();
  // The port tells one waiter: a request that waited for it waits again, behind the frame if
  // that is due now.
  writeRequest();
}

void UsbProOutput::armReady() {
  const std::int64_t ns = rate_.nsUntilReady(nowNs());
  // The end of the transaction on the line looks again.
  if (ns == 0 && framesHeld()) return;
  if (ns == 0 && !port_.readyForFrame()) {
    // The rate allows a message; the line is what it waits for.
    port_.whenReady([this] { portFree(); });
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
  const bool sent =
      port_.writeFrame(usbpro::dmxHeader(levels_.size()), levels_, QByteArrayView(kEndByte, 1));
  yielded_ = !deferred_.isEmpty();
  writeRequest();
  if (!sent) return false;
  rate_.sent(nowNs());
  return true;
}

}  // namespace luvrin
