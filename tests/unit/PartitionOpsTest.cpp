// Hiding, showing and formatting on machines whose disks carry tables written by the real tools.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HostMachine.h"
#include "KvPartitionHelper.h"
#include "PerTestSupport.h"
#include "per/DriveManager.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {
namespace {

using sim::kGiB;
using sim::MachineBuilder;

constexpr wchar_t kIniPath[] = L"C:\\Program Files\\Host\\Partition.ini";
constexpr char kHiddenMessage[] = "(KvPartitionHelper)diskpart set hidden successfully.";
constexpr char kShownMessage[] = "(KvPartitionHelper)diskpart set non-hidden successfully.";

// Each image is written once per test run.
std::string systemImage() {
    static const std::string path =
        DiskImages::withSfdisk("ops-system.img", kGiB, "label: dos\nstart=2048, type=7, bootable\n");
    return path;
}

// Unallocated space in front of the volume, so its record's position (2) is not diskpart's number (1).
std::string gapImage() {
    static const std::string path =
        DiskImages::withSfdisk("ops-gap.img", kGiB, "label: dos\nstart=409600, size=409600, type=7\n");
    return path;
}

std::string emptyImage() {
    static const std::string path = DiskImages::withSfdisk("ops-empty.img", kGiB, "label: dos\n");
    return path;
}

std::string freeSpaceImage() {
    static const std::string path =
        DiskImages::withSfdisk("ops-free.img", kGiB, "label: dos\nstart=2048, size=204800, type=7\n");
    return path;
}

std::string gptImage() {
    static const std::string path = DiskImages::withSgdisk("ops-gpt.img", kGiB, "-n 1:2048:+100M -t 1:0700");
    return path;
}

// A shown volume, a gap, a hidden primary, and an extended partition holding a logical drive of
// another hidden type: diskpart numbers them 1 (F:), 2 (hidden), 3 (container), 4 (logical, 1C).
constexpr std::uint64_t kHiddenPrimary = 409600;
constexpr std::uint64_t kForeignLogical = 1100000;
std::string hiddenImage() {
    static const std::string path = DiskImages::withSfdisk("ops-hidden.img", kGiB,
                                                           "label: dos\nstart=2048, size=204800, type=7\n"
                                                           "start=409600, size=204800, type=1b\n"
                                                           "start=1024000, size=1000000, type=f\n"
                                                           "start=1100000, size=100000, type=1c\n");
    return path;
}

std::string oneHiddenImage() {
    static const std::string path =
        DiskImages::withSfdisk("ops-one-hidden.img", kGiB, "label: dos\nstart=2048, size=204800, type=1b\n");
    return path;
}

// System Reserved (letterless) in front of C:, then a letterless recovery partition.
constexpr std::uint64_t kSystemReserved = 2048;
constexpr std::uint64_t kSystemVolume = 104448;
constexpr std::uint64_t kRecovery = 1104448;
std::string reservedSystemImage() {
    static const std::string path =
        DiskImages::withSfdisk("ops-reserved.img", kGiB,
                               "label: dos\nstart=2048, size=102400, type=7, bootable\n"
                               "start=104448, size=1000000, type=7\nstart=1104448, size=100000, type=27\n");
    return path;
}

// GPT disks with the volume E: at kGptVolume and one more partition (sgdisk type codes).
constexpr std::uint64_t kGptVolume = 239616;
std::string gptVolumeImage(const std::string& name, const std::string& otherPartition) {
    return DiskImages::withSgdisk(name, kGiB, "-o -a 1 " + otherPartition + " -n 3:239616:444415 -t 3:0700");
}

// Two volumes on one MBR disk: D: at 2048 and E: at 409600.
std::string twoVolumesImage() {
    static const std::string path = DiskImages::withSfdisk(
        "ops-two.img", kGiB,
        "label: dos\nstart=2048, size=204800, type=7\nstart=409600, size=204800, type=7\n");
    return path;
}

// An extended partition whose only logical drive is at kOnlyLogical.
constexpr std::uint64_t kOnlyLogical = 4096;
std::string onlyLogicalImage() {
    static const std::string path = DiskImages::withSfdisk(
        "ops-only-logical.img", kGiB,
        "label: dos\nstart=2048, size=1000000, type=f\nstart=4096, size=204800, type=7\n");
    return path;
}

std::string unlistedGptImage() {
    static const std::string path =
        DiskImages::withSgdisk("ops-linux.img", kGiB, "-o -n 1:2048:+100M -t 1:8300");
    return path;
}

std::string setIdScript(int disk, int partition, const std::string& id, const std::string& letter = "") {
    std::string script = "select disk=\"" + std::to_string(disk) + "\"\r\nselect partition=\"" +
                         std::to_string(partition) + "\"\r\nset id=\"" + id + "\" override\r\n";
    if (!letter.empty()) {
        script += "assign letter=\"" + letter + "\"\r\n";
    }
    return script + "exit\r\n";
}

// A GPT disk's script has no "active" line: diskpart marks only MBR partitions active.
std::string formatScript(int disk, const std::string& label, const std::string& letter, bool gpt = false) {
    const std::string formatLine =
        label.empty() ? "format quick fs=ntfs " : "format quick fs=ntfs label=\"" + label + "\"";
    return "select disk=\"" + std::to_string(disk) + "\"\r\nclean\r\ncreate partition primary\r\n" +
           formatLine + (gpt ? "" : "\r\nactive") + "\r\nassign letter=\"" + letter + "\"\r\nexit\r\n";
}

// Disk 0 is the system disk with C:; the builder's further disks follow.
MachineBuilder withSystemDisk() {
    MachineBuilder builder;
    builder.imageDisk(0, systemImage()).onPartitionAt(2048).volume(L'C', L"NTFS", L"");
    return builder;
}

class PartitionOpsTest : public ::testing::Test {
protected:
    void SetUp() override { DiskImages::requireTools(); }
    void TearDown() override { PER::DriveManager::ReleaseInstance(); }

