// The walks on layouts the real tools cannot easily write: failing and oversized answers, cylinder
// edges, and the drive manager's enumeration.
#include <gtest/gtest.h>

#include <ostream>

#include "PerTestSupport.h"
#include "per/DriveLayout.h"
#include "per/DriveManager.h"
#include "per/GPTData.h"
#include "per/MBRData.h"
#include "platform/WinConstants.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {
namespace {

using PER::PartitionKind;
using sim::MachineBuilder;

class PerWalkTest : public ::testing::Test {
protected:
    void TearDown() override {
        PER::DriveManager::ReleaseInstance();
        guard.reset();
    }

    void install(const MachineBuilder& builder) {
        guard.reset();
        machine = std::make_unique<ObservedMachine>(builder.build());
        guard = std::make_unique<ScopedPlatform>(*machine);
    }

    PER::DriveManager& enumerate() {
        PER::DriveManager* manager = PER::DriveManager::GetInstance();
        manager->Enumerate();
        return *manager;
    }
    PER::DriveManager& enumerate(const MachineBuilder& builder) {
        install(builder);
        return enumerate();
    }

    const PER::DriveData& drive(std::size_t position) {
        return *PER::DriveManager::GetInstance()->GetDrive(position)->GetDriveData();
    }

    std::unique_ptr<ObservedMachine> machine;
    std::unique_ptr<ScopedPlatform> guard;
};

constexpr std::uint32_t kLayout = win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_;

TEST_F(PerWalkTest, ManagerOpensEveryDriveForReadingAndListsThoseThatOpenInNumberOrder) {
    PER::DriveManager& manager = enumerate(MachineBuilder()
                                               .mbrDisk(5)
                                               .rawDisk(0)
                                               .gptDisk(2)
                                               .mbrDisk(7)
                                               .failOpen()
                                               .gptDisk(9)
                                               .failGeometry()
                                               .gptDisk(31));

    ASSERT_EQ(manager.GetDriveCount(), 4u);
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i < manager.GetDriveCount(); ++i) {
        numbers.push_back(manager.GetDrive(i)->GetDriveNumber());
        ASSERT_NE(manager.GetDrive(i)->GetDriveData(), nullptr);
    }
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{0, 2, 5, 31}));
    EXPECT_EQ(manager.GetDrive(4), nullptr);
    EXPECT_EQ(manager.GetDrive(0)->GetDriveData()->GetPartitionStyle(), 2);
    EXPECT_EQ(manager.GetDrive(1)->GetDriveData()->GetDiskNumber(), 2u);
    // The drive whose geometry failed was opened and closed again; the one refusing to open left nothing.
    EXPECT_EQ(machine->openHandleCount(), 4u);
    // Every drive number is tried, each for reading only.
    ASSERT_EQ(machine->opens.size(), 32u);
    for (std::size_t number = 0; number < machine->opens.size(); ++number) {
        const ObservedMachine::OpenCall& call = machine->opens[number];
        EXPECT_EQ(call.path, "\\\\.\\PhysicalDrive" + std::to_string(number));
        EXPECT_EQ(call.desiredAccess, win::GENERIC_READ_);
        EXPECT_EQ(call.shareMode, win::FILE_SHARE_READ_ | win::FILE_SHARE_WRITE_);
        EXPECT_EQ(call.creationDisposition, win::OPEN_EXISTING_);
        EXPECT_EQ(call.flagsAndAttributes, 0u);
    }
}

