#include "sim/windows/Text.h"

#include <algorithm>
#include <array>

#include "frame/Utf8.h"

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

// UTF-16 units of one character: two beyond the basic plane, which only a 32-bit wchar_t can hold (a
// 16-bit one already holds UTF-16 units). Taken as a 32-bit value so that both widths compile alike.
std::size_t utf16Width(std::uint32_t code) {
    return code > 0xFFFF ? 2 : 1;
}

bool isSpace(wchar_t c) {
    return c == L' ' || c == L'\t';
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
        units += utf16Width(static_cast<std::uint32_t>(c));
    }
    return units;
}

std::wstring cutToUtf16(const std::wstring& s, std::size_t units) {
    std::size_t used = 0;
    std::size_t count = 0;
    for (wchar_t c : s) {
        const std::size_t width = utf16Width(static_cast<std::uint32_t>(c));
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

std::string toCodePage(const std::wstring& s, std::uint32_t, bool bestFit) {
    std::string out;
    for (wchar_t wc : s) {
        const auto c = static_cast<char32_t>(wc);
        auto byte = byteOf1252(c);
        if (!byte && bestFit) {
            byte = bestFitOf1252(c);
        }
        if (byte) {
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
    return kvph::utf8::encode(s);
}

std::wstring fromUtf8(const std::string& bytes) {
    return *kvph::utf8::decode(bytes, false);
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
