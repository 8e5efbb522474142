#include "sim/windows/Profiles.h"

#include "platform/WinConstants.h"
#include "sim/windows/Files.h"
#include "sim/windows/Text.h"

namespace sim {

enum class Encoding { Ansi, Utf8, Utf16 };

struct Line {
    std::wstring text;
    std::wstring ending;  // "\r\n", "\n" or "" on a last line without one
};

struct Entry {
    std::size_t line = 0;
    std::wstring key;
    std::wstring value;
    bool hasValue = false;  // a line without "=" names no value: reading it gives the default
};

struct Section {
    std::wstring name;
    std::size_t lastLine = 0;  // the header or the section's last entry: where a new key goes after
    std::vector<Entry> entries;
};

struct Profile {
    Encoding encoding = Encoding::Ansi;
    std::vector<Line> lines;
    std::vector<Section> sections;
};

namespace {

namespace win = kvph::win;

constexpr wchar_t kNewLine[] = L"\r\n";

std::wstring decodeUtf16(const std::string& bytes) {
    std::wstring units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        units += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    // Pairs of surrogates become one character where wchar_t is wide enough.
    return text::fromUtf8(text::toUtf8(units));
}

std::string encodeUtf16(const std::wstring& content) {
    std::string bytes = "\xFF\xFE";
    for (char32_t c : content) {
        std::vector<char16_t> units;
        if (c >= 0x10000) {
            units = {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                     static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
        } else {
            units = {static_cast<char16_t>(c)};
        }
        for (char16_t unit : units) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
    }
    return bytes;
}

bool startsWith(const std::string& bytes, const char* prefix) {
    return bytes.rfind(prefix, 0) == 0;
}

std::vector<Line> splitLines(const std::wstring& content) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t newline = content.find(L'\n', start);
        if (newline == std::wstring::npos) {
            lines.push_back({content.substr(start), L""});
            break;
        }
        const bool crlf = newline > start && content[newline - 1] == L'\r';
        const std::size_t textEnd = crlf ? newline - 1 : newline;
        lines.push_back({content.substr(start, textEnd - start), crlf ? L"\r\n" : L"\n"});
        start = newline + 1;
    }
    return lines;
}

void parseSections(Profile& profile) {
    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        const std::wstring line = text::trim(profile.lines[i].text);
        if (line.empty()) {
            continue;
        }
        if (line[0] == L'[') {
            const std::size_t close = line.find(L']');
            if (close != std::wstring::npos) {
                profile.sections.push_back({text::trim(line.substr(1, close - 1)), i, {}});
            }
            continue;
        }
        if (profile.sections.empty()) {
            continue;  // lines before the first section belong to none
        }
        const std::size_t equals = line.find(L'=');
        Entry entry{i, text::trimRight(line.substr(0, equals)), {}, equals != std::wstring::npos};
        if (entry.hasValue) {
            entry.value = text::trim(line.substr(equals + 1));
        }
        profile.sections.back().entries.push_back(entry);
        profile.sections.back().lastLine = i;
    }
}

Profile readProfile(const CodePage& codePage, const std::string& bytes) {
    Profile profile;
    std::wstring content;
    if (startsWith(bytes, "\xFF\xFE")) {
        profile.encoding = Encoding::Utf16;
        content = decodeUtf16(bytes);
    } else if (startsWith(bytes, "\xEF\xBB\xBF")) {
        profile.encoding = Encoding::Utf8;
        content = text::fromUtf8(bytes.substr(3));
    } else {
        content = codePage.fromAnsi(bytes);
    }
    profile.lines = splitLines(content);
    parseSections(profile);
    return profile;
}

std::string encodeProfile(const CodePage& codePage, const Profile& profile) {
    std::wstring content;
    for (const Line& line : profile.lines) {
        content += line.text + line.ending;
    }
    switch (profile.encoding) {
        case Encoding::Utf16:
            return encodeUtf16(content);
        case Encoding::Utf8:
            return "\xEF\xBB\xBF" + text::toUtf8(content);
        case Encoding::Ansi:
            break;
    }
    return codePage.toAnsi(content);
}

const Section* findSection(const Profile& profile, const std::wstring& name) {
    for (const Section& section : profile.sections) {
        if (text::equalsNoCase(section.name, name)) {
            return &section;
        }
    }
    return nullptr;
}

const Entry* findEntry(const Section& section, const std::wstring& key) {
    for (const Entry& entry : section.entries) {
        if (text::equalsNoCase(entry.key, key)) {
            return &entry;
        }
    }
    return nullptr;
}