TEST_F(PerWalkTest, TakingAndRefreshingAFreshManagerProbesEachDriveOnce) {
    MachineBuilder builder;
    builder.gptDisk(0)
        .basicData(2048, 204800)
        .volume(L'C', L"NTFS", L"")
        .gptDisk(3)
        .basicData(2048, 204800)
        .volume(L'Z', L"NTFS", L"");
    // All 26 letters in use: the letter map must still read the last root.
    for (wchar_t letter = L'A'; letter <= L'Y'; ++letter) {
        if (letter != L'C') {
            builder.networkLetter(letter);
        }
    }
    install(builder);

    PER::DriveManager& manager = enumerate();

    EXPECT_EQ(manager.GetDriveCount(), 2u);
    EXPECT_EQ(machine->calls("createFileA"), 32);
    // The letter map is built once for the enumeration, not once per partition.
    EXPECT_EQ(machine->calls("getLogicalDriveStringsW"), 1);
    EXPECT_EQ(machine->calls("queryDosDeviceW"), 26);
    EXPECT_EQ(drive(0).GetPartition(0)->letter, L"C:\\");
    EXPECT_EQ(drive(1).GetPartition(0)->letter, L"Z:\\");

    manager.Enumerate();
    EXPECT_EQ(machine->calls("createFileA"), 64);
    EXPECT_EQ(machine->calls("getLogicalDriveStringsW"), 2);
    EXPECT_EQ(machine->openHandleCount(), 2u);

    PER::DriveManager::ReleaseInstance();
    EXPECT_EQ(machine->openHandleCount(), 0u);
    EXPECT_EQ(PER::DriveManager::GetInstance()->GetDriveCount(), 2u);
    EXPECT_EQ(machine->calls("createFileA"), 96);
}

// A layout that fails, or always wants a larger buffer than the largest, leaves the drive listed
// without records; only the GPT walk reports the failure.
TEST_F(PerWalkTest, DriveWhoseLayoutFailsStaysListedWithoutRecords) {
    for (const std::uint32_t error : {31u, win::ERROR_INSUFFICIENT_BUFFER_}) {
        SCOPED_TRACE(error);
        PER::DriveManager& manager = enumerate(MachineBuilder()
                                                   .gptDisk(0)
                                                   .basicData(2048, 2048)
                                                   .layoutError(error)
                                                   .mbrDisk(1)
                                                   .primary(2048, 2048, 7)
                                                   .layoutError(error));

        ASSERT_EQ(manager.GetDriveCount(), 2u);
        EXPECT_EQ(drive(0).GetPartitionCount(), 0u);
        EXPECT_EQ(drive(1).GetPartitionCount(), 0u);
        EXPECT_EQ(machine->logTexts(),
                  std::vector<std::wstring>{
                      L"DeviceIoControl IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed with error code: " +
                      std::to_wstring(error) + L"\n"});
        PER::DriveManager::ReleaseInstance();
    }
}

TEST_F(PerWalkTest, LayoutBufferGrowsUntilEveryEntryFits) {
    MachineBuilder builder;
    for (const auto& [number, count] : {std::pair{0, 9}, std::pair{1, 129}}) {
        builder.gptDisk(number);
        for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(count); ++i) {
            builder.basicData(2048 + i * 4096, 4096);
        }
    }
    install(builder);

    enumerate();

    EXPECT_EQ(drive(0).GetPartitionCount(), 9u + 1);  // and the free space after them
    EXPECT_EQ(drive(1).GetPartitionCount(), 129u + 1);
}

TEST_F(PerWalkTest, MbrLayoutFailingWithAFullBufferIsReadAsAnswered) {
    install(MachineBuilder().mbrDisk(0, 8 * sim::kGiB).primary(2048, 204800, 7));
    machine->ioHook = [](std::uint32_t code, std::uint32_t size,
                         const IoResult& real) -> std::optional<IoResult> {
        if (code != kLayout) {
            return std::nullopt;
        }
        IoResult failed = real;
        failed.ok = false;
        failed.error = 31;
        failed.bytesReturned = size;
        return failed;
    };

    enumerate();

    ASSERT_EQ(drive(0).GetPartitionCount(), 2u);
    EXPECT_EQ(drive(0).GetPartition(0)->partitionNumber, 1u);
}

