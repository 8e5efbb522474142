// The frame every export runs in: the machine-wide call lock, argument checks, and no exception
// leaving the library.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "frame/Log.h"
#include "frame/UniqueHandle.h"

namespace kvph {

// Holds the machine-wide call mutex for its lifetime. The mutex is recursive, so exports that call
// exports take it again; a mutex abandoned by a process that died is taken over.
class CallLock {
public:
    CallLock();
    ~CallLock();
    CallLock(const CallLock&) = delete;
    CallLock& operator=(const CallLock&) = delete;
    bool held() const { return mutex_.held(); }

private:
    HeldMutex mutex_;
};

// Whether the export running under the call lock is the one the host called, not one that an export
// called.
bool isOutermostExport();

// Logs why an export stopped early; safe to call when logging itself fails.
void logExportFailure(const wchar_t* exportName, const std::wstring& reason) noexcept;

// Runs an export's body under the call lock; 0 with one log line when the lock cannot be taken or
// anything escapes the body.
template <typename Body>
int runExport(const wchar_t* exportName, Body&& body) noexcept {
    try {
        CallLock lock;
        if (!lock.held()) {
            logExportFailure(exportName, L"the call lock could not be taken.");
            return 0;
        }
        return std::forward<Body>(body)();
    } catch (const std::exception& error) {
        std::string what = error.what();
        logExportFailure(exportName, L"stopped by an error: " + std::wstring(what.begin(), what.end()));
    } catch (...) {
        logExportFailure(exportName, L"stopped by an unknown error.");
    }
    return 0;
}

// Reads a text argument of an export: nullopt (after one log line) when the pointer is null or the
// text is longer than 259 UTF-16 units.
std::optional<std::wstring> textArgument(const wchar_t* exportName, const wchar_t* argumentName,
                                         const wchar_t* text);

}  // namespace kvph
