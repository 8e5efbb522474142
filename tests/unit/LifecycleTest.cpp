// The VHDX drive's life on the simulated machine, seen through its files, scripts, registry and log.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "FrameFixture.h"
#include "HostMachine.h"
#include "KvPartitionHelper.h"
#include "frame/DiskpartRunner.h"
#include "lifecycle/SizeSettings.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {
namespace {

constexpr wchar_t kVhdx[] = L"D:\\vd\\drive.vhdx";
constexpr wchar_t kAutoRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";
constexpr wchar_t kPartitionIni[] = L"C:\\Program Files\\Host\\Partition.ini";
constexpr wchar_t kMaxSizeIni[] = L"C:\\Program Files\\Host\\MaxSize.ini";
constexpr wchar_t kUserDataIni[] = L"C:\\ProgramData\\Norvel\\Quillmark\\UserData.ini";
constexpr char kAttach[] = "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\nattach vdisk\r\nexit\r\n";
constexpr char kAttachReadOnly[] =
    "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\nattach vdisk readonly\r\nexit\r\n";
constexpr char kDetach[] = "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\ndetach vdisk\r\nexit\r\n";
constexpr std::uint64_t kSectorsPerMiB = 2048;

// Remembers the AutoRun value each started diskpart saw.
class LifecycleMachine : public TestMachine {
public:
    explicit LifecycleMachine(sim::MachineModel model) { this->model() = std::move(model); }

    ProcessOutcome createProcessAndWait(const std::wstring& commandLine, std::uint32_t flags) override {
        autoRunDuringRuns.push_back(
            model().registry.count(autoRunKey()) != 0
                ? regQueryDword(RegistryRoot::LocalMachine, kAutoRunKey, kAutoRunValue)
                : std::nullopt);
        return TestMachine::createProcessAndWait(commandLine, flags);
    }

    // The simulator's registry keys are upper-cased full paths.
    static std::wstring autoRunKey() {
        return L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\EXPLORER";
    }
    bool autoRunKeyExists() const { return model().registry.count(autoRunKey()) != 0; }
    std::optional<std::uint32_t> autoRun() {
        return regQueryDword(RegistryRoot::LocalMachine, kAutoRunKey, kAutoRunValue);
    }
    std::vector<std::string> scripts() const {
        std::vector<std::string> result;
        for (const auto& run : diskpartRuns()) {
            result.push_back(run.script);
        }
        return result;
    }
    std::wstring iniText(const wchar_t* file, const wchar_t* section, const wchar_t* key) {
        return getPrivateProfileStringW(section, key, L"(none)", 260, file);
    }
    const sim::VirtualDisk* vdisk(const std::wstring& path) const {
        for (const auto& vdisk : model().vdisks) {
            if (pathKey(vdisk.path) == pathKey(path)) {
                return &vdisk;
            }
        }
        return nullptr;
    }

    std::vector<std::optional<std::uint32_t>> autoRunDuringRuns;
};

// A system disk C: and a data disk whose D: holds the VHDX drive's file; AutoRun policy 0x91.
sim::MachineModel hostMachine() {
    sim::MachineModel model = withHostFolders(hostDisks().build());
    model.registry[LifecycleMachine::autoRunKey()].dwords[kAutoRunValue] = 0x91;
    return model;
}

class LifecycleTest : public ::testing::Test {
protected:
    explicit LifecycleTest(sim::MachineModel model = hostMachine()) : machine(std::move(model)) {}

