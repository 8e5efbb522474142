#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "partition_ops/FreeDriveLetter.h"
#include "platform/Platform.h"

namespace kvph {

std::wstring FindFreeDriveLetter() {
    for (wchar_t letter = L'Z'; letter >= L'C'; --letter) {
        const std::wstring text{letter, L':'};
        if (!platform().pathFileExistsW(text)) {
            return text;
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
