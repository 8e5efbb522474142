#include "kvph/commands/CheckCommand.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "frame/UniqueHandle.h"
#include "kvph/base/ToolText.h"
#include "kvph/commands/InventoryCommands.h"
#include "kvph/commands/PartitionCommands.h"
#include "kvph/machine/MachineCapture.h"
#include "kvph/machine/SavedMachineState.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph::tool {
namespace {

namespace win = kvph::win;

constexpr int kDefaultSizeMB = 64;
constexpr int kPassed = 0;
constexpr int kFailed = 1;
constexpr int kMaxScratchFolders = 1000;
constexpr wchar_t kLabel[] = L"KvphCheck";
constexpr wchar_t kDriveFileName[] = L"KvphCheck.vhdx";
constexpr wchar_t kProbeFileName[] = L"kvph-check.txt";
constexpr char kProbeText[] = "kvph check: written on the scratch drive and read back\r\n";

struct Settings {
    std::wstring folder;  // empty: a new folder under the temporary folder
    int sizeMB = kDefaultSizeMB;
};

// What a step gave and how it was judged; `reason` says what was wrong when the tool itself saw it.
struct StepOutcome {
    int result = 0;
    std::optional<std::string> output;
    bool passed = false;
    std::string reason;
};

struct Run {
    Host& host;
    std::wstring drivePath;
    std::string quotedPath;           // the path as C source writes it
    std::set<wchar_t> lettersBefore;  // drive letters in use before the check
    std::wstring letter;              // the scratch drive's letter, once a step found one
};

struct Step {
    std::string title;
    std::string call;
    std::string expected;
    std::function<StepOutcome(Run&)> run;
};

std::string cQuoted(const std::wstring& text) {
    std::string quoted = "L\"";
    for (char c : toUtf8(text)) {
        quoted += c == '\\' || c == '"' ? std::string(1, '\\') + c : std::string(1, c);
    }
    return quoted + "\"";
}

StepOutcome judged(int result, int expected, std::optional<std::string> output = std::nullopt) {
    StepOutcome outcome{result, std::move(output), result == expected, {}};
    return outcome;
}

StepOutcome withCondition(StepOutcome outcome, bool holds, const std::string& reason) {
    if (outcome.passed && !holds) {
        outcome.passed = false;
        outcome.reason = reason;
    }
    return outcome;
}

bool fileExists(const std::wstring& path) {
    return platform().getFileAttributesW(path).has_value();
}

// Whether `output` is a letter ("X:") that was free before the check began: only on such a letter may
// the check write, so that nothing it writes lands on a volume it did not make.
bool isNewLetter(const Run& run, const std::optional<std::string>& output) {
    return output && output->size() == 2 && (*output)[1] == ':' &&
           std::isupper(static_cast<unsigned char>((*output)[0])) &&
           run.lettersBefore.count(static_cast<wchar_t>((*output)[0])) == 0;
}

StepOutcome exists(Run& run, int expected) {
    return judged(run.host.exports().checkExistVHDX(run.drivePath.c_str()), expected);
}

StepOutcome readOnlyState(Run& run, const char* expectedState) {
    const CommandResult answer = vhdxReadOnly(run.host, {run.drivePath});
    return withCondition(judged(answer.result, 1, answer.output), answer.output == expectedState,
                         std::string("the state should be ") + expectedState);
}

// Writes a new file on the scratch drive's volume, reads it back and deletes it, all through the
// platform the library uses.
StepOutcome probeVolume(Run& run) {
    if (run.letter.empty()) {
        return {0, std::nullopt, false, "no letter for the scratch drive's volume"};
    }
    Platform& os = platform();
    const std::wstring path = run.letter + L"\\" + kProbeFileName;
    const std::string text = kProbeText;
    {
        const HandleResult created =
            os.createFileW(path, win::GENERIC_WRITE_, 0, win::CREATE_NEW_, win::FILE_ATTRIBUTE_NORMAL_);
        UniqueHandle file(created.handle);
        if (!file.valid()) {
            return {0, std::nullopt, false,
                    "cannot create " + toUtf8(path) + " (error " + std::to_string(created.error) + ")"};
        }
        const WriteResult written = os.writeFile(file.get(), Bytes(text.begin(), text.end()));
        if (!written.ok || written.bytesWritten != text.size()) {
            file.reset();
            os.deleteFileW(path);
            return {0, std::nullopt, false,
                    "cannot write " + toUtf8(path) + " (error " + std::to_string(written.error) + ")"};
        }
    }
    UniqueHandle file(os.createFileW(path, win::GENERIC_READ_, win::FILE_SHARE_READ_, win::OPEN_EXISTING_,
                                     win::FILE_ATTRIBUTE_NORMAL_)
                          .handle);
    const ReadResult read =
        file.valid() ? os.readFile(file.get(), static_cast<std::uint32_t>(text.size()) + 1) : ReadResult{};
    file.reset();
    const BoolResult deleted = os.deleteFileW(path);
    const bool same = read.ok && std::string(read.data.begin(), read.data.end()) == text;
    if (!same) {
        return {0, std::nullopt, false, "what was read back from " + toUtf8(path) + " differs"};
    }
    return withCondition(judged(1, 1, toUtf8(path)), deleted.ok, "cannot delete " + toUtf8(path));
}

std::vector<Step> lifeOfTheScratchDrive(const Run& run, const Settings& settings) {
    const std::string path = run.quotedPath;
    return {
        {"List the fixed partitions", "PH_ListFixedPartition()", "1",
         [](Run& r) { return judged(r.host.exports().listFixedPartition(), 1); }},
        {"Find a free drive letter", "PH_FindUsableLabel(letter)", "1 and a letter not in use",
         [](Run& r) {
             const CommandResult answer = freeLetter(r.host, {});
             return withCondition(judged(answer.result, 1, answer.output), isNewLetter(r, answer.output),
                                  "the letter is in use");
         }},
        {"Create the scratch drive",
         "PH_CreateVHDX(" + path + ", L\"KvphCheck\", " + std::to_string(settings.sizeMB) + ", 1)",
         "1 and the file made",
         [size = settings.sizeMB](Run& r) {
             const int result = r.host.exports().createVHDX(r.drivePath.c_str(), kLabel, size, 1);
             return withCondition(judged(result, 1), fileExists(r.drivePath), "there is no file at the path");
         }},
        {"Ask whether it is attached (a new drive is left detached)", "PH_CheckExistVHDX(" + path + ")", "0",
         [](Run& r) { return exists(r, 0); }},
        {"Attach it", "PH_AttachVHDX(" + path + ", 0)", "1",
         [](Run& r) { return judged(r.host.exports().attachVHDX(r.drivePath.c_str(), 0), 1); }},
        {"Ask for its letter", "PH_GetVHDXVolumeLabel(" + path + ", letter)",
         "1 and a letter not in use before",
         [](Run& r) {
             const CommandResult answer = vhdxLetter(r.host, {r.drivePath});
             const StepOutcome outcome =
                 withCondition(judged(answer.result, 1, answer.output), isNewLetter(r, answer.output),
                               "not a letter new to the machine");
             r.letter = outcome.passed ? fromUtf8(*answer.output) : std::wstring();
             return outcome;
         }},
        {"Ask whether it is read-only", "PH_CheckVHDXReadOnly(" + path + ", &state)", "1, state 0",
         [](Run& r) { return readOnlyState(r, "0"); }},
        {"Write a file on its volume and read it back", "write, read back and delete a file on its letter",
         "the same bytes", probeVolume},
        {"Detach it, keeping its file", "PH_DetachVHDX(" + path + ", 0)", "1",
         [](Run& r) { return judged(r.host.exports().detachVHDX(r.drivePath.c_str(), 0), 1); }},
        {"Attach it read-only", "PH_AttachVHDX(" + path + ", 1)", "1",
         [](Run& r) { return judged(r.host.exports().attachVHDX(r.drivePath.c_str(), 1), 1); }},
        {"Ask whether it is read-only", "PH_CheckVHDXReadOnly(" + path + ", &state)", "1, state 1",
         [](Run& r) { return readOnlyState(r, "1"); }},
        {"Compact it and attach it again", "PH_CompactThenAttachVHDX(" + path + ")", "1",
         [](Run& r) { return judged(r.host.exports().compactThenAttachVHDX(r.drivePath.c_str()), 1); }},
        {"Detach it and remove it", "PH_DetachVHDX(" + path + ", 1)", "1 and the file gone",
         [](Run& r) {
             const int result = r.host.exports().detachVHDX(r.drivePath.c_str(), 1);
             return withCondition(judged(result, 1), !fileExists(r.drivePath), "the file is still there");
         }},
        {"Ask whether it is attached", "PH_CheckExistVHDX(" + path + ")", "0",
         [](Run& r) { return exists(r, 0); }},
    };
}

// The folders the check made for its scratch drive, removed again deepest first.
class ScratchFolders {
public:
    explicit ScratchFolders(Host& host) : host_(host) {}

