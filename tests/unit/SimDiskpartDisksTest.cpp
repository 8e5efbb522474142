#include <gtest/gtest.h>

#include "sim/MachineBuilder.h"
#include "sim/format/MachineJson.h"

namespace sim {
namespace {

constexpr wchar_t kScript[] = L"C:\\Work\\Command.txt";
constexpr wchar_t kRunScript[] = L"diskpart /s \"C:\\Work\\Command.txt\"";
constexpr std::uint64_t kSectorsPerGiB = kGiB / 512;

// Disk 0 holds the system volume. Disk 1's table lists F: before E: and has an extended partition, so
// diskpart's numbers (disk order, container counted) differ from the table's slots: 1 E:, 2 F:, 3 the
// container, 4 G: (logical). Disk 2 is GPT, and an attached VHDX on D: is disk 3. N: is held by an empty
// card reader.
std::unique_ptr<Machine> makeMachine() {
    auto machine = MachineBuilder()
                       .mbrDisk(0, 64 * kGiB)
                       .primary(2048, 60 * kSectorsPerGiB, 0x07, true)
                       .volume(L'C', L"NTFS", L"")
                       .mbrDisk(1, 16 * kGiB)
                       .primary(4 * kSectorsPerGiB, kSectorsPerGiB, 0x07)
                       .volume(L'F', L"NTFS", L"Two")
                       .primary(2048, kSectorsPerGiB, 0x07)
                       .volume(L'E', L"NTFS", L"One")
                       .extended(8 * kSectorsPerGiB, 4 * kSectorsPerGiB)
                       .logical(8 * kSectorsPerGiB + 2048, kSectorsPerGiB)
                       .volume(L'G', L"NTFS", L"Three")
                       .gptDisk(2, 16 * kGiB)
                       .basicData(2048, kSectorsPerGiB)
                       .volume(L'H', L"NTFS", L"Gpt")
                       .vhdx(L"D:\\vd\\drive.vhdx", 1024, true)
                       .primary(2048, 1024 * 2048 - 4096, 0x07)
                       .volume(L'V', L"NTFS", L"Duskvale")
                       .networkLetter(L'D')
                       .notReadyLetter(L'N')
                       .machine();
    machine->putFolder(L"C:\\Work");
    return machine;
}

class SimDiskpartDisksTest : public ::testing::Test {
protected:
    std::uint32_t run(const std::string& script) {
        machine->putFile(kScript, script);
        return machine->createProcessAndWait(L"", kRunScript, 0).exitCode;
    }
    const Disk& disk(int number) const {
        for (const Disk* d : machine->allDisks()) {
            if (d->number == number) {
                return *d;
            }
        }
        throw std::out_of_range("no such disk");
    }
    std::optional<wchar_t> letterAt(int number, std::uint64_t start) const {
        for (const Volume& volume : disk(number).volumes) {
            if (volume.start == start) {
                return volume.letter;
            }
        }
        return std::nullopt;
    }

