#include "numeric.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace luvrin {

namespace {
bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
}  // namespace

double numericValue(QStringView text) {
  // Collect the number's characters in the C locale's form, then convert with strtod semantics
  // that do not depend on the process locale.
  std::string num;
  qsizetype i = 0;
  const qsizetype n = text.size();
  auto skip = [&] {
    while (i < n && isBlank(text[i])) ++i;
  };
  skip();
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') num += '-';
    ++i;
  }
  bool digits = false;
  for (skip(); i < n && isDigit(text[i]); skip()) {
    num += static_cast<char>(text[i].unicode());
    digits = true;
    ++i;
  }
  if (i < n && text[i] == u'.') {
    ++i;
    bool frac = false;
    for (skip(); i < n && isDigit(text[i]); skip()) {
      if (!frac) num += '.';
      frac = true;
      num += static_cast<char>(text[i].unicode());
      digits = true;
      ++i;
    }
  }
  if (!digits) return 0.0;
  if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
    qsizetype save = i;
    ++i;
    skip();
    std::string exp = "e";
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
      if (text[i] == u'-') exp += '-';
      ++i;
    }
    bool expDigits = false;
    bool significant = false;
    for (skip(); i < n && isDigit(text[i]); skip()) {
      // Cap the exponent's length: anything this long is already infinite or zero. Leading
      // zeros count for nothing, so they must not use up the cap.
      significant = significant || text[i] != u'0';
      if (significant && exp.size() < 8) exp += static_cast<char>(text[i].unicode());
      expDigits = true;
      ++i;
    }
    if (expDigits && !significant) exp += '0';
    if (expDigits)
      num += exp;
    else
      i = save;
  }
  // from_chars never looks at the process locale (Qt sets it from the environment).
  double result = 0.0;
  const char* first = num.data();
  const char* last = num.data() + num.size();
  auto [ptr, ec] = std::from_chars(first, last, result);
  if (ec == std::errc::result_out_of_range) {
    const bool negative = num.front() == '-';
    const bool tiny = num.find("e-") != std::string::npos;
    result = tiny ? 0.0 : (negative ? -HUGE_VAL : HUGE_VAL);
  }
  (void)ptr;
  return result;
}

std::optional<std::int64_t> roundHalfEven(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double r = std::nearbyint(value);
  if (r < -9.2e18 || r > 9.2e18) return std::nullopt;
  return static_cast<std::int64_t>(r);
}

std::optional<std::int32_t> toInt32(double value) {
  auto r = roundHalfEven(value);
  if (!r || *r < std::numeric_limits<std::int32_t>::min() ||
      *r > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(*r);
}

std::optional<std::int16_t> toInt16(double value) {
  auto r = roundHalfEven(value);
  if (!r || *r < std::numeric_limits<std::int16_t>::min() ||
      *r > std::numeric_limits<std::int16_t>::max())
    return std::nullopt;
  return static_cast<std::int16_t>(*r);
}

std::optional<std::int64_t> strictWholeNumber(QStringView text) {
  text = text.trimmed();
  std::string num;
  qsizetype i = 0;
  const qsizetype n = text.size();
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') num += '-';
    ++i;
  }
  bool digits = false;
  for (; i < n && isDigit(text[i]); ++i, digits = true) num += static_cast<char>(text[i].unicode());
  if (i < n && text[i] == u'.') {
    num += '.';
    for (++i; i < n && isDigit(text[i]); ++i, digits = true)
      num += static_cast<char>(text[i].unicode());
  }
  if (!digits) return std::nullopt;
  if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
    num += 'e';
    ++i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
      num += static_cast<char>(text[i++].unicode());
    bool expDigits = false;
    for (; i < n && isDigit(text[i]); ++i, expDigits = true)
      num += static_cast<char>(text[i].unicode());
    if (!expDigits) return std::nullopt;
  }
  if (i != n) return std::nullopt;
  double value = 0.0;
  const auto [ptr, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too small to be anything but zero, or too large for any setting.
    if (num.find("e-") == std::string::npos) return std::nullopt;
    return 0;
  }
  if (ec != std::errc() || ptr != num.data() + num.size()) return std::nullopt;
  return roundHalfEven(value);
}

std::optional<int> channelCount(double value) {
  if (std::isnan(value)) return std::nullopt;
  if (value > static_cast<double>(kMaxChannelCount)) return static_cast<int>(kMaxChannelCount);
  const double r = std::nearbyint(value);
  if (r < 0.0) return std::nullopt;
  return static_cast<int>(r);
}

int groupCount(double n, int cap) {
  if (!(n >= 1.0)) return 0;
  if (n - 1.0 >= static_cast<double>(cap)) return cap;
  return static_cast<int>(std::floor(n - 1.0)) + 1;
}

}  // namespace luvrin