    // Makes `folder` and the folders missing above it; false when one cannot be made.
    bool make(const std::wstring& folder) {
        if (fileExists(folder)) {
            return true;
        }
        const std::size_t parentEnd = folder.find_last_of(L'\\');
        if (parentEnd == std::wstring::npos || parentEnd < 3 || !make(folder.substr(0, parentEnd))) {
            return false;
        }
        if (!platform().createDirectoryW(folder, L"").ok) {
            return false;
        }
        made_.push_back(folder);
        return true;
    }

    std::vector<std::string> remove() {
        std::vector<std::string> problems;
        for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
            if (!host_.removeEmptyFolder(*folder)) {
                problems.push_back("cannot remove the scratch folder " + toUtf8(*folder));
            }
        }
        made_.clear();
        return problems;
    }

private:
    Host& host_;
    std::vector<std::wstring> made_;
};

// Puts the machine back on every way out of the check: the scratch drive detached and deleted, its
// folders removed, and the saved state restored.
class Cleanup {
public:
    Cleanup(Host& host, SavedMachineState saved, std::wstring drivePath)
        : host_(host), saved_(std::move(saved)), drivePath_(std::move(drivePath)), folders_(host) {}
    ~Cleanup() {
        if (!done_) {
            run();
        }
    }
    Cleanup(const Cleanup&) = delete;
    Cleanup& operator=(const Cleanup&) = delete;

