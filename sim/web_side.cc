#include "sim/sides.h"

namespace sim {

// Placeholder until this side is built.
bool start_web_side(const Config&) { return true; }

}  // namespace sim
