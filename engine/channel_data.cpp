#include "channel_data.h"

#include "numeric.h"

namespace luvrin {

void appendLevelGroup(QString& out, int level) {
  const char16_t group[4] = {static_cast<char16_t>(u'0' + level / 100 % 10),
                             static_cast<char16_t>(u'0' + level / 10 % 10),
                             static_cast<char16_t>(u'0' + level % 10), u','};
  out.append(reinterpret_cast<const QChar*>(group), 4);
}

QString composeChannelData(std::span<const std::uint8_t> levels) {
  QString out;
  out.reserve(channelDataLength(static_cast<qsizetype>(levels.size())));
  out += u"DMX";
  for (std::uint8_t level : levels) appendLevelGroup(out, level);
  return out;
}

std::optional<std::int32_t> readLevelValue(QStringView text, qsizetype slot) {
  const qsizetype start = 4 * slot + 3;  // 0-based index of character 4k+4
  if (start >= text.size()) return 0;
  return toInt32(numericValue(text.mid(start, 3)));
}

std::optional<std::uint8_t> readLevel(QStringView text, qsizetype slot) {
  const qsizetype start = 4 * slot + 3;
  if (start >= text.size()) return 0;
  const QStringView field = text.mid(start, 3);
  // The common case, three plain digits, without the general number reader.
  if (field.size() == 3 && field[0].isDigit() && field[1].isDigit() && field[2].isDigit() &&
      field[0].unicode() < 128 && field[1].unicode() < 128 && field[2].unicode() < 128) {
    const int v = (field[0].unicode() - u'0') * 100 + (field[1].unicode() - u'0') * 10 +
                  (field[2].unicode() - u'0');
    if (v > 255) return std::nullopt;
    return static_cast<std::uint8_t>(v);
  }
  auto r = roundHalfEven(numericValue(field));
  if (!r || *r < 0 || *r > 255) return std::nullopt;
  return static_cast<std::uint8_t>(*r);
}

}  // namespace luvrin
