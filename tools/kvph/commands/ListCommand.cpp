#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "kvph/base/ToolText.h"
#include "kvph/commands/InventoryCommands.h"

namespace kvph::tool {
namespace {

constexpr wchar_t kInventoryFile[] = L"Partition.ini";

// The keys of a volume section shown in the table, with their column headings; the partition GUIDs are
// left to --json so that a row fits a terminal.
const std::vector<std::pair<std::wstring, std::string>> kColumns = {{L"Letter", "Ltr"},
                                                                    {L"File System", "FS"},
                                                                    {L"Label Name", "Label"},
                                                                    {L"Disk Type", "Style"},
                                                                    {L"Total MB", "Total MB"},
                                                                    {L"Free MB", "Free MB"},
                                                                    {L"Disk-Partition", "D-P"},
                                                                    {L"SSD", "SSD"},
                                                                    {L"BusType", "Bus"},
                                                                    {L"Drive Type", "Type"},
                                                                    {L"ReadOnlyVolume", "ReadOnly"}};

struct IniSection {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> entries;
};

bool sameKey(const std::wstring& a, const std::wstring& b) {
    const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](wchar_t x, wchar_t y) { return upper(x) == upper(y); });
}

std::wstring trimmed(const std::wstring& text) {
    const std::size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        return L"";
    }
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// The file is ANSI text as the profile calls wrote it; a file that has a byte-order mark is taken in
// that encoding. ANSI bytes are shown one character each (exact for ASCII, close for code page 1252).
std::wstring decodeProfileText(const std::string& bytes) {
    if (bytes.rfind("\xFF\xFE", 0) == 0) {
        std::wstring text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
        }
        return text;
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        return fromUtf8(bytes.substr(3));
    }
    std::wstring text;
    for (char c : bytes) {
        text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return text;
}

std::vector<IniSection> parseSections(const std::wstring& text) {
    std::vector<IniSection> sections;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line =
            trimmed(text.substr(start, end - start - (end > start && text[end - 1] == L'\r')));
        start = end + 1;
        if (!line.empty() && line.front() == L'[' && line.find(L']') != std::wstring::npos) {
            sections.push_back({trimmed(line.substr(1, line.find(L']') - 1)), {}});
        } else if (!sections.empty() && line.find(L'=') != std::wstring::npos) {
            const std::size_t equals = line.find(L'=');
            sections.back().entries.emplace_back(trimmed(line.substr(0, equals)),
                                                 trimmed(line.substr(equals + 1)));
        }
    }
    return sections;
}

std::wstring valueOf(const IniSection& section, const std::wstring& key) {
    for (const auto& [name, value] : section.entries) {
        if (sameKey(name, key)) {
            return value;
        }
    }
    return L"";
}

bool isVolumeSection(const IniSection& section) {
    return !section.name.empty() && std::all_of(section.name.begin(), section.name.end(),
                                                [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

std::string padded(const std::string& text, std::size_t width) {
    // Columns are measured in code points so that non-ASCII labels line up.
    const std::size_t length = fromUtf8(text).size();
    return text + std::string(width > length ? width - length : 0, ' ');
}

std::string table(const std::vector<IniSection>& sections) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header = {"Sec"};
    for (const auto& column : kColumns) {
        header.push_back(column.second);
    }
    rows.push_back(header);
    for (const IniSection& section : sections) {
        if (!isVolumeSection(section)) {
            continue;
        }
        std::vector<std::string> row = {toUtf8(section.name)};
        for (const auto& column : kColumns) {
            row.push_back(toUtf8(valueOf(section, column.first)));
        }
        rows.push_back(row);
    }
    std::vector<std::size_t> widths(header.size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], fromUtf8(row[i]).size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line = "\n ";
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += " " + padded(row[i], i + 1 < row.size() ? widths[i] : 0);
        }
        text += line;
    }
    for (const IniSection& section : sections) {
        if (sameKey(section.name, L"Main")) {
            text += "\n  Count = " + toUtf8(valueOf(section, L"Count"));
        }
    }
    return text;
}

nlohmann::ordered_json sectionsAsData(const std::vector<IniSection>& sections) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const IniSection& section : sections) {
        nlohmann::ordered_json keys = nlohmann::ordered_json::object();
        for (const auto& [name, value] : section.entries) {
            keys[toUtf8(name)] = toUtf8(value);
        }
        list.push_back({{"section", toUtf8(section.name)}, {"keys", keys}});
    }
    return {{"sections", list}};
}

}  // namespace

CommandResult showInventory(Host& host) {
    CommandResult outcome;
    std::string bytes;
    if (!host.readFile(host.libraryFolder() + kInventoryFile, bytes)) {
        outcome.output = "(no Partition.ini)";
        return outcome;
    }
    const std::vector<IniSection> sections = parseSections(decodeProfileText(bytes));
    outcome.output = table(sections);
    outcome.data = sectionsAsData(sections);
    return outcome;
}

CommandResult listInventory(Host& host, const std::vector<std::wstring>&) {
    const int result = host.exports().listFixedPartition();
    CommandResult outcome = showInventory(host);
    outcome.result = result;
    return outcome;
}

}  // namespace kvph::tool
