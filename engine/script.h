#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

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

// The script file form: one quoted field and CR LF, in GBK.
QByteArray scriptFileBytes(const QString& script);
// The first text field of a file's text: after leading blanks, a quoted field runs to the next
// double quote (line breaks included); otherwise the field runs to the first comma or line end.
QString firstTextField(QStringView text);
// Reads a script file's bytes (GBK, or UTF-8) into its script; nullopt when it holds no field.
std::optional<QString> readScriptFile(const QByteArray& bytes);

// Script files larger than this are refused: no script is that large, and a wrong file must not
// exhaust memory.
inline constexpr qint64 kMaxScriptFileBytes = 16 * 1024 * 1024;

}  // namespace luvrin