    ScratchFolders& folders() { return folders_; }

    // What could not be put back, and what still differs from the state saved before.
    std::vector<std::string> run() {
        done_ = true;
        std::vector<std::string> problems;
        removeScratchDrive(problems);
        for (const std::string& line : saved_.restore(host_)) {
            problems.push_back(line);
        }
        for (const std::string& line : folders_.remove()) {
            problems.push_back(line);
        }
        std::string why;
        const auto now = SavedMachineState::read(host_, why);
        if (!now) {
            problems.push_back("cannot read the machine again: " + why);
        } else {
            for (const std::string& line : saved_.differences(*now)) {
                problems.push_back(line);
            }
        }
        return problems;
    }

private:
    void removeScratchDrive(std::vector<std::string>& problems) {
        if (!fileExists(drivePath_)) {
            return;
        }
        // Detached with removal, which also takes Partition.ini and MaxSize.ini; a drive that is not
        // attached refuses to detach, and then only its file is left to delete.
        host_.exports().detachVHDX(drivePath_.c_str(), 1);
        if (fileExists(drivePath_)) {
            platform().setFileAttributesW(drivePath_, win::FILE_ATTRIBUTE_NORMAL_);
            const BoolResult deleted = platform().deleteFileW(drivePath_);
            if (!deleted.ok) {
                problems.push_back("cannot detach and delete the scratch drive " + toUtf8(drivePath_) +
                                   " (error " + std::to_string(deleted.error) + ")");
            }
        }
    }

