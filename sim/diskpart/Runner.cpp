#include "sim/diskpart/Runner.h"

#include <cstdio>

#include "sim/windows/Text.h"

namespace sim {
namespace {

// The tool's own exit code for a line it cannot parse.
constexpr std::uint32_t kSyntaxError = 5;

// Splits at blanks outside double quotes; quotes stay in the tokens.
std::vector<std::wstring> tokenize(const std::wstring& line) {
    std::vector<std::wstring> tokens;
    std::wstring current;
    bool quoted = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
        }
        if (!quoted && (c == L' ' || c == L'\t')) {
            if (!current.empty()) {
                tokens.push_back(current);
                current.clear();
            }
            continue;
        }
        current += c;
    }
    if (!current.empty()) {
        tokens.push_back(current);
    }
    return tokens;
}

std::wstring withoutQuotes(std::wstring value) {
    std::wstring result;
    for (wchar_t c : value) {
        if (c != L'"') {
            result += c;
        }
    }
    return result;
}

}  // namespace

namespace diskpart {

std::optional<std::wstring> parameter(const DiskpartArguments& arguments, const std::wstring& name) {
    for (const std::wstring& argument : arguments) {
        if (text::startsWithNoCase(argument, name + L"=")) {
            return withoutQuotes(argument.substr(name.size() + 1));
        }
    }
    return std::nullopt;
}

bool hasWord(const DiskpartArguments& arguments, const std::wstring& word) {
    for (const std::wstring& argument : arguments) {
        if (text::equalsNoCase(argument, word)) {
            return true;
        }
    }
    return false;
}

std::optional<std::int64_t> positiveNumber(const std::optional<std::wstring>& value) {
    if (!value || value->empty() || value->size() > 12) {
        return std::nullopt;
    }
    std::int64_t number = 0;
    for (wchar_t c : *value) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        number = number * 10 + (c - L'0');
    }
    return number > 0 ? std::optional<std::int64_t>(number) : std::nullopt;
}

}  // namespace diskpart

namespace {

// Every family's table, searched in this order.
const std::vector<const std::vector<DiskpartCommand>*>& commandTables() {
    static const std::vector<const std::vector<DiskpartCommand>*> tables = {&vdiskCommands(), &diskCommands(),
                                                                            &resizeCommands()};
    return tables;
}

// Where the command's arguments begin among the tokens, or nullopt when the tokens are not this command.
std::optional<std::size_t> argumentsStart(const DiskpartCommand& command,
                                          const std::vector<std::wstring>& tokens) {
    const std::size_t count = command.words.size();
    if (tokens.size() < count) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (!text::equalsNoCase(tokens[i], command.words[i])) {
            return std::nullopt;
        }
    }
    const std::wstring& last = command.words.back();
    if (text::equalsNoCase(tokens[count - 1], last)) {
        return count;
    }
    if (text::startsWithNoCase(tokens[count - 1], last + L"=")) {
        return count - 1;
    }
    return std::nullopt;
}

struct Match {
    const DiskpartCommand* command = nullptr;
    std::size_t firstArgument = 0;
};

Match findCommand(const std::vector<std::wstring>& tokens) {
    for (const auto* table : commandTables()) {
        for (const DiskpartCommand& command : *table) {
            if (const auto start = argumentsStart(command, tokens)) {
                return {&command, *start};
            }
        }
    }
    return {};
}

std::vector<std::wstring> scriptLines(const std::wstring& script) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start <= script.size()) {
        std::size_t end = script.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = script.size();
        }
        std::wstring line = script.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::uint32_t execute(DiskpartContext& context, const std::wstring& script) {
    for (const std::wstring& line : scriptLines(script)) {
        const std::vector<std::wstring> tokens = tokenize(text::trim(line));
        if (tokens.empty() || text::equalsNoCase(tokens[0], L"rem")) {
            continue;
        }
        if (text::equalsNoCase(tokens[0], L"exit")) {
            break;
        }
        const Match match = findCommand(tokens);
        if (match.command == nullptr) {
            return context.fail(kSyntaxError,
                                L"The command is not known to this diskpart: " + text::trim(line));
        }
        const DiskpartArguments arguments(tokens.begin() + static_cast<std::ptrdiff_t>(match.firstArgument),
                                          tokens.end());
        if (const std::uint32_t code = match.command->run(context, arguments); code != 0) {
            return code;
        }
    }
    context.print(L"");
    context.print(L"Leaving DiskPart...");
    return 0;
}

}  // namespace

std::uint32_t Diskpart::run(const std::string& script, const std::wstring& commandLine,
                            const std::wstring& program, std::string& output) {
    DiskpartRun run;
    run.commandLine = commandLine;
    run.program = program;
    run.script = script;
    std::wstring printed;
    DiskpartSession session;
    DiskpartContext context{model_, files_, drives_, session, printed};
    auto& queue = model_.diskpart.exitCodes;
    const std::uint32_t queued = queue.empty() ? 0 : queue.front();
    if (!queue.empty()) {
        queue.erase(queue.begin());
    }
    if (queued != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(queued));
        run.exitCode = context.fail(
            queued, L"DiskPart stopped the script with the exit code " + text::widen(code) + L".");
    } else {
        run.exitCode = execute(context, codePage_.fromAnsi(script));
    }
    run.output = text::toUtf8(printed);
    output += run.output;
    runs_.push_back(run);
    return run.exitCode;
}

}  // namespace sim
