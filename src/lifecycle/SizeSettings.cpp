#include "lifecycle/SizeSettings.h"

#include "frame/Folders.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr unsigned kMegabyteShift = 20;

}  // namespace

std::wstring MaxSizeIniPath() {
    return LibraryFolder() + kMaxSizeFileName;
}

std::wstring UserDataIniPath() {
    return DataDirectory() + kUserDataFileName;
}

void WriteMaxSize(int maximumMB) {
    Platform& os = platform();
    const std::wstring path = MaxSizeIniPath();
    os.setFileAttributesW(path, win::FILE_ATTRIBUTE_NORMAL_);
    os.deleteFileW(path);
    os.writePrivateProfileStringW(kSettingsSection, kSizeKey, std::to_wstring(maximumMB), path);
    os.setFileAttributesW(path, win::FILE_ATTRIBUTE_HIDDEN_);
}

std::uint64_t FreeMegabytesOnDriveOf(const std::wstring& path) {
    // The drive component, as splitting the path gives it: a letter and its colon, or nothing.
    if (path.size() < 2 || path[1] != L':') {
        return 0;
    }
    const DiskFreeSpace space = platform().getDiskFreeSpaceExW(path.substr(0, 2));
    return space.ok ? space.freeBytesAvailableToCaller >> kMegabyteShift : 0;
}

}  // namespace kvph
