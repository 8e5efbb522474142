// The simulated machine's physical drives, volumes and drive letters, and the disk objects of the
// machine description.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "PerTestSupport.h"
#include "per/ByteReader.h"
#include "platform/WinConstants.h"
#include "sim/Machine.h"
#include "sim/MachineBuilder.h"
#include "sim/format/MachineJson.h"
#include "sim/machine/DiskLayout.h"

namespace kvph::test {
namespace {

using sim::MachineBuilder;

Handle openDrive(sim::Machine& machine, int number) {
    return machine.createFileA("\\\\.\\PhysicalDrive" + std::to_string(number), win::GENERIC_READ_, 3, 3, 0)
        .handle;
}

TEST(SimDrives, GeometryAnswersWhatTheBufferHolds) {
    auto machine = MachineBuilder().mbrDisk(1, 8 * sim::kGiB, 0xCAFEF00D).geometry(4096, 32, 64).machine();
    const Handle drive = openDrive(*machine, 1);

    const IoResult full = machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, 56);
    ASSERT_TRUE(full.ok);
    const PER::ByteReader bytes(full.output);
    EXPECT_EQ(full.bytesReturned, 56u);
    EXPECT_EQ(bytes.u32(12), 64u);
    EXPECT_EQ(bytes.u32(16), 32u);
    EXPECT_EQ(bytes.u32(20), 4096u);
    EXPECT_EQ(bytes.u64(24), 8 * sim::kGiB);
    EXPECT_EQ(bytes.u64(0), 8 * sim::kGiB / (4096 * 32 * 64));
    EXPECT_EQ(bytes.u32(32), 24u);
    EXPECT_EQ(bytes.u32(36), 0u);
    EXPECT_EQ(bytes.u32(40), 0xCAFEF00Du);

    const IoResult sizeOnly = machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, 40);
    ASSERT_TRUE(sizeOnly.ok);
    EXPECT_EQ(sizeOnly.bytesReturned, 40u);
    EXPECT_EQ(PER::ByteReader(sizeOnly.output).u64(24), 8 * sim::kGiB);
    EXPECT_EQ(PER::ByteReader(sizeOnly.output).u32(36), 0u);

    const IoResult tooSmall = machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, 31);
    EXPECT_FALSE(tooSmall.ok);
    EXPECT_EQ(tooSmall.error, win::ERROR_INSUFFICIENT_BUFFER_);
    EXPECT_EQ(tooSmall.bytesReturned, 0u);
}

TEST(SimDrives, LayoutNeedsRoomForEveryEntry) {
    auto machine = MachineBuilder().gptDisk(0).basicData(2048, 2048).basicData(4096, 2048).machine();
    const Handle drive = openDrive(*machine, 0);

    const IoResult shortBuffer =
        machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 48 + 144);
    EXPECT_FALSE(shortBuffer.ok);
    EXPECT_EQ(shortBuffer.error, win::ERROR_INSUFFICIENT_BUFFER_);
    EXPECT_EQ(shortBuffer.bytesReturned, 0u);

    const IoResult exact =
        machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 48 + 288);
    ASSERT_TRUE(exact.ok);
    const PER::ByteReader bytes(exact.output);
    EXPECT_EQ(bytes.u32(0), 1u);
    EXPECT_EQ(bytes.u32(4), 2u);
    EXPECT_EQ(bytes.u32(48 + 144 + 24), 2u);
    EXPECT_EQ(bytes.u64(48 + 144 + 8), 4096u * 512);
    EXPECT_EQ(bytes.u32(40), 128u);
}

