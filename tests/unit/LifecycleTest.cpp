// The VHDX drive's life on the simulated machine, seen through its files, scripts, registry and log.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "FrameFixture.h"
#include "HostMachine.h"
#include "KvPartitionHelper.h"
#include "frame/DiskpartRunner.h"
#include "lifecycle/SizeSettings.h"
#include "sim/MachineBuilder.h"
#include "sim/windows/Text.h"

namespace kvph::test {
namespace {

using namespace drive;
constexpr std::uint32_t kBusy = 0x80070020u;
constexpr std::uint64_t kSectorsPerMiB = 2048;

std::string onVdisk(const std::string& path, const char* commands) {
    return "select vdisk file=\"" + path + "\"\r\n" + commands + "exit\r\n";
}
const std::string kAttach = onVdisk("D:\\vd\\drive.vhdx", "attach vdisk\r\n");
const std::string kAttachReadOnly = onVdisk("D:\\vd\\drive.vhdx", "attach vdisk readonly\r\n");
const std::string kDetach = onVdisk("D:\\vd\\drive.vhdx", "detach vdisk\r\n");
constexpr char kExtend[] = "select disk=\"2\"\r\nselect partition=\"1\"\r\nextend\r\nexit\r\n";
// What the size decision says.
constexpr wchar_t kSimilar[] = L"(KvPartitionHelper)quite similar, represents the same.\r\n";
constexpr wchar_t kBigger[] = L"(KvPartitionHelper)new size is bigger, we should expand the VHDX.\r\n";
constexpr wchar_t kSmaller[] = L"(KvPartitionHelper)new size is smaller, we should shrink the VHDX.\r\n";
constexpr wchar_t kNew[] = L"(KvPartitionHelper)not existed before, represents the same.\r\n";
constexpr wchar_t kFreeUnknown[] =
    L"(KvPartitionHelper)free space of the VHDX's drive is unknown, represents the same.\r\n";
constexpr wchar_t kFileUnknown[] =
    L"(KvPartitionHelper)size of the VHDX file is unknown, represents the same.\r\n";
constexpr wchar_t kCapUnknown[] = L"(KvPartitionHelper)size cap is unknown, the VHDX is not expanded.\r\n";
constexpr wchar_t kTooLarge[] =
    L"(KvPartitionHelper)new size is beyond 2147483647 MB, represents the same.\r\n";

// Remembers the AutoRun value each started diskpart saw and the steps of a call in their order, and can
// make a diskpart start throw.
class LifecycleMachine : public TestMachine {
public:
    explicit LifecycleMachine(sim::MachineModel model) { this->model() = std::move(model); }

    ProcessOutcome createProcessAndWait(const std::wstring& applicationName, const std::wstring& commandLine,
                                        std::uint32_t flags) override {
        autoRunDuringRuns.push_back(autoRun());
        steps.push_back("diskpart sees " + autoRunText(autoRunDuringRuns.back()));
        if (throwAtRun == autoRunDuringRuns.size()) {
            throw std::bad_alloc();
        }
        if (letterTakenAtRun != 0) {
            model().letters.push_back(std::exchange(letterTakenAtRun, L'\0'));
        }
        return TestMachine::createProcessAndWait(applicationName, commandLine, flags);
    }
    HandleResult createFileW(const std::wstring& path, std::uint32_t access, std::uint32_t sharing,
                             std::uint32_t disposition, std::uint32_t attributes,
                             const std::wstring& security = std::wstring()) override {
        if (path == kScriptFile) {
            steps.push_back("script created");
        }
        return TestMachine::createFileW(path, access, sharing, disposition, attributes, security);
    }
    void outputDebugStringA(const std::string& message) override {
        steps.push_back("echo " + message);
        TestMachine::outputDebugStringA(message);
    }
    std::uint32_t regSetValueExDword(Handle key, const std::wstring& name, std::uint32_t value) override {
        steps.push_back("AutoRun " + autoRunText(value));
        return TestMachine::regSetValueExDword(key, name, value);
    }
    void sleep(std::uint32_t milliseconds) override {
        steps.push_back(std::to_string(milliseconds) + " ms");
        TestMachine::sleep(milliseconds);
    }
    BoolResult moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                           std::uint32_t flags) override {
        if (replacement == kPartitionIni) {
            steps.push_back("listing");
        }
        return TestMachine::moveFileExW(existing, replacement, flags);
    }

    std::optional<std::uint32_t> autoRun() const { return autoRunOf(*this).second; }
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

    static std::string autoRunText(std::optional<std::uint32_t> value) {
        return value ? std::to_string(*value) : "absent";
    }

