#include "ola_output.h"

namespace luvrin {

std::unique_ptr<OlaLink> makeStreamingOlaLink(std::uint16_t) { return nullptr; }

}  // namespace luvrin
