#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "InventoryMachines.h"
#include "KvPartitionHelper.h"
#include "PerTestSupport.h"
#include "inventory/PartitionInventory.h"
#include "platform/WinConstants.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {
namespace {

constexpr wchar_t kIniPath[] = L"C:\\Program Files\\Host\\Partition.ini";
constexpr char kSystemVolumeId[] = "6A4B2C10-1111-4222-8333-444455556666";
constexpr char kZeroGuid[] = "00000000-0000-0000-0000-000000000000";
const std::wstring kAtaRefused = L"DeviceIoControl IOCTL_ATA_PASS_THROUGH failed with error code: 1\n";
const std::wstring kJudgedSsd = L"No NominalMediaRotationRate but it is NVMe/EMMC device. Judge as SSD";

// The values of one volume section, in the order the keys stand in the file.
struct Section {
    std::string letter, fileSystem, label, diskType, partitionId, partitionType, totalMB, freeMB,
        diskPartition, ssd, busType, driveType, readOnly;
};

std::string iniText(const std::vector<Section>& sections) {
    std::string text;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        text += "[" + std::to_string(i) + "]\r\nLetter=" + s.letter + "\r\nFile System=" + s.fileSystem +
                "\r\nLabel Name=" + s.label + "\r\nDisk Type=" + s.diskType +
                "\r\nPartition ID=" + s.partitionId + "\r\nPartition Type=" + s.partitionType +
                "\r\nTotal MB=" + s.totalMB + "\r\nFree MB=" + s.freeMB +
                "\r\nDisk-Partition=" + s.diskPartition + "\r\nSSD=" + s.ssd + "\r\nBusType=" + s.busType +
                "\r\nDrive Type=" + s.driveType + "\r\nReadOnlyVolume=" + s.readOnly + "\r\n";
    }
    return text + "[Main]\r\nCount=" + std::to_string(sections.size()) + "\r\n";
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring report(const Section& s) {
    return wide("(KvPartitionHelper)\r\nLetter = " + s.letter + " \r\nFile System = " + s.fileSystem +
                " \r\nLabel Name : " + s.label + " \r\nDisk Type = " + s.diskType +
                " \r\nPartition ID = " + s.partitionId + " \r\nPartition Type = " + s.partitionType +
                " \r\nTotal Size = " + s.totalMB + " MB \r\nFree Size = " + s.freeMB +
                " MB \r\nDisk-Partition = " + s.diskPartition + "\r\nSSD = " + s.ssd +
                "\r\nBusType = " + s.busType + "\r\nDrive Type = " + s.driveType +
                "\r\nReadOnlyVolume = " + s.readOnly + "\r\n\r\n");
}

// Drive 0 as Windows installs it: EFI system and reserved partitions without letters, then C:.
sim::Disk systemDisk(const DriveShape& shape) {
    sim::Disk disk = makeDisk(shape, sim::PartitionStyle::Gpt);
    addGptPartition(disk, kEfiType, "0E0E0E0E-0000-4000-8000-000000000001", 1, 100);
    addGptPartition(disk, kReservedType, "0E0E0E0E-0000-4000-8000-000000000002", 101, 16);
    addGptPartition(disk, kBasicDataType, kSystemVolumeId, 117, 65000);
    addVolume(disk, {1 * kSectorsPerMiB, std::nullopt, std::wstring(L"FAT32"), L"", false, 90 * kMiB});
    addVolume(disk,
              {117 * kSectorsPerMiB, L'C', std::wstring(L"NTFS"), L"System", false, 40960 * kMiB + kMiB - 1});
    return disk;
}

Section systemSection(const std::string& ssd, const std::string& bus) {
    return {"C:",    "NTFS", "System", "GPT", kSystemVolumeId, kBasicDataType, "65000",
            "40960", "0,3",  ssd,      bus,   "Fixed",         "0x00000000"};
}

// A GPT data disk with one lettered basic data volume.
sim::Disk dataDisk(const DriveShape& shape, wchar_t letter, const std::wstring& label) {
    sim::Disk disk = makeDisk(shape, sim::PartitionStyle::Gpt);
    addGptPartition(disk, kBasicDataType,
                    "DA7A0000-0000-4000-8000-00000000000" + std::to_string(shape.number % 10), 1, 1000);
    addVolume(disk, {1 * kSectorsPerMiB, letter, std::wstring(L"exFAT"), label, false, 512 * kMiB});
    return disk;
}

Section dataSection(const DriveShape& shape, char letter, const std::string& label, const std::string& ssd,
                    const std::string& driveType) {
    return {std::string(1, letter) + ":",
            "exFAT",
            label,
            "GPT",
            "DA7A0000-0000-4000-8000-00000000000" + std::to_string(shape.number % 10),
            kBasicDataType,
            "1000",
            "512",
            std::to_string(shape.number) + ",1",
            ssd,
            shape.bus ? std::to_string(*shape.bus) : "0",
            driveType,
            "0x00000000"};
}

class ListingTest : public FrameTest {
protected:
    void add(sim::Disk disk) { machine.model().disks.push_back(std::move(disk)); }

