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
    return {{L"VDisk ###", L"\u039e\u03bf\u03bb\u03bf\u03b2 ###"},
            {L"Disk ###", L"\u03a6\u03b9\u03ba\u03bf\u03c4\u03c1\u03c5 ###"},
            {L"State", L"\u0394\u03b5\u03c1\u03bc"},
            {L"Type", L"\u03a4\u03c5\u03c0"},
            {L"File", L"\u03a8"},
            {L"VDisk", L"\u039e\u03bf\u03bb\u03bf\u03b2"},
            {L"Disk", L"\u03a6\u03b9\u03ba\u03bf\u03c4\u03c1\u03c5"},
            {L"Attached not open", L"\u03a9\u03bc\u03b5\u03b3 \u03bb\u03bf\u03ba"},
            {L"Added", L"\u03a0\u03c1\u03bf\u03c3"},
            {L"Expandable", L"\u0395\u03bb\u03b1\u03c3\u03c4\u03bf\u03ba\u03bf\u03c1\u03b1\u03be"},
            {L"Fixed", L"\u03a3\u03c4\u03b1\u03b8"},
            {L"Unknown", L"\u0391\u03b3\u03bd"},
            {L"There are no virtual disks to show.", L"\u039f\u03c5\u03b4\u03b5\u03bd."}};
}

}  // namespace kvph::test
