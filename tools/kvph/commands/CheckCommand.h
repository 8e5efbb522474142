// `check [--folder DIR] [--size MB]`: proves the library on the machine it runs on. A scratch VHDX drive
// lives its whole life through the exports and each step is judged; afterwards the machine is put back
// as it was found, also when a step fails or the run is interrupted.
#pragma once

#include <string>
#include <vector>

#include "kvph/base/Host.h"

namespace kvph::tool {

// `arguments` holds the options given as pairs ("--folder", DIR, "--size", MB). Prints each step as it
// ends (one JSON object per step with `json`) and the count of passed and failed steps. Returns the exit
// status: 0 when every step passed, 1 otherwise or when the check refused to start.
int runCheck(Host& host, const std::vector<std::wstring>& arguments, bool json);

}  // namespace kvph::tool
