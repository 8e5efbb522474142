#include "sim/diskpart/Processes.h"

#include "platform/WinConstants.h"
#include "sim/diskpart/Runner.h"
#include "sim/windows/Files.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;

constexpr std::uint32_t kErrorNoAssociation = 1155;
// The command interpreter's errorlevel for a program it cannot find.
constexpr std::uint32_t kCommandNotFound = 9009;
constexpr std::uint32_t kDiskpartBadArguments = 2;
constexpr std::uint32_t kDiskpartScriptUnreadable = 3;
constexpr std::uint32_t kUtf8CodePage = 65001;
constexpr wchar_t kSystemFolder[] = L"\\System32";

// Words of a command line: blanks separate them except inside double quotes, which are removed.
std::vector<std::wstring> splitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> words;
    std::wstring current;
    bool quoted = false;
    bool inWord = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == L' ' || c == L'\t')) {
            if (inWord) {
                words.push_back(current);
                current.clear();
                inWord = false;
            }
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(current);
    }
    return words;
}

std::wstring programName(const std::wstring& word) {
    std::wstring name = text::upper(
        word.substr(word.find_last_of(L"\\/") == std::wstring::npos ? 0 : word.find_last_of(L"\\/") + 1));
    if (name.size() > 4 && name.compare(name.size() - 4, 4, L".EXE") == 0) {
        name.resize(name.size() - 4);
    }
    return name;
}

bool isDiskpart(const std::vector<std::wstring>& words) {
    return !words.empty() && programName(words[0]) == L"DISKPART";
}

std::optional<std::wstring> scriptArgument(const std::vector<std::wstring>& words) {
    for (std::size_t i = 1; i + 1 < words.size(); ++i) {
        if (text::equalsNoCase(words[i], L"/s")) {
            return words[i + 1];
        }
    }
    return std::nullopt;
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') || path.rfind(L"\\\\", 0) == 0;
}

std::wstring resolve(const std::wstring& path, const std::wstring& directory) {
    if (isAbsolute(path) || directory.empty()) {
        return path;
    }
    return directory.back() == L'\\' ? directory + path : directory + L"\\" + path;
}

bool hasExtension(const std::wstring& path, const std::wstring& extension) {
    const std::wstring key = pathKey(path);
    return key.size() > extension.size() &&
           key.compare(key.size() - extension.size(), extension.size(), text::upper(extension)) == 0;
}

std::vector<std::string> byteLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// A command of a batch line and where its output goes ("" when it is not redirected).
struct Redirected {
    std::wstring command;
    std::wstring target;
    bool append = false;
};

Redirected splitRedirection(const std::wstring& line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == L'"') {
            quoted = !quoted;
        } else if (!quoted && line[i] == L'>') {
            const bool append = i + 1 < line.size() && line[i + 1] == L'>';
            const std::vector<std::wstring> target = splitCommandLine(line.substr(i + (append ? 2 : 1)));
            return {text::trim(line.substr(0, i)), target.empty() ? L"" : target[0], append};
        }
    }
    return {line, L"", false};
}

// cmd's expansion of a batch line: "%%" is one '%', "%0".."%9" and "%*" are the batch's arguments (it
// has none), "%NAME%" is a variable (the simulated machine sets none, so it expands to nothing), and a
// '%' without a closing one is dropped.
std::wstring expandPercents(const std::wstring& line) {
    std::wstring expanded;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != L'%') {
            expanded += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == L'%') {
            expanded += L'%';
            ++i;
        } else if (i + 1 < line.size() &&
                   ((line[i + 1] >= L'0' && line[i + 1] <= L'9') || line[i + 1] == L'*')) {
            ++i;
        } else if (const std::size_t close = line.find(L'%', i + 1); close != std::wstring::npos) {
            i = close;
        }
    }
    return expanded;
}

}  // namespace

kvph::ProcessOutcome Processes::createProcessAndWait(const std::wstring& applicationName,
                                                     const std::wstring& commandLine) {
    using Stage = kvph::ProcessOutcome::Stage;
    if (auto error = calls_.enter("createProcessAndWait", commandLine)) {
        return {Stage::NotStarted, 0, *error};
    }
    const std::vector<std::wstring> words = splitCommandLine(commandLine);
    const std::wstring program = applicationName.empty() ? searchProgram(words) : applicationName;
    const bool systemDiskpart = pathKey(program) == pathKey(systemDiskpartPath());
    const bool otherDiskpart = !systemDiskpart && isDiskpart({program}) && files_.findFile(pathKey(program));
    if (!(systemDiskpart || otherDiskpart) || model_.diskpart.cannotStart) {
        return {Stage::NotStarted, 0, win::ERROR_FILE_NOT_FOUND_};
    }
    std::uint32_t exitCode = 0;
    if (otherDiskpart) {
        diskpart_.recordRun({commandLine, "", 0, "", program});
    } else {
        std::string output;
        exitCode = startDiskpart(words, commandLine, program, L"", output);
    }
    if (auto error = calls_.enter("processWait", commandLine)) {
        return {Stage::WaitFailed, 0, *error};
    }
    if (auto error = calls_.enter("processExitCode", commandLine)) {
        return {Stage::ExitCodeUnreadable, 0, *error};
    }
    return {Stage::Exited, exitCode, 0};
}