    std::vector<std::optional<std::uint32_t>> autoRunDuringRuns;
    std::vector<std::string> steps;
    std::size_t throwAtRun = 0;    // 1-based: the diskpart start that throws instead; 0: none
    wchar_t letterTakenAtRun = 0;  // a letter another device takes as the next diskpart starts
};

// A system disk C: and a data disk whose D: holds the VHDX drive's file; AutoRun policy 0x91.
sim::MachineModel hostMachine() {
    sim::MachineModel model = withHostFolders(hostDisks().build());
    model.registry[kAutoRunKey].dwords[kAutoRunValue] = 0x91;
    return model;
}

class LifecycleTest : public ::testing::Test {
protected:
    bool logged(const std::wstring& line) const {
        const auto lines = machine.logTexts();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::size_t runCount() const { return machine.diskpartRuns().size(); }
    std::string lastScript() const {
        return machine.diskpartRuns().empty() ? "" : machine.diskpartRuns().back().script;
    }
    std::vector<std::string> scriptsSince(std::size_t runs) const {
        const std::vector<std::string> scripts = machine.scripts();
        return {scripts.begin() + static_cast<std::ptrdiff_t>(runs), scripts.end()};
    }
    std::uint64_t freeOnD() const { return machine.model().disks[1].volumes[0].freeBytes; }
    void createDrive() {
        ASSERT_EQ(PH_CreateVHDX(kVhdx, L"Duskvale", 20480, 1), 1);
        machine.clearLog();
    }

    LifecycleMachine machine{hostMachine()};
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
    EXPECT_EQ(machine.iniText(kUserDataIni, L"Main", L"Disk"), L"2");
    EXPECT_EQ(machine.iniText(kUserDataIni, L"Main", L"Partition"), L"1");
    ASSERT_NE(machine.vdisk(kVhdx), nullptr);
    EXPECT_FALSE(machine.vdisk(kVhdx)->attached);
    EXPECT_EQ(machine.steps, (std::vector<std::string>{"script created", "diskpart sees 145", "listing",
                                                       "1000 ms", "script created", "diskpart sees 145"}));
    // An expandable file starts small and grows with what its volume holds once detached.
    EXPECT_LT(freeBefore - freeOnD(), 300 * sim::kMiB);
    EXPECT_GT(freeBefore - freeOnD(), 0u);

    // A fixed drive without a cap asks for all the free space of the drive that holds it, and takes it.
    machine.model().disks[1].volumes[0].freeBytes = 30000 * sim::kMiB;
    ASSERT_EQ(PH_CreateVHDX(L"D:\\vd\\fixed.vhdx", L"Duskvale", 0, 0), 1);
    EXPECT_NE(machine.scripts().at(2).find("type=fixed maximum=30000\r\n"), std::string::npos);
    EXPECT_EQ(machine.iniText(kMaxSizeIni, L"Main", L"Size"), L"0");
    EXPECT_EQ(freeOnD(), 0u);
}

TEST_F(LifecycleTest, WholeLifeAttachResizeQueryCompactAndRemove) {
    ASSERT_NO_FATAL_FAILURE(createDrive());
    const std::size_t created = runCount();

    SCOPED_TRACE("plain attach: the size is similar");
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(scriptsSince(created), std::vector<std::string>{kAttach});
    EXPECT_EQ(machine.autoRunDuringRuns.back(), 255u);
    EXPECT_EQ(machine.autoRun(), 0x91u);

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
              onVdisk("D:\\vd\\drive.vhdx", "compact vdisk\r\ndetach vdisk\r\nattach vdisk\r\n"));
    EXPECT_TRUE(machine.vdisk(kVhdx)->attached);
    EXPECT_FALSE(machine.vdisk(kVhdx)->readOnly);

    SCOPED_TRACE("expand then extend when more room is allowed, also for \".VHDX\"");
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 0), 1);
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=25000\r\n", 0x2);
    machine.steps.clear();
    const std::size_t runs = runCount();
    const std::string expand =
        onVdisk("D:\\vd\\drive.VHDX", "expand vdisk maximum=25000\r\nattach vdisk\r\n");
    ASSERT_EQ(PH_AttachVHDX(L"D:\\vd\\drive.VHDX", 1), 1);
    EXPECT_EQ(machine.steps,
              (std::vector<std::string>{"script created", "echo " + expand, "AutoRun 255", "500 ms",
                                        "diskpart sees 255", "script created", "diskpart sees 255", "listing",
                                        "AutoRun 145", "250 ms"}));
    EXPECT_EQ(scriptsSince(runs), (std::vector<std::string>{expand, kExtend}));
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Total MB"), L"24999");

    SCOPED_TRACE("shrink when the cap is lowered");
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 0), 1);
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=22000\r\n", 0x2);
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(lastScript(),
              "select disk=\"2\"\r\nselect partition=\"1\"\r\nshrink desired=\"2999\"\r\nexit\r\n");
    EXPECT_EQ(machine.iniText(kPartitionIni, L"2", L"Total MB"), L"22000");

    SCOPED_TRACE("queries");
    EXPECT_EQ(PH_CheckExistVHDX(kVhdx), 1);
    wchar_t letter[260] = L"";
    EXPECT_EQ(PH_GetVHDXVolumeLabel(kVhdx, letter), 1);
    EXPECT_EQ(std::wstring(letter), L"Z:");

    SCOPED_TRACE("detach with removal, the host having moved to a new drive");
    const wchar_t fresh[] = L"D:\\vd\\new.vhdx";
    ASSERT_EQ(PH_CreateVHDX(fresh, L"Duskvale", 20480, 1), 1);
    const std::uint64_t freeBefore = freeOnD();
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 1), 1);
    EXPECT_FALSE(machine.fileExists(kVhdx));
    EXPECT_FALSE(machine.fileExists(kPartitionIni));
    EXPECT_FALSE(machine.fileExists(kMaxSizeIni));
    EXPECT_TRUE(machine.fileExists(kUserDataIni));
    EXPECT_EQ(machine.vdisk(kVhdx), nullptr);
    EXPECT_GT(freeOnD(), freeBefore);

    SCOPED_TRACE("the new drive, its cap gone with the old drive's removal, is never grown into all of D:");
    ASSERT_EQ(PH_AttachVHDX(fresh, 0), 1);
    ASSERT_EQ(PH_DetachVHDX(fresh, 0), 1);
    EXPECT_EQ(PH_AttachVHDX(fresh, 0), 1);
    EXPECT_TRUE(logged(kCapUnknown));
    EXPECT_EQ(machine.vdisk(fresh)->maximumMB, 20480);

    // The log names each step of the life in its own words.
    for (const wchar_t* line :
         {L"(KvPartitionHelper)diskpart create vhdx successfully.",
          L"(KvPartitionHelper)diskpart detach successfully.",
          L"(KvPartitionHelper)diskpart attach successfully.",
          L"(KvPartitionHelper)success attach, size is similar.",
          L"(KvPartitionHelper)new size is bigger, we should expand the VHDX.\r\n",
          L"(KvPartitionHelper)diskpart expand successfully.",
          L"(KvPartitionHelper)success attach and expand.", L"(KvPartitionHelper)success attach and shrink.",
          L"(KvPartitionHelper)diskpart compact successfully."}) {
        EXPECT_TRUE(logged(line)) << sim::text::narrow(line);
    }
}

