// Child processes: diskpart started directly, and batch files run by the command interpreter with their
// output redirections.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/windows/Shared.h"

namespace sim {

class Files;
class Diskpart;

class Processes {
public:
    Processes(MachineModel& model, Calls& calls, Files& files, Diskpart& diskpart, const CodePage& codePage)
        : model_(model), calls_(calls), files_(files), diskpart_(diskpart), codePage_(codePage) {}

    // With an application name the program is that file. Without one the command line's first word
    // names it, and the platform's search finds it. The system folder's diskpart.exe runs the script;
    // another diskpart.exe that the search finds first is recorded as run, does nothing and exits with 0.
    kvph::ProcessOutcome createProcessAndWait(const std::wstring& applicationName,
                                              const std::wstring& commandLine);
    kvph::ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                             const std::wstring& directory);

private:
    std::wstring systemDiskpartPath() const;
    // The file that a start without an application name runs for the command line's first word: a path
    // names its file; a bare name (".exe" added when it has no extension) is looked for in the host
    // program's folder, then the current folder, then the system folder, as the platform searches
    // (before its further places, which the simulated machine leaves empty). Empty when none holds it.
    std::wstring searchProgram(const std::vector<std::wstring>& words) const;
    // Diskpart with its words as parsed from the command line.
    std::uint32_t startDiskpart(const std::vector<std::wstring>& words, const std::wstring& commandLine,
                                const std::wstring& program, const std::wstring& directory,
                                std::string& output);
    // Batch files run line by line; a line that runs no command leaves the errorlevel (nullopt).
    std::uint32_t runBatch(const std::string& bytes, const std::wstring& directory);
    std::optional<std::uint32_t> runBatchLine(const std::wstring& line, const std::wstring& directory,
                                              bool& utf8Console);

    MachineModel& model_;
    Calls& calls_;
    Files& files_;
    Diskpart& diskpart_;
    const CodePage& codePage_;
};

}  // namespace sim
