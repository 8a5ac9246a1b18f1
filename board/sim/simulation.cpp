#include "board/sim/simulation.h"

namespace board::sim {

Simulation::Simulation() { board_.addStandardDevices(); }

}  // namespace board::sim