    bool logged(const std::wstring& line) const {
        const auto lines = machine.logTexts();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::size_t runCount() const { return machine.diskpartRuns().size(); }
    std::string lastScript() const {
        return machine.diskpartRuns().empty() ? "" : machine.diskpartRuns().back().script;
    }
    std::uint64_t freeOnD() const { return machine.model().disks[1].volumes[0].freeBytes; }
    void createDrive() {
        ASSERT_EQ(PH_CreateVHDX(kVhdx, L"Duskvale", 20480, 1), 1);
        machine.clearLog();
    }

    LifecycleMachine machine;
    ScopedPlatform installed{machine};
};

TEST_F(LifecycleTest, CreateMakesALabelledDriveOnTheHighestFreeLetterAndLeavesItDetachedAndHidden) {
    const std::uint64_t freeBefore = freeOnD();
    ASSERT_EQ(PH_CreateVHDX(kVhdx, L"Duskvale", 20480, 1), 1);

    EXPECT_EQ(machine.scripts(),
              (std::vector<std::string>{
                  "create vdisk file=\"D:\\vd\\drive.vhdx\" type=expandable maximum=20480\r\n"
                  "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\nattach vdisk\r\ncreate partition Primary\r\n"
                  "format quick fs=ntfs label=\"Duskvale\"\r\nAssign Letter=\"Z:\"\r\nexit\r\n",
                  kDetach}));
    EXPECT_EQ(machine.fileAttributes(kVhdx), 0x6u);
    EXPECT_EQ(machine.iniText(kMaxSizeIni, L"Main", L"Size"), L"20480");
    EXPECT_EQ(machine.fileAttributes(kMaxSizeIni), 0x2u);
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Letter"), L"Z:");
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Label Name"), L"Duskvale");
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Total MB"), L"20479");
    EXPECT_EQ(machine.iniText(kUserDataIni, L"Main", L"Disk"), L"2");
    EXPECT_EQ(machine.iniText(kUserDataIni, L"Main", L"Partition"), L"1");
    ASSERT_NE(machine.vdisk(kVhdx), nullptr);
    EXPECT_FALSE(machine.vdisk(kVhdx)->attached);
    EXPECT_EQ(machine.sleeps(), (std::vector<std::uint32_t>{1000}));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)diskpart create vhdx successfully."));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)diskpart detach successfully."));
    // An expandable file starts small and grows with what its volume holds once detached.
    EXPECT_LT(freeBefore - freeOnD(), 300 * sim::kMiB);
    EXPECT_GT(freeBefore - freeOnD(), 0u);

    machine.clearLog();
    EXPECT_EQ(PH_CreateVHDX(kVhdx, L"Other", 100, 0), 0);
    EXPECT_EQ(runCount(), 2u);
    EXPECT_EQ(machine.iniText(kMaxSizeIni, L"Main", L"Size"), L"20480");
    EXPECT_TRUE(machine.logTexts().empty());
}

TEST_F(LifecycleTest, CreateFixedWithoutCapAsksForTheHoldingDrivesFreeSpaceAndTakesItAtOnce) {
    machine.model().disks[1].volumes[0].freeBytes = 30000 * sim::kMiB;
    for (wchar_t letter = L'E'; letter <= L'Z'; ++letter) {
        if (letter != L'F') {
            machine.model().letters.push_back(letter);
        }
    }
    ASSERT_EQ(PH_CreateVHDX(kVhdx, L"Duskvale", 0, 0), 1);
    EXPECT_NE(machine.scripts().at(0).find("type=fixed maximum=30000\r\n"), std::string::npos);
    EXPECT_NE(machine.scripts().at(0).find("Assign Letter=\"F:\"\r\n"), std::string::npos);
    EXPECT_EQ(machine.iniText(kMaxSizeIni, L"Main", L"Size"), L"0");
    EXPECT_EQ(freeOnD(), 0u);
}

