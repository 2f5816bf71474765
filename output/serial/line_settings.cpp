#include "line_settings.h"

namespace luvrin {

namespace {

std::optional<QSerialPort::Parity> parityFor(QStringView field) {
  if (field.size() != 1) return std::nullopt;
  switch (field.front().toUpper().unicode()) {
    case u'N':
      return QSerialPort::NoParity;
    case u'E':
      return QSerialPort::EvenParity;
    case u'O':
      return QSerialPort::OddParity;
    case u'M':
      return QSerialPort::MarkParity;
    case u'S':
      return QSerialPort::SpaceParity;
    default:
      return std::nullopt;
  }
}

bool allDigits(QStringView s) {
  if (s.isEmpty()) return false;
  for (QChar c : s)
    if (c < u'0' || c > u'9') return false;
  return true;
}

}  // namespace

std::optional<SerialSettings> parseSerialSettings(QStringView text, bool oneAndHalfStopBits) {
  const auto fields = text.split(u',');
  if (fields.size() != 4) return std::nullopt;
  const QStringView baudField = fields[0].trimmed();
  const QStringView dataField = fields[2].trimmed();
  const QStringView stopField = fields[3].trimmed();

  // Digits only: toInt() alone would take "+9600" or a number in another base.
  if (!allDigits(baudField) || baudField.size() > 8) return std::nullopt;
  const qint32 baud = baudField.toInt();
  if (baud <= 0) return std::nullopt;

  const auto parity = parityFor(fields[1].trimmed());
  if (!parity) return std::nullopt;

  if (!allDigits(dataField) || dataField.size() != 1) return std::nullopt;
  const int data = dataField.toInt();
  if (data < 5 || data > 8) return std::nullopt;

  QSerialPort::StopBits stop;
  if (stopField == u"1") {
    stop = QSerialPort::OneStop;
  } else if (stopField == u"2") {
    stop = QSerialPort::TwoStop;
  } else if (stopField == u"1.5" && oneAndHalfStopBits) {
    stop = QSerialPort::OneAndHalfStop;
  } else {
    return std::nullopt;
  }

  return SerialSettings{baud, *parity, static_cast<QSerialPort::DataBits>(data), stop};
}

}  // namespace luvrin
