#pragma once

#include <QString>

#include "e131_packet.h"

namespace luvrin {

// The sACN component identifier of this installation. Receivers tell sources apart by it, so it
// must stay the same from one start to the next: it is kept as text in the file given, made
// the first time. If the file cannot be kept, a fresh identifier serves for this run.
e131::Cid stableCid(const QString& file);

// Where the identifier is kept: in the per-user configuration folder, beside the hand-off value.
QString defaultCidFile();

}  // namespace luvrin