TEST_F(LifecycleTest, WholeLifeAttachResizeQueryCompactAndRemove) {
    createDrive();
    const std::size_t created = runCount();

    SCOPED_TRACE("plain attach: the size is similar");
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(lastScript(), kAttach);
    EXPECT_EQ(machine.autoRunDuringRuns.back(), 255u);
    EXPECT_EQ(machine.autoRun(), 0x91u);
    EXPECT_TRUE(logged(L"(KvPartitionHelper)success attach, size is similar."));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)diskpart attach successfully."));
    EXPECT_EQ(std::vector<std::uint32_t>(machine.sleeps().end() - 2, machine.sleeps().end()),
              (std::vector<std::uint32_t>{500, 250}));
    EXPECT_EQ(runCount(), created + 1);

    SCOPED_TRACE("fast path: mounted already");
    machine.clearLog();
    machine.resetCallCounts();
    EXPECT_EQ(PH_AttachVHDX(kVhdx, 1), 1);
    EXPECT_EQ(runCount(), created + 1);
    EXPECT_TRUE(machine.logTexts().empty());
    EXPECT_EQ(machine.callCounts().count("regCreateKeyExW"), 0u);

    SCOPED_TRACE("read-only attach");
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 0), 1);
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 1), 1);
    EXPECT_EQ(lastScript(), kAttachReadOnly);
    int readOnly = 0;
    EXPECT_EQ(PH_CheckVHDXReadOnly(kVhdx, &readOnly), 1);
    EXPECT_EQ(readOnly, 1);

    SCOPED_TRACE("compact on a read-only drive attaches it read-write");
    ASSERT_EQ(PH_CompactThenAttachVHDX(kVhdx), 1);
    EXPECT_EQ(lastScript(),
              "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\ncompact vdisk\r\ndetach vdisk\r\nattach "
              "vdisk\r\nexit\r\n");
    EXPECT_TRUE(machine.vdisk(kVhdx)->attached);
    EXPECT_FALSE(machine.vdisk(kVhdx)->readOnly);
    EXPECT_EQ(PH_CheckVHDXReadOnly(kVhdx, &readOnly), 1);
    EXPECT_EQ(readOnly, 0);

    SCOPED_TRACE("expand then extend when more room is allowed");
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 0), 1);
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=25000\r\n", 0x2);
    machine.clearLog();
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 1), 1);
    const auto scripts = machine.scripts();
    EXPECT_EQ(
        scripts[scripts.size() - 2],
        "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\nexpand vdisk maximum=25000\r\nattach vdisk\r\nexit\r\n");
    EXPECT_EQ(scripts.back(), "select disk=\"2\"\r\nselect partition=\"1\"\r\nextend\r\nexit\r\n");
    EXPECT_TRUE(logged(L"(KvPartitionHelper)new size is bigger, we should expand the VHDX.\r\n"));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)diskpart expand successfully."));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)success attach and expand."));
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Total MB"), L"24999");
    EXPECT_EQ(machine.autoRun(), 0x91u);

    SCOPED_TRACE("shrink when the cap is lowered");
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 0), 1);
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=22000\r\n", 0x2);
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(machine.scripts().back(),
              "select disk=\"2\"\r\nselect partition=\"1\"\r\nshrink desired=\"2999\"\r\nexit\r\n");
    EXPECT_TRUE(logged(L"(KvPartitionHelper)success attach and shrink."));
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Total MB"), L"22000");

    SCOPED_TRACE("queries");
    EXPECT_EQ(PH_CheckExistVHDX(kVhdx), 1);
    wchar_t letter[260] = L"";
    EXPECT_EQ(PH_GetVHDXVolumeLabel(kVhdx, letter), 1);
    EXPECT_EQ(std::wstring(letter), L"Z:");

    SCOPED_TRACE("detach with removal");
    const std::uint64_t freeBefore = freeOnD();
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 1), 1);
    EXPECT_FALSE(machine.fileExists(kVhdx));
    EXPECT_FALSE(machine.fileExists(kPartitionIni));
    EXPECT_FALSE(machine.fileExists(kMaxSizeIni));
    EXPECT_TRUE(machine.fileExists(kUserDataIni));
    EXPECT_EQ(machine.vdisk(kVhdx), nullptr);
    EXPECT_GT(freeOnD(), freeBefore);
    EXPECT_EQ(machine.autoRun(), 0x91u);
}

struct SizeCase {
    const char* name;
    std::uint64_t freeMB;
    std::uint64_t fileMB;
    const char* maxSizeIni;    // nullptr: no MaxSize.ini
    const char* partitionIni;  // nullptr: no Partition.ini
    const wchar_t* letter;
    int result;
    std::uint32_t newSize;  // 77: left as it was
    const wchar_t* message;
};