// The drive's file holds 1000 MB; E: is the volume recorded for it.
struct SizeCase {
    const char* name;
    std::optional<std::uint64_t> freeMB;  // nullopt: the free-space query fails
    const char* cap;                      // MaxSize.ini's "Size"; nullptr: no MaxSize.ini
    std::string partitionIni;             // empty: no Partition.ini
    int result;
    std::uint32_t newSize;  // 77: left as it was
    std::vector<std::wstring> log;
    const wchar_t* letter = L"E:";
    const wchar_t* vhdxPath = kVhdx;
    std::uint32_t fileSizeError = 0;  // the error reading the file's size fails with; 0: it is read
};

std::string recorded(const char* totalMB) {
    return std::string("[0]\r\nLetter=E:\r\nTotal MB=") + totalMB + "\r\n[Main]\r\nCount=1\r\n";
}

const std::string kE4991 =
    "[0]\r\nLetter=C:\r\nTotal MB=1\r\n[1]\r\nLetter=E:\r\nTotal MB=4991\r\n[Main]\r\nCount=2\r\n";
const std::string kE4990 = recorded("4990");
const std::string kE5000 = recorded("5000");
const std::string kEMinus5 = recorded("-5");
const std::string kEWrapping = recorded("3000000000");
const std::string kETrailing = recorded("4990MB");
std::wstring badNumber(const wchar_t* file, const wchar_t* key, const wchar_t* text) {
    return std::wstring(L"(KvPartitionHelper)") + file + L": \"" + key + L"\" is \"" + text +
           L"\", not a whole number from 0 to 2147483647; ignored.\r\n";
}
std::wstring badCap(const wchar_t* text) {
    return badNumber(L"MaxSize.ini", L"Size", text);
}
std::wstring badTotal(const wchar_t* text) {
    return badNumber(L"Partition.ini", L"Total MB", text);
}

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class CompareSizeTest : public LifecycleTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(CompareSizeTest, DecidesBetweenKeepingExpandingAndShrinking) {
    const SizeCase& c = GetParam();
    machine.model().disks[1].volumes[0].freeBytes = c.freeMB.value_or(0) * sim::kMiB + 12345;
    if (!c.freeMB) {
        machine.injectFault({"getDiskFreeSpaceExW", 21, 0, 1, L""});
    }
    if (c.fileSizeError != 0) {
        machine.injectFault(sim::Fault{"getFileAttributesExW", c.fileSizeError, 0, 1, {}});
    }
    machine.putFolder(L"D:\\vd");
    machine.putFile(kVhdx, "");
    machine.model().files[sim::Machine::pathKey(kVhdx)].logicalSize = 1000 * sim::kMiB + 99;
    if (c.cap != nullptr) {
        machine.putFile(kMaxSizeIni, std::string("[Main]\r\nSize=") + c.cap + "\r\n", 0x2);
    }
    if (!c.partitionIni.empty()) {
        machine.putFile(kPartitionIni, c.partitionIni);
    }
    std::uint32_t newSize = 77;
    EXPECT_EQ(CompareVHDXSize(c.vhdxPath, c.letter, &newSize), c.result);
    EXPECT_EQ(newSize, c.newSize);
    EXPECT_EQ(machine.logTexts(), c.log);
    EXPECT_EQ(machine.fileAttributes(kPartitionIni),
              !c.partitionIni.empty() ? std::optional<std::uint32_t>(0x6) : std::nullopt);
}

