// A stand-in for the system's diskpart, installed as diskpart.exe in the Wine prefix's system folder.
//
// It runs the script named by /s the way the tests need: it records the command line and the script in
// C:\stand-in\runs.log, prints C:\stand-in\vdisks.txt to its console as the virtual disk listing, and
// exits with the number in C:\stand-in\exitcode.txt (0 when the file is missing). While it runs it holds
// C:\stand-in\running.lock exclusively; finding that lock taken means two runs overlap, which it records
// as OVERLAP and answers with exit code 99. C:\stand-in\delay-ms.txt makes each run last that long, so
// that overlapping callers would be caught. Each record also shows the machine's AutoRun policy value as
// it stood while the run was going on, and the file this program was started from (a copy of it placed
// elsewhere tells which diskpart.exe a caller found).
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

const wchar_t kControlFolder[] = L"C:\\stand-in\\";
constexpr DWORD kOverlapExitCode = 99;
constexpr DWORD kScriptUnreadableExitCode = 98;

std::wstring controlFile(const wchar_t* name) {
    return std::wstring(kControlFolder) + name;
}

bool readWholeFile(const std::wstring& path, std::string& bytes) {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes.clear();
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return true;
}

DWORD numberFromFile(const wchar_t* name, DWORD fallback) {
    std::string text;
    if (!readWholeFile(controlFile(name), text)) {
        return fallback;
    }
    return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
}

std::string narrow(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), converted.data(), bytes,
                        nullptr, nullptr);
    return converted;
}

// Appends one record in a single write, so records of separate runs never interleave.
void appendToLog(const std::string& record) {
    const HANDLE log =
        CreateFileW(controlFile(L"runs.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(log);
}

void writeToConsole(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

// 100-nanosecond ticks of the system clock, comparable between processes.
std::uint64_t now() {
    FILETIME time;
    GetSystemTimePreciseAsFileTime(&time);
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::string autoRunPolicy() {
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                     L"NoDriveTypeAutoRun", RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value, &size);
    return status == ERROR_SUCCESS ? std::to_string(value) : "none";
}

std::wstring scriptPathFrom(int argc, wchar_t** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (_wcsicmp(argv[i], L"/s") == 0) {
            return argv[i + 1];
        }
    }
    return {};
}

}  // namespace

int main() {
    const std::string commandLine = narrow(GetCommandLineW());
    const HANDLE lock = CreateFileW(controlFile(L"running.lock").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (lock == INVALID_HANDLE_VALUE) {
        appendToLog("OVERLAP " + commandLine + "\r\n");
        return kOverlapExitCode;
    }
    const std::uint64_t start = now();

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring scriptPath = argv != nullptr ? scriptPathFrom(argc, argv) : std::wstring();
    LocalFree(argv);
    std::string script;
    const bool scriptRead = !scriptPath.empty() && readWholeFile(scriptPath, script);

    std::string listing;
    if (readWholeFile(controlFile(L"vdisks.txt"), listing)) {
        writeToConsole(listing);
    }
    Sleep(numberFromFile(L"delay-ms.txt", 0));
    const DWORD exitCode = scriptRead ? numberFromFile(L"exitcode.txt", 0) : kScriptUnreadableExitCode;

    wchar_t ownPath[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, ownPath, MAX_PATH - 1);
    appendToLog("RUN start=" + std::to_string(start) + " end=" + std::to_string(now()) + " exit=" +
                std::to_string(exitCode) + " autorun=" + autoRunPolicy() + "\r\nCOMMAND " + commandLine +
                "\r\nPROGRAM " + narrow(ownPath) + "\r\nSCRIPT-BEGIN\r\n" + script + "SCRIPT-END\r\n");
    CloseHandle(lock);
    return static_cast<int>(exitCode);
}