constexpr char kRecorded4991[] =
    "[0]\r\nLetter=C:\r\nTotal MB=1\r\n[1]\r\nLetter=E:\r\nTotal MB=4991\r\n[Main]\r\nCount=2\r\n";
constexpr char kRecorded4990[] = "[0]\r\nLetter=E:\r\nTotal MB=4990\r\n[Main]\r\nCount=1\r\n";
constexpr char kRecorded5000[] = "[0]\r\nLetter=E:\r\nTotal MB=5000\r\n[Main]\r\nCount=1\r\n";
constexpr wchar_t kSimilar[] = L"(KvPartitionHelper)quite similar, represents the same.\r\n";
constexpr wchar_t kBigger[] = L"(KvPartitionHelper)new size is bigger, we should expand the VHDX.\r\n";
constexpr wchar_t kSmaller[] = L"(KvPartitionHelper)new size is smaller, we should shrink the VHDX.\r\n";
constexpr wchar_t kNew[] = L"(KvPartitionHelper)not existed before, represents the same.\r\n";

class CompareSizeTest : public LifecycleTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(CompareSizeTest, DecidesBetweenKeepingExpandingAndShrinking) {
    const SizeCase& c = GetParam();
    machine.model().disks[1].volumes[0].freeBytes = c.freeMB * sim::kMiB + 12345;
    machine.putFolder(L"D:\\vd");
    machine.putFile(kVhdx, "");
    machine.model().files[sim::Machine::pathKey(kVhdx)].logicalSize = c.fileMB * sim::kMiB + 99;
    if (c.maxSizeIni != nullptr) {
        machine.putFile(kMaxSizeIni, c.maxSizeIni, 0x2);
    }
    if (c.partitionIni != nullptr) {
        machine.putFile(kPartitionIni, c.partitionIni);
    }
    std::uint32_t newSize = 77;
    EXPECT_EQ(CompareVHDXSize(kVhdx, c.letter, &newSize), c.result);
    EXPECT_EQ(newSize, c.newSize);
    EXPECT_EQ(machine.logTexts(), std::vector<std::wstring>{c.message});
    EXPECT_EQ(machine.fileAttributes(kPartitionIni),
              c.partitionIni != nullptr ? std::optional<std::uint32_t>(0x6) : std::nullopt);
}

const SizeCase kSizeCases[] = {
    {"NineMegabytesAreSimilar", 4000, 1000, nullptr, kRecorded4991, L"E:", 0, 77, kSimilar},
    {"TenMegabytesExpand", 4000, 1000, nullptr, kRecorded4990, L"E:", 10, 5000, kBigger},
    {"LessRoomShrinks", 3000, 1000, nullptr, kRecorded5000, L"E:", -1000, 77, kSmaller},
    {"CapMakesItShrink", 7000, 1000, "[Main]\r\nSize=3000\r\n", kRecorded5000, L"E:", -2000, 77, kSmaller},
    {"CapOfZeroIsNoCap", 7000, 1000, "[Main]\r\nSize=0\r\n", kRecorded5000, L"E:", 3000, 8000, kBigger},
    {"NegativeCapIsNoCap", 7000, 1000, "[Main]\r\nSize=-1\r\n", kRecorded5000, L"E:", 3000, 8000, kBigger},
    {"TextCapIsNoCap", 7000, 1000, "[Main]\r\nSize=abc\r\n", kRecorded5000, L"E:", 3000, 8000, kBigger},
    {"LetterWithoutColonMatchesInAnyCase", 4000, 1000, nullptr, kRecorded4990, L"e", 10, 5000, kBigger},
    {"LetterWithBackslashDoesNotMatch", 4000, 1000, nullptr, kRecorded4990, L"E:\\", 0, 77, kNew},
    {"EmptyLetterMatchesNothing", 4000, 1000, nullptr, kRecorded4990, L"", 0, 77, kNew},
    {"NoInventory", 4000, 1000, nullptr, nullptr, L"E:", 0, 77, kNew},
};

