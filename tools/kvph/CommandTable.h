// The commands of the kvph tool: one row each, so that a new command is one function and one row. Only
// the entry point reads the table.
#pragma once

#include <string>
#include <vector>

#include "kvph/commands/CommandRow.h"

namespace kvph::tool {

const std::vector<CommandRow>& commandTable();
const CommandRow* findCommand(const std::string& name);

}  // namespace kvph::tool