// A header claiming more entries than the returned bytes hold is believed only as far as the bytes go.
TEST_F(PerWalkTest, PartitionCountIsClampedToTheReturnedEntries) {
    MachineBuilder builder;
    builder.gptDisk(0, 8 * sim::kGiB)
        .basicData(2048, 204800)
        .basicData(206848, 204800)
        .basicData(411648, 204800);
    builder.mbrDisk(1, 8 * sim::kGiB)
        .primary(2048, 204800, 7)
        .primary(206848, 204800, 7)
        .extended(411648, 409600);
    builder.logical(413696, 100000);
    install(builder);
    machine->ioHook = [](std::uint32_t code, std::uint32_t, const IoResult& real) -> std::optional<IoResult> {
        if (code != kLayout || !real.ok) {
            return std::nullopt;
        }
        IoResult inflated = real;
        inflated.output[4] = 0xFF;  // PartitionCount 255 (MBR: 8)
        inflated.output[5] = 0xFF;  // and 65535: far past the buffer
        inflated.bytesReturned = 48 + 2 * 144;
        return inflated;
    };

    enumerate();

    const auto& gpt = static_cast<const PER::GPTData&>(drive(0));
    EXPECT_EQ(gpt.GetLayoutPartitionCount(), 2u);
    EXPECT_EQ(gpt.GetPartitionCount(), 3u);  // two partitions and the free space after the second
    const auto& mbr = static_cast<const PER::MBRData&>(drive(1));
    EXPECT_EQ(mbr.GetLayoutPartitionCount(), 2u);
    const std::vector<RecordView> expected = {
        {PartitionKind::Data, 1, 100, L":\\", L""},
        {PartitionKind::Data, 2, 100, L":\\", L""},
        {PartitionKind::Unused, 0, 8 * 1024 - 201, L"", L"Entry Unused"},
    };
    EXPECT_EQ(recordsOf(mbr), expected);
}

struct GapCase {
    const char* name;
    std::uint64_t secondStart;  // sectors; the first partition ends at sector 2048 (byte 1048576)
    std::vector<PartitionKind> kinds;
    std::optional<std::int64_t> gapMB = std::nullopt;  // the size of the gap record, when there is one
};

// Printed by name: gtest would otherwise print the case as its bytes, unset members and padding included.
void PrintTo(const GapCase& c, std::ostream* os) {
    *os << c.name;
}

class MbrCylinderGapTest : public PerWalkTest, public ::testing::WithParamInterface<GapCase> {};

// With 63 sectors per track and 255 heads a cylinder is 16065 sectors: free space is recorded once it
// reaches past the second cylinder boundary after its start.
TEST_P(MbrCylinderGapTest, FreeSpaceCountsInWholeCylinders) {
    const GapCase& c = GetParam();
    enumerate(MachineBuilder()
                  .mbrDisk(0, 2 * 16065 * 512 + c.secondStart * 512)
                  .primary(63, 1985, 7)
                  .primary(c.secondStart, 16065, 7));

    std::vector<PartitionKind> kinds;
    for (const RecordView& record : recordsOf(drive(0))) {
        kinds.push_back(record.kind);
    }
    EXPECT_EQ(kinds, c.kinds);
    if (c.gapMB) {
        EXPECT_EQ(drive(0).GetPartition(1)->sizeMB, *c.gapMB);
    }
}

// The gap of the second row runs from byte 1048576 to 16450560.
const GapCase kGapCases[] = {
    {"UnderTwoBoundaries", 32129, {PartitionKind::Data, PartitionKind::Data}},
    {"AtTwoBoundaries", 32130, {PartitionKind::Data, PartitionKind::Unused, PartitionKind::Data}, 14},
};

