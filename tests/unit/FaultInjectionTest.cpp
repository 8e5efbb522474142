// Every export on a small machine, run once per seam call it makes with that one call failing: the export
// must return 0 or 1, and leave no handle, key, script or batch file behind, nor the AutoRun policy changed.
// And the exports of the drive's life, run once per seam call with their process killed at that call: a
// fresh library on the machine as the process left it then runs the next export, which must find the
// AutoRun policy as it was, each state file as it was or whole, the VHDX file absent or usable, and must
// give the result the machine then calls for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FrameFixture.h"
#include "HostMachine.h"
#include "KvPartitionHelper.h"
#include "inventory/PartitionInventory.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"
#include "sim/format/MachineJson.h"
#include "sim/windows/Text.h"

namespace kvph::test {
namespace {

using namespace drive;

int create() {
    return PH_CreateVHDX(kVhdx, L"Duskvale", 20480, 1);
}
// The drive's next step: attach it when its file is there, else create it. Either must work whatever call
// was killed.
int nextOfTheDrive(sim::Machine& machine) {
    return machine.fileExists(kVhdx) ? PH_AttachVHDX(kVhdx, 0) : create();
}
int succeeds(const sim::Machine&) {
    return 1;
}

struct Scenario {
    const char* name;
    std::optional<std::uint32_t> autoRun;
    std::function<void()> setup;  // run clean before the call under test
    std::function<int()> call;
    // For the exports of the drive's life, killed at each call: the next export, and the result it must
    // give on the machine the kill left.
    std::function<int(sim::Machine&)> next = nullptr;
    std::function<int(const sim::Machine&)> expected = succeeds;
    bool removesDriveFiles = false;  // Partition.ini and MaxSize.ini may be gone afterwards
};
void attached() {
    create();
    PH_AttachVHDX(kVhdx, 0);
}
// Diskpart compacts a drive attached read-only.
void attachedReadOnly() {
    create();
    PH_AttachVHDX(kVhdx, 1);
}
void nothing() {}
// Where the queries put their answers.
wchar_t letterOut[KVPH_TEXT_UNITS];
int readOnlyOut;

std::vector<Scenario> scenarios() {
    return {
        {"ListFixedPartition", 0x91, nothing, PH_ListFixedPartition,
         [](sim::Machine&) { return PH_ListFixedPartition(); }},
        {"CreateVHDX", 0x91, nothing, create, nextOfTheDrive},
        {"AttachVHDX", 0x91, create, [] { return PH_AttachVHDX(kVhdx, 0); }, nextOfTheDrive},
        // Read-only, and without a policy key, which the attach then creates and must remove again.
        {"AttachVHDX without AutoRun value", std::nullopt, create, [] { return PH_AttachVHDX(kVhdx, 1); },
         nextOfTheDrive},
        {"AttachVHDX and expand", 0x91,
         [] {
             create();
             platform().writePrivateProfileStringW(L"Main", L"Size", L"25000", kMaxSizeIni);  // room to grow
         },
         [] { return PH_AttachVHDX(kVhdx, 0); }, nextOfTheDrive},
        {"AttachVHDX while attached", 0x91, attached, [] { return PH_AttachVHDX(kVhdx, 0); }},
        {"DetachVHDX", 0x91, attached, [] { return PH_DetachVHDX(kVhdx, 0); }, nextOfTheDrive},
        {"DetachVHDX removing files", 0x91, attached, [] { return PH_DetachVHDX(kVhdx, 1); }, nextOfTheDrive,
         succeeds, true},
        {"CheckExistVHDX", 0x91, attached, [] { return PH_CheckExistVHDX(kVhdx); }},
        {"FormatNTFS", 0x91, nothing, [] { return PH_FormatNTFS(L"E:", L"Fresh"); },
         [](sim::Machine&) { return PH_FormatNTFS(L"E:", L"Fresh"); }},
        {"FindUsableLabel", 0x91, nothing, [] { return PH_FindUsableLabel(letterOut); }},
        {"CompactThenAttachVHDX", 0x91, attachedReadOnly, [] { return PH_CompactThenAttachVHDX(kVhdx); },
         nextOfTheDrive},
        {"GetVHDXVolumeLabel", 0x91, attached, [] { return PH_GetVHDXVolumeLabel(kVhdx, letterOut); }},
        {"CheckVHDXReadOnly", 0x91, attached, [] { return PH_CheckVHDXReadOnly(kVhdx, &readOnlyOut); }},
        {"SetHidden", 0x91, nothing, [] { return PH_SetHidden(L"E:"); },
         [](sim::Machine&) { return PH_SetHidden(L"E:"); },
         [](const sim::Machine& m) { return m.model().disks[2].volumes[0].letter ? 1 : 0; }},
        {"SetNonHidden", 0x91, [] { PH_SetHidden(L"E:"); }, [] { return PH_SetNonHidden(L"E:"); },
         [](sim::Machine&) { return PH_SetNonHidden(L"E:"); },
         [](const sim::Machine& m) { return m.model().disks[2].mbr.primary[0].type == 0x1B ? 1 : 0; }},
    };
}

// The errors a failing call of each kind reports; methods that cannot fail in a way the library sees
// (logging, sleeping) or whose failure the simulator models as a handle kept open (closing) are left out.
std::vector<std::uint32_t> errorsFor(const std::string& method) {
    static const std::map<std::string, std::vector<std::uint32_t>> errors = {
        {"createFileW", {5, 112}},     {"createFileA", {5}},
        {"writeFile", {112, 5}},       {"flushFileBuffers", {5}},
        {"createProcessAndWait", {2}}, {"shellExecuteAndWait", {2}},
        {"processWait", {6}},          {"processExitCode", {5}},
        {"deviceIoControl", {1, 21}},  {"getVolumeInformationW", {21}},
        {"getDiskFreeSpaceExW", {21}}, {"writePrivateProfileStringW", {5}},
    };
    static const std::set<std::string> skipped = {"outputDebugStringW", "outputDebugStringA", "sleep",
                                                  "closeHandle",        "regCloseKey",        "ntClose"};
    if (skipped.count(method) != 0) {
        return {};
    }
    auto found = errors.find(method);
    return found != errors.end() ? found->second : std::vector<std::uint32_t>{5};
}

// The first three calls and the last.
std::vector<int> occurrences(int count) {
    std::set<int> picked;
    for (int k = 0; k < std::min(count, 3); ++k) {
        picked.insert(k);
    }
    picked.insert(count - 1);
    return {picked.begin(), picked.end()};
}

struct Outcome {
    int result = -1;
    std::map<std::string, int> counts;
    std::vector<std::string> leftBehind;
};

Outcome runScenario(const Scenario& scenario, const std::optional<sim::Fault>& fault) {
    Outcome outcome;
    sim::Machine machine(smallMachine(scenario.autoRun));
    ScopedPlatform installed{machine};
    PER::DriveManager::ReleaseInstance();
    scenario.setup();
    PER::DriveManager::ReleaseInstance();
    machine.resetCallCounts();
    machine.clearLog();
    const AutoRunState before = autoRunOf(machine);
    if (fault) {
        machine.injectFault(*fault);
    }
    try {
        outcome.result = scenario.call();
    } catch (const std::exception& e) {
        outcome.leftBehind.push_back(std::string("exception: ") + e.what());
    } catch (...) {
        outcome.leftBehind.push_back("an unknown exception");
    }
    machine.clearFaults();
    outcome.counts = machine.callCounts();
    if (outcome.result != 0 && outcome.result != 1) {
        outcome.leftBehind.push_back("result " + std::to_string(outcome.result));
    }
    if (machine.openHandleCount() != 0) {
        outcome.leftBehind.push_back(std::to_string(machine.openHandleCount()) + " open handle(s)");
    }
    // A script whose own deletion is the failing call stays; any other failure must not keep it.
    const bool removalFailed = fault && fault->method.rfind("deleteFile", 0) == 0;
    if (machine.fileExists(kScriptFile) && !removalFailed) {
        outcome.leftBehind.push_back("Command.txt");
    }
    if (machine.fileExists(kBatchFile) && !removalFailed) {
        outcome.leftBehind.push_back("temp.bat");
    }
    if (autoRunOf(machine) != before) {
        outcome.leftBehind.push_back("AutoRun value changed");
    }
    PER::DriveManager::ReleaseInstance();
    return outcome;
}

// Under valgrind the fault tables would take most of the test run: there (KVPH_FAULT_STRIDE=N) each takes
// every Nth point, each scenario from its own offset; the native and sanitized runs take every point.
bool takesPoint(std::size_t scenario, std::uint64_t point) {
    const char* text = std::getenv("KVPH_FAULT_STRIDE");
    const std::uint64_t stride =
        text && std::atoi(text) > 1 ? static_cast<std::uint64_t>(std::atoi(text)) : 1;
    return (point + scenario) % stride == 0;
}

std::string scenarioName(const ::testing::TestParamInfo<std::size_t>& info) {
    std::string name = scenarios()[info.param].name;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

// One row per scenario, so that a sharded run spreads them over its processes.
class EveryCallFailingTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EveryCallFailingTest, TheExportSurvivesEachOfItsCallsFailing) {
    const Scenario scenario = scenarios()[GetParam()];
    const Outcome clean = runScenario(scenario, std::nullopt);
    ASSERT_EQ(clean.result, 1) << "the scenario must succeed without faults";
    ASSERT_TRUE(clean.leftBehind.empty()) << clean.leftBehind.front();
    int injected = 0;
    int survived = 0;
    std::uint64_t point = 0;
    for (const auto& [method, count] : clean.counts) {
        for (std::uint32_t error : errorsFor(method)) {
            for (int k : occurrences(count)) {
                if (!takesPoint(GetParam(), point++)) {
                    continue;
                }
                const Outcome outcome = runScenario(scenario, sim::Fault{method, error, k, 1, {}});
                ++injected;
                survived += outcome.leftBehind.empty() ? 1 : 0;
                for (const std::string& what : outcome.leftBehind) {
                    ADD_FAILURE() << method << " call " << k + 1 << " of " << count << " failing with "
                                  << error << ": " << what;
                }
            }
        }
    }
    std::cout << "[ fault injection ] " << scenario.name << ": " << injected << " injected failures, "
              << survived << " survived\n";
    RecordProperty("injected", injected);
    EXPECT_EQ(survived, injected);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, EveryCallFailingTest,
                         ::testing::Range<std::size_t>(0, scenarios().size()), scenarioName);

TEST(FaultInjectionTest, TheScenariosCallEveryExport) {
    std::set<std::string> exports;
    for (const Scenario& scenario : scenarios()) {
        exports.insert(std::string(scenario.name).substr(0, std::string(scenario.name).find(' ')));
    }
    EXPECT_EQ(exports.size(), 12u);
}

// Whether a state file is whole, told by its structure alone: every key its writer writes, and in an
// inventory as many volume sections, each with every key, as its "Count" says, and no more.
bool isWhole(sim::Machine& machine, const std::wstring& file) {
    const auto has = [&](const std::wstring& section, const wchar_t* key) {
        return machine.getPrivateProfileStringW(section, key, L"?", 260, file) != L"?";
    };
    if (file == kMaxSizeIni) {
        return has(L"Main", L"Size");
    }
    if (file == kUserDataIni) {
        return has(L"Main", L"Disk") && has(L"Main", L"Partition");
    }
    const auto count = static_cast<int>(machine.getPrivateProfileIntW(L"Main", L"Count", -1, file));
    for (int section = 0; section <= count; ++section) {
        for (const wchar_t* key : inventory::kVolumeKeys) {
            if (has(std::to_wstring(section), key) != (section < count)) {
                return false;
            }
        }
    }
    return count >= 0;
}

// The faults of the machine a kill left: a state file that is neither what it was before the call nor a
// whole file of its kind, or gone where the call does not remove it; the next export's result; the policy.
std::vector<std::string> faultsAfterTheKill(const Scenario& scenario, const sim::Machine& before,
                                            sim::Machine& after) {
    std::vector<std::string> faults;
    for (const wchar_t* file : {kPartitionIni, kMaxSizeIni, kUserDataIni}) {
        const std::optional<std::string> old = before.fileBytes(file);
        const std::optional<std::string> now = after.fileBytes(file);
        const bool mayBeGone = !old || (scenario.removesDriveFiles && file != kUserDataIni);
        if (now ? *now != old && !isWhole(after, file) : !mayBeGone) {
            faults.push_back(sim::text::narrow(file) + (now ? " is half written" : " is gone"));
        }
    }
    const int expected = scenario.expected(after);
    ScopedPlatform installed(after);
    PER::DriveManager::ReleaseInstance();
    const int result = scenario.next(after);
    PER::DriveManager::ReleaseInstance();
    if (result != expected) {
        faults.push_back("the next export gave " + std::to_string(result));
    }
    if (autoRunOf(after) != autoRunOf(before) || after.fileExists(kJournal)) {
        faults.push_back("the AutoRun policy is not as it was");
    }
    return faults;
}

// One row per scenario with a next export. A call that changes nothing leaves the machine the kill before it
// left, whose faults are known: the next export runs once per machine a kill can leave.
class KilledCallTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(KilledCallTest, TheNextExportFindsTheMachineWholeAfterAKillAtAnyCall) {
    const Scenario scenario = scenarios()[GetParam()];
    if (!scenario.next) {
        GTEST_SKIP() << "no next export";
    }
    sim::Machine prepared(smallMachine(scenario.autoRun));
    {
        ScopedPlatform installed(prepared);
        PER::DriveManager::ReleaseInstance();
        scenario.setup();
        PER::DriveManager::ReleaseInstance();
    }
    int checked = 0;
    int machinesRun = 0;
    std::string lastMachine;
    std::vector<std::string> faults;
    for (std::uint64_t call = 0;; ++call) {
        if (!takesPoint(GetParam(), call)) {
            continue;
        }
        sim::Machine killed(prepared.model());
        {
            ScopedPlatform installed(killed);
            killed.killAtCall(call);
            scenario.call();
            PER::DriveManager::ReleaseInstance();
        }
        if (!killed.killedModel()) {
            break;
        }
        std::string machine = sim::machineToJson(*killed.killedModel()).dump();
        if (machine != lastMachine) {
            sim::Machine after(*killed.killedModel());
            faults = faultsAfterTheKill(scenario, prepared, after);
            lastMachine = std::move(machine);
            ++machinesRun;
        }
        for (const std::string& fault : faults) {
            ADD_FAILURE() << scenario.name << ", killed at call " << call << ": " << fault;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0) << scenario.name << " was never killed";
    std::cout << "[ killed calls ] " << scenario.name << ": " << checked << " kill points checked on "
              << machinesRun << " machines they left\n";
    RecordProperty("killPoints", checked);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KilledCallTest, ::testing::Range<std::size_t>(0, scenarios().size()),
                         scenarioName);

}  // namespace
}  // namespace kvph::test
