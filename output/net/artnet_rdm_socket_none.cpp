#include "artnet_rdm.h"

namespace luvrin {

std::unique_ptr<DatagramPort> makeArtNetPort() { return nullptr; }

}  // namespace luvrin