INSTANTIATE_TEST_SUITE_P(Table, CompareSizeTest, ::testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RegistryCase {
    const char* name;
    bool keyExists;
    std::optional<std::uint32_t> value;
};

class AutoRunRestoreTest : public LifecycleTest, public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(AutoRunRestoreTest, DiskpartSeesAutoRunOffAndTheValueIsRestoredExactly) {
    createDrive();
    auto& registry = machine.model().registry;
    registry.erase(LifecycleMachine::autoRunKey());
    if (GetParam().keyExists) {
        auto& key = registry[LifecycleMachine::autoRunKey()];
        if (GetParam().value) {
            key.dwords[kAutoRunValue] = *GetParam().value;
        }
    }
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(machine.autoRunDuringRuns.back(), 255u);
    EXPECT_EQ(machine.autoRunKeyExists(), GetParam().keyExists);
    EXPECT_EQ(machine.autoRunKeyExists() ? machine.autoRun() : std::nullopt, GetParam().value);
    EXPECT_EQ(machine.sleeps().back(), 250u);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(States, AutoRunRestoreTest,
                         ::testing::Values(RegistryCase{"Value0x91", true, 0x91},
                                           RegistryCase{"ValueAbsent", true, std::nullopt},
                                           RegistryCase{"KeyAbsent", false, std::nullopt},
                                           RegistryCase{"ValueAllOnes", true, 0xFFFFFFFFu}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, UnwritableScriptLeavesTheRegistryAloneAndRunsNothing) {
    createDrive();
    const std::size_t runs = runCount();
    sim::Fault fault;
    fault.method = "createFileW";
    fault.argumentContains = L"Command.txt";
    fault.times = -1;
    machine.injectFault(fault);
    machine.resetCallCounts();
    EXPECT_EQ(PH_AttachVHDX(kVhdx, 0), 0);
    EXPECT_EQ(PH_DetachVHDX(kVhdx, 1), 0);
    EXPECT_EQ(PH_CompactThenAttachVHDX(kVhdx), 0);
    EXPECT_EQ(runCount(), runs);
    EXPECT_EQ(machine.callCounts().count("regCreateKeyExW"), 0u);
    EXPECT_TRUE(machine.fileExists(kVhdx));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)Create file fail.\r\n"));
}

TEST_F(LifecycleTest, FailedAttachOfAVhdxRetriesThroughADetachAndExtends) {
    createDrive();
    machine.model().diskpart.exitCodes = {0x80070020u};
    EXPECT_EQ(PH_AttachVHDX(kVhdx, 1), 1);
    const auto scripts = machine.scripts();
    EXPECT_EQ(
        std::vector<std::string>(scripts.end() - 4, scripts.end()),
        (std::vector<std::string>{kAttachReadOnly, kDetach, kAttachReadOnly,
                                  "select disk=\"2\"\r\nselect partition=\"1\"\r\nextend\r\nexit\r\n"}));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)diskpart error because of 0x80070020."));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)try detach not successfully because of 0x8007139f."));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)diskpart only_attach successfully."));
    EXPECT_TRUE(logged(L"(KvPartitionHelper)re-try attach, then expand disc size."));
    EXPECT_EQ(std::count(machine.sleeps().begin(), machine.sleeps().end(), 3000u), 1);
    EXPECT_EQ(machine.autoRun(), 0x91u);
}

TEST_F(LifecycleTest, FailedAttachThatNeededAShrinkIsNotRetried) {
    createDrive();
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=10000\r\n", 0x2);
    machine.model().diskpart.exitCodes = {0x80070020u};
    const std::size_t runs = runCount();
    EXPECT_EQ(PH_AttachVHDX(kVhdx, 0), 0);
    EXPECT_EQ(runCount(), runs + 1);
    EXPECT_TRUE(logged(L"(KvPartitionHelper)re-try attach, then expand disc size."));
    EXPECT_EQ(machine.autoRun(), 0x91u);
}

