// The machine the VHDX drive's tests share: a GPT system disk with C:, an MBR data disk whose D: holds the
// drive's file, and the folders of the common application data and the library.
#pragma once

#include <map>
#include <string>

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

}  // namespace kvph::test
