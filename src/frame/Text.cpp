#include "frame/Text.h"

#include <cstdint>

#include "platform/Platform.h"

namespace kvph {

namespace {

constexpr std::size_t kAnsiArgumentBytes = 260;
constexpr std::size_t kHostTextUnits = 260;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

// Whether one wchar_t stands for two UTF-16 units (only where wchar_t holds whole code points).
bool needsTwoUnits(wchar_t unit) { return (static_cast<std::uint32_t>(unit) >> 16) != 0; }

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Code points of a wide text, whether wchar_t holds UTF-16 units or whole code points.
template <typename Visit>
void forEachCodePoint(const std::wstring& text, Visit&& visit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = static_cast<char32_t>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFFu : 0xFFFFFFFFu);
        if (sizeof(wchar_t) == 2 && isHighSurrogate(unit) && i + 1 < text.size()) {
            const char32_t next = static_cast<char32_t>(text[i + 1]) & 0xFFFFu;
            if (isLowSurrogate(next)) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        visit(unit);
    }
}

void appendCodePoint(std::wstring& text, char32_t codePoint) {
    if (sizeof(wchar_t) == 2 && codePoint > 0xFFFF) {
        codePoint -= 0x10000;
        text.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
        text.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
        text.push_back(static_cast<wchar_t>(codePoint));
    }
}

// Length of the UTF-8 sequence introduced by `lead`, 0 for a byte that cannot start one.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

std::optional<std::wstring> decodeUtf8(const std::string& bytes) {
    std::wstring text;
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        const int length = sequenceLength(lead);
        if (length == 0 || i + length > bytes.size()) {
            return std::nullopt;
        }
        char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
        if (overlong || codePoint > kMaxCodePoint || isHighSurrogate(codePoint) || isLowSurrogate(codePoint)) {
            return std::nullopt;
        }
        appendCodePoint(text, codePoint);
        i += static_cast<std::size_t>(length);
    }
    return text;
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

bool equalsNoCase(const std::wstring& a, const std::wstring& b) { return toUpperAscii(a) == toUpperAscii(b); }

std::string toUtf8(const std::wstring& text) {
    std::string bytes;
    forEachCodePoint(text, [&bytes](char32_t c) {
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (c >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (c >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (c >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    });
    return bytes;
}

std::wstring fromUtf8OrBytes(const std::string& bytes) {
    if (auto text = decodeUtf8(bytes)) {
        return *text;
    }
    std::wstring text;
    for (char byte : bytes) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }
    return text;
}

std::optional<std::string> scriptArgument(const std::wstring& text) {
    auto ansi = platform().wideToAnsi(text);
    if (!ansi || ansi->size() >= kAnsiArgumentBytes) {
        return std::nullopt;
    }
    return ansi;
}

}  // namespace kvph
