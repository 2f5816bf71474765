#include "serial_box_output.h"

#include <utility>

#include "output_shared.h"

namespace luvrin {

namespace {
constexpr QByteArrayView kFrameHeader = "::::DMX";
constexpr QByteArrayView kFrameTrailer = ".";
}  // namespace

void setUpSerialPort(SerialPort& port, const SerialConfiguration& settings) {
  port.setSettings(settings.lineSettings);
  if (!settings.portDevice.isEmpty()) {
    port.setPortDevice(settings.portDevice);
  } else if (settings.portNumber) {
    port.setPortNumber(*settings.portNumber);
  }
}

SerialBoxOutput::SerialBoxOutput(SerialPort& port) : port_(port) {
  port_.onOpenChanged = [this] { statusChanged(); };
}

SerialBoxOutput::SerialBoxOutput(std::unique_ptr<SerialPort> port)
    : owned_(std::move(port)), port_(*owned_) {
  port_.onOpenChanged = [this] { statusChanged(); };
}

SerialBoxOutput::~SerialBoxOutput() { port_.onOpenChanged = nullptr; }

bool SerialBoxOutput::open() {
  wanted_ = true;
  const bool opened = port_.open();
  statusChanged();
  return opened;
}

bool SerialBoxOutput::send(std::span<const std::uint8_t> levels) {
  return port_.writeFrame(kFrameHeader, levels, kFrameTrailer);
}

QString SerialBoxOutput::status() const {
  const QString port = QStringLiteral("串口 %1").arg(port_.systemName());
  if (port_.isOpen()) return port + QStringLiteral(": 已打开");
  if (!wanted_) return port;
  return cannotOpenRetrying(port);
}

}  // namespace luvrin
