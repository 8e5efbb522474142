#include "inventory/VhdxPresenceQuery.h"

#include <algorithm>
#include <cwctype>
#include <optional>
#include <vector>

#include "KvPartitionHelper.h"
#include "frame/DiskpartCommands.h"
#include "frame/DiskpartRunner.h"
#include "frame/ExportGuard.h"
#include "frame/Folders.h"
#include "frame/Log.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "frame/UniqueHandle.h"
#include "frame/WholeFile.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kExportName[] = L"PH_CheckExistVHDX";
constexpr wchar_t kResultFileName[] = L"result.txt";
constexpr wchar_t kBatchFileName[] = L"temp.bat";
constexpr char kBatchFirstLine[] = "chcp 65001\r\n";
constexpr std::uint32_t kSystemFolderUnits = 260;
constexpr wchar_t kAttachedWord[] = L"ATTACHED";
// The disk field is the second column of diskpart's table, after the virtual disk's own number.
constexpr std::size_t kDiskColumn = 1;

bool isSpace(wchar_t c) {
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

bool isDecimalDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// The listing as lines: UTF-8 (or one byte per unit), CR LF folded to LF, split at each LF.
std::vector<std::wstring> listingLines(const std::wstring& resultPath) {
    std::vector<std::wstring> lines;
    const auto bytes = readWholeFile(resultPath);
    if (!bytes) {
        return lines;
    }
    std::wstring line;
    const std::wstring text = fromUtf8OrBytes(*bytes);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            continue;
        }
        if (text[i] == L'\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(text[i]);
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

std::wstring extensionOf(const std::wstring& path) {
    const std::size_t componentStart = path.find_last_of(L"\\/");
    const std::size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (componentStart != std::wstring::npos && dot < componentStart)) {
        return std::wstring();
    }
    return path.substr(dot);
}

// The path is the last column of a listing line: the key matches only when it is that whole column,
// with white space before it and nothing but white space after it. So "D:\VD\DRIVE.VHD" matches neither
// "D:\VD\DRIVE.VHDX" nor "D:\VD\DRIVE.VHD COPY.VHD", and "VD\DRIVE.VHD" not "D:\VD\DRIVE.VHD".
// The result is where the path starts on the line.
std::optional<std::size_t> wholePathStart(const std::wstring& line, const std::wstring& key) {
    std::size_t end = line.size();
    while (end > 0 && isSpace(line[end - 1])) {
        --end;
    }
    if (key.empty() || end <= key.size()) {
        return std::nullopt;
    }
    const std::size_t start = end - key.size();
    if (line.compare(start, key.size(), key) != 0 || !isSpace(line[start - 1])) {
        return std::nullopt;
    }
    return start;
}

// The columns of a table, [start, end) of each group of dashes under its heading.
struct Column {
    std::size_t start;
    std::size_t end;
};

bool isBlankLine(const std::wstring& line) {
    return std::all_of(line.begin(), line.end(), isSpace);
}

bool isDashLine(const std::wstring& line) {
    return !isBlankLine(line) &&
           std::all_of(line.begin(), line.end(), [](wchar_t c) { return c == L'-' || isSpace(c); });
}

std::vector<Column> dashGroups(const std::wstring& line) {
    std::vector<Column> groups;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] != L'-') {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] == L'-') {
            ++i;
        }
        groups.push_back({start, i});
    }
    return groups;
}

// The number in a row's disk field: the one run of decimal digits that stands there ("Disk 2"), taken
// whole where it runs past the field's edges; none for "Disk ---", for a field with more than one run, or
// for a run too long to be a disk number. The row ends where the path begins, whatever the dashes say.
std::optional<int> diskNumberIn(const std::wstring& row, const Column& field, std::size_t pathStart) {
    constexpr std::size_t kMaxDigits = 9;
    const std::size_t rowEnd = std::min(pathStart, row.size());
    const std::size_t fieldEnd = std::min(field.end, rowEnd);
    std::optional<int> number;
    for (std::size_t i = field.start; i < fieldEnd;) {
        if (!isDecimalDigit(row[i])) {
            ++i;
            continue;
        }
        std::size_t start = i;
        while (start > 0 && isDecimalDigit(row[start - 1])) {
            --start;
        }
        while (i < rowEnd && isDecimalDigit(row[i])) {
            ++i;
        }
        if (number || i - start > kMaxDigits) {
            return std::nullopt;
        }
        int value = 0;
        for (std::size_t digit = start; digit < i; ++digit) {
            value = value * 10 + (row[digit] - L'0');
        }
        number = value;
    }
    return number;
}

void writeBatchFile(const std::wstring& path, const std::wstring& commandLine) {
    Platform& os = platform();
    UniqueHandle file(
        os.createFileW(path, win::GENERIC_WRITE_, 0, win::CREATE_ALWAYS_, win::FILE_ATTRIBUTE_NORMAL_)
            .handle);
    if (!file.valid()) {
        return;  // starting the missing batch file fails and is reported there
    }
    // The console switches to UTF-8 before it reads the second line. cmd expands '%' in batch lines, so
    // each '%' of the paths is written as "%%".
    std::wstring line;
    for (const wchar_t unit : commandLine) {
        line += unit == L'%' ? std::wstring(L"%%") : std::wstring(1, unit);
    }
    const std::string bytes = std::string(kBatchFirstLine) + toUtf8(line) + "\r\n";
    os.writeFile(file.get(), Bytes(bytes.begin(), bytes.end()));
}

