#include "sim/sides.h"

namespace sim {

// Placeholder until this side is built.
bool start_rip_side(const Config&) { return true; }

}  // namespace sim
