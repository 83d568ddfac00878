#include "sim/sim.h"

namespace sim {

const char* version() { return "tav-sim 1.0"; }

}  // namespace sim
