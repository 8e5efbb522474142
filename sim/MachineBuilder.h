// A few lines that describe a simulated machine for a test:
//
//   MachineBuilder()
//       .gptDisk(0, 64 * kGiB).efi(2048, 204800).volume(L'S', L"FAT32", L"")
//       .msr(206848, 32768).basicData(239616, 100000000).volume(L'C', L"NTFS", L"")
//       .mbrDisk(1, 16 * kGiB).primary(2048, 409600, 0x07).volume(L'E', L"NTFS", L"Data")
//       .extended(411648, 2097152).logical(413696, 1048576, 0x07).volumeWithoutLetter(L"NTFS", L"")
//       .imageDisk(2, "/tmp/disk.img")
//       .build();
//
// Partition and volume calls apply to the disk added last; volume calls to the partition added last.
// Options of a disk that have no call of their own are set through withDisk().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sim/Machine.h"
#include "sim/machine/Model.h"

namespace sim {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kGiB = 1024 * kMiB;

// Well-known GPT partition types.
extern const Guid kEfiSystemPartitionType;
extern const Guid kReservedPartitionType;
extern const Guid kBasicDataPartitionType;
extern const Guid kRecoveryPartitionType;

class MachineBuilder {
public:
    MachineBuilder& gptDisk(int number, std::uint64_t sizeBytes = 64 * kGiB);
    MachineBuilder& mbrDisk(int number, std::uint64_t sizeBytes = 64 * kGiB,
                            std::uint32_t signature = 0x12345678);
    MachineBuilder& rawDisk(int number, std::uint64_t sizeBytes = 64 * kGiB);
    // A VHDX file with its folders and an MBR disk inside; the partition and volume calls that follow
    // apply to that disk. Attached, it becomes the next free physical drive when the machine is built.
    MachineBuilder& vhdx(const std::wstring& path, std::int64_t maximumMB, bool attached,
                         bool readOnly = false);
    // A disk whose table is read from a raw image file on the host; throws if it cannot be read.
    MachineBuilder& imageDisk(int number, const std::string& hostPath);

    // GPT partitions (start and size in sectors), in table order.
    MachineBuilder& gptPartition(const Guid& type, std::uint64_t start, std::uint64_t sectors,
                                 const std::wstring& name = L"");
    MachineBuilder& efi(std::uint64_t start, std::uint64_t sectors);
    MachineBuilder& msr(std::uint64_t start, std::uint64_t sectors);
    MachineBuilder& basicData(std::uint64_t start, std::uint64_t sectors);
    MachineBuilder& recovery(std::uint64_t start, std::uint64_t sectors);

    // MBR slots in table order: primary and extended partitions take the next primary slot, logical
    // drives the next extended boot record.
    MachineBuilder& primary(std::uint64_t start, std::uint64_t sectors, std::uint8_t type, bool boot = false);
    MachineBuilder& emptySlot();
    MachineBuilder& extended(std::uint64_t start, std::uint64_t sectors, std::uint8_t type = 0x0F);
    MachineBuilder& logical(std::uint64_t start, std::uint64_t sectors, std::uint8_t type = 0x07);

    // Makes the partition starting at this sector (of an image disk, say) the one volume calls apply to.
    MachineBuilder& onPartitionAt(std::uint64_t start);
    // A volume on the partition added last.
    MachineBuilder& volume(wchar_t letter, const std::wstring& fileSystem, const std::wstring& label,
                           std::uint64_t freeBytes = kGiB);
    MachineBuilder& volumeWithoutLetter(const std::wstring& fileSystem, const std::wstring& label,
                                        std::uint64_t freeBytes = kGiB);
    // A volume that cannot be queried (no file system the system recognizes).
    MachineBuilder& unreadableVolume(std::optional<wchar_t> letter);
    MachineBuilder& readOnly();  // the volume added last

    MachineBuilder& geometry(std::uint32_t bytesPerSector, std::uint32_t sectorsPerTrack,
                             std::uint32_t tracksPerCylinder);
    // How the disk added last presents itself: its drive type, its STORAGE_BUS_TYPE (nullopt: the property
    // query fails) and its IDENTIFY word 217 (nullopt: ATA pass-through is refused).
    MachineBuilder& driveType(DriveType type);
    MachineBuilder& bus(std::optional<std::uint32_t> busType);
    MachineBuilder& rotationRate(std::optional<std::uint16_t> rate);

    MachineBuilder& failOpen();
    MachineBuilder& failGeometry();
    MachineBuilder& layoutError(std::uint32_t error);
    MachineBuilder& withDisk(const std::function<void(Disk&)>& change);
    MachineBuilder& networkLetter(wchar_t letter);
    // A letter assigned without a ready volume, such as an empty card reader's.
    MachineBuilder& notReadyLetter(wchar_t letter);

    Disk& currentDisk();
    MachineModel build() const { return model_; }
    std::unique_ptr<Machine> machine() const { return std::make_unique<Machine>(model_); }

private:
    MachineBuilder& addDisk(int number, std::uint64_t sizeBytes, PartitionStyle style);
    MachineBuilder& addVolume(Volume volume);

    MachineModel model_;
    std::optional<std::uint64_t> lastPartitionStart_;
    std::size_t nextPrimarySlot_ = 0;
    bool onVirtualDisk_ = false;
};

}  // namespace sim
