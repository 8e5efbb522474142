#include <gtest/gtest.h>

#include "kvph/machine/MachineCapture.h"
#include "platform/Platform.h"
#include "sim/Machine.h"
#include "sim/MachineBuilder.h"
#include "sim/format/MachineJson.h"

namespace kvph::test {
namespace {

using nlohmann::json;
using sim::kGiB;
using sim::MachineBuilder;

constexpr wchar_t kLibraryPath[] = L"D:\\Apps\\Host\\KvPartitionHelper.dll";

json captureOf(sim::Machine& machine) {
    const ScopedPlatform installed(machine);
    tool::CaptureSettings settings;
    settings.codePage = machine.model().codePage;
    settings.libraryPath = kLibraryPath;
    return json::parse(tool::captureMachine(settings).dump());
}

// What the library can see of a machine: its drives, the other letters and the registry.
json visiblePart(const sim::MachineModel& model) {
    json whole = sim::machineToJson(model);
    return {{"disks", whole["disks"]}, {"letters", whole["letters"]}, {"registry", whole["registry"]}};
}

sim::MachineModel mixedMachine() {
    sim::MachineModel model = MachineBuilder()
                                  .gptDisk(0, 64 * kGiB)
                                  .efi(2048, 204800)
                                  .volume(L'S', L"FAT32", L"", 90 * sim::kMiB)
                                  .msr(206848, 32768)
                                  .basicData(239616, 100000000)
                                  .volume(L'C', L"NTFS", L"System", 20 * kGiB)
                                  .recovery(100239616, 1024000)
                                  .mbrDisk(1, 16 * kGiB, 0xCAFEF00D)
                                  .primary(2048, 409600, 0x07, true)
                                  .volume(L'E', L"NTFS", L"Data", 150 * sim::kMiB)
                                  .readOnly()
                                  .primary(411648, 204800, 0x1B)
                                  .extended(616448, 4194304)
                                  .logical(618496, 1048576, 0x07)
                                  .volume(L'F', L"exFAT", L"Logical one")
                                  .logical(1669120, 1048576, 0x0B)
                                  .volume(L'G', L"FAT32", L"LOGICAL2")
                                  .mbrDisk(3, 32 * kGiB, 0x01020304)
                                  .primary(2048, 2048000, 0x0C)
                                  .volume(L'K', L"FAT32", L"STICK")
                                  .driveType(sim::DriveType::Removable)
                                  .bus(7)
                                  .rotationRate(std::nullopt)
                                  .geometry(4096, 32, 64)
                                  .rawDisk(4, 8 * kGiB)
                                  .bus(std::nullopt)
                                  .rotationRate(7200)
                                  .networkLetter(L'Z')
                                  .notReadyLetter(L'Q')
                                  .build();
    model.registry[L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\EXPLORER"]
        .dwords[L"NoDriveTypeAutoRun"] = 145;
    return model;
}

TEST(KvphCaptureTest, ACapturedMachineLoadsBackAsTheSameDrivesLettersAndPolicy) {
    const sim::MachineModel original = mixedMachine();
    sim::Machine machine(original);
    const sim::MachineModel loaded = sim::machineFromJson(captureOf(machine), ".");
    EXPECT_EQ(visiblePart(loaded).dump(2), visiblePart(original).dump(2));
    EXPECT_EQ(loaded.libraryPath, kLibraryPath);
    EXPECT_EQ(loaded.windowsDirectory, original.windowsDirectory);
    EXPECT_EQ(loaded.commonAppData, original.commonAppData);
}

TEST(KvphCaptureTest, CapturingReadsOnlyAndClosesWhatItOpened) {
    sim::Machine machine(mixedMachine());
    const std::string before = sim::machineToJson(machine.model()).dump();
    captureOf(machine);
    EXPECT_EQ(sim::machineToJson(machine.model()).dump(), before);
    EXPECT_TRUE(machine.diskpartRuns().empty());
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

// A drive that cannot be opened or measured is left out; one whose layout cannot be read keeps the
// failure. Only a volume with a letter can be asked about: one the system cannot read keeps its letter
// without a file system, and one without a letter is not written at all.
TEST(KvphCaptureTest, WhatCannotBeReadIsLeftOutOrKeptAsItFails) {
    sim::Machine machine(MachineBuilder()
                             .mbrDisk(0, 16 * kGiB)
                             .failOpen()
                             .mbrDisk(1, 16 * kGiB)
                             .failGeometry()
                             .mbrDisk(2, 16 * kGiB)
                             .primary(2048, 409600, 0x07)
                             .layoutError(21)
                             .mbrDisk(3, 16 * kGiB)
                             .primary(2048, 409600, 0x07)
                             .volumeWithoutLetter(L"NTFS", L"Hidden away")
                             .primary(411648, 409600, 0x07)
                             .unreadableVolume(L'R')
                             .build());
    const json disks = captureOf(machine)["disks"];
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0]["number"], 2);
    EXPECT_EQ(disks[0]["style"], "raw");
    EXPECT_EQ(disks[0]["failures"]["layoutError"], 21);
    EXPECT_EQ(sim::machineFromJson(json{{"disks", disks}}, ".").disks.at(0).failures.layoutError, 21u);
    const json volumes = disks[1]["volumes"];
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0]["start"], 411648);
    EXPECT_EQ(volumes[0]["letter"], "R");
    EXPECT_TRUE(volumes[0]["fileSystem"].is_null());
}

}  // namespace
}  // namespace kvph::test