// The layout answer is kept between queries; whatever changes the disk's table must change the answer.
TEST(SimDrives, LayoutAnswerFollowsEveryChangeOfTheDisk) {
    const std::vector<std::pair<const char*, std::function<void(sim::Disk&)>>> changes = {
        {"entry moved", [](sim::Disk& d) { d.gpt.entries[0].start += 8; }},
        {"entry renamed", [](sim::Disk& d) { d.gpt.entries[0].name = L"Renamed"; }},
        {"entry attributes", [](sim::Disk& d) { d.gpt.entries[1].attributes ^= 1; }},
        {"entry added", [](sim::Disk& d) { d.gpt.entries.push_back(d.gpt.entries[1]); }},
        {"entry removed", [](sim::Disk& d) { d.gpt.entries.pop_back(); }},
        {"disk id", [](sim::Disk& d) { d.gpt.diskGuid[3] ^= 0xFF; }},
        {"usable end", [](sim::Disk& d) { d.gpt.lastUsable -= 1; }},
        {"sector size", [](sim::Disk& d) { d.geometry.bytesPerSector = 4096; }},
        {"made MBR", [](sim::Disk& d) { d.style = sim::PartitionStyle::Mbr; }},
        {"MBR slot", [](sim::Disk& d) { d.mbr.primary[0].type = 0x07; }},
        {"MBR chain", [](sim::Disk& d) { d.mbr.chain.push_back({}); }},
    };
    auto machine = MachineBuilder().gptDisk(0).basicData(2048, 2048).basicData(4096, 2048).machine();
    const Handle drive = openDrive(*machine, 0);
    sim::Disk& disk = machine->model().disks[0];
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        const IoResult before =
            machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 4096);
        change(disk);
        const IoResult after =
            machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 4096);
        ASSERT_TRUE(before.ok && after.ok);
        const Bytes expected = sim::layoutBytes(disk);
        ASSERT_EQ(after.bytesReturned, expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), after.output.begin()));
        EXPECT_NE(before.output, after.output);
    }
}

TEST(SimDrives, DriveTypesOfDrivesAndTheirVolumes) {
    struct Case {
        sim::DriveType type;
        std::uint32_t expected;
    };
    const Case cases[] = {{sim::DriveType::Fixed, win::DRIVE_FIXED_},
                          {sim::DriveType::Removable, win::DRIVE_REMOVABLE_},
                          {sim::DriveType::Cdrom, win::DRIVE_CDROM_},
                          {sim::DriveType::Ramdisk, win::DRIVE_RAMDISK_},
                          {sim::DriveType::Unknown, win::DRIVE_UNKNOWN_}};
    for (const Case& c : cases) {
        MachineBuilder builder;
        builder.mbrDisk(2)
            .withDisk([&](sim::Disk& d) { d.driveType = c.type; })
            .primary(2048, 2048, 7)
            .volume(L'G', L"NTFS", L"");
        auto machine = builder.machine();
        EXPECT_EQ(machine->getDriveTypeW(L"\\\\.\\PHYSICALDRIVE2\\"), c.expected);
        EXPECT_EQ(machine->getDriveTypeW(L"G:\\"), c.expected);
    }
    auto machine = MachineBuilder().networkLetter(L'Z').machine();
    EXPECT_EQ(machine->getDriveTypeW(L"\\\\.\\PHYSICALDRIVE2\\"), win::DRIVE_NO_ROOT_DIR_);
    EXPECT_EQ(machine->getDriveTypeW(L"Z:\\"), win::DRIVE_REMOTE_);
    EXPECT_EQ(machine->getDriveTypeW(L"Q:\\"), win::DRIVE_NO_ROOT_DIR_);
}

TEST(SimVolumesTest, VolumeInformationAndFreeSpace) {
    auto machine = MachineBuilder()
                       .mbrDisk(0)
                       .primary(2048, 204800, 7)
                       .volume(L'E', L"NTFS", L"Data", 5 * sim::kMiB)
                       .readOnly()
                       .machine();

    const VolumeInformation volume = machine->getVolumeInformationW(L"e:\\");
    ASSERT_TRUE(volume.ok);
    EXPECT_EQ(volume.volumeName, L"Data");
    EXPECT_EQ(volume.fileSystemName, L"NTFS");
    EXPECT_NE(volume.fileSystemFlags & win::FILE_READ_ONLY_VOLUME_, 0u);
    EXPECT_FALSE(machine->getVolumeInformationW(L":\\").ok);
    EXPECT_FALSE(machine->getVolumeInformationW(L"E:").ok);
    EXPECT_EQ(machine->getVolumeInformationW(L"F:\\").error, win::ERROR_PATH_NOT_FOUND_);

    const DiskFreeSpace free = machine->getDiskFreeSpaceExW(L"E:\\");
    ASSERT_TRUE(free.ok);
    EXPECT_EQ(free.freeBytesAvailableToCaller, 5 * sim::kMiB);
    EXPECT_EQ(free.totalBytes, 204800u * 512);
}

