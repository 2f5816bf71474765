#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <span>

namespace luvrin {

// The channel data text: "DMX", then per channel three zero-padded digits and ",".
QString composeChannelData(std::span<const std::uint8_t> levels);
// Same, appending to out (no allocation beyond out's growth).
void appendLevelGroup(QString& out, int level);

// Length of a channel data text for n channels: 3 + 4n.
constexpr qsizetype channelDataLength(qsizetype n) { return 3 + 4 * n; }

// Reads the field of slot k (characters 4k+4..4k+6, counting from 1) by position alone. A field
// past the end reads 0; a value outside 0..255 gives nullopt: the channel keeps its level.
std::optional<std::uint8_t> readLevel(QStringView text, qsizetype slot);
// The same field rounded to a whole number, unchecked against 0..255 (nullopt when it does not
// fit in 32 bits); the debug-state command uses it, where the fader's range decides.
std::optional<std::int32_t> readLevelValue(QStringView text, qsizetype slot);

}  // namespace luvrin
