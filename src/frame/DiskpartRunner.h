// Runs diskpart scripts. RunDiskpartScript writes the script to Command.txt in the data directory, runs
// "diskpart /s" on it as often as its settings allow until one run exits with 0, and deletes the file.
// The presence query writes its "list vdisk" script with WriteScriptFile and runs it from a batch file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kvph {

enum class ScriptOutcome { ScriptNotWritten, DiskpartFailed, DiskpartSucceeded };

inline int resultOf(ScriptOutcome outcome) {
    return outcome == ScriptOutcome::DiskpartSucceeded ? 1 : 0;
}

struct DiskpartSettings {
    std::wstring successMessage;  // logged on success; empty: none
    std::wstring errorFormat = L"(KvPartitionHelper)diskpart error because of 0x%08x.";
    int attempts = 1;                       // diskpart runs at most, stopping at the first that exits with 0
    std::uint32_t pauseAfterFailureMs = 0;  // pause after each failed run; 0: none
    std::function<void()> beforeRun;        // runs after the script file is closed, before diskpart starts
    bool echo = false;  // log the script text with OutputDebugStringA before the file is written
};

constexpr std::size_t kScriptBytes = 520;      // script buffer; a script is at most 519 bytes
constexpr std::size_t kListScriptBytes = 260;  // the "list vdisk" script of the presence query

// printf-style composition of a narrow script into a buffer of `bufferBytes`: nullopt when the script
// would not fit (it is refused, never cut). Arguments are ANSI texts (from scriptArgument) and ints.
std::optional<std::string> composeScript(std::size_t bufferBytes, const char* format, ...);

// Starts diskpart.exe of the system folder with the command line and waits for it: 1 with the exit code
// stored when it ran to its end.
int RunProcessAndWait(const std::wstring& commandLine, std::uint32_t* exitCode);

// Logs errorFormat with the exit code after each failed run and successMessage after the run that
// succeeds.
ScriptOutcome RunDiskpartScript(const std::string& script, const DiskpartSettings& settings = {});

// The first half of RunDiskpartScript, shared with the presence query: secures the data directory
// (SecureDataDirectory) and replaces Command.txt with a new file holding the script, which only SYSTEM and
// Administrators may change. Returns the script file's path, or nullopt after logging why it could not be
// written (a script longer than 519 bytes is refused before anything is touched; an unprotected data
// directory gets no script).
std::optional<std::wstring> WriteScriptFile(const std::string& script, bool echo);

// Command.txt in the data directory; empty when the platform cannot name the data directory.
std::wstring ScriptFilePath();

}  // namespace kvph
