#include "uid.h"

namespace luvrin::rdm {

QString Uid::toString() const {
  return QStringLiteral("%1:%2")
      .arg(manufacturer, 4, 16, QLatin1Char('0'))
      .arg(device, 8, 16, QLatin1Char('0'));
}

std::optional<Uid> Uid::parse(QStringView text) {
  if (text.size() != 13 || text[4] != u':') return std::nullopt;
  std::uint64_t v = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (i == 4) continue;
    const char16_t c = text[i].unicode();
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit < 0) return std::nullopt;
    v = v << 4 | static_cast<std::uint64_t>(digit);
  }
  return fromValue(v);
}

}  // namespace luvrin::rdm