    void install(const MachineBuilder& builder) {
        guard.reset();
        machine = std::make_unique<sim::Machine>(withHostFolders(builder.build()));
        guard = std::make_unique<ScopedPlatform>(*machine);
    }

    std::vector<std::string> scripts() const {
        std::vector<std::string> texts;
        for (const sim::DiskpartRun& run : machine->diskpartRuns()) {
            texts.push_back(run.script);
        }
        return texts;
    }

    std::vector<std::string> log() const {
        std::vector<std::string> lines;
        for (const std::wstring& line : machine->logTexts()) {
            lines.emplace_back(line.begin(), line.end());
        }
        return lines;
    }

    std::string inventory() {
        PH_ListFixedPartition();
        return machine->fileBytes(kIniPath).value_or("");
    }

    std::unique_ptr<sim::Machine> machine;
    std::unique_ptr<ScopedPlatform> guard;
};

// Disk 2 sits at list position 1, and its volume E: behind a gap; disk 5 holds the logical drive L:
// behind its extended container.
MachineBuilder gapMachine() {
    MachineBuilder builder = withSystemDisk();
    builder.imageDisk(2, gapImage()).onPartitionAt(409600).volume(L'E', L"NTFS", L"Backup");
    builder.imageDisk(4, gptImage()).onPartitionAt(2048).volume(L'G', L"NTFS", L"Gpt");
    builder.imageDisk(5, onlyLogicalImage()).onPartitionAt(kOnlyLogical).volume(L'L', L"NTFS", L"");
    return builder;
}

TEST_F(PartitionOpsTest, HideSelectsTheVolumesOwnDiskpartNumberWhateverTheLetterForm) {
    struct Case {
        const wchar_t* letter;
        int result;
        std::vector<std::string> scripts;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {L"e", 1, {setIdScript(2, 1, "1B")}, {kHiddenMessage}},
        {L"E:", 1, {setIdScript(2, 1, "1B")}, {kHiddenMessage}},
        {L"e:\\", 1, {setIdScript(2, 1, "1B")}, {kHiddenMessage}},
        // diskpart counts the container: the logical drive is its partition 2.
        {L"L:", 1, {setIdScript(5, 2, "1B")}, {kHiddenMessage}},
        // The same script on GPT, which diskpart refuses.
        {L"G:", 0, {setIdScript(4, 1, "1B")}, {"(KvPartitionHelper)diskpart error because of 0x80070057."}},
        {L"Q:", 0, {}, {}},
        {L"", 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.letter, c.letter + std::wcslen(c.letter)));
        install(gapMachine());
        EXPECT_EQ(PH_SetHidden(c.letter), c.result);
        EXPECT_EQ(scripts(), c.scripts);
        EXPECT_EQ(log(), c.log);
        if (!c.scripts.empty()) {
            EXPECT_EQ(machine->pathFileExistsW(std::wstring(1, c.letter[0]) + L":"), c.result == 0);
        }
        EXPECT_FALSE(machine->fileExists(L"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt"));
    }
}

