#include <string>
#include <vector>

#include "kvph/commands/InventoryCommands.h"

namespace kvph::tool {

// The output is the state the export stored: 0 writable, 1 read-only, -1 undetermined; none when it
// stored nothing.
CommandResult vhdxReadOnly(Host& host, const std::vector<std::wstring>& arguments) {
    constexpr int kNotStored = 0x7FFFFFFF;
    int state = kNotStored;
    const int result = host.exports().checkVHDXReadOnly(arguments[0].c_str(), &state);
    if (state == kNotStored) {
        return {result, std::nullopt};
    }
    return {result, std::to_string(state)};
}

}  // namespace kvph::tool
