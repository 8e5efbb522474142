// kvph: calls the library's exports from the command line and shows what each one returned and logged.
//
//   kvph [--machine FILE] [--save FILE] [--json] COMMAND ARGS... [-- COMMAND ARGS...]
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Host.h"
#include "ToolText.h"

namespace kvph::tool {
namespace {

constexpr int kUsageError = 2;

struct Invocation {
    const CommandSpec* command = nullptr;
    std::vector<std::string> arguments;
};

struct Options {
    std::string machineFile;
    std::string saveFile;
    bool json = false;
    bool help = false;
    std::vector<Invocation> invocations;
};

struct UsageError {
    std::string message;
};

std::string usageText() {
    std::string text =
        "usage: kvph [--machine FILE] [--save FILE] [--json] COMMAND ARGS... [-- COMMAND ARGS...]\n"
        "  --machine FILE  run on the simulated machine FILE describes (default: a built-in PC)\n"
        "  --save FILE     write the simulated machine to FILE after the commands\n"
        "  --json          one JSON object per command\n"
        "commands:\n";
    for (const CommandSpec& command : commandTable()) {
        text += std::string("  ") + command.usage + "\n";
    }
    return text;
}

Invocation parseInvocation(const std::vector<std::string>& words) {
    const CommandSpec* command = findCommand(words[0]);
    if (command == nullptr) {
        throw UsageError{"unknown command '" + words[0] + "'"};
    }
    const std::size_t given = words.size() - 1;
    if (given < command->argumentCount || given > command->argumentCount + command->optionalCount) {
        const std::string count =
            std::to_string(command->argumentCount) +
            (command->optionalCount != 0
                 ? " to " + std::to_string(command->argumentCount + command->optionalCount)
                 : "");
        throw UsageError{"'" + words[0] + "' takes " + count + " argument(s): " + command->usage};
    }
    return {command, std::vector<std::string>(words.begin() + 1, words.end())};
}

std::string optionValue(int argc, char** argv, int& i) {
    if (i + 1 >= argc) {
        throw UsageError{std::string(argv[i]) + " needs a value"};
    }
    return argv[++i];
}

Options parseOptions(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc && std::string(argv[i]).rfind("-", 0) == 0 && std::string(argv[i]) != "--"; ++i) {
        const std::string option = argv[i];
        if (option == "--machine") {
            options.machineFile = optionValue(argc, argv, i);
        } else if (option == "--save") {
            options.saveFile = optionValue(argc, argv, i);
        } else if (option == "--json") {
            options.json = true;
        } else if (option == "--help" || option == "-h") {
            options.help = true;
            return options;
        } else {
            throw UsageError{"unknown option " + option};
        }
    }
    std::vector<std::string> words;
    for (; i <= argc; ++i) {
        if (i == argc || std::string(argv[i]) == "--") {
            if (!words.empty()) {
                options.invocations.push_back(parseInvocation(words));
            }
            words.clear();
        } else {
            words.push_back(argv[i]);
        }
    }
    if (options.invocations.empty()) {
        throw UsageError{"no command given"};
    }
    return options;
}

struct Outcome {
    CommandResult result;
    std::vector<std::wstring> log;
    bool diskpartVisible = false;
    std::vector<DiskpartRunRecord> diskpart;
};

Outcome run(Host& host, const Invocation& invocation) {
    std::vector<std::wstring> arguments;
    for (const std::string& argument : invocation.arguments) {
        arguments.push_back(fromUtf8(argument));
    }
    Outcome outcome;
    outcome.result = invocation.command->run(host, arguments);
    outcome.log = host.takeLog();
    outcome.diskpartVisible = host.takeDiskpartRuns(outcome.diskpart);
    return outcome;
}

void printText(const Invocation& invocation, const Outcome& outcome) {
    std::cout << ">";
    std::cout << " " << invocation.command->name;
    for (const std::string& argument : invocation.arguments) {
        std::cout << " " << argument;
    }
    std::cout << "\nresult: " << outcome.result.result << "\n";
    if (outcome.result.output) {
        std::cout << "output: " << *outcome.result.output << "\n";
    }
    std::cout << "log:" << (outcome.log.empty() ? " (none)" : "") << "\n";
    for (const std::wstring& line : outcome.log) {
        std::cout << "  " << readable(line, "    ") << "\n";
    }
    for (std::size_t i = 0; i < outcome.diskpart.size(); ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", outcome.diskpart[i].exitCode);
        std::cout << "diskpart run " << i + 1 << ", exit code " << code << ":\n    "
                  << readable(fromUtf8(outcome.diskpart[i].script), "    ") << "\n";
    }
}

void printJson(const Invocation& invocation, const Outcome& outcome) {
    nlohmann::ordered_json line = {{"command", invocation.command->name},
                                   {"arguments", invocation.arguments},
                                   {"result", outcome.result.result}};
    line["output"] = !outcome.result.data.is_null() ? outcome.result.data
                     : outcome.result.output        ? nlohmann::ordered_json(*outcome.result.output)
                                                    : nlohmann::ordered_json(nullptr);
    line["log"] = nlohmann::ordered_json::array();
    for (const std::wstring& text : outcome.log) {
        line["log"].push_back(toUtf8(text));
    }
    if (outcome.diskpartVisible) {
        line["diskpart"] = nlohmann::ordered_json::array();
        for (const DiskpartRunRecord& record : outcome.diskpart) {
            line["diskpart"].push_back({{"script", record.script}, {"exitCode", record.exitCode}});
        }
    }
    std::cout << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

int runTool(int argc, char** argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "kvph: " << error.message << "\n" << usageText();
        return kUsageError;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    std::string error;
    std::unique_ptr<Host> host = makeHost(options.machineFile, error);
    if (!host) {
        std::cerr << "kvph: " << error << "\n";
        return kUsageError;
    }
    for (const Invocation& invocation : options.invocations) {
        const Outcome outcome = run(*host, invocation);
        options.json ? printJson(invocation, outcome) : printText(invocation, outcome);
    }
    std::cout.flush();
    if (!options.saveFile.empty() && !host->save(options.saveFile, error)) {
        std::cerr << "kvph: cannot save the machine: " << error << "\n";
        return kUsageError;
    }
    return 0;
}

}  // namespace
}  // namespace kvph::tool

int main(int argc, char** argv) {
    std::vector<std::string> arguments = kvph::tool::utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return kvph::tool::runTool(static_cast<int>(arguments.size()), pointers.data());
}
