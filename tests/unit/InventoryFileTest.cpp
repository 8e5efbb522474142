#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "FrameFixture.h"
#include "inventory/PartitionInventory.h"

namespace kvph::test {
namespace {

constexpr wchar_t kIniPath[] = L"C:\\Program Files\\Host\\Partition.ini";

std::string section(int index, const std::string& label, const std::string& diskType,
                    const std::string& busType, const std::string& partitionType,
                    const std::string& driveType, const std::string& diskPartition = "") {
    return "[" + std::to_string(index) + "]\r\nLetter=G:\r\nLabel Name=" + label +
           "\r\nDisk Type=" + diskType + "\r\nPartition Type=" + partitionType + "\r\nBusType=" + busType +
           "\r\nDrive Type=" + driveType + "\r\nDisk-Partition=" + diskPartition + "\r\n";
}

std::string mainSection(int count) {
    return "[Main]\r\nCount=" + std::to_string(count) + "\r\n";
}

// A file whose only section is section 0.
std::string only(const std::string& label, const std::string& diskType, const std::string& busType,
                 const std::string& partitionType, const std::string& driveType) {
    return section(0, label, diskType, busType, partitionType, driveType) + mainSection(1);
}

constexpr char kShape0800[] = "00010007-0800-0000-0000-000000000000";
constexpr char kShape0080[] = "00010007-0080-0000-1234-56789ABCDEF0";
constexpr char kBootShape[] = "00010107-0800-0000-0000-000000000000";
constexpr char kShape3F00[] = "00010007-3F00-0000-0000-000000000000";
constexpr char kGptData[] = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

struct LookupCase {
    const char* name;
    std::string file;
    std::optional<int> expected;
    std::optional<int> disk = std::nullopt;  // the disk diskpart lists the drive on
};

// Printed by name: gtest would otherwise print the case as its bytes, unset members and padding included.
void PrintTo(const LookupCase& c, std::ostream* os) {
    *os << c.name;
}

class FindVirtualDiskEntryTest : public FrameTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(FindVirtualDiskEntryTest, PicksTheVirtualDiskSection) {
    machine.putFile(kIniPath, GetParam().file, 0x6);
    EXPECT_EQ(inventory::FindVirtualDiskEntry(kIniPath, GetParam().disk), GetParam().expected);
}

constexpr std::nullopt_t kNone = std::nullopt;

const LookupCase kLookupCases[] = {
    {"LabelOnMbr", only("Duskvale", "MBR", "7", kGptData, "Removable"), 0},
    {"LabelAndDiskTypeInAnyCase", only("dUSKvALE", "mbr", "11", "", "Fixed"), 0},
    {"LabelOnGptDoesNotMatch", only("Duskvale", "GPT", "15", kShape0800, "Fixed"), kNone},
    {"LabelMustBeWhole", only("Duskvale2", "MBR", "11", "", "Fixed"), kNone},
    {"ShapeAt2048", only("", "MBR", "15", kShape0800, "Fixed"), 0},
    {"ShapeAt128", only("Data", "MBR", "15", kShape0080, "Fixed"), 0},
    {"ShapeInsideLongerText", only("", "MBR", "15", std::string("X") + kShape0800, "Fixed"), 0},
    {"ShapeWithDriveTypeInOtherCase", only("", "Mbr", "15", kShape0800, "FIXED"), 0},
    {"ShapeOnRemovableDrive", only("", "MBR", "15", kShape0800, "Removable"), kNone},
    {"ShapeOnFixedUsbDrive", only("", "MBR", "15", kShape0800, "Fixed_USB"), kNone},
    {"ShapeOnUsbBus", only("", "MBR", "7", kShape0800, "Fixed"), kNone},
    {"ShapeOnGpt", only("", "GPT", "15", kShape0800, "Fixed"), kNone},
    {"BootPartitionIsNotTheShape", only("", "MBR", "15", kBootShape, "Fixed"), kNone},
    {"OtherStartIsNotTheShape", only("", "MBR", "15", kShape3F00, "Fixed"), kNone},
    // The drive's own label wins over another virtual disk of the default shape listed before it.
    {"LabelWinsOverAnEarlierShape",
     section(0, "System", "GPT", "17", kGptData, "Fixed") + section(1, "", "MBR", "15", kShape0800, "Fixed") +
         section(2, "Duskvale", "MBR", "15", kShape0800, "Fixed") + mainSection(3),
     2},
    {"LowerLabelWins",
     section(0, "Duskvale", "MBR", "15", kShape0800, "Fixed") +
         section(1, "Duskvale", "MBR", "15", kShape0800, "Fixed") + mainSection(2),
     0},
    {"LowerShapeWinsWithoutALabel",
     section(0, "Data", "GPT", "11", kGptData, "Fixed") + section(1, "", "MBR", "15", kShape0080, "Fixed") +
         section(2, "Backup", "MBR", "15", kShape0800, "Fixed") + mainSection(3),
     1},
    // With the drive's disk known, its first section answers: "Disk-Partition" is two whole numbers.
    {"DiskPartitionIsTwoWholeNumbers",
     section(0, "", "MBR", "15", "", "Fixed", "12,1") + section(1, "", "MBR", "15", "", "Fixed", "1") +
         section(2, "", "MBR", "15", "", "Fixed", "1 ,1") + section(3, "", "MBR", "15", "", "Fixed", "1,1x") +
         section(4, "", "MBR", "15", "", "Fixed", "1,3") + mainSection(5),
     4, 1},
    {"MissingFile", "", kNone},
    {"NoMainSection", section(0, "Duskvale", "MBR", "15", kShape0800, "Fixed"), kNone},
    {"CountZero", section(0, "Duskvale", "MBR", "15", kShape0800, "Fixed") + mainSection(0), kNone},
    {"CountNegative", section(0, "Duskvale", "MBR", "15", kShape0800, "Fixed") + mainSection(-2), kNone},
    {"SectionsBeyondCountAreNotRead",
     section(0, "Data", "GPT", "11", kGptData, "Fixed") +
         section(1, "Duskvale", "MBR", "15", kShape0800, "Fixed") + mainSection(1),
     kNone},
    {"CountBeyondTheSectionsStillFindsAMatch",
     section(0, "Duskvale", "MBR", "15", "", "Fixed") + mainSection(5), 0},
    {"HugeCountEndsTheScan", section(0, "Data", "GPT", "11", kGptData, "Fixed") + mainSection(2147483647),
     kNone},
};

INSTANTIATE_TEST_SUITE_P(Rules, FindVirtualDiskEntryTest, ::testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvph::test
