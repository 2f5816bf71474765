#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

namespace luvrin {

// The number a text begins with: optional sign, digits, fraction, exponent (E or D). Blanks,
// tabs and line feeds are skipped wherever they stand; reading stops at the first character that
// cannot continue the number. A text that begins with no number gives 0. Never depends on the
// locale.
double numericValue(QStringView text);

// Whole number by rounding halves to even; nullopt when the value does not fit (or is not finite).
std::optional<std::int64_t> roundHalfEven(double value);
std::optional<std::int32_t> toInt32(double value);
std::optional<std::int16_t> toInt16(double value);

// Strict whole-number conversion of a settings value, as Windows converts a whole string: the
// text, without surrounding blanks, must be one number (optional sign, digits, fraction,
// exponent: "50", "50.0", "5e1"); it is rounded halves to even. Empty text, other text, text
// after the number and values beyond 64 bits give nullopt.
std::optional<std::int64_t> strictWholeNumber(QStringView text);

// Lengths used for frames, parsing and texts are capped so that a mistyped length cannot make
// every pass allocate huge buffers; the box itself keeps what was typed.
inline constexpr std::int64_t kMaxChannelCount = 65535;

// The whole channel count for a numeric length: rounded halves to even, capped at
// kMaxChannelCount (however large, infinity included); nullopt when negative or not a number.
std::optional<int> channelCount(double value);

// How many times "For k = 0 To n - 1" runs for a possibly fractional n (k <= n - 1: 13 for 13.5,
// none for 0.5), capped. Every reader and writer of channel groups counts them this way.
int groupCount(double n, int cap = static_cast<int>(kMaxChannelCount));

}  // namespace luvrin