const SizeCase kSizeCases[] = {
    {"NineMegabytesAreSimilar", 4000, nullptr, kE4991, 0, 77, {kSimilar}},
    {"TenMegabytesExpand", 4000, "0", kE4990, 10, 5000, {kBigger}},
    {"LessRoomShrinks", 3000, nullptr, kE5000, -1000, 77, {kSmaller}},
    {"CapMakesItShrink", 7000, "3000", kE5000, -2000, 77, {kSmaller}},
    {"CapOfZeroIsNoCap", 7000, "0", kE5000, 3000, 8000, {kBigger}},
    {"NegativeCapIsNoCap", 7000, "-1", kE5000, 3000, 8000, {kBigger}},
    {"NoCapFileIsNoExpand", 7000, nullptr, kE5000, 0, 77, {kCapUnknown}},
    {"TextCapIsNoExpand", 7000, "abc", kE5000, 0, 77, {badCap(L"abc"), kCapUnknown}},
    {"TooLargeCapStillShrinks", 1000, "4294967297", kE5000, -3000, 77, {badCap(L"4294967297"), kSmaller}},
    {"FileSizeUnreadable", 4000, "0", kE5000, 0, 77, {kFileUnknown}, L"E:", kVhdx, 5},
    {"FileNotThereHoldsNothing", 4000, "0", kE5000, -1000, 77, {kSmaller}, L"E:", kVhdx, 2},
    {"NegativeTotalIsNoRecord", 4000, nullptr, kEMinus5, 0, 77, {badTotal(L"-5"), kNew}},
    {"WrappingTotalIsNoRecord", 4000, nullptr, kEWrapping, 0, 77, {badTotal(L"3000000000"), kNew}},
    {"TotalWithTrailingTextIsNoRecord", 4000, nullptr, kETrailing, 0, 77, {badTotal(L"4990MB"), kNew}},
    {"NewSizeBeyondWhatAScriptTakes", 2147483647, "0", kE5000, 0, 77, {kTooLarge}},
    {"FreeSpaceUnreadable", std::nullopt, nullptr, kE5000, 0, 77, {kFreeUnknown}},
    {"UncPath", 4000, nullptr, kE5000, 0, 77, {kFreeUnknown}, L"E:", L"\\\\server\\share\\drive.vhdx"},
    {"NoDriveComponent", 4000, nullptr, kE5000, 0, 77, {kFreeUnknown}, L"E:", L"vd\\drive.vhdx"},
    {"LetterWithoutColonMatchesInAnyCase", 4000, "0", kE4990, 10, 5000, {kBigger}, L"e"},
    {"LetterWithBackslashDoesNotMatch", 4000, nullptr, kE4990, 0, 77, {kNew}, L"E:\\"},
    {"EmptyLetterMatchesNothing", 4000, nullptr, kE4990, 0, 77, {kNew}, L""},
    {"NoInventory", 4000, nullptr, "", 0, 77, {kNew}},
};

