#include "kvph/commands/PartitionCommands.h"

#include "kvph/base/ToolText.h"

namespace kvph::tool {

namespace {

std::wstring argumentOrEmpty(const std::vector<std::wstring>& arguments, std::size_t index) {
    return index < arguments.size() ? arguments[index] : std::wstring();
}

}  // namespace

CommandResult hideVolume(Host& host, const std::vector<std::wstring>& arguments) {
    return {host.exports().setHidden(arguments[0].c_str()), std::nullopt};
}

CommandResult unhideVolumes(Host& host, const std::vector<std::wstring>& arguments) {
    return {host.exports().setNonHidden(argumentOrEmpty(arguments, 0).c_str()), std::nullopt};
}

CommandResult formatDisk(Host& host, const std::vector<std::wstring>& arguments) {
    return {host.exports().formatNTFS(arguments[0].c_str(), argumentOrEmpty(arguments, 1).c_str()),
            std::nullopt};
}

CommandResult freeLetter(Host& host, const std::vector<std::wstring>&) {
    // The export fills a buffer of 260 units; one more guards the terminator should it ever overrun.
    std::vector<wchar_t> letter(261, L'\0');
    const int result = host.exports().findUsableLabel(letter.data());
    return {result, toUtf8(std::wstring(letter.data()))};
}

}  // namespace kvph::tool
