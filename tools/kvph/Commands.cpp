#include "Commands.h"

namespace kvph::tool {
namespace {

CommandResult exists(Host& host, const std::vector<std::wstring>& arguments) {
    return {host.exports().checkExistVHDX(arguments[0].c_str()), std::nullopt};
}

}  // namespace

const std::vector<CommandSpec>& commandTable() {
    static const std::vector<CommandSpec> table = {
        {"exists", 1, "exists PATH          whether the VHDX at PATH is attached (PH_CheckExistVHDX)",
         exists},
    };
    return table;
}

const CommandSpec* findCommand(const std::string& name) {
    for (const CommandSpec& command : commandTable()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace kvph::tool
