// PH_CompactThenAttachVHDX: compacts the VHDX file, attaches it again read-write and lists the volumes.
#include "KvPartitionHelper.h"
#include "frame/DiskpartCommands.h"
#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "lifecycle/VhdxDrive.h"

namespace kvph {

int CompactThenAttachVHDX(const wchar_t* vhdxPath) {
    constexpr wchar_t kExportName[] = L"PH_CompactThenAttachVHDX";
    const auto path = textArgument(kExportName, L"the VHDX path", vhdxPath);
    const auto ansiPath = path ? vhdxScriptPath(kExportName, *path) : std::nullopt;
    if (!ansiPath) {
        return 0;
    }
    DiskpartSettings settings;
    settings.successMessage = L"(KvPartitionHelper)diskpart compact successfully.";
    const ScriptOutcome outcome = runComposedScript(
        composeScript(kScriptBytes, scripts::kCompactThenAttach, ansiPath->c_str()), settings);
    if (outcome == ScriptOutcome::ScriptNotWritten) {
        return 0;
    }
    PH_ListFixedPartition();
    return resultOf(outcome);
}

}  // namespace kvph
