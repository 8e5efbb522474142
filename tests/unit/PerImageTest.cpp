// The enumeration on partition tables written by the real partitioning tools.
#include <gtest/gtest.h>

#include <fstream>

#include "PerTestSupport.h"
#include "per/ByteReader.h"
#include "per/DriveManager.h"
#include "per/MBRData.h"
#include "platform/WinConstants.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {
namespace {

using PER::PartitionKind;
using sim::MachineBuilder;

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
constexpr std::uint64_t kMiB = 1024ull * 1024;

class PerImageTest : public ::testing::Test {
protected:
    void SetUp() override { DiskImages::requireTools(); }
    void TearDown() override { PER::DriveManager::ReleaseInstance(); }

    // Enumerates the machine and returns the partition data of its only drive.
    const PER::DriveData& onlyDrive(const MachineBuilder& builder) {
        machine = std::make_unique<ObservedMachine>(builder.build());
        guard = std::make_unique<ScopedPlatform>(*machine);
        PER::DriveManager* manager = PER::DriveManager::GetInstance();
        manager->Enumerate();
        EXPECT_EQ(manager->GetDriveCount(), 1u);
        return *manager->GetDrive(0)->GetDriveData();
    }

    std::unique_ptr<ObservedMachine> machine;
    std::unique_ptr<ScopedPlatform> guard;
};

// Primaries stored out of disk order, an extended partition with free space before, between and after
// its logical drives, and free space at the end of the disk.
constexpr std::uint64_t kP1 = 409600, kP1Size = 204800;
constexpr std::uint64_t kP2 = 2048, kP2Size = 204800;
constexpr std::uint64_t kExt = 1024000, kExtSize = 1000000;
constexpr std::uint64_t kL1 = 1100000, kL1Size = 100000;
constexpr std::uint64_t kL2 = 1400000, kL2Size = 200000;
constexpr std::uint64_t kMbrDiskSectors = kGiB / 512;

std::string mixedMbrImage() {
    return DiskImages::withSfdisk("mixed-mbr.img", kGiB,
                                  "label: dos\nlabel-id: 0x11223344\n"
                                  "start=409600, size=204800, type=7\n"
                                  "start=2048, size=204800, type=7\n"
                                  "start=1024000, size=1000000, type=f\n"
                                  "start=1100000, size=100000, type=7\n"
                                  "start=1400000, size=200000, type=83\n");
}

TEST_F(PerImageTest, MbrWalkListsPrimariesByStartAndLogicalDrivesWithTheirGaps) {
    const std::string image = mixedMbrImage();
    ASSERT_FALSE(image.empty());
    const PER::DriveData& disk = onlyDrive(MachineBuilder()
                                               .imageDisk(0, image)
                                               .onPartitionAt(kP2)
                                               .volume(L'C', L"NTFS", L"System")
                                               .onPartitionAt(kP1)
                                               .volume(L'E', L"NTFS", L"")
                                               .onPartitionAt(kL1)
                                               .volume(L'F', L"FAT32", L"Photos"));

    const std::vector<RecordView> expected = {
        {PartitionKind::Data, 2, mbOfSectors(kP2Size), L"C:\\", L"NTFS"},
        {PartitionKind::Unused, 0, mbOfSectors(kP1 - (kP2 + kP2Size)), L"", L"Entry Unused"},
        {PartitionKind::Data, 1, mbOfSectors(kP1Size), L"E:\\", L"NTFS"},
        {PartitionKind::Extended, 0, mbOfSectors(kExtSize), L":\\", L""},
        {PartitionKind::Unused, 0, mbOfSectors(kExt - (kP1 + kP1Size)), L"", L"Entry Unused"},
        {PartitionKind::Unused, 0, mbOfSectors(kL1 - kExt), L"", L"Entry Unused"},
        {PartitionKind::Logical, 3, mbOfSectors(kL1Size), L"F:\\", L"FAT32"},
        {PartitionKind::Unused, 0, mbOfSectors(kL2 - (kL1 + kL1Size)), L"", L"Entry Unused"},
        {PartitionKind::Logical, 4, mbOfSectors(kL2Size), L":\\", L""},
        {PartitionKind::Unused, 0, mbOfSectors(kExt + kExtSize - (kL2 + kL2Size)), L"", L"Entry Unused"},
        {PartitionKind::Unused, 0, mbOfSectors(kMbrDiskSectors - (kExt + kExtSize)), L"", L"Entry Unused"},
    };
    EXPECT_EQ(recordsOf(disk), expected);
    EXPECT_EQ(disk.GetPartition(0)->label, L"System");
    EXPECT_EQ(disk.GetPartition(2)->label, L"NONAME");
    EXPECT_EQ(disk.GetPartition(2)->readOnly, 0);
    EXPECT_EQ(disk.GetPartition(8)->readOnly, -1);
    EXPECT_EQ(disk.GetPartitionStyle(), 0);
    EXPECT_EQ(static_cast<const PER::MBRData&>(disk).GetSignature(), 0x11223344u);
}

// The layout entries as Windows builds them from the same table: four per boot record, numbers for
// partitions only, offsets of logical drives counted from their own boot record.
TEST_F(PerImageTest, LayoutOfAnMbrImageFollowsTheBootRecordChain) {
    const std::string image = mixedMbrImage();
    ASSERT_FALSE(image.empty());
    std::ifstream raw(image, std::ios::binary);
    std::vector<std::uint8_t> firstBootRecord(512);
    raw.seekg(static_cast<std::streamoff>(kExt * 512));
    raw.read(reinterpret_cast<char*>(firstBootRecord.data()), 512);
    const std::uint64_t secondBootRecord = kExt + PER::ByteReader(firstBootRecord).u32(446 + 16 + 8);

    MachineBuilder builder;
    machine = std::make_unique<ObservedMachine>(builder.imageDisk(0, image).build());
    const Handle drive = machine->createFileA("\\\\.\\PhysicalDrive0", win::GENERIC_READ_, 3, 3, 0).handle;
    const IoResult layout =
        machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 48 + 576 * 3);
    ASSERT_TRUE(layout.ok);
    const PER::ByteReader bytes(layout.output);
    EXPECT_EQ(bytes.u32(4), 12u);
    EXPECT_EQ(layout.bytesReturned, 48u + 12 * 144);

