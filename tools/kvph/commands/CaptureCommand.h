// `capture FILE`: writes the machine the library runs on as a machine description that `--machine`
// loads, so that commands can be rehearsed on a copy of it.
#pragma once

#include <string>
#include <vector>

#include "kvph/commands/CommandRow.h"

namespace kvph::tool {

CommandResult captureMachineFile(Host& host, const std::vector<std::wstring>& arguments);

}  // namespace kvph::tool