TEST_F(PartitionOpsTest, HideThenShowGivesTheLetterBackAndTheInventorySaysSo) {
    install(gapMachine());
    ASSERT_NE(inventory().find("Letter=E:"), std::string::npos);
    // Nothing is hidden yet: showing runs nothing and fails.
    EXPECT_EQ(PH_SetNonHidden(L"K:"), 0);
    EXPECT_TRUE(scripts().empty());

    ASSERT_EQ(PH_SetHidden(L"E:"), 1);
    EXPECT_EQ(inventory().find("Letter=E:"), std::string::npos);

    ASSERT_EQ(PH_SetNonHidden(L"E:"), 1);
    EXPECT_EQ(scripts().back(), setIdScript(2, 1, "0B", "E:"));
    EXPECT_EQ(log().back(), kShownMessage);
    const std::string after = inventory();
    EXPECT_NE(after.find("Letter=E:\r\nFile System=NTFS\r\nLabel Name=Backup"), std::string::npos) << after;
}

// The system disk with System Reserved, C: and recovery; disk 3 with one partition PH_SetHidden hid
// and a logical drive of another hidden type; a letterless GPT partition; a removable drive and a
// CD-ROM drive with letterless partitions; G: held by an empty card reader; and, when asked, a second
// hidden partition on disk 7.
MachineBuilder hiddenMachine(bool secondHidden) {
    MachineBuilder builder;
    builder.imageDisk(0, reservedSystemImage())
        .onPartitionAt(kSystemReserved)
        .volumeWithoutLetter(L"NTFS", L"System Reserved")
        .onPartitionAt(kSystemVolume)
        .volume(L'C', L"NTFS", L"")
        .onPartitionAt(kRecovery)
        .volumeWithoutLetter(L"NTFS", L"");
    builder.imageDisk(3, hiddenImage())
        .onPartitionAt(2048)
        .volume(L'F', L"NTFS", L"Shown")
        .onPartitionAt(kHiddenPrimary)
        .volumeWithoutLetter(L"NTFS", L"Old")
        .onPartitionAt(kForeignLogical)
        .volumeWithoutLetter(L"NTFS", L"Foreign");
    // A letterless basic data partition on GPT is no hidden MBR volume.
    builder.imageDisk(4, gptImage()).onPartitionAt(2048).volumeWithoutLetter(L"NTFS", L"");
    for (const auto& [number, type] :
         {std::pair{5, sim::DriveType::Removable}, std::pair{6, sim::DriveType::Cdrom}}) {
        builder.imageDisk(number, freeSpaceImage())
            .driveType(type)
            .onPartitionAt(2048)
            .volumeWithoutLetter(L"FAT32", L"");
    }
    if (secondHidden) {
        builder.imageDisk(7, oneHiddenImage()).onPartitionAt(2048).volumeWithoutLetter(L"NTFS", L"Older");
    }
    return builder.notReadyLetter(L'G');
}

