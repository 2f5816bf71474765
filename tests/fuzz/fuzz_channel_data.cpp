// The channel data reader: the level fields of a channel data text and the numeric value of a
// text, over any text. The numeric reader is checked against the C library's own reader.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "channel_data.h"
#include "codepage.h"
#include "fuzz/fuzz_check.h"
#include "numeric.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number a text begins with, by the rule the reader follows: blanks, tabs and line feeds
// count for nothing wherever they stand; sign, digits, fraction, exponent (E or D); strtod does
// the conversion in the C locale.
double referenceValue(QStringView text) {
  std::string s;
  for (QChar c : text) {
    if (c == u' ' || c == u'\t' || c == u'\n') continue;
    s += c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\x01';
  }
  std::string num;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) num += s[i++];
  bool digits = false;
  while (i < s.size() && isDigit(s[i])) {
    num += s[i++];
    digits = true;
  }
  if (i < s.size() && s[i] == '.') {
    num += s[i++];
    while (i < s.size() && isDigit(s[i])) {
      num += s[i++];
      digits = true;
    }
  }
  if (!digits) return 0.0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t j = i + 1;
    std::string exp = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp += s[j++];
    bool expDigits = false;
    while (j < s.size() && isDigit(s[j])) {
      exp += s[j++];
      expDigits = true;
    }
    if (expDigits) num += exp;
  }
  return std::strtod(num.c_str(), nullptr);
}

bool sameNumber(double a, double b) {
  if (a == b) return true;
  // Below the normal range the two readers may differ on keeping a subnormal.
  return std::fabs(a) < 1e-300 && std::fabs(b) < 1e-300;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString text = luvrin::decodeFileText(bytes);

  FUZZ_CHECK(sameNumber(luvrin::numericValue(text), referenceValue(text)));

  // Every slot a frame can have, and a few past the text's end.
  const qsizetype slotCount = std::min<qsizetype>(text.size() / 4 + 3, luvrin::kMaxChannelCount);
  for (qsizetype k = 0; k < slotCount; ++k) {
    const std::optional<std::uint8_t> level = luvrin::readLevel(text, k);
    const std::optional<std::int32_t> value = luvrin::readLevelValue(text, k);
    // The fast path for three digits and the general reader agree on every field.
    if (value && *value >= 0 && *value <= 255) {
      FUZZ_CHECK(level && *level == *value);
    } else {
      FUZZ_CHECK(!level);
    }
    const qsizetype start = 4 * k + 3;
    if (start < text.size()) {
      const QStringView field = QStringView(text).mid(start, 3);
      FUZZ_CHECK(sameNumber(luvrin::numericValue(field), referenceValue(field)));
    } else {
      FUZZ_CHECK(level && *level == 0);
    }
  }

  // Levels written as channel data read back as they were.
  std::vector<std::uint8_t> levels(data, data + std::min<std::size_t>(size, 600));
  const QString frame = luvrin::composeChannelData(levels);
  FUZZ_CHECK(frame.size() == luvrin::channelDataLength(static_cast<qsizetype>(levels.size())));
  for (std::size_t k = 0; k < levels.size(); ++k) {
    const auto level = luvrin::readLevel(frame, static_cast<qsizetype>(k));
    FUZZ_CHECK(level && *level == levels[k]);
  }
  return 0;
}
