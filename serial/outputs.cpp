#include "outputs.h"

#include <QLoggingCategory>

#include "network_output.h"
#include "ola_output.h"
#include "output_address.h"
#include "source_cid.h"

Q_LOGGING_CATEGORY(lcOutputs, "luvrin.serial", QtWarningMsg)

namespace luvrin {

namespace {

// A port that never opens, for a 端口 that cannot be used: the driver runs on and sends nothing,
// as with a serial port that is not there.
class RefusedOutput final : public SerialPort {
 public:
  bool setSettings(const QString&) override { return true; }
  bool setPortNumber(int) override { return false; }
  bool setPortDevice(const QString&) override { return false; }
  bool open() override { return false; }
  bool isOpen() const override { return false; }
  bool readyForFrame() override { return false; }
  void whenReady(std::function<void()>) override {}  // never ready
  bool writeFrame(QByteArrayView, std::span<const std::uint8_t>, QByteArrayView) override {
    return false;
  }
  QByteArray readAll() override { return {}; }
};

OutputChoice refuse(const QString& why) {
  qCWarning(lcOutputs).noquote() << why + QStringLiteral("; nothing is sent");
  return {std::make_unique<RefusedOutput>(), why};
}

}  // namespace

OutputChoice makeOutput(const QString& portSetting, Scheduler& scheduler, const QString& cidFile) {
  if (!isOutputAddress(portSetting)) return {};
  const ParsedOutputAddress parsed = parseOutputAddress(portSetting);
  if (!parsed.address) return refuse(parsed.error);
  const OutputAddress& a = *parsed.address;
  const QString named = QStringLiteral("端口 \"%1\": ").arg(portSetting);

  if (a.kind == OutputAddress::Kind::Ola) {
    auto link = makeStreamingOlaLink(a.port);
    if (!link) return refuse(named + QStringLiteral("this build of LUVRIN has no OLA client"));
    return {std::make_unique<OlaOutput>(scheduler, a.universe, std::move(link)), {}};
  }

  auto sink = makeUdpSink(a.host, a.port, a.multicast);
  if (!sink) return refuse(named + QStringLiteral("this build of LUVRIN has no network support"));
  e131::Source source;
  if (a.kind == OutputAddress::Kind::Sacn) {
    source.cid = stableCid(cidFile);
    source.name = "LUVRIN";
    source.priority = 100;
  }
  return {std::make_unique<NetworkOutput>(scheduler, a, std::move(sink), source), {}};
}

}  // namespace luvrin
