// Simulated disks for the inventory tests, described the way Windows reports them: GPT and MBR tables
// in sectors of 512 bytes, volumes found by their partition's start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "FrameFixture.h"
#include "sim/machine/Model.h"

namespace kvph::test {

inline constexpr char kEfiType[] = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
inline constexpr char kReservedType[] = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";
inline constexpr char kBasicDataType[] = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kSectorsPerMiB = kMiB / 512;

// Registry-form GUID text to the platform's in-memory byte order.
inline sim::Guid guidFromText(const std::string& text) {
    std::string hex;
    for (char c : text) {
        if (c != '-') {
            hex += c;
        }
    }
    const auto byteAt = [&](std::size_t i) {
        return static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    };
    sim::Guid guid{};
    const std::size_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (std::size_t i = 0; i < 16; ++i) {
        guid[i] = byteAt(order[i]);
    }
    return guid;
}

struct DriveShape {
    int number = 0;
    sim::DriveType driveType = sim::DriveType::Fixed;
    std::optional<std::uint32_t> bus = 11;  // SATA
    std::optional<std::uint16_t> rotationRate = 1;
    std::uint64_t sizeMiB = 4096;
};

inline sim::Disk makeDisk(const DriveShape& shape, sim::PartitionStyle style) {
    sim::Disk disk;
    disk.number = shape.number;
    disk.driveType = shape.driveType;
    disk.bus = shape.bus;
    disk.rotationRate = shape.rotationRate;
    disk.sizeBytes = shape.sizeMiB * kMiB;
    disk.style = style;
    if (style == sim::PartitionStyle::Gpt) {
        disk.gpt.diskGuid =
            guidFromText("5A1F3E2C-0000-4000-8000-00000000000" + std::to_string(shape.number % 10));
        disk.gpt.lastUsable = disk.sizeBytes / 512 - 34;
    } else if (style == sim::PartitionStyle::Mbr) {
        disk.mbr.signature = 0x12345600u + static_cast<std::uint32_t>(shape.number);
    }
    return disk;
}

inline void addGptPartition(sim::Disk& disk, const std::string& type, const std::string& id,
                            std::uint64_t startMiB, std::uint64_t sizeMiB) {
    sim::GptEntry entry;
    entry.type = guidFromText(type);
    entry.id = guidFromText(id);
    entry.start = startMiB * kSectorsPerMiB;
    entry.sectors = sizeMiB * kSectorsPerMiB;
    disk.gpt.entries.push_back(entry);
}

inline sim::MbrSlot mbrSlot(std::uint8_t type, std::uint64_t startSector, std::uint64_t sectors) {
    sim::MbrSlot slot;
    slot.type = type;
    slot.start = startSector;
    slot.sectors = sectors;
    return slot;
}

struct VolumeSpec {
    std::uint64_t startSector = 0;
    std::optional<wchar_t> letter;
    std::optional<std::wstring> fileSystem = std::wstring(L"NTFS");
    std::wstring label;
    bool readOnly = false;
    std::uint64_t freeBytes = 0;
};

inline void addVolume(sim::Disk& disk, const VolumeSpec& shape) {
    sim::Volume volume;
    volume.start = shape.startSector;
    volume.letter = shape.letter;
    volume.fileSystem = shape.fileSystem;
    volume.label = shape.label;
    volume.readOnly = shape.readOnly;
    volume.freeBytes = shape.freeBytes;
    disk.volumes.push_back(volume);
}

}  // namespace kvph::test
