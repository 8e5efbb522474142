#include "frame/ExportGuard.h"

#include "frame/Text.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

// One mutex for every process that loads the library: the script file, the INI files and the capture
// files are shared machine-wide.
constexpr wchar_t kCallMutexName[] = L"Global\\KvPartitionHelper.Calls";

HeldMutex takeCallMutex() {
    Platform& os = platform();
    UniqueHandle mutex(os.createMutexW(kCallMutexName).handle);
    if (!mutex.valid()) {
        return HeldMutex();
    }
    const std::uint32_t wait = os.waitForSingleObject(mutex.get(), win::INFINITE_);
    // An abandoned mutex is owned by this thread now: its previous owner died mid-call, and the files
    // it left are replaced whole by the next operation anyway.
    return HeldMutex(std::move(mutex), wait == win::WAIT_OBJECT_0_ || wait == win::WAIT_ABANDONED_);
}

// Exports the calling thread runs, one inside the other; only the holder of the call lock changes it.
int callDepth = 0;

}  // namespace

CallLock::CallLock() : mutex_(takeCallMutex()) {
    if (held()) {
        ++callDepth;
    }
}

CallLock::~CallLock() {
    if (held()) {
        --callDepth;
    }
}

bool isOutermostExport() {
    return callDepth == 1;
}

void logExportFailure(const wchar_t* exportName, const std::wstring& reason) noexcept {
    try {
        logLine(std::wstring(kLogPrefix) + exportName + L": " + reason);
    } catch (...) {
        // Nothing can be reported when the log itself fails.
    }
}

std::optional<std::wstring> textArgument(const wchar_t* exportName, const wchar_t* argumentName,
                                         const wchar_t* text) {
    if (text == nullptr) {
        logExportFailure(exportName, std::wstring(argumentName) + L" is null.");
        return std::nullopt;
    }
    auto value = readHostText(text, kTextUnits);
    if (!value) {
        logExportFailure(exportName, std::wstring(argumentName) + L" is longer than 259 characters.");
        return std::nullopt;
    }
    return value;
}

}  // namespace kvph