    struct Expected {
        std::uint32_t entry;
        std::uint8_t type;
        std::uint64_t startSector;
        std::uint32_t number;
        bool recognized;
        std::uint64_t hiddenSectors;
    };
    const Expected entries[] = {
        {0, 0x07, kP1, 1, true, kP1},        {1, 0x07, kP2, 2, true, kP2},
        {2, 0x0F, kExt, 0, false, kExt},     {3, 0x00, 0, 0, false, 0},
        {4, 0x07, kL1, 3, true, kL1 - kExt}, {5, 0x05, secondBootRecord, 0, false, secondBootRecord - kExt},
        {6, 0x00, 0, 0, false, 0},           {8, 0x83, kL2, 4, false, kL2 - secondBootRecord},
        {9, 0x00, 0, 0, false, 0},
    };
    for (const Expected& e : entries) {
        SCOPED_TRACE(e.entry);
        const std::size_t at = 48 + 144 * e.entry;
        EXPECT_EQ(bytes.u8(at + 32), e.type);
        EXPECT_EQ(bytes.u64(at + 8), e.startSector * 512);
        EXPECT_EQ(bytes.u32(at + 24), e.number);
        EXPECT_EQ(bytes.u8(at + 34), e.recognized ? 1 : 0);
        EXPECT_EQ(bytes.u32(at + 36), e.hiddenSectors);
    }
    EXPECT_EQ(bytes.u32(8), 0x11223344u);
}

constexpr std::uint64_t kSmallDisk = 256 * kMiB;
constexpr std::uint64_t kEmptyExt = 200000, kEmptyExtSize = 200000;

