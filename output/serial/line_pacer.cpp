#include "line_pacer.h"

namespace luvrin {

void LinePacer::setLine(const SerialSettings& settings) {
  // Stop bits in half bits, so that 1.5 counts exactly.
  int halfBits = 2 * (1 + static_cast<int>(settings.dataBits));
  if (settings.parity != QSerialPort::NoParity) halfBits += 2;
  switch (settings.stopBits) {
    case QSerialPort::OneAndHalfStop:
      halfBits += 3;
      break;
    case QSerialPort::TwoStop:
      halfBits += 4;
      break;
    default:
      halfBits += 2;
      break;
  }
  byteNs_ = settings.baudRate > 0 ? qint64{500'000'000} * halfBits / settings.baudRate : 0;
}

void LinePacer::sent(qint64 nowNs, qint64 bytes) {
  lineFreeAtNs_ = std::max(lineFreeAtNs_, nowNs) + bytes * byteNs_;
}

}  // namespace luvrin
