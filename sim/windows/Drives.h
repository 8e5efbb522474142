// Drives and volumes: the physical drives (the model's disks, then attached vdisks), their answers to
// the device control codes, the volumes under drive letters, DOS device names and the partition
// symbolic links. Implemented in Drives.cpp (drives, geometry and layout), StorageQuery.cpp
// (property query and ATA pass-through) and Volumes.cpp (volumes, letters, links).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/windows/Shared.h"

namespace sim {

class Drives {
public:
    Drives(MachineModel& model, Calls& calls, Handles& handles)
        : model_(model), calls_(calls), handles_(handles) {}

    // Every physical drive the machine has now: its disks, then attached vdisks with their numbers.
    std::vector<const Disk*> allDisks() const;
    const Disk* diskByNumber(int number) const;
    // Makes an attached vdisk a physical drive: the lowest drive number no other drive has, bus 15
    // (file-backed virtual disk), a fixed drive.
    void plugInVdisk(VirtualDisk& vdisk);

    // The volume mounted under a letter, with the disk that holds it.
    struct MountedVolume {
        const Disk* disk = nullptr;
        const Volume* volume = nullptr;
    };
    std::optional<MountedVolume> volumeByLetter(wchar_t letter) const;
    // Whether "X:\" exists: a volume has the letter, or the model lists it (network drives and the like).
    bool rootExists(wchar_t letter) const;
    // Whether the letter is assigned: its root exists, or it is held without a ready volume.
    bool letterAssigned(wchar_t letter) const;

    // "\\.\..." paths name devices rather than files.
    static bool isDevicePath(const std::wstring& path);
    // Opens "\\.\PhysicalDriveN".
    kvph::HandleResult openDevice(const std::wstring& path);
    kvph::IoResult deviceIoControl(kvph::Handle device, std::uint32_t controlCode, const kvph::Bytes& input,
                                   std::uint32_t outputSize);

    kvph::VolumeInformation getVolumeInformationW(const std::wstring& rootPath);
    kvph::DiskFreeSpace getDiskFreeSpaceExW(const std::wstring& directory);
    std::uint32_t getDriveTypeW(const std::wstring& rootPath);
    kvph::DriveStrings getLogicalDriveStringsW(std::uint32_t bufferUnits);
    kvph::DriveMask getLogicalDrives();
    std::optional<std::wstring> queryDosDeviceW(const std::wstring& deviceName, std::uint32_t bufferUnits);

    bool loadSymbolicLinkCalls();
    kvph::NtHandleResult ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t attributes);
    kvph::NtTextResult ntQuerySymbolicLinkObject(kvph::Handle link, std::uint16_t maximumBytes);

private:
    kvph::IoResult answerGeometry(const Disk& disk, std::uint32_t outputSize);
    kvph::IoResult answerLayout(const Disk& disk, std::uint32_t outputSize);
    // The layout answer of a disk, built again only when what it is made of changed since the last one.
    const kvph::Bytes& layoutAnswer(const Disk& disk);

    // A disk's last layout answer with the table it was built from; a query compares the disk's table
    // with this copy, so a change made anywhere (diskpart, a test editing the model) is never missed.
    struct CachedLayout {
        Disk source;  // style, sector size and partition tables as they were
        kvph::Bytes bytes;
    };

    MachineModel& model_;
    Calls& calls_;
    Handles& handles_;
    std::map<int, CachedLayout> layouts_;  // by drive number
    bool symbolicLinkCallsLoaded_ = false;
};

}  // namespace sim
