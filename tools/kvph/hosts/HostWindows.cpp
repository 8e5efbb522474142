// The kvph tool on Windows: loads KvPartitionHelper.dll from the tool's own folder the way a host
// service does, and reads the library's debug output in-process.
#include <windows.h>
// shellapi.h needs the declarations of windows.h.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "frame/Utf8.h"
#include "kvph/base/Host.h"

namespace kvph::tool {
namespace {

constexpr DWORD kDebugPrintWide = 0x4001000A;    // DBG_PRINTEXCEPTION_WIDE_C: (length, wide text, ...)
constexpr DWORD kDebugPrintNarrow = 0x40010006;  // DBG_PRINTEXCEPTION_C: (length, narrow text)

std::wstring widenAnsi(const char* text, std::size_t length) {
    if (length == 0) {
        return {};
    }
    const int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(units, 0)), L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), units);
    }
    return wide;
}

// The length the exception reports counts the terminator; stop at the first NUL within it as well.
template <typename Char>
std::size_t boundedLength(const Char* text, ULONG_PTR reportedLength) {
    std::size_t length = 0;
    while (length < reportedLength && text[length] != Char{}) {
        ++length;
    }
    return length;
}

// OutputDebugString raises a continuable exception whether or not a debugger is attached; a
// vectored handler sees it first and can take the text and let the program go on. Under Wine a wide
// message may arrive converted, as a narrow one, so both kinds are taken.
class DebugOutputCapture {
public:
    static DebugOutputCapture& instance() {
        static DebugOutputCapture capture;
        return capture;
    }

    std::vector<std::wstring> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    DebugOutputCapture() : handler_(AddVectoredExceptionHandler(1, &DebugOutputCapture::onException)) {}
    ~DebugOutputCapture() {
        if (handler_ != nullptr) {
            RemoveVectoredExceptionHandler(handler_);
        }
    }

    static LONG CALLBACK onException(EXCEPTION_POINTERS* pointers) {
        const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
        if (record.NumberParameters < 2 || record.ExceptionInformation[1] == 0) {
            return EXCEPTION_CONTINUE_SEARCH;
        }
        const ULONG_PTR length = record.ExceptionInformation[0];
        if (record.ExceptionCode == kDebugPrintWide) {
            const auto* text = reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]);
            instance().add(std::wstring(text, boundedLength(text, length)));
            return EXCEPTION_CONTINUE_EXECUTION;
        }
        if (record.ExceptionCode == kDebugPrintNarrow) {
            const auto* text = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
            instance().add(widenAnsi(text, boundedLength(text, length)));
            return EXCEPTION_CONTINUE_EXECUTION;
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }

    void add(std::wstring line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
    }

    std::mutex mutex_;
    std::vector<std::wstring> lines_;
    PVOID handler_;
};