TEST(SimVolumesTest, DriveStringsAndDosDevicesFollowThePartitionLinks) {
    MachineBuilder builder;
    builder.gptDisk(0).efi(2048, 2048).basicData(4096, 2048).volume(L'D', L"NTFS", L"");
    builder.mbrDisk(1)
        .extended(2048, 100000)
        .logical(4096, 2048)
        .volume(L'C', L"NTFS", L"")
        .networkLetter(L'Z');
    auto machine = builder.machine();

    const DriveStrings roots = machine->getLogicalDriveStringsW(105);
    EXPECT_EQ(roots.result, 12u);
    EXPECT_EQ(roots.strings, std::wstring(L"C:\\\0D:\\\0Z:\\\0\0", 13));
    EXPECT_EQ(machine->getLogicalDriveStringsW(12).result, 13u);

    const auto linkTarget = [&](const std::wstring& name) {
        const NtHandleResult link = machine->ntOpenSymbolicLinkObject(name, 1, win::OBJ_CASE_INSENSITIVE_);
        if (link.status != 0) {
            return std::wstring(L"<none>");
        }
        const std::wstring target = machine->ntQuerySymbolicLinkObject(link.handle, 1024).text;
        EXPECT_EQ(machine->ntClose(link.handle), 0);
        return target;
    };
    EXPECT_EQ(linkTarget(L"\\Device\\Harddisk0\\Partition2"), *machine->queryDosDeviceW(L"D:", 1024));
    EXPECT_EQ(linkTarget(L"\\Device\\Harddisk1\\Partition1"), *machine->queryDosDeviceW(L"C:", 1024));
    EXPECT_EQ(linkTarget(L"\\DEVICE\\HARDDISK1\\PARTITION1"), L"\\Device\\HarddiskVolume3");
    EXPECT_EQ(linkTarget(L"\\Device\\Harddisk1\\Partition2"), L"<none>");
    EXPECT_EQ(linkTarget(L"\\Device\\Harddisk0\\Partition0"), L"\\Device\\Harddisk0\\DR0");
    EXPECT_EQ(machine->openHandleCount(), 0u);
    EXPECT_FALSE(machine->queryDosDeviceW(L"D:", 10).has_value());
    EXPECT_FALSE(machine->queryDosDeviceW(L"Q:", 1024).has_value());
}

TEST(DiskJsonTest, InlineDisksRoundTrip) {
    const nlohmann::json disk = nlohmann::json::parse(R"({
        "number": 4, "driveType": "removable", "bus": 7, "rotationRate": null,
        "geometry": {"bytesPerSector": 512, "sectorsPerTrack": 32, "tracksPerCylinder": 16},
        "sizeBytes": 8589934592, "style": "mbr", "signature": 305419896,
        "partitions": [
            {"start": 2048, "sectors": 204800, "type": "07", "boot": true},
            {"start": 206848, "sectors": 4000000, "type": "0F",
             "logical": [{"start": 208896, "sectors": 100000, "type": "07"},
                         {"start": 400000, "sectors": 100000, "type": "0B"}]}],
        "volumes": [{"start": 2048, "letter": "e", "fileSystem": "NTFS", "label": "Boot", "readOnly": true,
                     "freeBytes": 99},
                    {"start": 400000, "letter": null, "fileSystem": null}],
        "failures": {"open": false, "geometry": false, "layoutError": 21}})");

    const sim::Disk parsed = sim::diskFromJson(disk, "disks[0]", ".", true);

    EXPECT_EQ(parsed.number, 4);
    EXPECT_EQ(parsed.driveType, sim::DriveType::Removable);
    EXPECT_FALSE(parsed.rotationRate.has_value());
    ASSERT_EQ(parsed.mbr.chain.size(), 2u);
    EXPECT_EQ(parsed.mbr.chain[0].sector, 206848u);
    EXPECT_EQ(parsed.mbr.chain[0].slots[1].start, parsed.mbr.chain[1].sector);
    EXPECT_EQ(parsed.volumes[0].letter, std::optional<wchar_t>(L'E'));
    EXPECT_FALSE(parsed.volumes[1].fileSystem.has_value());
    EXPECT_EQ(parsed.failures.layoutError, 21u);

    const nlohmann::json saved = sim::diskToJson(parsed, true);
    EXPECT_EQ(saved["partitions"], disk["partitions"]);
    EXPECT_EQ(sim::diskToJson(sim::diskFromJson(saved, "again", ".", true), true), saved);
}

