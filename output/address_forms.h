#pragma once

#include <QStringView>
#include <optional>

#include "output_address.h"

namespace luvrin {

// The forms 端口 takes for an output (output_address.h), read from its text.

// Whether 端口 takes one of those forms (well-formed or not) rather than a serial port.
bool isOutputAddress(QStringView text);
ParsedOutputAddress parseOutputAddress(QStringView text);

// "COMn" (either case), as Windows names port n: n, 1 to kMaxSerialPortNumber.
std::optional<int> comPortNumber(QStringView text);

// Whether 端口 begins with usbpro: (well-formed or not).
bool isUsbProAddress(QStringView text);
ParsedUsbProAddress parseUsbProAddress(QStringView text);

}  // namespace luvrin