struct CaptureOutcome {
    bool succeeded = false;
    std::uint32_t exitCode = 0;
};

CaptureOutcome runBatchFile(const std::wstring& batchPath, const std::wstring& systemFolder) {
    const ProcessOutcome outcome =
        platform().shellExecuteAndWait(L"Open", batchPath, L"", systemFolder, win::SW_HIDE_);
    if (outcome.stage == ProcessOutcome::Stage::NotStarted) {
        logLine(L"(KvPartitionHelper)Create process fail.\r\n");
        return {};
    }
    logLine(L"(KvPartitionHelper)Create process OK.\r\n");
    if (outcome.stage != ProcessOutcome::Stage::Exited) {
        return {};
    }
    return {outcome.exitCode == 0, outcome.exitCode};
}

std::optional<VdiskPresence> listVdisks(const std::wstring& vhdxPath) {
    Platform& os = platform();
    const auto script = composeScript(kListScriptBytes, scripts::kListVdisk);
    const auto scriptPath = script ? WriteScriptFile(*script, false) : std::nullopt;
    if (!scriptPath) {
        return std::nullopt;
    }

    const std::wstring libraryFolder = LibraryFolder();
    const std::wstring resultPath = libraryFolder + kResultFileName;
    os.deleteFileW(resultPath);
    logLine(resultPath);

    const std::wstring commandLine = formatBounded(kTextUnits * 2, L"%ls /s \"%ls\" >> \"%ls\"", L"diskpart",
                                                   scriptPath->c_str(), resultPath.c_str());
    logLine(commandLine);

    const std::wstring batchPath = libraryFolder + kBatchFileName;
    logLine(batchPath);
    DeleteAnyFile(batchPath);

    CaptureOutcome capture;
    if (utf16Length(commandLine) >= kTextUnits) {
        logLine(L"(KvPartitionHelper)Command line too long.\r\n");
    } else {
        writeBatchFile(batchPath, commandLine);
        const std::wstring systemFolder =
            PathAddBackslash(os.getSystemDirectoryW(kSystemFolderUnits).value_or(L""));
        logLine(systemFolder);
        capture = runBatchFile(batchPath, systemFolder);
    }

    std::optional<VdiskPresence> result;
    if (capture.succeeded) {
        logLine(L"(KvPartitionHelper)diskpart list vdisk successfully.");
        result = FindAttachedInVdiskList(resultPath, vhdxPath);
    } else {
        logLine(formatBounded(kTextUnits, L"(KvPartitionHelper)diskpart error because of 0x%08x.",
                              capture.exitCode));
    }
    os.deleteFileW(batchPath);
    os.deleteFileW(*scriptPath);
    os.setFileAttributesW(resultPath, win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    return result;
}

}  // namespace

VdiskPresence FindAttachedInVdiskList(const std::wstring& resultPath, const std::wstring& vhdxPath) {
    const std::wstring extension = extensionOf(vhdxPath);
    if (!equalsNoCase(extension, L".vhdx") && !equalsNoCase(extension, L".vhd")) {
        return {};
    }
    const std::wstring key = toUpperAscii(vhdxPath);
    const std::vector<std::wstring> lines = listingLines(resultPath);
    std::optional<Column> diskField;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::wstring upper = toUpperAscii(lines[i]);
        if (isDashLine(upper)) {
            const bool underHeading = i > 0 && !isBlankLine(lines[i - 1]) && !isDashLine(lines[i - 1]);
            if (underHeading) {
                const std::vector<Column> groups = dashGroups(upper);
                diskField =
                    groups.size() > kDiskColumn ? std::optional<Column>(groups[kDiskColumn]) : std::nullopt;
            }
            continue;
        }
        // The state stands in a column before the path, which may hold the word itself.
        const std::optional<std::size_t> pathStart = wholePathStart(upper, key);
        if (!pathStart) {
            continue;
        }
        const std::optional<int> disk =
            diskField ? diskNumberIn(upper, *diskField, *pathStart) : std::nullopt;
        if (disk || upper.substr(0, *pathStart).find(kAttachedWord) != std::wstring::npos) {
            return {true, disk};
        }
    }
    return {};
}

std::optional<VdiskPresence> QueryVdiskPresence(const std::wstring& vhdxPath) {
    std::optional<VdiskPresence> presence;
    runExport(kExportName, [&] {
        presence = listVdisks(vhdxPath);
        return 0;
    });
    return presence;
}

int CheckExistVHDX(const wchar_t* vhdxPath) {
    const auto path = textArgument(kExportName, L"the VHDX path", vhdxPath);
    const std::optional<VdiskPresence> presence = path ? listVdisks(*path) : std::nullopt;
    return presence && presence->attached ? 1 : 0;
}

}  // namespace kvph
