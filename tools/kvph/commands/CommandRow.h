// A row of the kvph command table: a command's name, its arguments, from which the argument parser and
// --help are made, and the function that runs it. Command files include this, never the table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kvph/base/Host.h"

namespace kvph::tool {

struct CommandResult {
    int result = 0;                     // what the export returned
    std::optional<std::string> output;  // the export's output value (UTF-8), when it has one
    nlohmann::ordered_json data = {};   // with --json, the output as data instead of text; null: none
};

struct Parameter {
    const char* name;  // "PATH", shown in the usage
    const char* description;
    bool optional = false;
    bool number = false;  // a whole number in the signed 32-bit range
};

// An option that takes a value, e.g. "--size MB".
struct ValueOption {
    const char* name;       // "--size"
    const char* valueName;  // "MB", shown in the usage
    const char* description;
    bool number = false;  // a whole number from 1 to the signed 32-bit maximum
};

struct CommandRow {
    const char* name;
    const char* summary;  // one line: what it does, and the export it calls
    std::vector<Parameter> parameters;
    // The command's one flag ("--expandable"), or nullptr. When given it is handed to `run` as one more
    // argument, after the parameters.
    const char* flag = nullptr;
    const char* flagDescription = nullptr;
    // `arguments` holds the parameters given, in order (an optional one left out is not there).
    CommandResult (*run)(Host& host, const std::vector<std::wstring>& arguments) = nullptr;
    // The command tells its own story on the output (the demo): its output is printed as it stands,
    // without the result and log lines around it.
    bool narrated = false;
    // Options with a value; those given are handed over after the parameters, each as two arguments:
    // its name and its value.
    std::vector<ValueOption> options = {};
    // Set for a command that reports as it goes and whose verdict is the exit status (check): it prints
    // its own output, JSON lines with --json, and returns 0 when all it judged passed, else 1. Such a
    // command has no `run`.
    int (*judged)(Host& host, const std::vector<std::wstring>& arguments, bool json) = nullptr;
};

}  // namespace kvph::tool
