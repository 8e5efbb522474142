#include <string>
#include <vector>

#include "kvph/base/ToolText.h"
#include "kvph/commands/InventoryCommands.h"

namespace kvph::tool {

CommandResult vhdxLetter(Host& host, const std::vector<std::wstring>& arguments) {
    // The export fills a buffer of 260 units; one more guards the terminator should it ever overrun.
    std::vector<wchar_t> letter(261, L'\0');
    const int result = host.exports().getVHDXVolumeLabel(arguments[0].c_str(), letter.data());
    return {result, toUtf8(std::wstring(letter.data()))};
}

}  // namespace kvph::tool
