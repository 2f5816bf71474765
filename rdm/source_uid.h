#pragma once

#include <QString>

#include "uid.h"

namespace luvrin::rdm {

// The maker id LUVRIN answers to, from the range kept for prototypes and experiments.
constexpr std::uint16_t kOwnManufacturer = 0x7FF0;

// LUVRIN's own UID as a controller. Devices that queue messages keep them per controller, so the
// device number must stay the same from one start to the next: it is made once, at random, and
// kept as text in the file given. If the file cannot be kept, a fresh one serves for this run.
Uid stableSourceUid(const QString& file);

// Beside the sACN identifier, in the per-user configuration folder.
QString defaultSourceUidFile();

}  // namespace luvrin::rdm
