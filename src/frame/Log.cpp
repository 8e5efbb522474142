#include "frame/Log.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

#include "frame/Text.h"
#include "platform/Platform.h"

namespace kvph {

namespace {

// A first try with room for twice the caller's buffer covers every message the library formats; a
// longer result (only possible from unexpected input) is formatted again with room for anything.
constexpr std::size_t kLargeScratchUnits = 8192;

// The units written, or -1 when the text did not fit. glibc's vswprintf fails on a cut text, mingw's
// returns the length the text would have had; both are read as a failure.
int formatInto(std::vector<wchar_t>& scratch, const wchar_t* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    const int written = std::vswprintf(scratch.data(), scratch.size(), format, copy);
    va_end(copy);
    return written >= 0 && static_cast<std::size_t>(written) < scratch.size() ? written : -1;
}

std::wstring cutToUnits(std::wstring text, std::size_t maxUnits) {
    while (utf16Length(text) > maxUnits) {
        text.pop_back();
    }
    return text;
}

}  // namespace

void logLine(const std::wstring& message) {
    platform().outputDebugStringW(message);
}

void logNarrow(const std::string& message) {
    platform().outputDebugStringA(message);
}

std::wstring formatBounded(std::size_t bufferUnits, const wchar_t* format, ...) {
    std::vector<wchar_t> scratch(2 * bufferUnits + 1);
    va_list arguments;
    va_start(arguments, format);
    int written = formatInto(scratch, format, arguments);
    if (written < 0) {
        scratch.resize(kLargeScratchUnits);
        written = formatInto(scratch, format, arguments);
    }
    va_end(arguments);
    if (written < 0 || bufferUnits == 0) {
        return std::wstring();
    }
    return cutToUnits(std::wstring(scratch.data(), static_cast<std::size_t>(written)), bufferUnits - 1);
}

}  // namespace kvph
