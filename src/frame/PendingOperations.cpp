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

int FormatNTFS(const wchar_t*, const wchar_t*) {
    return notAvailable(L"PH_FormatNTFS");
}

int SetHidden(const wchar_t*) {
    return notAvailable(L"PH_SetHidden");
}

int SetNonHidden(const wchar_t*) {
    return notAvailable(L"PH_SetNonHidden");
}

}  // namespace kvph