INSTANTIATE_TEST_SUITE_P(Edges, MbrCylinderGapTest, ::testing::ValuesIn(kGapCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PerWalkTest, EmptyMbrIsOneGapOverTheWholeDisk) {
    enumerate(MachineBuilder().mbrDisk(0, 8 * sim::kGiB));

    const std::vector<RecordView> expected = {{PartitionKind::Unused, 0, 8192, L"", L"Entry Unused"}};
    EXPECT_EQ(recordsOf(drive(0)), expected);
}

TEST_F(PerWalkTest, CylinderSizeZeroRecordsNoGaps) {
    enumerate(MachineBuilder()
                  .mbrDisk(0, 8 * sim::kGiB)
                  .geometry(512, 0, 255)
                  .primary(2048, 204800, 7)
                  .primary(4000000, 204800, 7));

    EXPECT_EQ(drive(0).GetPartitionCount(), 2u);
}

TEST_F(PerWalkTest, UnreadableGeometryInTheMbrWalkLeavesNoRecords) {
    install(MachineBuilder().mbrDisk(0).primary(2048, 204800, 7));
    // Detection and layout succeed; the walk's own geometry query is the third control.
    machine->injectFault(sim::Fault{"deviceIoControl", 21, 2, 1, L""});

    PER::DriveManager& manager = enumerate();

    ASSERT_EQ(manager.GetDriveCount(), 1u);
    EXPECT_EQ(drive(0).GetPartitionCount(), 0u);
}

TEST_F(PerWalkTest, LogicalDriveBeforeItsExtendedPartitionIsMeasuredFromTheExtendedStart) {
    enumerate(MachineBuilder().mbrDisk(0, 4 * sim::kGiB).extended(1000000, 2000000).logical(900000, 1200000));

    const std::vector<RecordView> expected = {
        {PartitionKind::Extended, 0, mbOfSectors(2000000), L":\\", L""},
        {PartitionKind::Unused, 0, mbOfSectors(1000000), L"", L"Entry Unused"},
        {PartitionKind::Logical, 1, mbOfSectors(1200000), L":\\", L""},
        {PartitionKind::Unused, 0, mbOfSectors(800000), L"", L"Entry Unused"},
        {PartitionKind::Unused, 0, mbOfSectors(8388608 - 3000000), L"", L"Entry Unused"},
    };
    EXPECT_EQ(recordsOf(drive(0)), expected);
}

// Primaries and logical drives are listed by ascending start; equal starts keep table order.
TEST_F(PerWalkTest, MbrSlotsAreOrderedByStartWithTiesInTableOrder) {
    enumerate(MachineBuilder()
                  .mbrDisk(0, 4 * sim::kGiB)
                  .primary(409600, 204800, 7)
                  .primary(2048, 204800, 7)
                  .primary(409600, 204800, 0x0B)
                  .extended(1024000, 1000000)
                  .logical(1500000, 100000)
                  .logical(1100000, 100000)
                  .logical(1500000, 100000, 0x0B));

    std::vector<std::uint32_t> numbers;
    for (const RecordView& record : recordsOf(drive(0))) {
        if (record.partitionNumber != 0) {
            numbers.push_back(record.partitionNumber);
        }
    }
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{2, 1, 3, 5, 4, 6}));
}

TEST_F(PerWalkTest, GptEntriesKeepTableOrderAndOnlyTheLastLooksForTrailingSpace) {
    MachineBuilder builder;
    builder.gptDisk(0, 8 * sim::kGiB)
        .basicData(1000000, 204800)
        .basicData(2048, 204800)
        .volume(L'D', L"NTFS", L"");
    builder.gptDisk(1, 8 * sim::kGiB).basicData(2048, 204800);
    install(builder);

    enumerate();

    const std::vector<RecordView> outOfOrder = {
        {PartitionKind::Data, 1, 100, L":\\", L""},
        {PartitionKind::Data, 2, 100, L"D:\\", L"NTFS"},
        {PartitionKind::Unused, 0, 8192 - 101, L"", L"Entry Unused"},
    };
    EXPECT_EQ(recordsOf(drive(0)), outOfOrder);
    EXPECT_EQ(drive(1).GetPartitionCount(), 1u);
}

TEST_F(PerWalkTest, ReadOnlyAndUnreadableVolumes) {
    enumerate(MachineBuilder()
                  .gptDisk(0, 8 * sim::kGiB)
                  .basicData(2048, 204800)
                  .volume(L'R', L"NTFS", L"Archive")
                  .readOnly()
                  .basicData(206848, 204800)
                  .unreadableVolume(L'U')
                  .efi(411648, 204800)
                  .volumeWithoutLetter(L"FAT32", L""));

    const PER::DriveData& disk = drive(0);
    EXPECT_EQ(disk.GetPartition(0)->readOnly, 1);
    EXPECT_EQ(disk.GetPartition(0)->label, L"Archive");
    EXPECT_EQ(disk.GetPartition(1)->letter, L"U:\\");
    EXPECT_EQ(disk.GetPartition(1)->fileSystem, L"");
    EXPECT_EQ(disk.GetPartition(1)->readOnly, -1);
    // A partition without a letter is queried at ":\", which no volume answers.
    EXPECT_EQ(disk.GetPartition(2)->letter, L":\\");
    EXPECT_EQ(disk.GetPartition(2)->fileSystem, L"EFI system partition");
    EXPECT_EQ(disk.GetPartition(2)->readOnly, -1);
}

