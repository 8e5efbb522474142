#include "frame/Text.h"

#include <cstdint>

#include "frame/Utf8.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr std::size_t kAnsiArgumentBytes = 260;
constexpr std::size_t kHostTextUnits = 260;

// Whether one wchar_t stands for two UTF-16 units (only where wchar_t holds whole code points).
bool needsTwoUnits(wchar_t unit) {
    return (static_cast<std::uint32_t>(unit) >> 16) != 0;
}

// A double quote or a control character would let an argument end its script line and add commands.
bool endsAnArgument(std::uint32_t unit) {
    return unit == '"' || unit < 0x20;
}

}  // namespace

std::size_t utf16Length(const std::wstring& text) {
    if (sizeof(wchar_t) == 2) {
        return text.size();
    }
    std::size_t units = 0;
    for (wchar_t unit : text) {
        units += needsTwoUnits(unit) ? 2 : 1;
    }
    return units;
}

std::optional<std::wstring> readHostText(const wchar_t* text, std::size_t maxUnits) {
    std::wstring result;
    for (std::size_t i = 0; i < maxUnits; ++i) {
        if (text[i] == L'\0') {
            if (utf16Length(result) >= maxUnits) {
                return std::nullopt;
            }
            return result;
        }
        result.push_back(text[i]);
    }
    return std::nullopt;
}

void writeHostText(wchar_t* buffer, const std::wstring& text) {
    std::size_t units = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const std::size_t width = needsTwoUnits(text[i]) ? 2 : 1;
        if (units + width > kHostTextUnits - 1) {
            break;
        }
        buffer[i] = text[i];
        units += width;
    }
    buffer[i] = L'\0';
}

std::wstring toUpperAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

bool equalsNoCase(const std::wstring& a, const std::wstring& b) {
    return toUpperAscii(a) == toUpperAscii(b);
}

std::string toUtf8(const std::wstring& text) {
    return utf8::encode(text);
}

std::wstring fromUtf8OrBytes(const std::string& bytes) {
    if (auto text = utf8::decode(bytes, true)) {
        return *text;
    }
    std::wstring text;
    for (char byte : bytes) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }
    return text;
}

// Best fit would write look-alikes such as U+FF02 and U+02BA as a double quote, so it is turned off. A code
// page that refuses the flag (UTF-8 does, and has no best fit to turn off) converts without it. Either
// way the bytes are checked, since they are what diskpart reads.
std::optional<std::string> scriptArgument(const std::wstring& text) {
    Platform& os = platform();
    auto ansi = os.wideToAnsi(text, win::WC_NO_BEST_FIT_CHARS_);
    if (!ansi) {
        ansi = os.wideToAnsi(text, 0);
    }
    if (!ansi || ansi->size() >= kAnsiArgumentBytes) {
        return std::nullopt;
    }
    for (char byte : *ansi) {
        if (endsAnArgument(static_cast<unsigned char>(byte))) {
            return std::nullopt;
        }
    }
    return ansi;
}

bool isScriptSafeText(const std::wstring& text) {
    for (wchar_t unit : text) {
        if (endsAnArgument(static_cast<std::uint32_t>(unit))) {
            return false;
        }
    }
    return true;
}

}  // namespace kvph
