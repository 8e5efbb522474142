#include "ToolText.h"

#include <cstdio>

namespace kvph::tool {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendWide(std::wstring& out, char32_t c) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        return;
    }
    out += static_cast<wchar_t>(c);
}

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead >> 5) == 0x6) {
        return 2;
    }
    if ((lead >> 4) == 0xE) {
        return 3;
    }
    return (lead >> 3) == 0x1E ? 4 : 0;
}

// The character at `i`, joining a UTF-16 surrogate pair; `i` moves past it.
char32_t nextCharacter(const std::wstring& text, std::size_t& i) {
    auto c = static_cast<char32_t>(text[i++]);
    if (c >= 0xD800 && c < 0xDC00 && i < text.size()) {
        const auto low = static_cast<char32_t>(text[i]);
        if (low >= 0xDC00 && low < 0xE000) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return (c >= 0xD800 && c < 0xE000) ? kReplacement : c;
}

}  // namespace

std::wstring fromUtf8(const std::string& bytes) {
    std::wstring out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = sequenceLength(lead);
        bool valid = length != 0 && i + length <= bytes.size();
        char32_t c = length == 1 ? lead : static_cast<char32_t>(lead & (0x7F >> length));
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            appendWide(out, kReplacement);
            ++i;
            continue;
        }
        appendWide(out, c);
        i += length;
    }
    return out;
}

std::string toUtf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        appendUtf8(out, nextCharacter(text, i));
    }
    return out;
}

std::string readable(const std::wstring& text, const std::string& indent) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCharacter(text, i);
        if (c == U'\r') {
            out += "\\r";
        } else if (c == U'\n') {
            out += "\\n";
            if (i < text.size()) {
                out += "\n" + indent;
            }
        } else if (c == U'\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
            out += escape;
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

}  // namespace kvph::tool
