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
    // No cap rather than another drive's.
    platform().setFileAttributesW(path, win::FILE_ATTRIBUTE_NORMAL_);
    platform().deleteFileW(path);
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
    const std::wstring text = platform().getPrivateProfileStringW(section, key, L"", kTextUnits, iniPath);
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || value > kLargestStoredNumber) {
            value = kLargestStoredNumber + 1;
            break;
        }
        value = value * 10 + (digit - L'0');
    }
    if (value > kLargestStoredNumber) {
        logLine(std::wstring(kLogPrefix) + fileNameOf(iniPath) + L": \"" + key + L"\" is \"" + text +
                L"\", not a whole number from 0 to 2147483647; ignored.\r\n");
        return std::nullopt;
    }
    return value;
}

}  // namespace kvph
