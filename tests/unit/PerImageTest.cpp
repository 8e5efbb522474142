// The enumeration on partition tables written by the real partitioning tools.
#include <gtest/gtest.h>

#include "PerTestSupport.h"
#include "per/DriveManager.h"
#include "per/MBRData.h"
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
        PER::DriveManager::ReleaseInstance();
        guard.reset();
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

constexpr std::uint64_t kSmallDisk = 256 * kMiB;
constexpr std::uint64_t kEmptyExt = 200000, kEmptyExtSize = 200000;

std::string emptyExtendedImage(const std::string& name) {
    return DiskImages::withSfdisk(
        name, kSmallDisk, "label: dos\nstart=2048, size=100000, type=7\nstart=200000, size=200000, type=5\n");
}

// sfdisk writes a boot record without entries into an empty extended partition: Windows lists its four
// empty slots, so the extended partition is walked as one holding no logical drive. Without that boot
// record the layout has the four primary slots only, and the extended partition is one "Entry Unused"
// logical record.
TEST_F(PerImageTest, EmptyExtendedPartitionIsFreeSpaceWithOrWithoutItsBootRecord) {
    for (const bool bootRecord : {true, false}) {
        SCOPED_TRACE(bootRecord);
        const std::string image =
            emptyExtendedImage(bootRecord ? "empty-extended.img" : "empty-extended-blank.img");
        ASSERT_FALSE(image.empty());
        ASSERT_TRUE(bootRecord || DiskImages::zeroSector(image, kEmptyExt));
        const PER::DriveData& disk = onlyDrive(MachineBuilder().imageDisk(0, image));

        EXPECT_EQ(static_cast<const PER::MBRData&>(disk).GetLayoutPartitionCount(), bootRecord ? 8u : 4u);
        const std::vector<RecordView> expected = {
            {PartitionKind::Data, 1, mbOfSectors(100000), L":\\", L""},
            {PartitionKind::Extended, 0, mbOfSectors(kEmptyExtSize), L":\\", L""},
            {PartitionKind::Unused, 0, mbOfSectors(kEmptyExt - 102048), L"", L"Entry Unused"},
            {bootRecord ? PartitionKind::Unused : PartitionKind::Logical, 0, mbOfSectors(kEmptyExtSize), L"",
             L"Entry Unused"},
            {PartitionKind::Unused, 0, mbOfSectors(kSmallDisk / 512 - (kEmptyExt + kEmptyExtSize)), L"",
             L"Entry Unused"},
        };
        EXPECT_EQ(recordsOf(disk), expected);
    }
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

// An empty GPT disk is one empty record; without its boot signature the image is a raw disk.
TEST_F(PerImageTest, EmptyGptDiskGivesOneEmptyRecordAndABlankImageIsRaw) {
    for (const bool blank : {false, true}) {
        SCOPED_TRACE(blank);
        const std::string image =
            DiskImages::withSgdisk(blank ? "blank.img" : "empty-gpt.img", 64 * kMiB, "-o");
        ASSERT_FALSE(image.empty());
        ASSERT_TRUE(!blank || DiskImages::zeroSector(image, 0));
        const PER::DriveData& disk = onlyDrive(MachineBuilder().imageDisk(0, image));

        EXPECT_EQ(disk.GetPartitionStyle(), blank ? 2 : 1);
        const std::vector<RecordView> empty = {{PartitionKind::Unused, 0, 0, L"", L"Entry Unused"}};
        EXPECT_EQ(recordsOf(disk), blank ? std::vector<RecordView>() : empty);
    }
}

}  // namespace
}  // namespace kvph::test
