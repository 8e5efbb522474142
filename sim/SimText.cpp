#include "SimText.h"

#include <algorithm>
#include <array>

namespace sim::text {
namespace {

constexpr std::uint32_t kWindows1252 = 1252;
constexpr char kDefaultChar = '?';

// Characters of bytes 0x80 to 0x9F in code page 1252. The five bytes the code page leaves unassigned
// map to the C1 control of the same value, as the platform's tables do.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::optional<unsigned char> byteOf1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<unsigned char>(c);
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return std::nullopt;
}

bool isSpace(wchar_t c) {
    return c == L' ' || c == L'\t';
}

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
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

}  // namespace

wchar_t upper(wchar_t c) {
    if (c >= L'a' && c <= L'z') {
        return static_cast<wchar_t>(c - 0x20);
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<wchar_t>(c - 0x20);
    }
    return c;
}

std::wstring upper(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return upper(c); });
    return s;
}

bool equalsNoCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](wchar_t x, wchar_t y) { return upper(x) == upper(y); });
}

bool containsNoCase(const std::wstring& haystack, const std::wstring& needle) {
    return upper(haystack).find(upper(needle)) != std::wstring::npos;
}

bool startsWithNoCase(const std::wstring& s, const std::wstring& prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

std::wstring trim(const std::wstring& s) {
    std::size_t first = 0;
    while (first < s.size() && isSpace(s[first])) {
        ++first;
    }
    return trimRight(s.substr(first));
}

std::wstring trimRight(const std::wstring& s) {
    std::size_t end = s.size();
    while (end > 0 && isSpace(s[end - 1])) {
        --end;
    }
    return s.substr(0, end);
}

std::size_t utf16Length(const std::wstring& s) {
    std::size_t units = 0;
    for (wchar_t c : s) {
        units += static_cast<char32_t>(c) > 0xFFFF ? 2 : 1;
    }
    return units;
}

std::wstring cutToUtf16(const std::wstring& s, std::size_t units) {
    std::size_t used = 0;
    std::size_t count = 0;
    for (wchar_t c : s) {
        const std::size_t width = static_cast<char32_t>(c) > 0xFFFF ? 2 : 1;
        if (used + width > units) {
            break;
        }
        used += width;
        ++count;
    }
    return s.substr(0, count);
}

bool supportedCodePage(std::uint32_t codePage) {
    return codePage == kWindows1252;
}

std::string toCodePage(const std::wstring& s, std::uint32_t) {
    std::string out;
    for (wchar_t wc : s) {
        const auto c = static_cast<char32_t>(wc);
        if (auto byte = byteOf1252(c)) {
            out += static_cast<char>(*byte);
        } else {
            out.append(c > 0xFFFF ? 2 : 1, kDefaultChar);
        }
    }
    return out;
}

std::wstring fromCodePage(const std::string& bytes, std::uint32_t) {
    std::wstring out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        out += (byte >= 0x80 && byte < 0xA0) ? static_cast<wchar_t>(kHighControls[byte - 0x80])
                                             : static_cast<wchar_t>(byte);
    }
    return out;
}

std::string toUtf8(const std::wstring& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<char32_t>(s[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) {
            const auto low = static_cast<char32_t>(s[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, c);
    }
    return out;
}

std::wstring fromUtf8(const std::string& bytes) {
    std::wstring out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        char32_t c = length == 1   ? lead
                     : length == 2 ? (lead & 0x1F)
                     : length == 3 ? (lead & 0x0F)
                                   : (lead & 0x07);
        bool valid = length != 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
        valid = valid && c >= minimum && c <= 0x10FFFF && !(c >= 0xD800 && c < 0xE000);
        if (!valid) {
            out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        appendWide(out, c);
        i += length;
    }
    return out;
}

std::wstring widen(const std::string& ascii) {
    std::wstring out;
    for (char c : ascii) {
        out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return out;
}

std::string narrow(const std::wstring& ascii) {
    std::string out;
    for (wchar_t c : ascii) {
        out += static_cast<char>(c);
    }
    return out;
}

}  // namespace sim::text
