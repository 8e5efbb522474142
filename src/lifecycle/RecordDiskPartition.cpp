#include "frame/Folders.h"
#include "lifecycle/SizeSettings.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

void writeUserData(const PER::VolumeLocation& location) {
    Platform& os = platform();
    const std::wstring dataDirectory = DataDirectory();
    if (!os.pathFileExistsW(dataDirectory)) {
        EnsureDirectory(dataDirectory);
    }
    const std::wstring path = UserDataIniPath();
    os.setFileAttributesW(path, win::FILE_ATTRIBUTE_NORMAL_);
    os.deleteFileW(path);
    os.writePrivateProfileStringW(kSettingsSection, kDiskKey, std::to_wstring(location.diskNumber), path);
    os.writePrivateProfileStringW(kSettingsSection, kPartitionKey, std::to_wstring(location.position), path);
}

}  // namespace

std::optional<PER::VolumeLocation> RecordVolumeLocation(const std::wstring& letter) {
    std::optional<PER::VolumeLocation> location;
    {
        PER::DriveManagerLease lease;
        location = PER::FindLetteredVolume(lease.manager(), PER::CompleteDriveLetter(letter));
    }
    if (location) {
        writeUserData(*location);
    }
    return location;
}

int RecordDiskPartition(const std::wstring& letter) {
    return RecordVolumeLocation(letter) ? 1 : 0;
}

}  // namespace kvph