TEST_F(PerWalkTest, LetterNeedsTheExactDeviceName) {
    MachineBuilder builder;
    builder.gptDisk(0).basicData(2048, 204800).volume(L'E', L"NTFS", L"");
    install(builder);

    class LowerCaseDevices : public ObservedMachine {
    public:
        using ObservedMachine::ObservedMachine;
        std::optional<std::wstring> queryDosDeviceW(const std::wstring& name, std::uint32_t units) override {
            std::optional<std::wstring> device = ObservedMachine::queryDosDeviceW(name, units);
            if (device) {
                for (wchar_t& c : *device) {
                    c = static_cast<wchar_t>(std::towlower(c));
                }
            }
            return device;
        }
    };
    LowerCaseDevices lower(builder.build());
    ScopedPlatform scoped(lower);

    enumerate();

    EXPECT_EQ(drive(0).GetPartition(0)->letter, L":\\");
    PER::DriveManager::ReleaseInstance();
}

// Without the link calls, or with a link whose target cannot be read, no partition has a letter; every
// opened link is closed again, and the letter map is never built.
TEST_F(PerWalkTest, LinksThatCannotBeFollowedGiveNoLetters) {
    for (const auto& [method, links] :
         {std::pair{"ntQuerySymbolicLinkObject", 2}, std::pair{"loadSymbolicLinkCalls", 0}}) {
        SCOPED_TRACE(method);
        install(MachineBuilder()
                    .gptDisk(0)
                    .basicData(2048, 204800)
                    .volume(L'E', L"NTFS", L"")
                    .basicData(206848, 204800)
                    .volume(L'F', L"NTFS", L""));
        machine->injectFault(sim::Fault{method, 5, 0, -1, L""});

        enumerate();

        EXPECT_EQ(drive(0).GetPartition(0)->letter, L":\\");
        EXPECT_EQ(drive(0).GetPartition(1)->letter, L":\\");
        EXPECT_EQ(machine->calls("ntOpenSymbolicLinkObject"), links);
        EXPECT_EQ(machine->calls("ntClose"), links);
        EXPECT_EQ(machine->openHandleCount(), 1u);  // the drive alone
        EXPECT_EQ(machine->calls("getLogicalDriveStringsW"), 0);
        PER::DriveManager::ReleaseInstance();
    }
}

TEST_F(PerWalkTest, DiskSizeThatCannotBeReadIsZeroAndTraced) {
    install(MachineBuilder().gptDisk(0).basicData(2048, 204800).basicData(206848, 204800));
    // Detection, layout, then the size query of the trailing-gap test.
    machine->injectFault(sim::Fault{"deviceIoControl", 21, 2, 1, L""});

    enumerate();

    EXPECT_EQ(drive(0).GetPartitionCount(), 2u);
    EXPECT_EQ(machine->logTexts(),
              std::vector<std::wstring>{
                  L"DeviceIoControl IOCTL_DISK_GET_DRIVE_GEOMETRY_EX failed with error code: 21\n"});
    EXPECT_EQ(drive(0).GetDiskSize(), 64 * static_cast<std::int64_t>(sim::kGiB));
}

TEST_F(PerWalkTest, DestroyingADeviceClosesItsHandle) {
    install(MachineBuilder().gptDisk(3));
    {
        PER::DriveDevice device(3);
        device.SetPath("\\\\.\\PhysicalDrive3");
        ASSERT_TRUE(device.Open());
        EXPECT_EQ(machine->openHandleCount(), 1u);
        EXPECT_EQ(device.GetDriveData()->GetHandle(), device.GetFileHandle());
        EXPECT_EQ(machine->opens.back().desiredAccess, win::GENERIC_READ_ | win::GENERIC_WRITE_);
    }
    EXPECT_EQ(machine->openHandleCount(), 0u);
    PER::DriveDevice missing(4);
    missing.SetPath("\\\\.\\PhysicalDrive4");
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.GetDriveData(), nullptr);
}

}  // namespace
}  // namespace kvph::test