    Host& host_;
    SavedMachineState saved_;
    std::wstring drivePath_;
    ScratchFolders folders_;
    bool done_ = false;
};

std::optional<Settings> parseSettings(const std::vector<std::wstring>& arguments) {
    Settings settings;
    for (std::size_t i = 0; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == L"--folder") {
            settings.folder = arguments[i + 1];
            while (settings.folder.size() > 3 &&
                   (settings.folder.back() == L'\\' || settings.folder.back() == L'/')) {
                settings.folder.pop_back();
            }
        } else if (arguments[i] == L"--size") {
            wchar_t* end = nullptr;
            errno = 0;
            const long value = std::wcstol(arguments[i + 1].c_str(), &end, 10);
            if (*end != L'\0' || errno != 0 || value < 1 || value > INT_MAX) {
                return std::nullopt;
            }
            settings.sizeMB = static_cast<int>(value);
        }
    }
    return settings;
}

int refuse(const std::string& why) {
    std::cout.flush();
    std::cerr << "kvph: check: " << why << "\n";
    return kFailed;
}

// A folder under the temporary folder that does not exist yet.
std::wstring newScratchFolder(Host& host) {
    const std::wstring temporary = host.temporaryFolder();
    if (temporary.empty()) {
        return {};
    }
    for (int n = 1; n <= kMaxScratchFolders; ++n) {
        const std::wstring folder = temporary + L"kvph-check-" + std::to_wstring(n);
        if (!fileExists(folder)) {
            return folder;
        }
    }
    return {};
}

std::string hexCode(unsigned code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

class Report {
public:
    explicit Report(bool json) : json_(json) {}

    void step(const Step& step, const StepOutcome& outcome, const std::vector<std::wstring>& log,
              const std::vector<DiskpartRunRecord>& runs) {
        ++number_;
        (outcome.passed ? passed_ : failed_) += 1;
        json_ ? stepJson(step, outcome, log, runs) : stepText(step, outcome, log, runs);
    }

    int finish() {
        std::cout << (json_ ? "" : "\n");
        std::cout.flush();
        (json_ ? std::cerr : std::cout) << passed_ << " passed, " << failed_ << " failed" << std::endl;
        return failed_ == 0 ? kPassed : kFailed;
    }

private:
    void stepText(const Step& step, const StepOutcome& outcome, const std::vector<std::wstring>& log,
                  const std::vector<DiskpartRunRecord>& runs) {
        std::cout << "\n"
                  << (number_ < 10 ? " " : "") << number_ << ". " << step.title << "\n    " << step.call
                  << " = " << outcome.result;
        if (outcome.output) {
            std::cout << ", output "
                      << (outcome.output->empty() ? "\"\"" : escaped(fromUtf8(*outcome.output)));
        }
        std::cout << "\n    expected " << step.expected << ": " << (outcome.passed ? "passed" : "FAILED");
        if (!outcome.reason.empty()) {
            std::cout << " (" << escaped(fromUtf8(outcome.reason)) << ")";
        }
        std::cout << "\n";
        if (!outcome.passed) {
            std::cout << "    log:" << (log.empty() ? " (none)" : "") << "\n";
            for (const std::wstring& line : log) {
                std::cout << "      " << readable(line, "        ") << "\n";
            }
            for (std::size_t r = 0; r < runs.size(); ++r) {
                std::cout << "    diskpart run " << r + 1 << ", exit code " << hexCode(runs[r].exitCode)
                          << ":\n"
                          << "      " << readable(fromUtf8(runs[r].script), "      ") << "\n";
            }
        }
        std::cout.flush();
    }

    void stepJson(const Step& step, const StepOutcome& outcome, const std::vector<std::wstring>& log,
                  const std::vector<DiskpartRunRecord>& runs) {
        nlohmann::ordered_json line = {
            {"step", number_},
            {"title", step.title},
            {"call", step.call},
            {"result", outcome.result},
            {"output", outcome.output ? nlohmann::ordered_json(*outcome.output) : nullptr},
            {"expected", step.expected},
            {"passed", outcome.passed},
            {"reason", outcome.reason.empty() ? nlohmann::ordered_json(nullptr)
                                              : nlohmann::ordered_json(outcome.reason)},
            {"log", nlohmann::ordered_json::array()},
            {"diskpart", nlohmann::ordered_json::array()}};
        for (const std::wstring& text : log) {
            line["log"].push_back(toUtf8(text));
        }
        for (const DiskpartRunRecord& run : runs) {
            line["diskpart"].push_back({{"script", run.script}, {"exitCode", run.exitCode}});
        }
        std::cout << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
    }

    bool json_;
    int number_ = 0;
    int passed_ = 0;
    int failed_ = 0;
};

void runStep(Run& run, Report& report, const Step& step) {
    const StepOutcome outcome = step.run(run);
    const std::vector<std::wstring> log = run.host.takeLog();
    std::vector<DiskpartRunRecord> runs;
    run.host.takeDiskpartRuns(runs);
    report.step(step, outcome, log, runs);
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : "; ") + line;
    }
    return text;
}

}  // namespace