std::string emptyExtendedImage(const std::string& name) {
    return DiskImages::withSfdisk(
        name, kSmallDisk, "label: dos\nstart=2048, size=100000, type=7\nstart=200000, size=200000, type=5\n");
}

// sfdisk writes a boot record without entries into an empty extended partition: Windows lists its four
// empty slots, so the extended partition is walked as one holding no logical drive.
TEST_F(PerImageTest, EmptyExtendedPartitionWithABootRecordIsFreeSpace) {
    const std::string image = emptyExtendedImage("empty-extended.img");
    ASSERT_FALSE(image.empty());
    const PER::DriveData& disk = onlyDrive(MachineBuilder().imageDisk(0, image));

    EXPECT_EQ(static_cast<const PER::MBRData&>(disk).GetLayoutPartitionCount(), 8u);
    const std::vector<RecordView> expected = {
        {PartitionKind::Data, 1, mbOfSectors(100000), L":\\", L""},
        {PartitionKind::Extended, 0, mbOfSectors(kEmptyExtSize), L":\\", L""},
        {PartitionKind::Unused, 0, mbOfSectors(kEmptyExt - 102048), L"", L"Entry Unused"},
        {PartitionKind::Unused, 0, mbOfSectors(kEmptyExtSize), L"", L"Entry Unused"},
        {PartitionKind::Unused, 0, mbOfSectors(kSmallDisk / 512 - (kEmptyExt + kEmptyExtSize)), L"",
         L"Entry Unused"},
    };
    EXPECT_EQ(recordsOf(disk), expected);
}

// Without a boot record the layout has the four primary slots only, and the extended partition is one
// "Entry Unused" logical record.
TEST_F(PerImageTest, EmptyExtendedPartitionWithoutABootRecordIsOneUnusedLogicalRecord) {
    const std::string image = emptyExtendedImage("empty-extended-blank.img");
    ASSERT_FALSE(image.empty());
    ASSERT_TRUE(DiskImages::zeroSector(image, kEmptyExt));
    const PER::DriveData& disk = onlyDrive(MachineBuilder().imageDisk(0, image));

    EXPECT_EQ(static_cast<const PER::MBRData&>(disk).GetLayoutPartitionCount(), 4u);
    const std::vector<RecordView> expected = {
        {PartitionKind::Data, 1, mbOfSectors(100000), L":\\", L""},
        {PartitionKind::Extended, 0, mbOfSectors(kEmptyExtSize), L":\\", L""},
        {PartitionKind::Unused, 0, mbOfSectors(kEmptyExt - 102048), L"", L"Entry Unused"},
        {PartitionKind::Logical, 0, mbOfSectors(kEmptyExtSize), L"", L"Entry Unused"},
        {PartitionKind::Unused, 0, mbOfSectors(kSmallDisk / 512 - (kEmptyExt + kEmptyExtSize)), L"",
         L"Entry Unused"},
    };
    EXPECT_EQ(recordsOf(disk), expected);
}

// EFI, reserved, basic data, recovery and a Linux partition; the free stretches between them are one
// sector under 2 MiB, one sector over, and exactly 2 MiB.
constexpr std::uint64_t kEfi = 2048, kEfiSize = 204800;
constexpr std::uint64_t kMsr = 206848, kMsrSize = 32768;
constexpr std::uint64_t kData = kMsr + kMsrSize + 4095, kDataSize = 409600;
constexpr std::uint64_t kRecovery = kData + kDataSize + 4097, kRecoverySize = 204800;
constexpr std::uint64_t kLinux = kRecovery + kRecoverySize + 4096, kLinuxSize = 204800;

std::string partitionArguments(int number, std::uint64_t start, std::uint64_t size, const char* type) {
    return "-n " + std::to_string(number) + ":" + std::to_string(start) + ":" +
           std::to_string(start + size - 1) + " -t " + std::to_string(number) + ":" + type + " ";
}

