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

    // With an application name the program is that file: only the system folder's diskpart.exe runs.
    // Without one the command line's first word names it, as the platform's search finds it.
    kvph::ProcessOutcome createProcessAndWait(const std::wstring& applicationName,
                                              const std::wstring& commandLine);
    kvph::ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                             const std::wstring& directory);

private:
    // Diskpart with its words as parsed from the command line.
    std::uint32_t startDiskpart(const std::vector<std::wstring>& words, const std::wstring& commandLine,
                                const std::wstring& directory, std::string& output);
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
