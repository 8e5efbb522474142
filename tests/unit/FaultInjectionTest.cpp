// Every export on a small machine, run once per seam call it makes with that one call failing: the export
// must return 0 or 1, and leave no handle, key, script or batch file behind, nor the AutoRun policy changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KvPartitionHelper.h"
#include "ReliabilityMachine.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"

namespace kvph::test {
namespace {

using reliability::kAutoRunKey;
using reliability::kAutoRunValue;
using reliability::kBatch;
using reliability::kScript;
using reliability::kVhdx;
using reliability::smallMachine;

// What a run must leave as it found it.
struct Trace {
    bool keyPresent = false;
    std::optional<std::uint32_t> autoRun;
    bool operator==(const Trace& o) const { return keyPresent == o.keyPresent && autoRun == o.autoRun; }
};

Trace traceOf(const sim::Machine& machine) {
    Trace trace;
    auto key = machine.model().registry.find(kAutoRunKey);
    trace.keyPresent = key != machine.model().registry.end();
    if (trace.keyPresent) {
        auto value = key->second.dwords.find(kAutoRunValue);
        if (value != key->second.dwords.end()) {
            trace.autoRun = value->second;
        }
    }
    return trace;
}

struct Scenario {
    const char* name;
    std::optional<std::uint32_t> autoRun;
    std::function<void()> setup;  // run clean before the call under test
    std::function<int()> call;
};

int create() {
    return PH_CreateVHDX(kVhdx, L"Duskvale", 20480, 1);
}
void created() {
    create();
}
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

std::vector<Scenario> scenarios() {
    return {
        {"ListFixedPartition", 0x91, nothing, [] { return PH_ListFixedPartition(); }},
        {"CreateVHDX", 0x91, nothing, create},
        {"AttachVHDX", 0x91, created, [] { return PH_AttachVHDX(kVhdx, 0); }},
        {"AttachVHDX without AutoRun value", std::nullopt, created, [] { return PH_AttachVHDX(kVhdx, 1); }},
        {"AttachVHDX while attached", 0x91, attached, [] { return PH_AttachVHDX(kVhdx, 0); }},
        {"DetachVHDX", 0x91, attached, [] { return PH_DetachVHDX(kVhdx, 0); }},
        {"DetachVHDX removing files", 0x91, attached, [] { return PH_DetachVHDX(kVhdx, 1); }},
        {"CheckExistVHDX", 0x91, attached, [] { return PH_CheckExistVHDX(kVhdx); }},
        {"FormatNTFS", 0x91, nothing, [] { return PH_FormatNTFS(L"E:", L"Fresh"); }},
        {"FindUsableLabel", 0x91, nothing,
         [] {
             wchar_t letter[KVPH_TEXT_UNITS] = {};
             return PH_FindUsableLabel(letter);
         }},
        {"CompactThenAttachVHDX", 0x91, attachedReadOnly, [] { return PH_CompactThenAttachVHDX(kVhdx); }},
        {"GetVHDXVolumeLabel", 0x91, attached,
         [] {
             wchar_t letter[KVPH_TEXT_UNITS] = {};
             return PH_GetVHDXVolumeLabel(kVhdx, letter);
         }},
        {"CheckVHDXReadOnly", 0x91, attached,
         [] {
             int readOnly = -1;
             return PH_CheckVHDXReadOnly(kVhdx, &readOnly);
         }},
        {"SetHidden", 0x91, nothing, [] { return PH_SetHidden(L"E:"); }},
        {"SetNonHidden", 0x91, [] { PH_SetHidden(L"E:"); }, [] { return PH_SetNonHidden(L"E:"); }},
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
    std::string escaped;  // what escaped the export, if anything
    std::map<std::string, int> counts;
    std::vector<std::string> leftBehind;
    std::size_t diskpartRuns = 0;
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
    const Trace before = traceOf(machine);
    const std::size_t runsBefore = machine.diskpartRuns().size();
    if (fault) {
        machine.injectFault(*fault);
    }
    try {
        outcome.result = scenario.call();
    } catch (const std::exception& e) {
        outcome.escaped = e.what();
    } catch (...) {
        outcome.escaped = "unknown exception";
    }
    machine.clearFaults();
    outcome.counts = machine.callCounts();
    outcome.diskpartRuns = machine.diskpartRuns().size() - runsBefore;
    if (outcome.result != 0 && outcome.result != 1) {
        outcome.leftBehind.push_back("result " + std::to_string(outcome.result));
    }
    if (!outcome.escaped.empty()) {
        outcome.leftBehind.push_back("exception: " + outcome.escaped);
    }
    if (machine.openHandleCount() != 0) {
        outcome.leftBehind.push_back(std::to_string(machine.openHandleCount()) + " open handle(s)");
    }
    // A script whose own deletion is the failing call stays; any other failure must not keep it.
    const bool removalFailed = fault && fault->method.rfind("deleteFile", 0) == 0;
    if (machine.fileExists(kScript) && !removalFailed) {
        outcome.leftBehind.push_back("Command.txt");
    }
    if (machine.fileExists(kBatch) && !removalFailed) {
        outcome.leftBehind.push_back("temp.bat");
    }
    if (!(traceOf(machine) == before)) {
        outcome.leftBehind.push_back("AutoRun value changed");
    }
    PER::DriveManager::ReleaseInstance();
    return outcome;
}

class FaultInjectionTest : public ::testing::Test {};

// One row per scenario, so that a sharded run spreads them over its processes.
class EveryCallFailingTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EveryCallFailingTest, TheExportSurvivesEachOfItsCallsFailing) {
    const Scenario scenario = scenarios()[GetParam()];
    const Outcome clean = runScenario(scenario, std::nullopt);
    ASSERT_EQ(clean.result, 1) << "the scenario must succeed without faults";
    ASSERT_TRUE(clean.leftBehind.empty()) << clean.leftBehind.front();
    int injected = 0;
    int survived = 0;
    for (const auto& [method, count] : clean.counts) {
        for (std::uint32_t error : errorsFor(method)) {
            for (int k : occurrences(count)) {
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
                         ::testing::Range<std::size_t>(0, scenarios().size()), [](const auto& info) {
                             std::string name = scenarios()[info.param].name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

TEST_F(FaultInjectionTest, TheScenariosCallEveryExport) {
    std::set<std::string> exports;
    for (const Scenario& scenario : scenarios()) {
        exports.insert(std::string(scenario.name).substr(0, std::string(scenario.name).find(' ')));
    }
    EXPECT_EQ(exports.size(), 12u);
}

// A script file that cannot be created, written or flushed stops the operation before diskpart runs.
TEST_F(FaultInjectionTest, ScriptFileFailuresRunNoDiskpart) {
    for (const Scenario& scenario : scenarios()) {
        const Outcome clean = runScenario(scenario, std::nullopt);
        if (clean.diskpartRuns == 0) {
            continue;
        }
        for (const char* method : {"createFileW", "writeFile", "flushFileBuffers"}) {
            SCOPED_TRACE(std::string(scenario.name) + ", " + method);
            const Outcome outcome = runScenario(scenario, sim::Fault{method, 112, 0, -1, L"Command.txt"});
            // The read-only query answers 1 with an undetermined state when the drive cannot be found.
            EXPECT_EQ(outcome.result, std::string(scenario.name) == "CheckVHDXReadOnly" ? 1 : 0);
            EXPECT_EQ(outcome.diskpartRuns, 0u);
            EXPECT_TRUE(outcome.leftBehind.empty()) << outcome.leftBehind.front();
        }
    }
}

}  // namespace
}  // namespace kvph::test
