#include "frame/ExportGuard.h"
#include "frame/Log.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "partition_ops/FreeDriveLetter.h"
#include "platform/Platform.h"

namespace kvph {

std::optional<std::uint32_t> AssignedDriveLetters() {
    const DriveMask drives = platform().getLogicalDrives();
    // Every Windows has a system drive, so a zero mask is the call's failure, as its contract says.
    if (drives.mask == 0) {
        logLine(formatBounded(kTextUnits,
                              L"(KvPartitionHelper)GetLogicalDrives failed with 0x%08x; no drive letter is "
                              L"known to be free.",
                              drives.error));
        return std::nullopt;
    }
    return drives.mask;
}

bool IsFreeDriveLetter(wchar_t letter, std::uint32_t assignedLetters) {
    const std::uint32_t bit = 1u << (letter - L'A');
    return (assignedLetters & bit) == 0 && !platform().pathFileExistsW(std::wstring{letter, L':'});
}

std::wstring FindFreeDriveLetter() {
    const std::optional<std::uint32_t> assigned = AssignedDriveLetters();
    if (!assigned) {
        return {};
    }
    for (wchar_t letter = L'Z'; letter >= L'C'; --letter) {
        if (IsFreeDriveLetter(letter, *assigned)) {
            return std::wstring{letter, L':'};
        }
    }
    return {};
}

int FindUsableLabel(wchar_t* letterOut) {
    if (letterOut == nullptr) {
        logExportFailure(L"PH_FindUsableLabel", L"the output buffer is null.");
        return 0;
    }
    writeHostText(letterOut, L"");
    const std::wstring letter = FindFreeDriveLetter();
    if (letter.empty()) {
        return 0;
    }
    writeHostText(letterOut, letter);
    return 1;
}

}  // namespace kvph