TEST_F(LifecycleTest, FailedAttachOfAVhdIsRetriedAndReportsSuccessWhateverTheRetryGives) {
    machine.putFolder(L"D:\\vd");
    machine.putFile(L"D:\\vd\\old.vhd", "");
    machine.model().diskpart.exitCodes = {0x80070020u, 0, 0x80070020u};
    EXPECT_EQ(PH_AttachVHDX(L"D:\\vd\\old.vhd", 0), 1);
    EXPECT_EQ(runCount(), 3u);
    EXPECT_TRUE(logged(L"(KvPartitionHelper)not existed before, represents the same.\r\n"));
    EXPECT_EQ(machine.autoRun(), 0x91u);
}

TEST_F(LifecycleTest, FailedDetachWithRemovalDeletesNothing) {
    createDrive();
    machine.model().diskpart.exitCodes = {0x80070020u};
    EXPECT_EQ(PH_DetachVHDX(kVhdx, 1), 0);
    EXPECT_TRUE(machine.fileExists(kVhdx));
    EXPECT_TRUE(machine.fileExists(kPartitionIni));
    EXPECT_TRUE(machine.fileExists(kMaxSizeIni));
}

TEST_F(LifecycleTest, UnsafeOrUnconvertiblePathsAndLabelsAreRefusedBeforeAnythingIsTouched) {
    const std::wstring quoted = L"D:\\vd\\x\".vhdx";
    const std::wstring broken = L"D:\\vd\\a\r\nclean.vhdx";
    const std::wstring greek = L"D:\\vd\\\u03a9.vhdx";
    for (const std::wstring& path : {quoted, broken, greek}) {
        EXPECT_EQ(PH_CreateVHDX(path.c_str(), L"Duskvale", 100, 1), 0);
        EXPECT_EQ(PH_AttachVHDX(path.c_str(), 0), 0);
        EXPECT_EQ(PH_DetachVHDX(path.c_str(), 1), 0);
        EXPECT_EQ(PH_CompactThenAttachVHDX(path.c_str()), 0);
    }
    EXPECT_EQ(PH_CreateVHDX(kVhdx, L"x\"\r\nclean", 100, 1), 0);
    EXPECT_EQ(machine.logTexts().size(), 13u);
    EXPECT_EQ(runCount(), 0u);
    EXPECT_FALSE(machine.fileExists(kMaxSizeIni));
    EXPECT_FALSE(machine.fileExists(L"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt"));
    EXPECT_EQ(machine.autoRun(), 0x91u);
}

// A volume with unallocated space in front of it: UserData.ini keeps the record's position, the script
// carries diskpart's own number, and the volume behind the gap is the one that changes.
TEST(ResizeNumbering, AGapInFrontOfTheVolumeDoesNotShiftTheSelectedPartition) {
    sim::MachineModel model = sim::MachineBuilder()
                                  .gptDisk(0, 64 * sim::kGiB)
                                  .basicData(2048, 60 * sim::kGiB / 512)
                                  .volume(L'C', L"NTFS", L"")
                                  .mbrDisk(1, 64 * sim::kGiB)
                                  .primary(2048, 1024 * kSectorsPerMiB, 0x07)
                                  .volume(L'E', L"NTFS", L"First", 512 * sim::kMiB)
                                  .primary(4096 * kSectorsPerMiB, 2048 * kSectorsPerMiB, 0x07)
                                  .volume(L'F', L"NTFS", L"Behind", 1024 * sim::kMiB)
                                  .build();
    for (const wchar_t* folder : {L"C:\\ProgramData", L"C:\\Program Files", L"C:\\Program Files\\Host"}) {
        model.folders[sim::Machine::pathKey(folder)] = sim::File{folder, {}, 0x10};
    }
    LifecycleMachine machine(model);
    ScopedPlatform installed(machine);

    EXPECT_EQ(ShrinkPartition(L"f", 100), 1);
    EXPECT_EQ(machine.diskpartRuns().back().script,
              "select disk=\"1\"\r\nselect partition=\"2\"\r\nshrink desired=\"100\"\r\nexit\r\n");
    EXPECT_EQ(machine.iniText(kUserDataIni, L"Main", L"Partition"), L"3");
    const sim::Disk& disk = machine.model().disks[1];
    EXPECT_EQ(disk.mbr.primary[1].sectors, 1948 * kSectorsPerMiB);
    EXPECT_EQ(disk.mbr.primary[0].sectors, 1024 * kSectorsPerMiB);
    EXPECT_EQ(disk.volumes[1].freeBytes, 924 * sim::kMiB);

    EXPECT_EQ(ExtendPartition(L"F:\\"), 1);
    EXPECT_EQ(machine.diskpartRuns().back().script,
              "select disk=\"1\"\r\nselect partition=\"2\"\r\nextend\r\nexit\r\n");
    EXPECT_GT(disk.mbr.primary[1].sectors, 2048 * kSectorsPerMiB);

    // No volume carries the letter: nothing runs, and the older UserData.ini is not used.
    const std::size_t runs = machine.diskpartRuns().size();
    EXPECT_EQ(ShrinkPartition(L"Q:", 10), 0);
    EXPECT_EQ(ExtendPartition(L""), 0);
    EXPECT_EQ(machine.diskpartRuns().size(), runs);
    EXPECT_EQ(machine.iniText(kUserDataIni, L"Main", L"Partition"), L"3");
}