INSTANTIATE_TEST_SUITE_P(Table, CompareSizeTest, ::testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The AutoRun policy an attach finds, with or without the journal of an attach killed before it put the
// policy back: diskpart sees 255, and afterwards the policy is as it was before any attach (a journal is
// acted on while the policy is still as its attach may have left it; the killed calls test has the
// journals such an attach leaves, these rows the ones it cannot).
struct PolicyCase {
    const char* name;
    AutoRunState before;
    AutoRunState after;
    std::string journal = {};  // empty: none
    const wchar_t* line = nullptr;
};

void PrintTo(const PolicyCase& c, std::ostream* os) {
    *os << c.name;
}

std::string journal(int keyExisted, int valueExisted, const char* value) {
    return "[Main]\r\nKeyExisted=" + std::to_string(keyExisted) +
           "\r\nValueExisted=" + std::to_string(valueExisted) + "\r\nValue=" + value + "\r\n";
}

constexpr wchar_t kPutBack[] =
    L"(KvPartitionHelper)AutoRun policy put back as it was before an unfinished attach.\r\n";
constexpr wchar_t kUnreadable[] =
    L"(KvPartitionHelper)AutoRun journal cannot be read; the policy is left as it is.\r\n";

class AutoRunRestoreTest : public LifecycleTest, public ::testing::WithParamInterface<PolicyCase> {};

TEST_P(AutoRunRestoreTest, DiskpartSeesAutoRunOffAndThePolicyIsRestoredExactly) {
    const PolicyCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(createDrive());
    auto& registry = machine.model().registry;
    registry.erase(kAutoRunKey);
    if (c.before.first) {
        auto& key = registry[kAutoRunKey];
        if (c.before.second) {
            key.dwords[kAutoRunValue] = *c.before.second;
        }
    }
    if (!c.journal.empty()) {
        machine.putFile(kJournal, c.journal);
    }
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(machine.autoRunDuringRuns.back(), 255u);
    EXPECT_EQ(autoRunOf(machine), c.after);
    EXPECT_EQ(logged(kPutBack), c.line == kPutBack);
    EXPECT_EQ(logged(kUnreadable), c.line == kUnreadable);
    EXPECT_FALSE(machine.fileExists(kJournal));
    EXPECT_EQ(machine.sleeps().back(), 250u);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    States, AutoRunRestoreTest,
    ::testing::Values(
        PolicyCase{"Value0x91", {true, 0x91}, {true, 0x91}},
        PolicyCase{"ValueAbsent", {true, std::nullopt}, {true, std::nullopt}},
        PolicyCase{"KeyAbsent", {false, std::nullopt}, {false, std::nullopt}},
        PolicyCase{"ValueAllOnes", {true, 0xFFFFFFFFu}, {true, 0xFFFFFFFFu}},
        PolicyCase{"JournalOfAnAddedValue", {true, 255}, {true, std::nullopt}, journal(1, 0, "0"), kPutBack},
        PolicyCase{"JournalOfAPolicySetSince", {true, 0x91}, {true, 0x91}, journal(1, 1, "145")},
        PolicyCase{"JournalWithoutValue", {true, 255}, {true, 255}, journal(1, 1, ""), kUnreadable},
        PolicyCase{"JournalValueWithoutKey", {true, 255}, {true, 255}, journal(0, 1, "145"), kUnreadable}),
    [](const auto& info) { return std::string(info.param.name); });

// A journal whose policy could not be put back stays, and an attach meanwhile leaves the policy alone
// rather than take the 255 it finds for the policy to put back.
TEST_F(LifecycleTest, AJournalThatCouldNotBePutBackWaitsForTheNextCall) {
    ASSERT_NO_FATAL_FAILURE(createDrive());
    machine.model().registry[kAutoRunKey].dwords[kAutoRunValue] = 255;
    machine.putFile(kJournal, journal(1, 1, "145"));
    machine.injectFault(sim::Fault{"regOpenKeyExW", 5, 0, 1, {}});
    EXPECT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(machine.callCounts().count("regSetValueExDword"), 0u);
    EXPECT_EQ(PH_ListFixedPartition(), 1);
    EXPECT_EQ(machine.autoRun(), 145u);
    EXPECT_FALSE(machine.fileExists(kJournal));
}

// An attach that diskpart fails is retried through a detach, unless it was a .vhdx that needed a shrink,
// and the retry decides the result; a file of another type is never resized. AutoRun stays off for every
// run of the attach and is put back, also when the retry throws.
struct FailedAttach {
    const char* name;
    bool vhd;         // the file is D:\\vd\\old.vhd, else the drive's
    const char* cap;  // MaxSize.ini's "Size"
    std::vector<std::uint32_t> exitCodes;
    int result;
    std::vector<std::string> scripts;
    std::size_t throwAtRun = 0;  // the run of the attach's own that throws; 0: none
};

void PrintTo(const FailedAttach& c, std::ostream* os) {
    *os << c.name;
}

class FailedAttachTest : public LifecycleTest, public ::testing::WithParamInterface<FailedAttach> {};

TEST_P(FailedAttachTest, IsRetriedWhereItMayBeAndAutoRunIsPutBack) {
    const FailedAttach& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(createDrive());
    machine.putFile(L"D:\\vd\\old.vhd", "");
    machine.putFile(kMaxSizeIni, std::string("[Main]\r\nSize=") + c.cap + "\r\n", 0x2);
    machine.model().diskpart.exitCodes = c.exitCodes;
    const std::size_t runs = runCount();
    const std::size_t starts = machine.autoRunDuringRuns.size();
    machine.throwAtRun = c.throwAtRun == 0 ? 0 : starts + c.throwAtRun;
    EXPECT_EQ(PH_AttachVHDX(c.vhd ? L"D:\\vd\\old.vhd" : kVhdx, 1), c.result);
    EXPECT_EQ(scriptsSince(runs), c.scripts);
    EXPECT_EQ(std::count(machine.sleeps().begin(), machine.sleeps().end(), 3000u),
              c.scripts.size() > 2 ? 1 : 0);
    EXPECT_TRUE(std::all_of(machine.autoRunDuringRuns.begin() + static_cast<std::ptrdiff_t>(starts),
                            machine.autoRunDuringRuns.end(), [](auto seen) { return seen == 255u; }));
    EXPECT_EQ(machine.autoRun(), 0x91u);
    EXPECT_EQ(machine.sleeps().back(), 250u);
}

const std::string kVhdAttach = onVdisk("D:\\vd\\old.vhd", "attach vdisk readonly\r\n");
const std::string kVhdDetach = onVdisk("D:\\vd\\old.vhd", "detach vdisk\r\n");
const FailedAttach kFailedAttaches[] = {
    {"VhdxRetried", false, "20480", {kBusy}, 1, {kAttachReadOnly, kDetach, kAttachReadOnly, kExtend}},
    {"VhdxThatNeededAShrinkIsNotRetried", false, "10000", {kBusy}, 0, {kAttachReadOnly}},
    // The cap would have a .vhdx expanded.
    {"VhdRetriedUnresized", true, "25000", {kBusy, 0, kBusy}, 0, {kVhdAttach, kVhdDetach, kVhdAttach}},
    {"ErrorInTheRetry", false, "20480", {kBusy}, 0, {kAttachReadOnly}, 2},
};

INSTANTIATE_TEST_SUITE_P(Table, FailedAttachTest, ::testing::ValuesIn(kFailedAttaches),
                         [](const auto& info) { return std::string(info.param.name); });

// UserData.ini is written only where its folder is protected; RecordDiskPartition says when it was not.
TEST_F(LifecycleTest, RecordDiskPartitionFailsWhenUserDataIniCannotBeWritten) {
    EXPECT_EQ(RecordDiskPartition(L"D:"), 1);
    EXPECT_EQ(machine.iniText(kUserDataIni, L"Main", L"Disk"), L"1");
    for (const char* method : {"createDirectoryW", "setNamedSecurityInfoW", "writePrivateProfileStringW"}) {
        machine.injectFault({method, 5, 0, -1, L""});
        EXPECT_EQ(RecordDiskPartition(L"D:"), 0) << method;
        machine.clearFaults();
    }
}

// A removal whose detach diskpart refuses removes nothing of an attached drive, and all of a drive that is
// detached already.
TEST_F(LifecycleTest, FailedDetachRemovesOnlyADetachedDriveAndAFailedCompactionStillLists) {
    ASSERT_NO_FATAL_FAILURE(createDrive());
    ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
    machine.model().diskpart.exitCodes = {kBusy};
    EXPECT_EQ(PH_DetachVHDX(kVhdx, 1), 0);
    EXPECT_TRUE(machine.fileExists(kVhdx));
    EXPECT_TRUE(machine.fileExists(kPartitionIni));
    EXPECT_TRUE(machine.fileExists(kMaxSizeIni));

    machine.putFile(kPartitionIni, "[Main]\r\nCount=0\r\n");
    machine.model().diskpart.exitCodes = {kBusy};
    EXPECT_EQ(PH_CompactThenAttachVHDX(kVhdx), 0);
    EXPECT_EQ(machine.iniText(kPartitionIni, L"Main", L"Count"), L"3");

    // Without the drive's section the detach still runs, and the volume recorded before stays recorded.
    machine.putFile(kPartitionIni, "[Main]\r\nCount=0\r\n");
    machine.putFile(kUserDataIni, "[Main]\r\nDisk=7\r\nPartition=9\r\n");
    ASSERT_EQ(PH_DetachVHDX(kVhdx, 0), 1);
    EXPECT_EQ(lastScript(), kDetach);
    EXPECT_EQ(machine.fileBytes(kUserDataIni), "[Main]\r\nDisk=7\r\nPartition=9\r\n");
    EXPECT_EQ(PH_DetachVHDX(kVhdx, 0), 0);
    EXPECT_EQ(PH_DetachVHDX(kVhdx, 1), 1);
    for (const wchar_t* removed : {kVhdx, kPartitionIni, kMaxSizeIni}) {
        EXPECT_FALSE(machine.fileExists(removed));
    }
}

// A creation that diskpart fails half-way leaves nothing of it, and its retry works: Z:, free when it was
// chosen, is taken by another device before the script assigns it.
TEST_F(LifecycleTest, AFailedCreationLeavesNoFileNoFolderAndTheSizeCapAsItWas) {
    const wchar_t path[] = L"D:\\new\\vd\\drive.vhdx";
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=7\r\n", 0x2);  // an older drive's
    machine.letterTakenAtRun = L'Z';
    EXPECT_EQ(PH_CreateVHDX(path, L"Duskvale", 20480, 1), 0);
    EXPECT_FALSE(machine.fileExists(path));
    EXPECT_EQ(machine.vdisk(path), nullptr);
    EXPECT_FALSE(machine.pathFileExistsW(L"D:\\new"));
    EXPECT_EQ(machine.fileBytes(kMaxSizeIni), "[Main]\r\nSize=7\r\n");
    EXPECT_EQ(machine.fileAttributes(kMaxSizeIni), 0x2u);
    EXPECT_EQ(PH_CreateVHDX(path, L"Duskvale", 20480, 1), 1);
}

// Whatever would refuse a create, or make it certainly fail, is found before anything changes.
struct CreateRefusal {
    const char* name;
    std::wstring path;
    bool fileExists;
    bool everyLetterTaken;
    int maximumMB;
    const wchar_t* label = L"Duskvale";
    const wchar_t* unmakeableFolder = L"";  // a folder along the path whose making fails
};

void PrintTo(const CreateRefusal& c, std::ostream* os) {
    *os << c.name;
}

class CreateRefusalTest : public LifecycleTest, public ::testing::WithParamInterface<CreateRefusal> {};

TEST_P(CreateRefusalTest, RefusesWithOneLineBeforeAnyFolderIniFileOrScript) {
    const CreateRefusal& c = GetParam();
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=20480\r\n", 0x2);
    const std::wstring folder = c.path.substr(0, c.path.rfind(L'\\'));
    const std::wstring outermostFolder = c.path.substr(0, c.path.find(L'\\', 3));
    if (c.fileExists) {
        machine.putFolder(folder);
        machine.putFile(c.path, "data");
    }
    // Z: is held by an empty card reader: no path "Z:" exists, yet the letter is taken.
    for (wchar_t letter = L'E'; c.everyLetterTaken && letter <= L'Z'; ++letter) {
        (letter == L'Z' ? machine.model().notReadyLetters : machine.model().letters).push_back(letter);
    }
    if (*c.unmakeableFolder != L'\0') {
        machine.injectFault(sim::Fault{"wmkdir", 5, 0, 1, c.unmakeableFolder});
    }
    EXPECT_EQ(PH_CreateVHDX(c.path.c_str(), c.label, c.maximumMB, 1), 0);
    EXPECT_EQ(machine.logTexts().size(), 1u);
    EXPECT_EQ(runCount(), 0u);
    EXPECT_EQ(machine.iniText(kMaxSizeIni, L"Main", L"Size"), L"20480");
    EXPECT_EQ(machine.pathFileExistsW(outermostFolder), c.fileExists);
    EXPECT_FALSE(machine.fileExists(kScriptFile));
    EXPECT_FALSE(machine.fileExists(kPartitionIni));
}

const CreateRefusal kCreateRefusals[] = {
    {"FileExists", kVhdx, true, false, 1000},
    {"ScriptTooLong", L"D:\\" + std::wstring(190, L'v') + L"\\drive.vhdx", false, false, 1000},
    {"NoFreeLetter", L"D:\\new\\drive.vhdx", false, true, 1000},
    // No cap, and Q: is no volume whose free space could size the drive.
    {"NoSizeKnown", L"Q:\\new\\drive.vhdx", false, false, 0},
    {"NoSuchDrive", L"Q:\\new\\drive.vhdx", false, false, 1000},
    {"FolderCannotBeMade", L"D:\\new\\inner\\drive.vhdx", false, false, 1000, L"Duskvale", L"inner"},
    {"LabelLongerThanNtfsTakes", kVhdx, false, false, 1000, L"A label of thirty-six letters, sorry"},
};

INSTANTIATE_TEST_SUITE_P(Table, CreateRefusalTest, ::testing::ValuesIn(kCreateRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// What holds the letter recorded for the drive while it is detached (a disk, a network drive, another
// virtual disk), or the drive itself attached there or elsewhere. diskpart's listing says whether the path
// asked for is attached; without it (diskpart fails) the letter's disk and label decide.
enum class Holder { OpenedDisk, UnopenedDisk, NetworkDrive, OtherVhdx, Drive, DriveElsewhere, DriveAndStick };
enum class Listing { Fails, English, Invented };
enum class Outcome { FastPath, AttachedElsewhere, PlainAttach };
struct LetterHolder {
    const char* name;
    Holder holder;
    Listing listing;
    Outcome outcome;
    std::optional<std::uint32_t> bus = 15;  // nullopt: the drive does not answer the property query
    const wchar_t* label = L"";
    const wchar_t* recordedLabel = nullptr;  // nullptr: the label the creation recorded
    const wchar_t* asked = kVhdx;
};

void PrintTo(const LetterHolder& c, std::ostream* os) {
    *os << c.name;
}

class RecordedLetterTest : public LifecycleTest, public ::testing::WithParamInterface<LetterHolder> {
protected:
    void addDisk(const LetterHolder& c, int number = 3, wchar_t letter = L'Z') {
        sim::MachineBuilder disk;
        disk.mbrDisk(number, 16 * sim::kGiB)
            .primary(2048, 8 * sim::kGiB / 512, 0x07)
            .volume(letter, L"NTFS", c.label);
        disk.bus(c.bus);
        if (c.holder == Holder::UnopenedDisk) {
            disk.failOpen();
        }
        machine.model().disks.push_back(disk.build().disks.at(0));
    }
    void arrange(const LetterHolder& c) {
        switch (c.holder) {
            case Holder::NetworkDrive:
                machine.model().letters.push_back(L'Z');
                break;
            case Holder::OtherVhdx:
                ASSERT_EQ(RunDiskpartScript(
                              "create vdisk file=\"D:\\vd\\backup.vhdx\" maximum=100 type=expandable\r\n"
                              "attach vdisk\r\ncreate partition primary\r\nformat quick fs=ntfs "
                              "label=\"Backup\"\r\nassign letter=\"Z:\"\r\nexit\r\n"),
                          ScriptOutcome::DiskpartSucceeded);
                break;
            case Holder::Drive:
                ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
                machine.model().vdisks.at(0).disk.volumes.at(0).label = c.label;
                RunDiskpartScript("create vdisk file=\"D:\\vd\\second.vhdx\" maximum=100\r\nexit\r\n");
                break;
            case Holder::DriveElsewhere:  // attached while Z: was taken, not listed since
                addDisk(c);
                ASSERT_EQ(RunDiskpartScript(std::string(kAttach)), ScriptOutcome::DiskpartSucceeded);
                break;
            case Holder::DriveAndStick:  // a stick with the drive's label listed before the drive
                addDisk(c, 2, L'F');
                ASSERT_EQ(PH_AttachVHDX(kVhdx, 0), 1);
                break;
            default:
                addDisk(c);
        }
    }
};

TEST_P(RecordedLetterTest, TakesTheFastPathOnlyForTheDrivesOwnVolume) {
    const LetterHolder& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(createDrive());
    machine.putFile(kMaxSizeIni, "[Main]\r\nSize=10000\r\n", 0x2);  // a shrink would be due
    arrange(c);
    if (c.recordedLabel != nullptr) {
        machine.writePrivateProfileStringW(L"2", L"Label Name", c.recordedLabel, kPartitionIni);
    }
    machine.model().diskpart.exitCodes = {c.listing == Listing::Fails ? 5u : 0u};
    if (c.listing == Listing::Invented) {
        machine.model().diskpart.words = inventedListWords();
    }
    machine.clearLog();
    machine.resetCallCounts();
    const std::size_t runs = runCount();
    EXPECT_EQ(PH_AttachVHDX(c.asked, 1), 1);
    std::vector<std::string> expected = {"list vdisk\r\nexit\r\n"};
    if (c.outcome == Outcome::PlainAttach) {
        expected.push_back(onVdisk(sim::text::narrow(c.asked), "attach vdisk readonly\r\n"));
    }
    EXPECT_EQ(scriptsSince(runs), expected);
    const auto lines = machine.logTexts();
    const auto count = [&lines](const wchar_t* text) {
        return std::count_if(lines.begin(), lines.end(), [text](const std::wstring& line) {
            return line.find(text) != std::wstring::npos;
        });
    };
    EXPECT_EQ(count(L" is not the VHDX drive's volume; attaching without a resize."),
              c.outcome == Outcome::PlainAttach ? 1 : 0);
    EXPECT_EQ(count(L"the VHDX is attached already, but its volume is not "),
              c.outcome == Outcome::AttachedElsewhere ? 1 : 0);
    EXPECT_EQ(machine.callCounts().count("regCreateKeyExW") != 0, c.outcome == Outcome::PlainAttach);
    EXPECT_EQ(machine.autoRun(), 0x91u);
}

const LetterHolder kLetterHolders[] = {
    // Without a listing, the letter's disk and label judge as before.
    {"UsbStick", Holder::OpenedDisk, Listing::Fails, Outcome::PlainAttach, 7, L"STICK"},
    {"FixedDiskWithTheLabel", Holder::OpenedDisk, Listing::Fails, Outcome::PlainAttach, 11, L"Duskvale"},
    {"NoBusAnswerOtherLabel", Holder::OpenedDisk, Listing::Fails, Outcome::PlainAttach, std::nullopt,
     L"STICK"},
    {"NoBusAnswerTheLabel", Holder::OpenedDisk, Listing::Fails, Outcome::FastPath, std::nullopt, L"Duskvale"},
    {"NetworkDrive", Holder::NetworkDrive, Listing::Fails, Outcome::PlainAttach, 0},
    {"NoDiskOtherLabel", Holder::UnopenedDisk, Listing::Fails, Outcome::PlainAttach, 11, L"Backup"},
    {"NoDiskLabelInOtherCase", Holder::UnopenedDisk, Listing::Fails, Outcome::FastPath, 11, L"DUSKVALE"},
    {"NoDiskNoLabelAsNONAME", Holder::UnopenedDisk, Listing::Fails, Outcome::FastPath, 11, L"", L"NONAME"},
    {"OtherVhdxUnlisted", Holder::OtherVhdx, Listing::Fails, Outcome::FastPath},
    // With a listing, the drive is attached or not whatever holds the letter: the fast path only when it
    // is, and its volume is the one on its own disk.
    {"NoBusAnswerTheLabelListed", Holder::OpenedDisk, Listing::English, Outcome::PlainAttach, std::nullopt,
     L"Duskvale"},
    {"OtherVhdxListed", Holder::OtherVhdx, Listing::English, Outcome::PlainAttach},
    {"RelabelledDriveListed", Holder::Drive, Listing::English, Outcome::FastPath, 15, L"Renamed"},
    {"RelabelledDriveListedInAnotherLanguage", Holder::Drive, Listing::Invented, Outcome::FastPath, 15,
     L"Renamed"},
    {"SecondVhdxWhileTheDriveIsAttached", Holder::Drive, Listing::English, Outcome::PlainAttach, 15,
     L"Duskvale", nullptr, L"D:\\vd\\second.vhdx"},
    {"StickWithTheDrivesLabelWhileTheDriveIsAttached", Holder::DriveAndStick, Listing::English,
     Outcome::FastPath, 7, L"DUSKVALE"},
    {"DriveAttachedElsewhere", Holder::DriveElsewhere, Listing::English, Outcome::AttachedElsewhere, 7,
     L"STICK"},
};

INSTANTIATE_TEST_SUITE_P(Table, RecordedLetterTest, ::testing::ValuesIn(kLetterHolders),
                         [](const auto& info) { return std::string(info.param.name); });

// A volume with unallocated space in front of it: UserData.ini keeps the record's position, the script
// carries diskpart's own number, and the volume behind the gap is the one that changes.
TEST(ResizeNumbering, AGapInFrontOfTheVolumeDoesNotShiftTheSelectedPartition) {
    LifecycleMachine machine(withHostFolders(sim::MachineBuilder()
                                                 .gptDisk(0, 64 * sim::kGiB)
                                                 .basicData(2048, 60 * sim::kGiB / 512)
                                                 .volume(L'C', L"NTFS", L"")
                                                 .mbrDisk(1, 64 * sim::kGiB)
                                                 .primary(2048, 1024 * kSectorsPerMiB, 0x07)
                                                 .volume(L'E', L"NTFS", L"First", 512 * sim::kMiB)
                                                 .primary(4096 * kSectorsPerMiB, 2048 * kSectorsPerMiB, 0x07)
                                                 .volume(L'F', L"NTFS", L"Behind", 1024 * sim::kMiB)
                                                 .build()));
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

}  // namespace
}  // namespace kvph::test