// One pair of matching quotes around a value is not part of it.
std::wstring unquoted(const std::wstring& value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool isDigitIn(wchar_t c, unsigned base, unsigned& digit) {
    if (c >= L'0' && c <= L'9') {
        digit = static_cast<unsigned>(c - L'0');
    } else if (c >= L'a' && c <= L'f') {
        digit = static_cast<unsigned>(c - L'a' + 10);
    } else if (c >= L'A' && c <= L'F') {
        digit = static_cast<unsigned>(c - L'A' + 10);
    } else {
        return false;
    }
    return digit < base;
}

// The platform's conversion with base 0: blanks, a sign, an optional 0x / 0o / 0b prefix, then digits
// up to the first character that is not one; 32-bit wrap-around.
std::uint32_t parseProfileInteger(const std::wstring& value) {
    std::size_t i = 0;
    while (i < value.size() && value[i] <= L' ') {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) {
        negative = value[i] == L'-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < value.size() && value[i] == L'0') {
        const wchar_t prefix = value[i + 1];
        base = (prefix == L'x' || prefix == L'X')   ? 16
               : (prefix == L'o' || prefix == L'O') ? 8
               : (prefix == L'b' || prefix == L'B') ? 2
                                                    : 10;
        if (base != 10) {
            i += 2;
        }
    }
    std::uint32_t result = 0;
    unsigned digit = 0;
    for (; i < value.size() && isDigitIn(value[i], base, digit); ++i) {
        result = result * base + digit;
    }
    return negative ? 0u - result : result;
}

}  // namespace

Profiles::Profiles(Calls& calls, Files& files, const CodePage& codePage)
    : calls_(calls), files_(files), codePage_(codePage) {}

Profiles::~Profiles() = default;

const Profile& Profiles::parsed(const File& stored) {
    if (!parsed_ || parsedPath_ != stored.path || parsedBytes_ != stored.content ||
        parsedCodePage_ != codePage_.number()) {
        parsed_ = std::make_unique<Profile>(
            readProfile(codePage_, std::string(stored.content.begin(), stored.content.end())));
        parsedPath_ = stored.path;
        parsedBytes_ = stored.content;
        parsedCodePage_ = codePage_.number();
    }
    return *parsed_;
}

std::wstring Profiles::getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                                const std::wstring& file) {
    if (bufferUnits == 0) {
        calls_.enter("getPrivateProfileStringW", file + L"|" + section + L"|" + key);
        return {};
    }
    // Trailing blanks of the default are cut off by the platform.
    std::wstring result = text::trimRight(defaultValue);
    if (!calls_.enter("getPrivateProfileStringW", file + L"|" + section + L"|" + key)) {
        if (const File* stored = files_.findFile(pathKey(file))) {
            const Section* found = findSection(parsed(*stored), section);
            const Entry* entry = found != nullptr ? findEntry(*found, key) : nullptr;
            if (entry != nullptr && entry->hasValue) {
                result = unquoted(entry->value);
            }
        }
    }
    return text::cutToUtf16(result, bufferUnits - 1);
}

std::uint32_t Profiles::getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                              std::int32_t defaultValue, const std::wstring& file) {
    if (calls_.enter("getPrivateProfileIntW", file + L"|" + section + L"|" + key)) {
        return static_cast<std::uint32_t>(defaultValue);
    }
    std::wstring value;
    if (const File* stored = files_.findFile(pathKey(file))) {
        const Section* found = findSection(parsed(*stored), section);
        if (const Entry* entry = found != nullptr ? findEntry(*found, key) : nullptr) {
            value = unquoted(entry->value);
        }
    }
    return value.empty() ? static_cast<std::uint32_t>(defaultValue) : parseProfileInteger(value);
}

kvph::BoolResult Profiles::writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                      const std::wstring& value, const std::wstring& file) {
    if (auto error = calls_.enter("writePrivateProfileStringW", file + L"|" + section + L"|" + key)) {
        return {false, *error};
    }
    const File* stored = files_.findFile(pathKey(file));
    Profile profile =
        stored != nullptr
            ? readProfile(codePage_, std::string(stored->content.begin(), stored->content.end()))
            : Profile{};
    const Section* found = findSection(profile, section);
    const Entry* entry = found != nullptr ? findEntry(*found, key) : nullptr;
    if (entry != nullptr) {
        profile.lines[entry->line].text = entry->key + L"=" + value;
    } else {
        // A line without an ending gets one before anything is written after it.
        const std::size_t after = found != nullptr ? found->lastLine : profile.lines.size() - 1;
        if (!profile.lines.empty() && profile.lines[after].ending.empty()) {
            profile.lines[after].ending = kNewLine;
        }
        std::vector<Line> added;
        if (found == nullptr) {
            added.push_back({L"[" + section + L"]", kNewLine});
        }
        added.push_back({key + L"=" + value, kNewLine});
        const std::size_t at = found != nullptr ? found->lastLine + 1 : profile.lines.size();
        profile.lines.insert(profile.lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(),
                             added.end());
    }
    if (auto error = files_.storeFile(stored != nullptr ? stored->path : file,
                                      encodeProfile(codePage_, profile), false)) {
        return {false, *error};
    }
    return {true, 0};
}

}  // namespace sim
