// Operations that are not part of this build yet. Their exports keep the table complete so that a host
// can load the library; each refuses with one log line.
#include "frame/ExportGuard.h"
#include "frame/Operations.h"

namespace kvph {

namespace {

int notAvailable(const wchar_t* exportName) {
    logExportFailure(exportName, L"not available in this build.");
    return 0;
}

}  // namespace

int CreateVHDX(const wchar_t*, const wchar_t*, int, int) {
    return notAvailable(L"PH_CreateVHDX");
}

int AttachVHDX(const wchar_t*, int) {
    return notAvailable(L"PH_AttachVHDX");
}

int DetachVHDX(const wchar_t*, int) {
    return notAvailable(L"PH_DetachVHDX");
}

int CompactThenAttachVHDX(const wchar_t*) {
    return notAvailable(L"PH_CompactThenAttachVHDX");
}

}  // namespace kvph