    std::unique_ptr<Machine> machine = makeMachine();
};

TEST_F(SimDiskpartDisksTest, PartitionNumbersFollowDiskOrderWithTheContainerCounted) {
    struct Case {
        int partition;
        std::uint64_t start;  // of the partition that loses its letter
    };
    for (const Case& c : {Case{1, 2048}, Case{2, 4 * kSectorsPerGiB}, Case{4, 8 * kSectorsPerGiB + 2048}}) {
        SCOPED_TRACE(c.partition);
        machine = makeMachine();
        EXPECT_EQ(run("select disk=\"1\"\r\nselect partition=\"" + std::to_string(c.partition) +
                      "\"\r\nset id=\"1B\" override\r\nexit\r\n"),
                  0u);
        int lettered = 0;
        for (const Volume& volume : disk(1).volumes) {
            EXPECT_EQ(volume.letter.has_value(), volume.start != c.start);
            lettered += volume.letter ? 1 : 0;
        }
        EXPECT_EQ(lettered, 2);
    }
    EXPECT_EQ(disk(1).mbr.chain.at(0).slots[0].type, 0x1B);
}

TEST_F(SimDiskpartDisksTest, CommandsThatCannotBeDoneStopTheScript) {
    struct Case {
        const char* name;
        std::string script;
    };
    const Case cases[] = {
        {"no disk selected", "select partition=1\r\n"},
        {"no such disk", "select disk=7\r\n"},
        {"no partition selected", "select disk=1\r\nset id=1B override\r\n"},
        {"no such partition", "select disk=1\r\nselect partition=5\r\n"},
        {"an id on the container", "select disk=1\r\nselect partition=3\r\nset id=1B override\r\n"},
        {"a two-digit id on GPT", "select disk=2\r\nselect partition=1\r\nset id=1B override\r\n"},
        {"an id that is no byte", "select disk=1\r\nselect partition=1\r\nset id=1BB override\r\n"},
        {"a letter in use", "select disk=1\r\nselect partition=1\r\nassign letter=F\r\n"},
        {"a letter for a hidden partition",
         "select disk=1\r\nselect partition=1\r\nset id=1B override\r\nassign letter=E\r\n"},
        {"a letter held without a volume", "select disk=1\r\nselect partition=1\r\nassign letter=N:\r\n"},
        {"an empty letter", "select disk=1\r\nselect partition=1\r\nassign letter=\"\"\r\n"},
        {"clean on the system disk", "select disk=0\r\nclean\r\n"},
        {"format without a partition", "select disk=1\r\nformat quick fs=ntfs\r\n"},
        {"format as FAT", "select disk=1\r\nselect partition=1\r\nformat quick fs=fat32\r\n"},
        {"active on a logical drive", "select disk=1\r\nselect partition=4\r\nactive\r\n"},
        {"a primary partition with no free slot or space",
         "select disk=1\r\ncreate partition primary\r\ncreate partition primary\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine = makeMachine();
        const Disk before = disk(1);
        EXPECT_NE(run(c.script + "clean\r\nexit\r\n"), 0u);
        EXPECT_EQ(disk(1).volumes.size(), before.volumes.size()) << "the line after the failure ran";
    }
}

TEST_F(SimDiskpartDisksTest, CreationScriptLeavesOneActiveNtfsVolume) {
    ASSERT_EQ(
        run("select disk=\"1\"\r\nclean\r\ncreate partition Primary\r\nformat quick fs=ntfs label=\"New "
            "Data\"\r\nactive\r\nassign letter=\"E:\"\r\nexit\r\n"),
        0u);
    const Disk& cleaned = disk(1);
    EXPECT_EQ(cleaned.style, PartitionStyle::Mbr);
    EXPECT_TRUE(cleaned.mbr.chain.empty());
    EXPECT_EQ(cleaned.mbr.primary[0].type, 0x07);
    EXPECT_EQ(cleaned.mbr.primary[0].sectors, 16 * kSectorsPerGiB - 2048);
    EXPECT_EQ(cleaned.mbr.primary[1].type, 0);
    ASSERT_EQ(cleaned.volumes.size(), 1u);
    EXPECT_EQ(cleaned.volumes[0].letter, L'E');
    EXPECT_EQ(cleaned.volumes[0].label, L"New Data");
    EXPECT_EQ(cleaned.volumes[0].fileSystem, L"NTFS");
    EXPECT_GT(cleaned.volumes[0].freeBytes, 15 * kGiB);
    EXPECT_FALSE(machine->pathFileExistsW(L"F:"));

    ASSERT_EQ(run("select disk=1\r\nclean\r\nexit\r\n"), 0u);
    EXPECT_EQ(disk(1).style, PartitionStyle::Mbr);
    EXPECT_TRUE(disk(1).volumes.empty());
}

// diskpart's own codes and words: a letter in use is refused; a GPT disk stays GPT through a clean, and
// only MBR partitions are marked active.
TEST_F(SimDiskpartDisksTest, RefusalsInDiskpartsWordsAndCleanKeepsAGptDiskGpt) {
    EXPECT_EQ(run("select disk=1\r\nselect partition=1\r\nassign letter=F\r\n"), 0x8004255Cu);
    EXPECT_NE(machine->diskpartRuns().back().output.find(
                  "\r\n\r\nThe specified drive letter is not free to be assigned.\r\n"),
              std::string::npos);
    const std::string format =
        "select disk=2\r\nclean\r\ncreate partition primary\r\nformat quick fs=ntfs \r\n";
    EXPECT_NE(run(format + "active\r\nassign letter=H\r\nexit\r\n"), 0u);
    EXPECT_NE(
        machine->diskpartRuns().back().output.find(
            "\r\n\r\nThe selected disk is not a fixed MBR disk.\r\nThe ACTIVE command can only be used on "
            "fixed MBR disks.\r\n"),
        std::string::npos);
    EXPECT_FALSE(letterAt(2, 2048).has_value());

    ASSERT_EQ(run(format + "assign letter=H\r\nexit\r\n"), 0u);
    EXPECT_EQ(disk(2).style, PartitionStyle::Gpt);
    EXPECT_EQ(letterAt(2, 2048), L'H');
}

// What writes to the attached virtual disk changes its own table, unless it is attached read-only.
TEST_F(SimDiskpartDisksTest, AVirtualDiskAttachedReadOnlyRefusesWrites) {
    for (const char* command :
         {"shrink desired=1", "extend", "set id=1C override", "format quick fs=ntfs", "clean", "active"}) {
        for (const bool readOnly : {false, true}) {
            SCOPED_TRACE(std::string(command) + (readOnly ? " read-only" : " read-write"));
            machine = makeMachine();
            machine->model().vdisks[0].disk.volumes[0].freeBytes = 512 * kMiB;
            ASSERT_EQ(run("select vdisk file=\"D:\\vd\\drive.vhdx\"\r\ndetach vdisk\r\nattach vdisk" +
                          std::string(readOnly ? " readonly" : "") + "\r\n"),
                      0u);
            const auto vdisk = [this] { return machineToJson(machine->model())["vdisks"][0].dump(); };
            const std::string before = vdisk();
            EXPECT_EQ(run("select disk=3\r\nselect partition=1\r\n" + std::string(command) + "\r\n") == 0,
                      !readOnly);
            EXPECT_EQ(vdisk() == before, readOnly);
        }
    }
}

}  // namespace
}  // namespace sim
