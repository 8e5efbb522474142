// Exports called from several threads at once on one simulated machine leave the same scripts and files
// as the same calls made one after the other: the call lock serialises them, and the machine takes calls
// from any thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "HostMachine.h"
#include "KvPartitionHelper.h"
#include "platform/Platform.h"
#include "sim/Machine.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {
namespace {

constexpr wchar_t kVhdx[] = L"D:\\vd\\drive.vhdx";
constexpr int kThreads = 4;
constexpr int kRounds = 3;

// A system disk C:, a data disk D: that holds the VHDX drive's file, and the drive created and detached.
sim::MachineModel machineWithDetachedDrive() {
    sim::MachineModel model = withHostFolders(hostDisks().build());
    sim::Machine machine(std::move(model));
    ScopedPlatform installed(machine);
    EXPECT_EQ(PH_CreateVHDX(kVhdx, L"Duskvale", 20480, 1), 1);
    return machine.model();
}

// One thread's calls; which call finds the drive attached depends on the order, the scripts do not.
void callExports() {
    for (int round = 0; round < kRounds; ++round) {
        PH_CheckExistVHDX(kVhdx);
        PH_AttachVHDX(kVhdx, 0);
        PH_ListFixedPartition();
        PH_CompactThenAttachVHDX(kVhdx);
    }
}

struct Outcome {
    std::vector<std::string> scripts;  // sorted
    std::map<std::wstring, std::string> files;
    std::size_t openHandles = 0;
    bool attached = false;
};

// Each of kThreads callers makes its calls, on threads of their own or one after the other.
Outcome runOn(sim::Machine& machine, bool concurrently) {
    {
        ScopedPlatform installed(machine);
        std::vector<std::thread> running;
        for (int i = 0; i < kThreads; ++i) {
            if (concurrently) {
                running.emplace_back(callExports);
            } else {
                callExports();
            }
        }
        for (std::thread& thread : running) {
            thread.join();
        }
        // The last listing and presence query see the final drive, whatever the order was.
        PH_ListFixedPartition();
        PH_CheckExistVHDX(kVhdx);
    }
    Outcome outcome;
    for (const sim::DiskpartRun& run : machine.diskpartRuns()) {
        outcome.scripts.push_back(run.script);
    }
    std::sort(outcome.scripts.begin(), outcome.scripts.end());
    for (const auto& [key, file] : machine.model().files) {
        outcome.files[key] = std::string(file.content.begin(), file.content.end());
    }
    outcome.openHandles = machine.openHandleCount();
    outcome.attached = machine.model().vdisks.at(0).attached;
    return outcome;
}

TEST(ConcurrentExportsTest, ThreadsLeaveWhatTheSameCallsInSequenceLeave) {
    const sim::MachineModel start = machineWithDetachedDrive();
    sim::Machine sequential(start);
    sim::Machine concurrent(start);

    const Outcome one = runOn(sequential, false);
    const Outcome many = runOn(concurrent, true);

    EXPECT_EQ(many.scripts, one.scripts);
    EXPECT_EQ(many.files, one.files);
    EXPECT_TRUE(many.attached);
    EXPECT_EQ(many.attached, one.attached);
    EXPECT_EQ(many.openHandles, 0u);
    // Every presence query ran diskpart.
    EXPECT_GE(std::count(many.scripts.begin(), many.scripts.end(), "list vdisk\r\nexit\r\n"),
              kThreads * kRounds + 1);
}

}  // namespace
}  // namespace kvph::test
