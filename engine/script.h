#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

#include "script_file.h"

namespace luvrin {

// What starts at a scan position of an action script.
enum class Instruction { None, Frame, Delay, Loop };

inline constexpr QStringView kFrameMarker = u"DMX";
inline constexpr QStringView kDelayMarker = u"!T";
inline constexpr QStringView kLoopMarker = u"!GT000";
// Characters a delay instruction spans, whatever its count field holds.
inline constexpr qsizetype kDelaySpan = 8;

// Compared exactly and case-sensitively, in the order frame, delay, loop. pos is 0-based.
Instruction instructionAt(QStringView script, qsizetype pos);
bool startsAt(QStringView script, qsizetype pos, QStringView marker);

// The count of a delay instruction at pos ("!T" at pos): the numeric value of the six characters
// after it, rounded halves to even; nullopt when it does not fit in 32 bits.
std::optional<std::int32_t> delayCount(QStringView script, qsizetype pos);

// Delay digits as recorded: the value rounded halves to even, clamped to 0..999999, six digits.
QString delayDigits(double value);

// One recorded action: CR LF, frame text, CR LF, "!T", six digits, "'100mS".
QString composeAction(const QString& frameText, const QString& digits);

}  // namespace luvrin
