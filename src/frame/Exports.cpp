// The export table: the twelve PH_ functions in the header's order. Each takes the call lock, runs its
// operation (src/frame/Operations.h) and turns anything that escapes into 0 with one log line.
#include "KvPartitionHelper.h"
#include "frame/ExportGuard.h"
#include "frame/Operations.h"

namespace {

// The export the host called first finishes what a call killed midway left undone; then the operation.
template <typename Operation>
int exportCall(const wchar_t* exportName, Operation&& operation) {
    return kvph::runExport(exportName, [&] {
        if (kvph::isOutermostExport()) {
            kvph::RestoreAutoRunAfterKilledAttach();
        }
        return operation();
    });
}

}  // namespace

extern "C" {

int PH_ListFixedPartition(void) {
    return exportCall(L"PH_ListFixedPartition", [] { return kvph::ListFixedPartition(); });
}

int PH_CreateVHDX(const wchar_t* vhdxPath, const wchar_t* volumeLabel, int maximumMB, int expandable) {
    return exportCall(L"PH_CreateVHDX",
                      [&] { return kvph::CreateVHDX(vhdxPath, volumeLabel, maximumMB, expandable); });
}

int PH_AttachVHDX(const wchar_t* vhdxPath, int readOnly) {
    return exportCall(L"PH_AttachVHDX", [&] { return kvph::AttachVHDX(vhdxPath, readOnly); });
}

int PH_DetachVHDX(const wchar_t* vhdxPath, int removeFiles) {
    return exportCall(L"PH_DetachVHDX", [&] { return kvph::DetachVHDX(vhdxPath, removeFiles); });
}

int PH_CheckExistVHDX(const wchar_t* vhdxPath) {
    return exportCall(L"PH_CheckExistVHDX", [&] { return kvph::CheckExistVHDX(vhdxPath); });
}

int PH_FormatNTFS(const wchar_t* driveLetter, const wchar_t* volumeLabel) {
    return exportCall(L"PH_FormatNTFS", [&] { return kvph::FormatNTFS(driveLetter, volumeLabel); });
}

int PH_FindUsableLabel(wchar_t* letterOut) {
    return exportCall(L"PH_FindUsableLabel", [&] { return kvph::FindUsableLabel(letterOut); });
}

int PH_CompactThenAttachVHDX(const wchar_t* vhdxPath) {
    return exportCall(L"PH_CompactThenAttachVHDX", [&] { return kvph::CompactThenAttachVHDX(vhdxPath); });
}

int PH_GetVHDXVolumeLabel(const wchar_t* vhdxPath, wchar_t* letterOut) {
    return exportCall(L"PH_GetVHDXVolumeLabel",
                      [&] { return kvph::GetVHDXVolumeLabel(vhdxPath, letterOut); });
}

int PH_CheckVHDXReadOnly(const wchar_t* vhdxPath, int* readOnlyOut) {
    return exportCall(L"PH_CheckVHDXReadOnly",
                      [&] { return kvph::CheckVHDXReadOnly(vhdxPath, readOnlyOut); });
}

int PH_SetHidden(const wchar_t* driveLetter) {
    return exportCall(L"PH_SetHidden", [&] { return kvph::SetHidden(driveLetter); });
}

int PH_SetNonHidden(const wchar_t* driveLetter) {
    return exportCall(L"PH_SetNonHidden", [&] { return kvph::SetNonHidden(driveLetter); });
}
}