kvph::ProcessOutcome Processes::shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                                    const std::wstring& directory) {
    using Stage = kvph::ProcessOutcome::Stage;
    if (auto error = calls_.enter("shellExecuteAndWait", file)) {
        return {Stage::NotStarted, 0, *error};
    }
    const File* batch = files_.findFile(pathKey(file));
    if (batch == nullptr) {
        return {Stage::NotStarted, 0,
                files_.parentFolderExists(pathKey(file)) ? win::ERROR_FILE_NOT_FOUND_
                                                         : win::ERROR_PATH_NOT_FOUND_};
    }
    const bool opens = verb.empty() || text::equalsNoCase(verb, L"open");
    if (!opens || !(hasExtension(file, L".bat") || hasExtension(file, L".cmd"))) {
        return {Stage::NotStarted, 0, kErrorNoAssociation};
    }
    const std::uint32_t exitCode =
        runBatch(std::string(batch->content.begin(), batch->content.end()), directory);
    if (auto error = calls_.enter("processWait", file)) {
        return {Stage::WaitFailed, 0, *error};
    }
    if (auto error = calls_.enter("processExitCode", file)) {
        return {Stage::ExitCodeUnreadable, 0, *error};
    }
    return {Stage::Exited, exitCode, 0};
}

std::wstring Processes::systemDiskpartPath() const {
    return model_.windowsDirectory + kSystemFolder + L"\\diskpart.exe";
}

std::wstring Processes::searchProgram(const std::vector<std::wstring>& words) const {
    if (words.empty() || words[0].find_first_of(L"\\/:") != std::wstring::npos) {
        return words.empty() ? std::wstring() : words[0];
    }
    const std::wstring name = words[0].find(L'.') == std::wstring::npos ? words[0] + L".exe" : words[0];
    const std::wstring& program = model_.programPath;
    for (const std::wstring& folder : {program.substr(0, program.find_last_of(L'\\')),
                                       model_.currentDirectory, model_.windowsDirectory + kSystemFolder}) {
        const std::wstring candidate = resolve(name, folder);
        if (pathKey(candidate) == pathKey(systemDiskpartPath()) || files_.findFile(pathKey(candidate))) {
            return candidate;
        }
    }
    return {};
}

std::uint32_t Processes::startDiskpart(const std::vector<std::wstring>& words,
                                       const std::wstring& commandLine, const std::wstring& program,
                                       const std::wstring& directory, std::string& output) {
    const auto scriptPath = scriptArgument(words);
    if (!scriptPath) {
        return kDiskpartBadArguments;
    }
    const File* script = files_.findFile(pathKey(resolve(*scriptPath, directory)));
    if (script == nullptr) {
        const std::string message = "\r\nDiskPart was unable to open the script file.\r\n";
        output += message;
        diskpart_.recordRun({commandLine, "", kDiskpartScriptUnreadable, message, program});
        return kDiskpartScriptUnreadable;
    }
    return diskpart_.run(std::string(script->content.begin(), script->content.end()), commandLine, program,
                         output);
}

// The command interpreter reads a batch file line by line in the console's code page, which starts as
// the machine's ANSI code page; "chcp" changes it for the lines after it and for what programs print.
std::uint32_t Processes::runBatch(const std::string& bytes, const std::wstring& directory) {
    bool utf8Console = false;
    std::uint32_t errorLevel = 0;
    for (const std::string& raw : byteLines(bytes)) {
        std::wstring line =
            text::trim(expandPercents(utf8Console ? text::fromUtf8(raw) : codePage_.fromAnsi(raw)));
        if (!line.empty() && line[0] == L'@') {
            line = text::trim(line.substr(1));
        }
        if (auto lineLevel = runBatchLine(line, directory, utf8Console)) {
            errorLevel = *lineLevel;
        }
    }
    return errorLevel;
}

std::optional<std::uint32_t> Processes::runBatchLine(const std::wstring& line, const std::wstring& directory,
                                                     bool& utf8Console) {
    const Redirected redirected = splitRedirection(line);
    const std::vector<std::wstring> words = splitCommandLine(redirected.command);
    if (words.empty() || text::equalsNoCase(words[0], L"rem") || text::equalsNoCase(words[0], L"echo")) {
        return std::nullopt;
    }
    if (text::equalsNoCase(words[0], L"chcp")) {
        const std::wstring page = words.size() > 1 ? words[1] : L"";
        const bool toUtf8 = page == std::to_wstring(kUtf8CodePage);
        if (!toUtf8 && page != std::to_wstring(model_.codePage)) {
            return 1;
        }
        utf8Console = toUtf8;
        return 0;
    }
    // The redirection target is opened before the program starts, even when it cannot start.
    const std::wstring target = redirected.target.empty() ? L"" : resolve(redirected.target, directory);
    if (!target.empty() && files_.storeFile(target, "", redirected.append)) {
        return 1;
    }
    if (!isDiskpart(words) || model_.diskpart.cannotStart) {
        return kCommandNotFound;
    }
    std::string output;
    const std::uint32_t exitCode = startDiskpart(words, line, systemDiskpartPath(), directory, output);
    if (!target.empty()) {
        files_.storeFile(target, utf8Console ? output : codePage_.toAnsi(text::fromUtf8(output)), true);
    }
    return exitCode;
}

}  // namespace sim