TEST(DiskJsonTest, MistakesNameTheirKey) {
    const auto errorOf = [](const char* text, bool numbered = true) {
        try {
            sim::diskFromJson(nlohmann::json::parse(text), "disks[1]", ".", numbered);
        } catch (const sim::MachineFormatError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf(R"({"number": 1, "sizeBytes": 1, "colour": "red"})"), "disks[1].colour: unknown key");
    EXPECT_EQ(errorOf(R"({"number": 32, "sizeBytes": 1})"), "disks[1].number: must be at most 31");
    EXPECT_EQ(errorOf(R"({"number": 1})"), "disks[1].sizeBytes: is required unless an image gives it");
    EXPECT_EQ(errorOf(R"({"number": 1, "image": "a.img", "style": "mbr"})"),
              "disks[1].style: cannot be given together with \"image\"");
    EXPECT_EQ(
        errorOf(R"({"number": 1, "sizeBytes": 1, "style": "mbr", "partitions": [{"start": 1, "sectors": 1,
              "type": "07", "logical": []}]})"),
        "disks[1].partitions[0].logical: only an extended partition (type 05 or 0F) holds logical drives");
    EXPECT_EQ(errorOf(R"({"number": 1, "sizeBytes": 1048576, "style": "mbr", "partitions": [
              {"start": 1, "sectors": 1, "type": "05"},
              {"start": 2, "sectors": 1, "type": "0F", "logical": [{"start": 3, "sectors": 1, "type": "07"}]}]})"),
              "disks[1].partitions[1].logical: only the first extended partition holds logical drives");
    EXPECT_EQ(errorOf(R"({"sizeBytes": 1, "bus": 7})", false), "disks[1].bus: unknown key");
    EXPECT_EQ(
        errorOf(R"({"number": 1, "sizeBytes": 1, "style": "gpt", "partitions": [{"start": 1, "sectors": 1,
              "type": "not-a-guid"}]})"),
        "disks[1].partitions[0].type: is not a GUID");
}

// The image is read sector by sector, so its sector size is bounded before anything is read.
TEST(DiskJsonTest, ImageSectorSizeOutsideWhatDisksUseIsRefused) {
    const std::filesystem::path folder = DiskImages::scratchPath("sectors");
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "tiny.img", std::ios::binary) << std::string(4096, '\0');
    for (const std::uint32_t bytesPerSector : {256u, 8192u, 4294967295u}) {
        SCOPED_TRACE(bytesPerSector);
        const nlohmann::json disk = {
            {"number", 0}, {"geometry", {{"bytesPerSector", bytesPerSector}}}, {"image", "tiny.img"}};
        try {
            sim::diskFromJson(disk, "disks[0]", folder.string(), true);
            ADD_FAILURE() << "accepted";
        } catch (const sim::MachineFormatError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "disks[0].geometry.bytesPerSector: must be a power of two from 512 to 4096");
        }
    }
    const nlohmann::json disk = {
        {"number", 0}, {"geometry", {{"bytesPerSector", 4096}}}, {"image", "tiny.img"}};
    EXPECT_EQ(sim::diskFromJson(disk, "disks[0]", folder.string(), true).style, sim::PartitionStyle::Raw);
}

}  // namespace
}  // namespace kvph::test