TEST_F(PerImageTest, GptWalkClassifiesTypesAndRecordsGapsOverTwoMegabytes) {
    const std::string image = DiskImages::withSgdisk(
        "kinds.img", kGiB,
        "-o -a 1 -U 5A1F3E2C-0B5C-4DB8-817D-F92DF00215AE " + partitionArguments(1, kEfi, kEfiSize, "ef00") +
            partitionArguments(2, kMsr, kMsrSize, "0c01") + partitionArguments(3, kData, kDataSize, "0700") +
            partitionArguments(4, kRecovery, kRecoverySize, "2700") +
            partitionArguments(5, kLinux, kLinuxSize, "8300"));
    ASSERT_FALSE(image.empty());
    const PER::DriveData& disk = onlyDrive(MachineBuilder()
                                               .imageDisk(0, image)
                                               .onPartitionAt(kEfi)
                                               .volume(L'S', L"FAT32", L"")
                                               .onPartitionAt(kData)
                                               .volume(L'C', L"NTFS", L"Windows")
                                               .onPartitionAt(kRecovery)
                                               .volumeWithoutLetter(L"NTFS", L"Recovery")
                                               .onPartitionAt(kLinux)
                                               .volume(L'L', L"ext4", L""));

    const std::vector<RecordView> expected = {
        {PartitionKind::EfiSystem, 1, mbOfSectors(kEfiSize), L"S:\\", L"EFI system partition"},
        {PartitionKind::Reserved, 2, mbOfSectors(kMsrSize), L"", L"Microsoft reserved partition"},
        {PartitionKind::Data, 3, mbOfSectors(kDataSize), L"C:\\", L"NTFS"},
        {PartitionKind::Unused, 0, mbOfSectors(4097), L"", L"Entry Unused"},
        {PartitionKind::Data, 4, mbOfSectors(kRecoverySize), L":\\", L""},
        {PartitionKind::Unused, 5, mbOfSectors(kLinuxSize), L"L", L"Entry Unused"},
        {PartitionKind::Unused, 0, mbOfSectors(kGiB / 512 - (kLinux + kLinuxSize)), L"", L"Entry Unused"},
    };
    EXPECT_EQ(recordsOf(disk), expected);
    EXPECT_EQ(disk.GetPartition(0)->label, L"NONAME");
    EXPECT_EQ(disk.GetPartition(0)->readOnly, 0);
    EXPECT_EQ(disk.GetPartition(2)->label, L"Windows");
    EXPECT_EQ(disk.GetPartition(5)->readOnly, -1);
    EXPECT_EQ(disk.GetDiskId(), L"{5A1F3E2C-0B5C-4DB8-817D-F92DF00215AE}");
    // The basic data partition's type GUID travels in the record's copy of its layout entry.
    EXPECT_EQ(disk.GetPartition(2)->info[32], 0xa2);
    EXPECT_EQ(disk.GetPartition(2)->info[47], 0xc7);
}

TEST_F(PerImageTest, EmptyGptDiskGivesOneEmptyRecord) {
    const std::string image = DiskImages::withSgdisk("empty-gpt.img", 64 * kMiB, "-o");
    ASSERT_FALSE(image.empty());
    const PER::DriveData& disk = onlyDrive(MachineBuilder().imageDisk(0, image));

    const std::vector<RecordView> expected = {{PartitionKind::Unused, 0, 0, L"", L"Entry Unused"}};
    EXPECT_EQ(recordsOf(disk), expected);
    EXPECT_EQ(disk.GetPartitionStyle(), 1);
}

TEST_F(PerImageTest, ImageWithoutBootSignatureIsRaw) {
    const std::string image = DiskImages::withSgdisk("blank.img", 64 * kMiB, "-o");
    ASSERT_FALSE(image.empty());
    ASSERT_TRUE(DiskImages::zeroSector(image, 0));
    const PER::DriveData& disk = onlyDrive(MachineBuilder().imageDisk(0, image));

    EXPECT_EQ(disk.GetPartitionStyle(), 2);
    EXPECT_EQ(disk.GetPartitionCount(), 0u);
}

}  // namespace
}  // namespace kvph::test
