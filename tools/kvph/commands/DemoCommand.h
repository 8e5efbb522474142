// `demo`: the VHDX drive's life on the built-in machine, step by step as the host service lives it.
#pragma once

#include <string>
#include <vector>

#include "kvph/commands/CommandRow.h"

namespace kvph::tool {

// Each step shows the export's result, the diskpart scripts it ran and its log lines; the disks and the
// inventory before and after. The result is 1 when every step gave what it should. With --json the
// output is {"steps": [...]}, one object per step with its result and what was expected.
CommandResult runDemo(Host& host, const std::vector<std::wstring>& arguments);

}  // namespace kvph::tool
