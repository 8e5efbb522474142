// UTF-8 to and from wide text, for both widths of wchar_t (UTF-16 on Windows, UTF-32 elsewhere).
// Header-only: the library, the simulated machine and the kvph tool share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

namespace kvph::utf8 {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

inline bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// Bytes of the sequence a lead byte starts; 0 for a byte that starts none (C0 and C1 only start overlong
// forms, F5 and above values past U+10FFFF).
inline std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

inline void append(std::string& out, char32_t c) {
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

inline void appendWide(std::wstring& out, char32_t c) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        return;
    }
    out += static_cast<wchar_t>(c);
}

// The code point at `i`, joining a UTF-16 surrogate pair; a lone surrogate reads as U+FFFD. `i` moves
// past what was read.
inline char32_t nextCodePoint(const std::wstring& text, std::size_t& i) {
    const auto unit = [&text](std::size_t at) {
        return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[at]));
    };
    const char32_t c = unit(i++);
    if (c >= 0xD800 && c < 0xDC00 && i < text.size()) {
        const char32_t low = unit(i);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return isSurrogate(c) || c > kMaxCodePoint ? kReplacement : c;
}

inline std::string encode(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        append(out, nextCodePoint(text, i));
    }
    return out;
}

// Decodes UTF-8. Invalid input (a bad or truncated sequence, an overlong form, a surrogate, a value
// past U+10FFFF) gives nullopt when `strict`, otherwise one U+FFFD per byte that starts no valid
// sequence, as a console decodes it.
inline std::optional<std::wstring> decode(const std::string& bytes, bool strict) {
    std::wstring out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = sequenceLength(lead);
        bool valid = length != 0 && i + length <= bytes.size();
        char32_t c = length == 1 ? lead : static_cast<char32_t>(lead & (0x7F >> length));
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t minimum = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
        valid = valid && c >= minimum && c <= kMaxCodePoint && !isSurrogate(c);
        if (!valid) {
            if (strict) {
                return std::nullopt;
            }
            appendWide(out, kReplacement);
            ++i;
            continue;
        }
        appendWide(out, c);
        i += length;
    }
    return out;
}

}  // namespace kvph::utf8
