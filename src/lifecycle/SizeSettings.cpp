#include "lifecycle/SizeSettings.h"

#include "frame/Folders.h"
#include "frame/Log.h"
#include "frame/ProfileReplacement.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr unsigned kMegabyteShift = 20;

std::wstring fileNameOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// Whole decimal digits up to `largest`; nullopt for anything else.
std::optional<std::int64_t> parseWholeNumber(const std::wstring& text,
                                             std::int64_t largest = kLargestStoredNumber) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || value > largest) {
            return std::nullopt;
        }
        value = value * 10 + (digit - L'0');
    }
    return value <= largest ? std::optional<std::int64_t>(value) : std::nullopt;
}

// The number `text` read from `key` of `iniPath` holds; text that is not one is logged.
std::optional<std::int64_t> storedNumber(const std::wstring& iniPath, const std::wstring& key,
                                         const std::wstring& text) {
    const std::optional<std::int64_t> value = parseWholeNumber(text);
    if (!value && !text.empty()) {
        logLine(std::wstring(kLogPrefix) + fileNameOf(iniPath) + L": \"" + key + L"\" is \"" + text +
                L"\", not a whole number from 0 to 2147483647; ignored.\r\n");
    }
    return value;
}

}  // namespace

std::wstring MaxSizeIniPath() {
    return LibraryFolder() + kMaxSizeFileName;
}

std::wstring UserDataIniPath() {
    return DataDirectory() + kUserDataFileName;
}

void WriteMaxSize(int maximumMB) {
    const std::wstring path = MaxSizeIniPath();
    ProfileReplacement maxSize(path);
    if (maxSize.write(kSettingsSection, kSizeKey, std::to_wstring(maximumMB)) &&
        maxSize.commit(win::FILE_ATTRIBUTE_HIDDEN_)) {
        return;
    }
    // An unknown cap, which never lets the drive grow, rather than another drive's.
    DeleteAnyFile(path);
}

SizeCap ReadSizeCap() {
    const std::wstring path = MaxSizeIniPath();
    const std::wstring text =
        platform().getPrivateProfileStringW(kSettingsSection, kSizeKey, L"", kTextUnits, path);
    // What "%d" writes for a maximum below 0, down to -2147483648.
    if (text.size() > 1 && text[0] == L'-' && parseWholeNumber(text.substr(1), kLargestStoredNumber + 1)) {
        return {SizeCap::Kind::None, 0};
    }
    const std::optional<std::int64_t> cap = storedNumber(path, kSizeKey, text);
    if (!cap) {
        return {};
    }
    return *cap == 0 ? SizeCap{SizeCap::Kind::None, 0} : SizeCap{SizeCap::Kind::Limit, *cap};
}

std::optional<std::uint64_t> FreeMegabytesOnDriveOf(const std::wstring& path) {
    // The drive component, as splitting the path gives it: a letter and its colon, or nothing.
    if (path.size() < 2 || path[1] != L':') {
        return std::nullopt;
    }
    const DiskFreeSpace space = platform().getDiskFreeSpaceExW(path.substr(0, 2));
    if (!space.ok) {
        return std::nullopt;
    }
    return space.freeBytesAvailableToCaller >> kMegabyteShift;
}

std::optional<std::int64_t> readStoredNumber(const std::wstring& iniPath, const std::wstring& section,
                                             const std::wstring& key) {
    return storedNumber(iniPath, key,
                        platform().getPrivateProfileStringW(section, key, L"", kTextUnits, iniPath));
}

}  // namespace kvph