    std::string inventory() const { return machine.fileBytes(kIniPath).value_or("<no Partition.ini>"); }

    // Lists and checks what every listing guarantees: result 1, the file hidden and system, and every
    // drive handle closed again because the drive manager was released.
    void listAndCheck() {
        machine.clearLog();
        EXPECT_EQ(PH_ListFixedPartition(), 1);
        EXPECT_EQ(machine.fileAttributes(kIniPath),
                  win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
        EXPECT_EQ(machine.openHandleCount(), 0u);
    }
};

// An older inventory, read-only and with keys the listing never writes, is replaced whole.
TEST_F(ListingTest, GptSystemDiskCountsItsUnletteredPartitions) {
    machine.putFile(
        kIniPath, "[7]\r\nLetter=Q:\r\n[Main]\r\nCount=8\r\nStale=1\r\n",
        win::FILE_ATTRIBUTE_READONLY_ | win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    add(systemDisk({0, sim::DriveType::Fixed, 11, 1, 66000}));
    listAndCheck();
    EXPECT_EQ(inventory(), iniText({systemSection("1", "11")}));
    EXPECT_EQ(log(), std::vector<std::wstring>{report(systemSection("1", "11"))});
}

// Drives 0 and 2 (no drive 1): sections follow the drive order and name each drive by its number.
TEST_F(ListingTest, DrivesAreNumberedByTheirPhysicalDriveNumber) {
    add(systemDisk({0}));
    const DriveShape second{2, sim::DriveType::Fixed, 11, 7200};
    add(dataDisk(second, L'E', L"Backup"));
    listAndCheck();
    EXPECT_EQ(inventory(),
              iniText({systemSection("1", "11"), dataSection(second, 'E', "Backup", "0", "Fixed")}));
}

struct DriveCase {
    const char* name;
    DriveShape shape;
    std::string ssd;
    std::string driveType;
    std::vector<std::wstring> logBeforeReport;
    bool passThroughOpenFails = false;  // only the read-write open that IDENTIFY goes through
};

// Printed by name: gtest would otherwise print the case as its bytes, unset members and padding included.
void PrintTo(const DriveCase& c, std::ostream* os) {
    *os << c.name;
}

class DriveClassificationTest : public ListingTest, public ::testing::WithParamInterface<DriveCase> {};

TEST_P(DriveClassificationTest, DriveFactsGoIntoEverySectionOfTheDrive) {
    const DriveCase& c = GetParam();
    add(dataDisk(c.shape, L'F', L"Media"));
    if (c.passThroughOpenFails) {
        machine.injectFault({"createFileW", 5, 0, 1, L"\\\\.\\PhysicalDrive0"});
    }
    listAndCheck();
    const Section expected = dataSection(c.shape, 'F', "Media", c.ssd, c.driveType);
    EXPECT_EQ(inventory(), iniText({expected}));
    std::vector<std::wstring> expectedLog = c.logBeforeReport;
    expectedLog.push_back(report(expected));
    EXPECT_EQ(log(), expectedLog);
}

constexpr sim::DriveType kFixed = sim::DriveType::Fixed;
const std::wstring kOpenRefused = L"DeviceIoControl IOCTL_ATA_PASS_THROUGH failed with error code: 5\n";

const DriveCase kDriveCases[] = {
    {"SataSsd", {0, kFixed, 11, 1}, "1", "Fixed", {}},
    {"SataHardDisk", {0, kFixed, 11, 7200}, "0", "Fixed", {}},
    // A drive that answers IDENTIFY is judged by word 217 alone, whatever its bus.
    {"RotationRateNotReported", {0, kFixed, 17, 0}, "0", "Fixed", {}},
    {"RotationRateOneOnUsb", {0, kFixed, 7, 1}, "1", "Fixed_USB", {}},
    {"NvmeRefusesPassThrough", {0, kFixed, 17, std::nullopt}, "1", "Fixed", {kAtaRefused, kJudgedSsd}},
    {"EmmcRefusesPassThrough", {0, kFixed, 13, std::nullopt}, "1", "Fixed", {kAtaRefused, kJudgedSsd}},
    {"SasRefusesPassThrough", {0, kFixed, 10, std::nullopt}, "0", "Fixed", {kAtaRefused}},
    {"FixedUsbDisk", {0, kFixed, 7, 5400}, "0", "Fixed_USB", {}},
    // Removable drives are not asked about USB: the stick says "Removable" and reports its bus.
    {"RemovableUsbStick", {1, sim::DriveType::Removable, 7, std::nullopt}, "0", "Removable", {kAtaRefused}},
    // A failed property query reports bus 0: neither USB nor NVMe/eMMC.
    {"PropertyQueryFails", {3, kFixed, std::nullopt, std::nullopt}, "0", "Fixed", {kAtaRefused}},
    // When only the open for IDENTIFY fails, the drive (which would answer word 217 = 1) is judged by
    // its bus, and the open's error is the one logged.
    {"SataPassThroughOpenFails", {0, kFixed, 11, 1}, "0", "Fixed", {kOpenRefused}, true},
    {"NvmePassThroughOpenFails", {0, kFixed, 17, 1}, "1", "Fixed", {kOpenRefused, kJudgedSsd}, true},
};

INSTANTIATE_TEST_SUITE_P(Drives, DriveClassificationTest, ::testing::ValuesIn(kDriveCases),
                         [](const auto& info) { return std::string(info.param.name); });

// "Total MB" keeps the low 32 bits of the size in MiB, as a signed number.
TEST_F(ListingTest, TotalSizeKeepsItsLow32Bits) {
    const std::uint64_t kTwoTo32 = 1ull << 32;
    const DriveShape shape{0, sim::DriveType::Fixed, 11, 1, kTwoTo32 + (1ull << 31) + 8192};
    sim::Disk disk = makeDisk(shape, sim::PartitionStyle::Gpt);
    addGptPartition(disk, kBasicDataType, "B0000000-0000-4000-8000-000000000001", 1, kTwoTo32 + 1000);
    addGptPartition(disk, kBasicDataType, "B0000000-0000-4000-8000-000000000002", kTwoTo32 + 1001,
                    (1ull << 31) + 5);
    addVolume(disk, {1 * kSectorsPerMiB, L'H', std::wstring(L"NTFS"), L"Huge", false, 0});
    addVolume(disk, {(kTwoTo32 + 1001) * kSectorsPerMiB, L'I', std::wstring(L"NTFS"), L"Half", false, 0});
    add(disk);
    listAndCheck();
    EXPECT_EQ(inventory(),
              iniText({{"H:", "NTFS", "Huge", "GPT", "B0000000-0000-4000-8000-000000000001", kBasicDataType,
                        "1000", "0", "0,1", "1", "11", "Fixed", "0x00000000"},
                       {"I:", "NTFS", "Half", "GPT", "B0000000-0000-4000-8000-000000000002", kBasicDataType,
                        "-2147483643", "0", "0,2", "1", "11", "Fixed", "0x00000000"}}));
}

TEST_F(ListingTest, DrivesNeitherFixedNorRemovableAreLeftOutUnqueried) {
    for (const sim::DriveType type :
         {sim::DriveType::Cdrom, sim::DriveType::Ramdisk, sim::DriveType::Unknown}) {
        SCOPED_TRACE(static_cast<int>(type));
        machine.model().disks.clear();
        add(dataDisk({1, type, 11, std::nullopt}, L'R', L"Disc"));
        machine.resetCallCounts();
        listAndCheck();
        EXPECT_EQ(inventory(), "[Main]\r\nCount=0\r\n");
        EXPECT_TRUE(log().empty());
        EXPECT_EQ(machine.callCounts().count("createFileW"), 0u);
    }
}

// A drive whose volumes have no letter gives only the count, and is still classified.
TEST_F(ListingTest, DriveWithoutLetteredVolumesIsStillClassified) {
    sim::Disk disk = dataDisk({0, sim::DriveType::Fixed, 17, std::nullopt}, L'F', L"");
    disk.volumes.back().letter.reset();
    add(disk);
    listAndCheck();
    EXPECT_EQ(inventory(), "[Main]\r\nCount=0\r\n");
    EXPECT_EQ(log(), (std::vector<std::wstring>{kAtaRefused, kJudgedSsd}));
}

TEST_F(ListingTest, VolumeStatesAndFreeSpace) {
    const DriveShape shape{0, sim::DriveType::Fixed, 11, 1, 8192};
    sim::Disk disk = makeDisk(shape, sim::PartitionStyle::Gpt);
    addGptPartition(disk, kBasicDataType, "A0000000-0000-4000-8000-000000000001", 1, 1000);
    addGptPartition(disk, kBasicDataType, "A0000000-0000-4000-8000-000000000002", 1001, 2000);
    addGptPartition(disk, kBasicDataType, "A0000000-0000-4000-8000-000000000003", 3001, 3000);
    addVolume(disk, {1 * kSectorsPerMiB, L'H', std::wstring(L"NTFS"), L"", true, 0});
    addVolume(disk, {1001 * kSectorsPerMiB, L'I', std::nullopt, L"", false, 0});
    addVolume(disk, {3001 * kSectorsPerMiB, L'J', std::wstring(L"NTFS"), L"Archive", false, 2 * kMiB});
    add(disk);
    sim::Fault freeSpaceFails;
    freeSpaceFails.method = "getDiskFreeSpaceExW";
    freeSpaceFails.argumentContains = L"J:";
    machine.injectFault(freeSpaceFails);
    listAndCheck();
    EXPECT_EQ(inventory(), iniText({{"H:", "NTFS", "NONAME", "GPT", "A0000000-0000-4000-8000-000000000001",
                                     kBasicDataType, "1000", "0", "0,1", "1", "11", "Fixed", "0x00000001"},
                                    // Unreadable: no file system, no label, undetermined read-only state.
                                    {"I:", "", "", "GPT", "A0000000-0000-4000-8000-000000000002",
                                     kBasicDataType, "2000", "0", "0,2", "1", "11", "Fixed", "0xffffffff"},
                                    {"J:", "NTFS", "Archive", "GPT", "A0000000-0000-4000-8000-000000000003",
                                     kBasicDataType, "3000", "0", "0,3", "1", "11", "Fixed", "0x00000000"}}));
}

// The VHDX drive as the host creates it: a fixed file-backed disk with one NTFS primary at sector 2048.
TEST_F(ListingTest, AttachedVirtualDiskIsFoundByItsShape) {
    add(systemDisk({0}));
    sim::VirtualDisk vdisk;
    vdisk.path = L"C:\\vd\\drive.vhdx";
    vdisk.maximumMB = 1024;
    vdisk.attached = true;
    vdisk.disk = makeDisk({1, sim::DriveType::Fixed, 15, std::nullopt, 1024}, sim::PartitionStyle::Mbr);
    vdisk.disk.mbr.primary[0] = mbrSlot(0x07, 2048, 1024 * kSectorsPerMiB - 2048);
    addVolume(vdisk.disk, {2048, L'G', std::wstring(L"NTFS"), L"", false, 1000 * kMiB});
    machine.model().vdisks.push_back(vdisk);
    listAndCheck();
    EXPECT_EQ(inventory(), iniText({systemSection("1", "11"),
                                    {"G:", "NTFS", "NONAME", "MBR", "00000000-0000-0000-0000-000000000000",
                                     "00010007-0800-0000-0000-000000000000", "1023", "1000", "1,1", "0", "15",
                                     "Fixed", "0x00000000"}}));
    EXPECT_EQ(inventory::FindVirtualDiskEntry(kIniPath), 1);
}

TEST_F(ListingTest, GuidTextFailureAbandonsTheListing) {
    add(systemDisk({0}));
    add(dataDisk({1, sim::DriveType::Fixed, 11, 1}, L'E', L"Backup"));
    sim::Fault conversionFails;
    conversionFails.method = "stringFromCLSID";
    conversionFails.skip = 3;  // the first volume's two GUIDs and the second volume's identifier
    machine.injectFault(conversionFails);
    machine.putFile(kIniPath, "[Main]\r\nCount=0\r\n");  // an older listing, no longer the machine's
    machine.clearLog();

    EXPECT_EQ(PH_ListFixedPartition(), 0);

    EXPECT_EQ(inventory(), "<no Partition.ini>");
    EXPECT_FALSE(machine.fileExists(std::wstring(kIniPath) + L".tmp"));
    EXPECT_EQ(log(), (std::vector<std::wstring>{report(systemSection("1", "11")), L"GUID change error"}));
    EXPECT_EQ(machine.openHandleCount(), 0u);
    EXPECT_EQ(inventory::FindVirtualDiskEntry(kIniPath), std::nullopt);

    // The manager was released: the next listing starts afresh and succeeds, and takes nothing from a
    // temporary file a killed listing left behind.
    machine.putFile(std::wstring(kIniPath) + L".tmp", "[7]\r\nLabel Name=Junk\r\n");
    listAndCheck();
    EXPECT_EQ(inventory(), iniText({systemSection("1", "11"), dataSection({1, sim::DriveType::Fixed, 11, 1},
                                                                          'E', "Backup", "1", "Fixed")}));
}

TEST_F(ListingTest, FailedKeyWriteLeavesOnlyThatKeyOut) {
    add(systemDisk({0}));
    sim::Fault writeFails;
    writeFails.method = "writePrivateProfileStringW";
    writeFails.argumentContains = L"|Free MB";
    machine.injectFault(writeFails);
    listAndCheck();
    std::string expected = iniText({systemSection("1", "11")});
    expected.erase(expected.find("Free MB=40960\r\n"), std::string("Free MB=40960\r\n").size());
    EXPECT_EQ(inventory(), expected);
}

// The same machines on partition tables written by the real partitioning tools.
class ListingOnImagesTest : public ListingTest {
protected:
    void SetUp() override { DiskImages::requireTools(); }

    void addDisks(const sim::MachineBuilder& builder) {
        for (const sim::Disk& disk : builder.build().disks) {
            add(disk);
        }
    }
};

TEST_F(ListingOnImagesTest, GptSystemDiskWrittenBySgdisk) {
    const std::string image = DiskImages::withSgdisk(
        "inventory-system.img", 4 * sim::kGiB,
        std::string("-o -a 1 -n 1:2048:206847 -t 1:ef00 -n 2:206848:239615 -t 2:0c01 ") +
            "-n 3:239616:4335615 -t 3:0700 -u 3:" + kSystemVolumeId);
    ASSERT_FALSE(image.empty());
    sim::MachineBuilder builder;
    builder.imageDisk(0, image)
        .onPartitionAt(2048)
        .volumeWithoutLetter(L"FAT32", L"")
        .onPartitionAt(239616)
        .volume(L'C', L"NTFS", L"System", 40960 * kMiB + kMiB - 1);
    addDisks(builder);
    listAndCheck();
    Section system = systemSection("1", "11");
    system.totalMB = "2000";
    EXPECT_EQ(inventory(), iniText({system}));
    EXPECT_EQ(log(), std::vector<std::wstring>{report(system)});
}

// A primary partition, free space, and an extended partition holding two logical drives with free
// space before, between and after them. Records: D, container, gap before the container, gap, E, gap,
// F, gap, trailing gap. sfdisk puts the first extended boot record at the container's start and the
// second 2048 sectors before its drive; the hidden sectors in the type text count from there.
TEST_F(ListingOnImagesTest, MbrDataDiskWrittenBySfdisk) {
    const std::string image = DiskImages::withSfdisk("inventory-data.img", 2 * sim::kGiB,
                                                     "label: dos\nlabel-id: 0x0badcafe\n"
                                                     "start=2048, size=204800, type=7\n"
                                                     "start=614400, size=1228800, type=f\n"
                                                     "start=655360, size=204800, type=7\n"
                                                     "start=901120, size=409600, type=c\n");
    ASSERT_FALSE(image.empty());
    sim::MachineBuilder builder;
    builder.imageDisk(2, image)
        .rotationRate(7200)
        .onPartitionAt(2048)
        .volume(L'D', L"NTFS", L"Data", 50 * kMiB)
        .onPartitionAt(655360)
        .volume(L'E', L"NTFS", L"Media", 60 * kMiB)
        .onPartitionAt(901120)
        .volume(L'F', L"FAT32", L"PHOTOS", 70 * kMiB);
    addDisks(builder);
    listAndCheck();
    EXPECT_EQ(inventory(),
              iniText({{"D:", "NTFS", "Data", "MBR", kZeroGuid, "00010007-0800-0000-0000-000000000000", "100",
                        "50", "2,1", "0", "11", "Fixed", "0x00000000"},
                       {"E:", "NTFS", "Media", "MBR", kZeroGuid, "00010007-A000-0000-0000-000000000000",
                        "100", "60", "2,5", "0", "11", "Fixed", "0x00000000"},
                       {"F:", "FAT32", "PHOTOS", "MBR", kZeroGuid, "0001000C-0800-0000-0000-000000000000",
                        "200", "70", "2,7", "0", "11", "Fixed", "0x00000000"}}));
}

}  // namespace
}  // namespace kvph::test
