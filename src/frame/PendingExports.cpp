// Exports whose operations are not part of this build yet. They keep the export table complete so
// that a host can load the library; each refuses with one log line.
#include "KvPartitionHelper.h"
#include "frame/ExportGuard.h"

namespace {

int notAvailable(const wchar_t* exportName) {
    return kvph::runExport(exportName, [exportName] {
        kvph::logExportFailure(exportName, L"not available in this build.");
        return 0;
    });
}

}  // namespace

extern "C" {

int PH_CreateVHDX(const wchar_t*, const wchar_t*, int, int) {
    return notAvailable(L"PH_CreateVHDX");
}
int PH_AttachVHDX(const wchar_t*, int) {
    return notAvailable(L"PH_AttachVHDX");
}
int PH_DetachVHDX(const wchar_t*, int) {
    return notAvailable(L"PH_DetachVHDX");
}
int PH_FormatNTFS(const wchar_t*, const wchar_t*) {
    return notAvailable(L"PH_FormatNTFS");
}
int PH_FindUsableLabel(wchar_t*) {
    return notAvailable(L"PH_FindUsableLabel");
}
int PH_CompactThenAttachVHDX(const wchar_t*) {
    return notAvailable(L"PH_CompactThenAttachVHDX");
}
int PH_SetHidden(const wchar_t*) {
    return notAvailable(L"PH_SetHidden");
}
int PH_SetNonHidden(const wchar_t*) {
    return notAvailable(L"PH_SetNonHidden");
}
}
