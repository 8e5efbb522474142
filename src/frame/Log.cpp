#include "frame/Log.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

#include "frame/Text.h"
#include "platform/Platform.h"

namespace kvph {

namespace {

// Large enough for every message the library formats from its bounded inputs; the result is cut to
// the caller's buffer afterwards, which is what a bounded platform formatter leaves behind.
constexpr std::size_t kScratchUnits = 8192;

std::wstring cutToUnits(std::wstring text, std::size_t maxUnits) {
    while (utf16Length(text) > maxUnits) {
        text.pop_back();
    }
    return text;
}

}  // namespace

void logLine(const std::wstring& message) { platform().outputDebugStringW(message); }

void logNarrow(const std::string& message) { platform().outputDebugStringA(message); }

std::wstring formatBounded(std::size_t bufferUnits, const wchar_t* format, ...) {
    std::vector<wchar_t> scratch(kScratchUnits, L'\0');
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vswprintf(scratch.data(), scratch.size(), format, arguments);
    va_end(arguments);
    if (written < 0 || bufferUnits == 0) {
        return std::wstring();
    }
    return cutToUnits(std::wstring(scratch.data(), static_cast<std::size_t>(written)), bufferUnits - 1);
}

}  // namespace kvph