int runCheck(Host& host, const std::vector<std::wstring>& arguments, bool json) {
    const auto settings = parseSettings(arguments);
    if (!settings) {
        return refuse("--size must be a whole number of megabytes from 1");
    }
    if (!host.isAdministrator()) {
        return refuse(
            "run it as an administrator: the library attaches drives and changes the AutoRun policy");
    }
    std::string why;
    auto saved = SavedMachineState::read(host, why);
    if (!saved) {
        return refuse("cannot save the machine's state to put it back afterwards: " + why);
    }
    const std::vector<std::wstring> hostFiles = saved->hostDriveStateFiles();
    if (!hostFiles.empty()) {
        return refuse(toUtf8(hostFiles.front()) +
                      " exists: a host service keeps its drive in this folder. Copy kvph.exe and "
                      "KvPartitionHelper.dll into a folder of their own and run the check there.");
    }
    const std::wstring folder = settings->folder.empty() ? newScratchFolder(host) : settings->folder;
    if (folder.empty()) {
        return refuse("no temporary folder for the scratch drive; name one with --folder DIR");
    }
    const std::wstring drivePath = folder + L"\\" + kDriveFileName;
    if (fileExists(drivePath)) {
        return refuse(toUtf8(drivePath) + " exists already: the check makes its own drive");
    }

    watchForInterrupts();
    Run run{host, drivePath, cQuoted(drivePath), logicalDriveLetters(), {}};
    Report report(json);
    Cleanup cleanup(host, std::move(*saved), drivePath);
    if (!cleanup.folders().make(folder)) {
        return refuse("cannot make the folder " + toUtf8(folder));
    }
    host.takeLog();
    if (!json) {
        std::cout << "kvph check: a scratch VHDX drive's life through " << toUtf8(host.libraryFolder())
                  << "KvPartitionHelper.dll\nThe scratch drive: " << toUtf8(drivePath)
                  << ", expandable, at most " << settings->sizeMB << " MB, labelled KvphCheck\n";
    }
    for (const Step& step : lifeOfTheScratchDrive(run, *settings)) {
        if (interruptRequested()) {
            report.step(step, {0, std::nullopt, false, "not run: interrupted"}, {}, {});
        } else {
            runStep(run, report, step);
        }
    }
    const Step restoreStep{"Put the machine back as it was",
                           "detach and delete the scratch drive, restore files, folders and AutoRun policy",
                           "nothing left changed", [&cleanup](Run&) {
                               const std::vector<std::string> problems = cleanup.run();
                               return withCondition(judged(1, 1), problems.empty(), joined(problems));
                           }};
    runStep(run, report, restoreStep);
    interruptHandled();
    return report.finish();
}

}  // namespace kvph::tool
