// The commands of the kvph tool: one row each, so that a new command is one function and one row.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Host.h"

namespace kvph::tool {

struct CommandResult {
    int result = 0;                     // what the export returned
    std::optional<std::string> output;  // the export's output value (UTF-8), when it has one
    nlohmann::ordered_json data = {};   // with --json, the output as data instead of text; null: none
};

struct CommandSpec {
    const char* name;
    std::size_t argumentCount;
    const char* usage;  // "name ARGS", then what it does
    CommandResult (*run)(Host& host, const std::vector<std::wstring>& arguments);
    std::size_t optionalCount = 0;  // arguments that may follow the required ones
};

const std::vector<CommandSpec>& commandTable();
const CommandSpec* findCommand(const std::string& name);

}  // namespace kvph::tool