TEST_F(PartitionOpsTest, ShowChangesOnlyThePartitionsThatHidingWrote) {
    struct Case {
        const char* name;
        bool secondHidden;
        const wchar_t* letter;
        std::vector<std::uint32_t> exitCodes;
        int result;
        std::vector<std::string> scripts;
        bool shown;                // the hidden partition on disk 3 has type 0B
        wchar_t letterAfter;       // its volume's letter, 0 for none
        const char* refusal = {};  // the one log line of a call refused before any change
    };
    const std::string firstK = setIdScript(3, 2, "0B", "K:");
    const std::string first = setIdScript(3, 2, "0B");
    const std::string second = setIdScript(7, 1, "0B");
    const std::string refusedLetter = "(KvPartitionHelper)PH_SetNonHidden: the drive letter ";
    const char* notOneLetter = "K:x is not one letter from A to Z, alone or followed by \":\" or \":\\\".";
    const Case cases[] = {
        {"the hidden partition gets the letter", false, L"K:", {}, 1, {firstK}, true, L'K'},
        {"a letter alone", false, L"k", {}, 1, {setIdScript(3, 2, "0B", "k")}, true, L'K'},
        {"a letter with its root", false, L"k:\\", {}, 1, {setIdScript(3, 2, "0B", "k:")}, true, L'K'},
        {"its run fails", false, L"K:", {5}, 0, {firstK}, false, 0},
        {"no letter, no assign line", true, L"", {}, 1, {first, second}, true, 0},
        // One letter names one volume: the second partition is shown without one.
        {"the letter goes to the first only", true, L"K:", {}, 1, {firstK, second}, true, L'K'},
        {"one run of two fails", true, L"", {5}, 0, {first, second}, false, 0},
        // diskpart would refuse these only after "set id" had shown the partitions without a letter.
        {"a letter in use", true, L"F:", {}, 0, {}, false, 0, "F: is in use."},
        {"a letter an empty card reader holds", true, L"g:\\", {}, 0, {}, false, 0, "g:\\ is in use."},
        {"not one letter", true, L"K:x", {}, 0, {}, false, 0, notOneLetter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        install(hiddenMachine(c.secondHidden));
        machine->model().diskpart.exitCodes = c.exitCodes;
        EXPECT_EQ(PH_SetNonHidden(c.letter), c.result);
        // Scripts are the only way the library changes a disk: nothing else was retyped.
        EXPECT_EQ(scripts(), c.scripts);
        const sim::Disk& disk = machine->model().disks[1];
        EXPECT_EQ(disk.mbr.primary[1].type, c.shown ? 0x0B : 0x1B);
        EXPECT_EQ(disk.volumes[1].letter.value_or(0), c.letterAfter);
        if (c.refusal != nullptr) {
            EXPECT_EQ(log(), std::vector<std::string>{refusedLetter + c.refusal});
        }
    }
}

TEST_F(PartitionOpsTest, LettersThatWouldBreakTheScriptAreRefused) {
    install(hiddenMachine(false));
    EXPECT_EQ(PH_SetNonHidden(L"K:\"\r\nclean"), 0);
    EXPECT_EQ(PH_FormatNTFS(L"E:\"", L""), 0);
    EXPECT_EQ(PH_FormatNTFS(L"F:", L"a\tb"), 0);
    EXPECT_TRUE(scripts().empty());
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "(KvPartitionHelper)PH_SetNonHidden: the drive letter holds a double quote or a "
                         "control character.",
                         "(KvPartitionHelper)PH_FormatNTFS: the drive letter holds a double quote or a "
                         "control character.",
                         "(KvPartitionHelper)PH_FormatNTFS: the volume label holds a double quote or a "
                         "control character."}));
}

using ExtraDisks = void (*)(MachineBuilder&);
void noExtraDisk(MachineBuilder&) {}
void emptyDisk(MachineBuilder& builder) {
    builder.imageDisk(5, emptyImage());
}
void twoEmptyDisks(MachineBuilder& builder) {
    builder.imageDisk(5, emptyImage()).imageDisk(6, emptyImage());
}
// What a clean leaves of a GPT disk: the table without partitions.
void emptyGptDisk(MachineBuilder& builder) {
    builder.gptDisk(5, kGiB);
}
void unlistedGptDisk(MachineBuilder& builder) {
    builder.imageDisk(5, unlistedGptImage());
}
void unpartitionedDisk(MachineBuilder& builder) {
    builder.rawDisk(5);
}
void unreadableEmptyDisk(MachineBuilder& builder) {
    builder.imageDisk(5, emptyImage()).layoutError(31);
}

