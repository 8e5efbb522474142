// The machine the kvph tool runs on when it is given no machine file.
#pragma once

#include "sim/machine/Model.h"

namespace sim {

// A single-user PC as a machine description (machine-format.md).
const char* defaultMachineDescription();
MachineModel defaultMachine();

}  // namespace sim