std::wstring moduleFolder(HMODULE module) {
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

template <typename Function>
bool resolve(HMODULE library, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (function == nullptr) {
        missing += missing.empty() ? name : std::string(", ") + name;
    }
    return function != nullptr;
}

bool resolveAll(HMODULE library, Exports& exports, std::string& missing) {
    bool all = resolve(library, "PH_ListFixedPartition", exports.listFixedPartition, missing);
    all &= resolve(library, "PH_CreateVHDX", exports.createVHDX, missing);
    all &= resolve(library, "PH_AttachVHDX", exports.attachVHDX, missing);
    all &= resolve(library, "PH_DetachVHDX", exports.detachVHDX, missing);
    all &= resolve(library, "PH_CheckExistVHDX", exports.checkExistVHDX, missing);
    all &= resolve(library, "PH_FormatNTFS", exports.formatNTFS, missing);
    all &= resolve(library, "PH_FindUsableLabel", exports.findUsableLabel, missing);
    all &= resolve(library, "PH_CompactThenAttachVHDX", exports.compactThenAttachVHDX, missing);
    all &= resolve(library, "PH_GetVHDXVolumeLabel", exports.getVHDXVolumeLabel, missing);
    all &= resolve(library, "PH_CheckVHDXReadOnly", exports.checkVHDXReadOnly, missing);
    all &= resolve(library, "PH_SetHidden", exports.setHidden, missing);
    all &= resolve(library, "PH_SetNonHidden", exports.setNonHidden, missing);
    return all;
}

class WindowsHost final : public Host {
public:
    explicit WindowsHost(HMODULE library) : library_(library) {}
    ~WindowsHost() override { FreeLibrary(library_); }
    WindowsHost(const WindowsHost&) = delete;
    WindowsHost& operator=(const WindowsHost&) = delete;

    bool load(std::string& error) {
        std::string missing;
        if (!resolveAll(library_, exports_, missing)) {
            error = "KvPartitionHelper.dll lacks " + missing;
            return false;
        }
        return true;
    }

    const Exports& exports() const override { return exports_; }
    std::vector<std::wstring> takeLog() override { return DebugOutputCapture::instance().take(); }
    bool takeDiskpartRuns(std::vector<DiskpartRunRecord>&) override { return false; }
    std::wstring libraryFolder() override { return moduleFolder(library_); }
    std::uint32_t codePage() override { return GetACP(); }

    bool readFile(const std::wstring& path, std::string& bytes) override {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        bytes.clear();
        char chunk[4096];
        DWORD read = 0;
        bool ok = true;
        while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr) != FALSE) && read > 0) {
            bytes.append(chunk, read);
        }
        CloseHandle(file);
        return ok;
    }

    bool startTrace(std::function<void(const std::string&)>) override { return false; }

    bool isAdministrator() override {
        SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
        PSID administrators = nullptr;
        if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                      0, 0, 0, 0, 0, 0, &administrators)) {
            return false;
        }
        // Membership of the token, so that a filtered token of an elevation-capable user counts as not one.
        BOOL member = FALSE;
        const BOOL checked = CheckTokenMembership(nullptr, administrators, &member);
        FreeSid(administrators);
        return checked != FALSE && member != FALSE;
    }

    std::wstring temporaryFolder() override {
        std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
        const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        return length == 0 || length >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), length);
    }

    bool removeEmptyFolder(const std::wstring& path) override {
        return RemoveDirectoryW(path.c_str()) != FALSE;
    }

    bool save(const std::string&, std::string& error) override {
        error = "a machine description can only be saved from the simulated machine";
        return false;
    }

private:
    HMODULE library_;
    Exports exports_;
};

}  // namespace

namespace {

std::atomic<bool> interrupted{false};
HANDLE interruptHandledEvent = nullptr;

// Runs on a thread of its own. Ctrl+C and Ctrl+Break only ask; when the console closes or the session
// ends, the process ends as soon as this returns, so it waits for the command to put the machine back
// (the system allows a few seconds for that).
BOOL WINAPI onConsoleControl(DWORD event) {
    interrupted = true;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && interruptHandledEvent != nullptr) {
        WaitForSingleObject(interruptHandledEvent, INFINITE);
    }
    return TRUE;
}

}  // namespace

void watchForInterrupts() {
    if (interruptHandledEvent == nullptr) {
        interruptHandledEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool interruptRequested() {
    return interrupted;
}

void interruptHandled() {
    if (interruptHandledEvent != nullptr) {
        SetEvent(interruptHandledEvent);
    }
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(utf8::encode(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

std::unique_ptr<Host> makeLibraryHost(std::string& error) {
    // Installed before the library loads, so nothing it prints is missed.
    DebugOutputCapture::instance();
    const std::wstring path = moduleFolder(nullptr) + L"KvPartitionHelper.dll";
    const HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) {
        error = "cannot load KvPartitionHelper.dll from the tool's folder (error " +
                std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    auto host = std::make_unique<WindowsHost>(library);
    if (!host->load(error)) {
        return nullptr;
    }
    return host;
}

}  // namespace kvph::tool
