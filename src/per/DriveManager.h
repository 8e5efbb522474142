// The physical drives of the machine, probed as "\\.\PhysicalDrive0" to "\\.\PhysicalDrive31" and
// owned with their partition data. One shared manager per process; each export that looks at disks
// takes it, refreshes it and releases it before returning. Calls into the library never overlap (the
// exports hold the machine-wide call lock), so the shared instance needs no lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "per/DriveDevice.h"
#include "per/DriveLetterMap.h"

namespace PER {

constexpr std::uint32_t kMaxPhysicalDrives = 32;

class DriveManager {
public:
    DriveManager();
    virtual ~DriveManager();
    DriveManager(const DriveManager&) = delete;
    DriveManager& operator=(const DriveManager&) = delete;

    // The shared manager, built when there is none. A new manager enumerates the drives when it is
    // first refreshed or read, so GetInstance followed by Enumerate probes each drive once.
    static DriveManager* GetInstance();
    static void ReleaseInstance();

    // Discards all drives and probes every drive number again; always true.
    bool Enumerate();
    void Clear();
    std::size_t GetDriveCount();
    // The drive at a 0-based position in ascending drive number (not the drive number); null past the end.
    DriveDevice* GetDrive(std::size_t position);

private:
    struct Probe {
        std::unique_ptr<DriveDevice> device;
        std::uint32_t nextNumber = 0;
    };

    void EnsureEnumerated();
    std::unique_ptr<DriveDevice> MakeDevice(std::uint32_t number);

    std::vector<std::unique_ptr<DriveDevice>> drives_;
    std::unique_ptr<Probe> probe_;
    std::unique_ptr<DriveLetterMap> letters_;
    bool enumerationPending_ = false;
};

// The shared manager for the length of one operation: obtained and refreshed on entry, released however
// the operation ends (also when the refresh itself fails).
class DriveManagerLease {
public:
    DriveManagerLease() : manager_(*DriveManager::GetInstance()) { manager_.Enumerate(); }
    DriveManagerLease(const DriveManagerLease&) = delete;
    DriveManagerLease& operator=(const DriveManagerLease&) = delete;
    DriveManager& manager() { return manager_; }

private:
    struct ReleaseOnExit {
        ReleaseOnExit() = default;
        ReleaseOnExit(const ReleaseOnExit&) = delete;
        ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;
        ~ReleaseOnExit() { DriveManager::ReleaseInstance(); }
    };
    ReleaseOnExit release_;
    DriveManager& manager_;
};

}  // namespace PER
