#pragma once

#include <QSerialPort>
#include <QStringView>
#include <optional>

namespace luvrin {

struct SerialSettings {
  qint32 baudRate = 115200;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  QSerialPort::DataBits dataBits = QSerialPort::Data8;
  QSerialPort::StopBits stopBits = QSerialPort::OneStop;
  bool operator==(const SerialSettings&) const = default;
};

// "baud,parity,data,stop": parity N, E, O, M or S in either case; data bits 5 to 8; stop bits 1,
// 1.5 or 2 (1.5 only where the system has it). Blanks around a field are allowed. nullopt for
// anything else, so that a bad string changes nothing.
std::optional<SerialSettings> parseSerialSettings(QStringView text, bool oneAndHalfStopBits);

}  // namespace luvrin
