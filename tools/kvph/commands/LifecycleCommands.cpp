#include "kvph/commands/LifecycleCommands.h"

#include <cerrno>
#include <climits>
#include <cwchar>
#include <iostream>

namespace kvph::tool {
namespace {

// The flag a command may take after its required arguments: 1 when given, 0 when not, nullopt (after a
// message) when something else stands there.
std::optional<int> flag(const std::vector<std::wstring>& arguments, std::size_t at, const wchar_t* name) {
    if (arguments.size() <= at) {
        return 0;
    }
    if (arguments[at] != name) {
        std::wcerr << L"kvph: unknown option '" << arguments[at] << L"', expected " << name << L"\n";
        return std::nullopt;
    }
    return 1;
}

std::optional<int> megabytes(const std::wstring& text) {
    wchar_t* end = nullptr;
    errno = 0;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0' || errno != 0 || value < INT_MIN || value > INT_MAX) {
        std::wcerr << L"kvph: MAXMB must be a whole number of megabytes, not '" << text << L"'\n";
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// A command whose arguments do not parse runs no export.
const CommandResult kNotRun{0, std::nullopt};

}  // namespace

CommandResult createDrive(Host& host, const std::vector<std::wstring>& arguments) {
    const auto maximumMB = megabytes(arguments[2]);
    const auto expandable = flag(arguments, 3, L"--expandable");
    if (!maximumMB || !expandable) {
        return kNotRun;
    }
    return {host.exports().createVHDX(arguments[0].c_str(), arguments[1].c_str(), *maximumMB, *expandable),
            std::nullopt};
}

CommandResult attachDrive(Host& host, const std::vector<std::wstring>& arguments) {
    const auto readOnly = flag(arguments, 1, L"--read-only");
    return readOnly ? CommandResult{host.exports().attachVHDX(arguments[0].c_str(), *readOnly), std::nullopt}
                    : kNotRun;
}

CommandResult detachDrive(Host& host, const std::vector<std::wstring>& arguments) {
    const auto remove = flag(arguments, 1, L"--remove");
    return remove ? CommandResult{host.exports().detachVHDX(arguments[0].c_str(), *remove), std::nullopt}
                  : kNotRun;
}

CommandResult compactDrive(Host& host, const std::vector<std::wstring>& arguments) {
    return {host.exports().compactThenAttachVHDX(arguments[0].c_str()), std::nullopt};
}

}  // namespace kvph::tool
