// The machine the VHDX drive's tests share: a GPT system disk with C:, an MBR data disk whose D: holds the
// drive's file, and the folders of the common application data and the library; and the AutoRun policy.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "sim/Machine.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {

// The two disks; a test may add more before it builds.
inline sim::MachineBuilder hostDisks() {
    sim::MachineBuilder builder;
    builder.gptDisk(0, 128 * sim::kGiB)
        .basicData(2048, 100 * sim::kGiB / 512)
        .volume(L'C', L"NTFS", L"", 50 * sim::kGiB)
        .mbrDisk(1, 64 * sim::kGiB)
        .primary(2048, 60 * sim::kGiB / 512, 0x07)
        .volume(L'D', L"NTFS", L"Data", 40 * sim::kGiB);
    return builder;
}

inline sim::MachineModel withHostFolders(sim::MachineModel model) {
    for (const wchar_t* folder : {L"C:\\ProgramData", L"C:\\Program Files", L"C:\\Program Files\\Host"}) {
        model.folders[sim::Machine::pathKey(folder)] = sim::File{folder, {}, 0x10};
    }
    return model;
}

// diskpart's listing in a display language no rule could know: invented words in another script, some
// wider than the English ones, none of them "Attached".
inline std::map<std::wstring, std::wstring> inventedListWords() {
    return {{L"VDisk ###", L"Ξολοβ ###"},
            {L"Disk ###", L"Φικοτρυ ###"},
            {L"State", L"Δερμ"},
            {L"Type", L"Τυπ"},
            {L"File", L"Ψ"},
            {L"VDisk", L"Ξολοβ"},
            {L"Disk", L"Φικοτρυ"},
            {L"Added", L"Προσ"},
            {L"Attached not open", L"Ωμεγ λοκ"},
            {L"Expandable", L"Ελαστοκοραξ"},
            {L"Fixed", L"Σταθ"},
            {L"Unknown", L"Αγν"},
            {L"There are no virtual disks to show.", L"Ουδεν."}};
}

// The VHDX drive of the lifecycle, fault-injection and bad-input tests: its file, the library's state files
// and the AutoRun policy.
namespace drive {

inline constexpr wchar_t kVhdx[] = L"D:\\vd\\drive.vhdx";
inline constexpr wchar_t kPartitionIni[] = L"C:\\Program Files\\Host\\Partition.ini";
inline constexpr wchar_t kMaxSizeIni[] = L"C:\\Program Files\\Host\\MaxSize.ini";
inline constexpr wchar_t kUserDataIni[] = L"C:\\ProgramData\\Norvel\\Quillmark\\UserData.ini";
inline constexpr wchar_t kJournal[] = L"C:\\ProgramData\\Norvel\\Quillmark\\AutoRun.ini";
inline constexpr wchar_t kAutoRunKey[] =
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\EXPLORER";
inline constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";

// The machine the fault-injection and bad-input tests run every export on: the two disks and an MBR disk
// with E:, the one hidden, shown and formatted. `autoRun`: the policy value, if any.
inline sim::MachineModel smallMachine(std::optional<std::uint32_t> autoRun) {
    sim::MachineModel model = withHostFolders(hostDisks()
                                                  .mbrDisk(2, 16 * sim::kGiB, 0x2468ace0)
                                                  .primary(2048, 8 * sim::kGiB / 512, 0x07)
                                                  .volume(L'E', L"NTFS", L"Spare", 4 * sim::kGiB)
                                                  .build());
    if (autoRun) {
        model.registry[kAutoRunKey].dwords[kAutoRunValue] = *autoRun;
    }
    return model;
}

// The AutoRun policy as a call must leave it: whether its key is there, and its value.
using AutoRunState = std::pair<bool, std::optional<std::uint32_t>>;

inline AutoRunState autoRunOf(const sim::Machine& machine) {
    const auto key = machine.model().registry.find(kAutoRunKey);
    if (key == machine.model().registry.end()) {
        return {false, std::nullopt};
    }
    const auto value = key->second.dwords.find(kAutoRunValue);
    return {true,
            value != key->second.dwords.end() ? std::optional<std::uint32_t>(value->second) : std::nullopt};
}

}  // namespace drive

}  // namespace kvph::test
