#include "output_factory.h"

#include "address_forms.h"
#include "artnet_rdm.h"
#include "log_categories.h"
#include "network_output.h"
#include "ola_output.h"
#include "output_address.h"
#include "platform.h"
#include "qt_serial_port.h"
#include "serial_box_output.h"
#include "source_cid.h"
#include "usb_pro_output.h"

namespace luvrin {

namespace {

// An output that never opens, for a 端口 that cannot be used: the driver runs on and sends
// nothing, as with a serial port that is not there.
class RefusedOutput final : public FrameOutput {
 public:
  explicit RefusedOutput(QString why) : why_(std::move(why)) {}
  bool open() override { return false; }
  bool isOpen() const override { return false; }
  bool readyForFrame() override { return false; }
  void whenReady(std::function<void()>) override {}  // never ready
  bool send(std::span<const std::uint8_t>) override { return false; }
  QString status() const override { return why_; }

 private:
  QString why_;
};

OutputChoice refuse(const QString& why) {
  qCWarning(lcOutput).noquote() << why + QStringLiteral("; 不发送 (nothing is sent)");
  return {std::make_unique<RefusedOutput>(why), why};
}

// An output that speaks over a serial port: the one given (tests), or the system's, made here;
// set to 设置's line and the port the settings name.
template <typename Output, typename... Before>
OutputChoice overSerialPort(const SerialConfiguration& settings, SerialPort* given,
                            Before&... before) {
  std::unique_ptr<SerialPort> made;
  if (given == nullptr) made = std::make_unique<QtSerialPort>();
  SerialPort& port = given != nullptr ? *given : *made;
  setUpSerialPort(port, settings);
  if (made) return {std::make_unique<Output>(before..., std::move(made)), {}};
  return {std::make_unique<Output>(before..., port), {}};
}

OutputChoice makeSerialBox(SerialConfiguration settings, SerialPort* given) {
  // Absent, 端口 means port 1. Anything else that names no port is refused: sending to port 1
  // instead would drive whatever is there while the user's interface stays dark.
  if (!settings.port.isEmpty() && settings.portDevice.isEmpty()) {
    if (!settings.portNumber) settings.portNumber = comPortNumber(settings.port);
    if (!settings.portNumber || *settings.portNumber < 1 ||
        *settings.portNumber > kMaxSerialPortNumber)
      return refuse(
          QStringLiteral(
              "端口 \"%1\" 既不是串口 (1 到 %2 的数字、COMn 或设备路径, 如 %3) 也不是输出 "
              "(ola:、sacn:、artnet:、usbpro:) / not a port nor an output")
              .arg(settings.port)
              .arg(kMaxSerialPortNumber)
              .arg(platform::windowsConventions() ? QStringLiteral("COM5")
                                                  : QStringLiteral("/dev/ttyUSB0")));
  }
  return overSerialPort<SerialBoxOutput>(settings, given);
}

OutputChoice makeUsbPro(SerialConfiguration settings, const UsbProAddress& address,
                        Scheduler& scheduler, SerialPort* given) {
  settings.portDevice = address.portDevice;
  settings.portNumber = address.portNumber;
  return overSerialPort<UsbProOutput>(settings, given, scheduler);
}

}  // namespace

OutputChoice makeOutput(const SerialConfiguration& settings, Scheduler& scheduler,
                        const OutputDevices& devices) {
  const QString& portSetting = settings.port;
  if (isUsbProAddress(portSetting)) {
    const ParsedUsbProAddress parsed = parseUsbProAddress(portSetting);
    if (!parsed.address) return refuse(parsed.error);
    return makeUsbPro(settings, *parsed.address, scheduler, devices.serialPort);
  }
  if (!isOutputAddress(portSetting)) return makeSerialBox(settings, devices.serialPort);
  const ParsedOutputAddress parsed = parseOutputAddress(portSetting);
  if (!parsed.address) return refuse(parsed.error);
  const OutputAddress& a = *parsed.address;
  const QString named = QStringLiteral("端口 \"%1\": ").arg(portSetting);

  if (a.kind == OutputAddress::Kind::Ola) {
    auto link = makeStreamingOlaLink(a.port);
    if (!link)
      return refuse(named + QStringLiteral("这个 LUVRIN 版本不带 olad 客户端, 不能连接 olad / this "
                                           "build of LUVRIN has no OLA client"));
    return {std::make_unique<OlaOutput>(scheduler, a.universe, std::move(link),
                                        makeOlaRdmClient(a.port)),
            {}};
  }

  auto sink = makeUdpSink(a.multicast);
  if (!sink)
    return refuse(
        named + QStringLiteral(
                    "这个 LUVRIN 版本不带网络功能 / this build of LUVRIN has no network support"));
  e131::Source source;
  if (a.kind == OutputAddress::Kind::Sacn) {
    source.cid = stableCid(devices.cidFile);
    source.name = "LUVRIN";
    source.priority = 100;
  }
  auto output = std::make_unique<NetworkOutput>(scheduler, a, std::move(sink), source);
  if (a.kind == OutputAddress::Kind::ArtNet) {
    // RDM with the node that has the first universe.
    if (auto port = makeArtNetPort())
      output->setRdm(std::make_unique<ArtNetRdm>(scheduler, static_cast<std::uint16_t>(a.universe),
                                                 output->firstDestination(), std::move(port)));
  }
  return {std::move(output), {}};
}

}  // namespace luvrin