// Disks 0 (system, C:), 2 (E: behind a gap), the extra ones (5, 6), 7 (F: and free space after it).
MachineBuilder formatMachine(ExtraDisks extraDisks, const std::wstring& eLabel = L"Backup") {
    MachineBuilder builder = withSystemDisk();
    builder.imageDisk(2, gapImage()).onPartitionAt(409600).volume(L'E', L"NTFS", eLabel);
    extraDisks(builder);
    builder.imageDisk(7, freeSpaceImage()).onPartitionAt(2048).volume(L'F', L"NTFS", L"Kept");
    return builder;
}

TEST_F(PartitionOpsTest, FormatChoosesTheLetterOrElseOnlyAWhollyEmptyDisk) {
    struct Case {
        const char* name;
        const wchar_t* letter;
        const wchar_t* label;
        ExtraDisks extraDisks;
        int result;
        std::vector<std::string> scripts;
        const char* refusal = {};  // the one log line of a call refused before any change
    };
    const Case cases[] = {
        {"letter wins over the empty disk", L"E:", L"", emptyDisk, 1, {formatScript(2, "Backup", "E:")}},
        {"given label", L"E:", L"Data", emptyDisk, 1, {formatScript(2, "Data", "E:")}},
        {"label with a space", L"E:", L"My Data", emptyDisk, 1, {formatScript(2, "My Data", "E:")}},
        {"letter as given", L"e:\\", L"", emptyDisk, 1, {formatScript(2, "Backup", "e:\\")}},
        // Look-alikes of the double quote reach the script as the default character; U+201C has a byte.
        {"best-fit quotes", L"E:", L"A\uFF02\u02BA x", emptyDisk, 1, {formatScript(2, "A?? x", "E:")}},
        {"curly quote in the label", L"E:", L"A\u201C", emptyDisk, 1, {formatScript(2, "A\x93", "E:")}},
        {"best-fit quote in the letter", L"X\uFF02", L"", emptyDisk, 0,
         std::vector<std::string>(3, formatScript(5, "", "X?"))},
        {"no such volume: the empty disk", L"X:", L"", emptyDisk, 1, {formatScript(5, "", "X:")}},
        {"two empty disks: the last one", L"X:", L"", twoEmptyDisks, 1, {formatScript(6, "", "X:")}},
        {"an empty GPT disk", L"X:", L"", emptyGptDisk, 1, {formatScript(5, "", "X:", true)}},
        // "E" names the volume E: too; the assign line keeps the text as given, as diskpart takes it.
        {"a letter without a colon", L"E", L"", emptyDisk, 1, {formatScript(2, "Backup", "E")}},
        // "\" neither; diskpart refuses the empty letter after the clean.
        {"empty letter", L"", L"", emptyDisk, 0, std::vector<std::string>(3, formatScript(5, "", ""))},
        {"no such volume and no empty disk", L"X:", L"", noExtraDisk, 0, {}},
        {"only an unlisted GPT type is not empty", L"X:", L"", unlistedGptDisk, 0, {}},
        {"a disk without a table is not empty", L"X:", L"", unpartitionedDisk, 0, {}},
        {"a disk whose layout fails is not empty", L"X:", L"", unreadableEmptyDisk, 0, {}},
        {"never the system disk",
         L"c:",
         L"Data",
         emptyDisk,
         0,
         {},
         "(KvPartitionHelper)PH_FormatNTFS: the volume c:\\ is on the disk of the system volume; it is not "
         "formatted."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        install(formatMachine(c.extraDisks));
        EXPECT_EQ(PH_FormatNTFS(c.letter, c.label), c.result);
        EXPECT_EQ(scripts(), c.scripts);
        if (c.refusal != nullptr) {
            EXPECT_EQ(log(), std::vector<std::string>{c.refusal});
        }
        // The disk with free space after its volume is never taken.
        EXPECT_TRUE(machine->pathFileExistsW(L"F:"));
        EXPECT_TRUE(machine->pathFileExistsW(L"C:"));
    }
}

TEST_F(PartitionOpsTest, FormatTakesTheVolumesDiskOnlyWhenTheVolumeIsAloneOnIt) {
    struct Case {
        const char* name;
        std::string image;
        std::uint64_t volumeStart;
        const wchar_t* volumeAt2048;  // besides E:: none (null), letterless (""), or with that letter
        int result;
    };
    const std::string efiAndReserved = "-n 1:2048:206847 -t 1:ef00 -n 2:206848:239615 -t 2:0c01";
    const Case cases[] = {
        {"another volume", twoVolumesImage(), 409600, L"D", 0},
        {"a hidden partition", hiddenImage(), 2048, nullptr, 0},
        {"EFI and reserved", gptVolumeImage("ops-efi.img", efiAndReserved), kGptVolume, L"", 0},
        {"recovery", gptVolumeImage("ops-recovery.img", "-n 1:2048:206847 -t 1:2700"), kGptVolume, L"", 0},
        {"an unlisted type", gptVolumeImage("ops-unlisted.img", "-n 1:2048:206847 -t 1:8300"), kGptVolume,
         nullptr, 0},
        {"only a Microsoft reserved partition", gptVolumeImage("ops-msr.img", "-n 2:206848:239615 -t 2:0c01"),
         kGptVolume, nullptr, 1},
        // The container holds nothing but E:, which is a record of its own.
        {"the only logical drive", onlyLogicalImage(), kOnlyLogical, nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MachineBuilder builder = withSystemDisk();
        builder.imageDisk(2, c.image).onPartitionAt(c.volumeStart).volume(L'E', L"NTFS", L"Backup");
        if (c.volumeAt2048 != nullptr && c.volumeAt2048[0] != L'\0') {
            builder.onPartitionAt(2048).volume(c.volumeAt2048[0], L"NTFS", L"Data");
        } else if (c.volumeAt2048 != nullptr) {
            builder.onPartitionAt(2048).volumeWithoutLetter(L"FAT32", L"");
        }
        install(builder);
        machine->putFile(L"E:\\kept.txt", "x");
        const bool gpt = machine->model().disks[1].style == sim::PartitionStyle::Gpt;
        EXPECT_EQ(PH_FormatNTFS(L"E:", L""), c.result);
        if (c.result == 1) {
            EXPECT_EQ(scripts(), std::vector<std::string>{formatScript(2, "Backup", "E:", gpt)});
            continue;
        }
        EXPECT_TRUE(scripts().empty());
        EXPECT_EQ(log(), std::vector<std::string>{"(KvPartitionHelper)PH_FormatNTFS: the disk of E:\\ holds "
                                                  "other partitions; it is not formatted."});
        EXPECT_TRUE(machine->fileExists(L"E:\\kept.txt"));
    }
}

TEST_F(PartitionOpsTest, FormatLeavesOneNamedVolumeUnderTheLetter) {
    install(formatMachine(emptyDisk, L""));
    machine->putFile(L"E:\\old.txt", "x");
    ASSERT_EQ(PH_FormatNTFS(L"E:", L""), 1);
    // A volume without a label reads "NONAME": the script without a label.
    EXPECT_EQ(scripts(), std::vector<std::string>{formatScript(2, "", "E:")});
    EXPECT_EQ(log(), std::vector<std::string>{"(KvPartitionHelper)diskpart format successfully"});
    EXPECT_FALSE(machine->fileExists(L"E:\\old.txt"));
    const sim::Disk& formatted = machine->model().disks[1];
    EXPECT_EQ(formatted.mbr.primary[0].start, 2048u);
    EXPECT_TRUE(formatted.mbr.primary[0].boot);
    const std::string listed = inventory();
    EXPECT_NE(listed.find("Letter=E:\r\nFile System=NTFS\r\nLabel Name=NONAME"), std::string::npos) << listed;
}

TEST_F(PartitionOpsTest, FormatTriesThreeTimesWithAPauseAfterEach) {
    install(formatMachine(emptyDisk));
    machine->model().diskpart.exitCodes = {5, 5, 5};
    EXPECT_EQ(PH_FormatNTFS(L"E:", L""), 0);
    const std::string error = "(KvPartitionHelper)diskpart error because of 0x00000005";
    EXPECT_EQ(log(), (std::vector<std::string>{error, error, error}));
    EXPECT_EQ(machine->sleeps(), (std::vector<std::uint32_t>{1000, 1000, 1000}));
    EXPECT_EQ(scripts(), std::vector<std::string>(3, formatScript(2, "Backup", "E:")));
    EXPECT_TRUE(machine->pathFileExistsW(L"E:"));
}

}  // namespace
}  // namespace kvph::test
