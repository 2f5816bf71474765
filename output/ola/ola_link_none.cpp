#include "ola_output.h"
#include "ola_rdm.h"

namespace luvrin {

std::unique_ptr<OlaLink> makeStreamingOlaLink(std::uint16_t) { return nullptr; }
std::unique_ptr<OlaRdmClient> makeOlaRdmClient(std::uint16_t) { return nullptr; }

}  // namespace luvrin
