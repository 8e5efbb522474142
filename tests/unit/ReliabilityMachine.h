// The small machine the fault-injection and bad-input tests run every export on.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "HostMachine.h"
#include "sim/Machine.h"

namespace kvph::test::reliability {

inline constexpr wchar_t kVhdx[] = L"D:\\vd\\drive.vhdx";
inline constexpr wchar_t kScript[] = L"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt";
inline constexpr wchar_t kBatch[] = L"C:\\Program Files\\Host\\temp.bat";
inline constexpr wchar_t kAutoRunKey[] =
    L"HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\EXPLORER";
inline constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";

// A system disk with C:, an MBR data disk with D: (which holds the VHDX drive's file) and an MBR disk
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

}  // namespace kvph::test::reliability
