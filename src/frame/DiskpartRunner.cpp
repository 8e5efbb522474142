#include "frame/DiskpartRunner.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "frame/Folders.h"
#include "frame/Log.h"
#include "frame/Text.h"
#include "frame/UniqueHandle.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kScriptFileName[] = L"Command.txt";
constexpr wchar_t kDiskpart[] = L"diskpart";
constexpr wchar_t kDiskpartProgram[] = L"diskpart.exe";
constexpr std::uint32_t kSystemFolderUnits = 260;
constexpr std::uint32_t kScriptFileAccess = win::GENERIC_READ_ | win::GENERIC_WRITE_ | win::GENERIC_EXECUTE_;
constexpr std::uint32_t kScriptFileSharing = win::FILE_SHARE_READ_ | win::FILE_SHARE_WRITE_;

// Deletes the script file once the handle that wrote it is closed.
std::nullopt_t discardScriptFile(UniqueHandle& file, const std::wstring& path, const wchar_t* message) {
    logLine(message);
    file.reset();
    platform().deleteFileW(path);
    return std::nullopt;
}

// diskpart.exe of the system folder, named outright: a search by the command line's first word would look
// in the host program's folder and the current folder first, where anyone might have put a diskpart.exe
// that would then run with the host's rights. Empty when the system folder cannot be named.
std::wstring systemDiskpart() {
    const std::optional<std::wstring> folder = platform().getSystemDirectoryW(kSystemFolderUnits);
    return folder && !folder->empty() ? PathAppend(*folder, kDiskpartProgram) : std::wstring();
}

bool attemptSucceeded(const std::wstring& commandLine, std::uint32_t& exitCode) {
    return RunProcessAndWait(commandLine, &exitCode) == 1 && exitCode == 0;
}

}  // namespace

std::optional<std::string> composeScript(std::size_t bufferBytes, const char* format, ...) {
    std::vector<char> buffer(bufferBytes, '\0');
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<std::size_t>(length) >= bufferBytes) {
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::wstring ScriptFilePath() {
    const std::wstring dataDirectory = DataDirectory();
    return dataDirectory.empty() ? std::wstring() : PathAppend(dataDirectory, kScriptFileName);
}

int RunProcessAndWait(const std::wstring& commandLine, std::uint32_t* exitCode) {
    if (utf16Length(commandLine) >= kTextUnits) {
        logLine(L"(KvPartitionHelper)Command line too long.\r\n");
        return 0;
    }
    const std::wstring program = systemDiskpart();
    const ProcessOutcome outcome =
        program.empty() ? ProcessOutcome{}
                        : platform().createProcessAndWait(program, commandLine, win::CREATE_NO_WINDOW_);
    switch (outcome.stage) {
        case ProcessOutcome::Stage::NotStarted:
            logLine(L"(KvPartitionHelper)Create process fail.\r\n");
            return 0;
        case ProcessOutcome::Stage::WaitFailed:
        case ProcessOutcome::Stage::ExitCodeUnreadable:
            return 0;
        case ProcessOutcome::Stage::Exited:
            break;
    }
    if (exitCode != nullptr) {
        *exitCode = outcome.exitCode;
    }
    return 1;
}

std::optional<std::wstring> WriteScriptFile(const std::string& script, bool echo) {
    if (script.size() >= kScriptBytes) {
        logLine(L"(KvPartitionHelper)Script too long.\r\n");
        return std::nullopt;
    }
    Platform& os = platform();
    const std::wstring path = ScriptFilePath();
    // Without the data directory the file name alone would put the script in the caller's current folder.
    if (path.empty()) {
        logLine(L"(KvPartitionHelper)Create file fail.\r\n");
        return std::nullopt;
    }
    // diskpart runs with administrator rights on whatever the file holds when it opens it.
    if (!SecureDataDirectory(PathRemoveFileSpec(path) + L'\\')) {
        return std::nullopt;
    }
    DeleteAnyFile(path);

    // A new file only: one that someone else made in the meantime would keep its own descriptor.
    UniqueHandle file(os.createFileW(path, kScriptFileAccess, kScriptFileSharing, win::CREATE_NEW_,
                                     win::FILE_ATTRIBUTE_NORMAL_, kProtectedFileSecurity)
                          .handle);
    if (!file.valid()) {
        logLine(L"(KvPartitionHelper)Create file fail.\r\n");
        return std::nullopt;
    }
    if (echo) {
        logNarrow(script);
    }
    // The file holds the script's bytes up to its first zero byte, as the script buffer would.
    const std::string text = script.substr(0, script.find('\0'));
    const WriteResult written = os.writeFile(file.get(), Bytes(text.begin(), text.end()));
    if (!written.ok) {
        return discardScriptFile(file, path, L"(KvPartitionHelper)Write fail.");
    }
    if (written.bytesWritten != text.size()) {
        return discardScriptFile(file, path, L"(KvPartitionHelper)Write size incorrect.");
    }
    if (!os.flushFileBuffers(file.get()).ok) {
        return discardScriptFile(file, path, L"(KvPartitionHelper)Write through fail, still in buffer.");
    }
    return path;
}

ScriptOutcome RunDiskpartScript(const std::string& script, const DiskpartSettings& settings) {
    const auto path = WriteScriptFile(script, settings.echo);
    if (!path) {
        return ScriptOutcome::ScriptNotWritten;
    }
    if (settings.beforeRun) {
        settings.beforeRun();
    }
    const std::wstring commandLine =
        formatBounded(kTextUnits * 2, L"%ls /s \"%ls\"", kDiskpart, path->c_str());
    std::uint32_t exitCode = 0;
    ScriptOutcome outcome = ScriptOutcome::DiskpartFailed;
    for (int attempt = 0; attempt < settings.attempts; ++attempt) {
        if (attemptSucceeded(commandLine, exitCode)) {
            outcome = ScriptOutcome::DiskpartSucceeded;
            if (!settings.successMessage.empty()) {
                logLine(settings.successMessage);
            }
            break;
        }
        logLine(formatBounded(kTextUnits, settings.errorFormat.c_str(), exitCode));
        if (settings.pauseAfterFailureMs != 0) {
            platform().sleep(settings.pauseAfterFailureMs);
        }
    }
    platform().deleteFileW(*path);
    return outcome;
}

}  // namespace kvph