// "drive.vhdx" beside "drive.vhdx copy.vhdx": only the named one is detached and removed.
TEST_F(LifecycleTest, ANeighbourWhoseNameContinuesTheDrivesIsNeverTouched) {
    createDrive();
    const std::wstring neighbour = L"D:\\vd\\drive.vhdx copy.vhdx";
    ASSERT_EQ(RunDiskpartScript("create vdisk file=\"D:\\vd\\drive.vhdx copy.vhdx\" maximum=100 "
                                "type=expandable\r\nattach vdisk\r\nexit\r\n"),
              ScriptOutcome::DiskpartSucceeded);
    EXPECT_EQ(PH_CheckExistVHDX(kVhdx), 0);
    EXPECT_EQ(PH_CheckExistVHDX(L"vd\\drive.vhdx copy.vhdx"), 0);
    EXPECT_EQ(PH_CheckExistVHDX(neighbour.c_str()), 1);

    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 1), 1);
    EXPECT_EQ(machine.diskpartRuns().back().script, kDetach);
    EXPECT_FALSE(machine.fileExists(kVhdx));
    EXPECT_TRUE(machine.fileExists(neighbour));
    ASSERT_NE(machine.vdisk(neighbour), nullptr);
    EXPECT_TRUE(machine.vdisk(neighbour)->attached);
}

// Another attached virtual disk of the default shape, labelled otherwise, on a lower disk number: the
// attach does not take its letter for the VHDX drive's.
TEST_F(LifecycleTest, AShapedDiskOnALowerNumberDoesNotAnswerForTheDrive) {
    createDrive();
    sim::VirtualDisk other = *machine.vdisk(kVhdx);
    other.path = L"D:\\vd\\other.vhdx";
    other.disk.volumes[0].letter = L'K';
    other.disk.volumes[0].label = L"Backup";
    machine.putFile(other.path, "");
    machine.model().vdisks.push_back(other);
    ASSERT_EQ(RunDiskpartScript("select vdisk file=\"D:\\vd\\other.vhdx\"\r\nattach vdisk\r\nexit\r\n"),
              ScriptOutcome::DiskpartSucceeded);
    // Listed while both are attached, then the drive is detached: its section follows the other's.
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Letter"), L"K:");
    EXPECT_EQ(machine.iniText(kPartitionIni, L"3", L"Letter"), L"Z:");

    const std::size_t runs = runCount();
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(runCount(), runs + 1);
    EXPECT_TRUE(machine.vdisk(kVhdx)->attached);
    wchar_t letter[260] = L"";
    EXPECT_EQ(PH_GetVHDXVolumeLabel(kVhdx, letter), 1);
    EXPECT_EQ(std::wstring(letter), L"Z:");
}

}  // namespace
}  // namespace kvph::test
