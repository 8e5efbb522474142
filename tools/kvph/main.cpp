// kvph: calls the library's exports from the command line and shows what each one returned and logged.
//
//   kvph [--machine FILE] [--save FILE] [--json] [--trace] COMMAND ARGS... [-- COMMAND ARGS...]
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "kvph/CommandTable.h"
#include "kvph/base/Host.h"
#include "kvph/base/ToolText.h"

namespace kvph::tool {
namespace {

constexpr int kRunFailure = 1;
constexpr int kUsageError = 2;
const char* const kGlobalOptions[] = {"--machine", "--save", "--json", "--trace"};

struct Invocation {
    const CommandRow* command = nullptr;
    std::vector<std::string> arguments;
};

struct Options {
    std::string machineFile;
    std::string saveFile;
    bool json = false;
    bool trace = false;
    std::vector<Invocation> invocations;
};

struct UsageError {
    std::string message;
};

// Help printed and nothing to run.
struct HelpShown {};

const char* const kFooter =
    "Several commands run in one call when separated by --, e.g.\n"
    "  kvph list -- create D:\\vd\\drive.vhdx Duskvale 20480 --expandable -- attach D:\\vd\\drive.vhdx\n"
    "The options go before the first command. 'kvph COMMAND --help' shows a command's arguments.\n"
    "Each command prints the export's result (1 or 0), its output value, the library's log lines and,\n"
    "on a simulated machine, each diskpart run with its script and exit code. An export that returns 0\n"
    "is a result, not an error.\n"
    "\n"
    "--trace shows the calls that change the machine as they happen: processes (diskpart with its\n"
    "script), registry changes, files and folders written or deleted. It needs the simulated machine;\n"
    "where kvph loads KvPartitionHelper.dll (on Windows without --machine) the library's inner calls\n"
    "cannot be seen. With --json, trace lines go to standard error.\n"
    "\n"
    "Exit status: 0 when every command ran, whatever the exports returned; 1 when a command, loading\n"
    "the machine or saving it failed, or a step of check failed; 2 for a usage error (unknown command or\n"
    "option, wrong arguments).";

// The program's own parser: global options (first group only) and one subcommand per table row.
class Parser {
public:
    explicit Parser(bool withGlobals, Options& options)
        : app_("Drives KvPartitionHelper's exports.", "kvph") {
        app_.footer(kFooter);
        app_.get_formatter()->column_width(28);
        if (withGlobals) {
            app_.add_option("--machine", options.machineFile,
                            "run on the simulated machine FILE describes (default: a built-in PC)")
                ->type_name("FILE");
            app_.add_option("--save", options.saveFile,
                            "write the simulated machine to FILE after the commands")
                ->type_name("FILE");
            app_.add_flag("--json", options.json, "print one JSON object per command");
            app_.add_flag("--trace", options.trace, "print each change to the machine as it happens");
        }
        for (const CommandRow& command : commandTable()) {
            addCommand(command);
        }
        app_.require_subcommand(1, 1);
    }

    // Parses one command's words; the first group may begin with the global options.
    Invocation parse(std::vector<std::string> words) {
        std::vector<std::string> reversed(words.rbegin(), words.rend());
        try {
            app_.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            std::cout << app_.help();
            throw HelpShown{};
        } catch (const CLI::CallForAllHelp&) {
            std::cout << app_.help("", CLI::AppFormatMode::All);
            throw HelpShown{};
        } catch (const CLI::RequiredError& error) {
            if (app_.get_subcommands().empty()) {
                throw UsageError{"no command given"};
            }
            throw UsageError{commandName() + ": " + error.what()};
        } catch (const CLI::ParseError& error) {
            const std::string where = app_.get_subcommands().empty() ? "" : commandName() + ": ";
            throw UsageError{where + error.what()};
        }
        CLI::App* selected = app_.get_subcommands().front();
        const CommandRow* command = findCommand(selected->get_name());
        Invocation invocation{command, {}};
        Values& values = values_[command->name];
        for (std::size_t i = 0; i < command->parameters.size(); ++i) {
            if (selected->get_option(command->parameters[i].name)->count() > 0) {
                invocation.arguments.push_back(values.parameters[i]);
            }
        }
        if (values.flag) {
            invocation.arguments.push_back(command->flag);
        }
        for (std::size_t i = 0; i < command->options.size(); ++i) {
            if (selected->get_option(command->options[i].name)->count() > 0) {
                invocation.arguments.push_back(command->options[i].name);
                invocation.arguments.push_back(values.options[i]);
            }
        }
        return invocation;
    }

private:
    struct Values {
        std::vector<std::string> parameters;
        bool flag = false;
        std::vector<std::string> options;
    };

    std::string commandName() const { return "'" + app_.get_subcommands().front()->get_name() + "'"; }

    void addCommand(const CommandRow& command) {
        CLI::App* sub = app_.add_subcommand(command.name, command.summary);
        Values& values = values_[command.name];
        values.parameters.resize(command.parameters.size());
        for (std::size_t i = 0; i < command.parameters.size(); ++i) {
            const Parameter& parameter = command.parameters[i];
            CLI::Option* option =
                sub->add_option(parameter.name, values.parameters[i], parameter.description);
            option->required(!parameter.optional);
            if (parameter.number) {
                option->check(CLI::Range(INT32_MIN, INT32_MAX).description(""))->type_name("INT");
            }
        }
        if (command.flag != nullptr) {
            sub->add_flag(command.flag, values.flag, command.flagDescription);
        }
        values.options.resize(command.options.size());
        for (std::size_t i = 0; i < command.options.size(); ++i) {
            const ValueOption& described = command.options[i];
            CLI::Option* option = sub->add_option(described.name, values.options[i], described.description);
            option->type_name(described.valueName);
            if (described.number) {
                option->check(CLI::Range(1, INT32_MAX).description(""));
            }
        }
    }

    CLI::App app_;
    std::map<std::string, Values> values_;
};

bool isGlobalOption(const std::string& word) {
    for (const char* option : kGlobalOptions) {
        const std::string name = option;
        if (word == name || word.rfind(name + "=", 0) == 0) {
            return true;
        }
    }
    return false;
}

// Global options belong before the first command; anywhere else they would be read as a command's
// arguments, so they are named here rather than counted as surplus arguments.
void refuseMisplacedOptions(const std::vector<std::string>& words, bool firstGroup) {
    std::size_t commandAt = 0;
    while (firstGroup && commandAt < words.size() && words[commandAt].rfind("-", 0) == 0) {
        commandAt += words[commandAt] == "--machine" || words[commandAt] == "--save" ? 2 : 1;
    }
    if (commandAt < words.size() && words[commandAt].rfind("-", 0) != 0 &&
        findCommand(words[commandAt]) == nullptr) {
        throw UsageError{"unknown command '" + words[commandAt] + "'"};
    }
    for (std::size_t i = firstGroup ? commandAt : 0; i < words.size(); ++i) {
        if (isGlobalOption(words[i])) {
            const std::string option = words[i].substr(0, words[i].find('='));
            throw UsageError{"the option " + option + " goes before the first command: kvph " + option +
                             (option == "--machine" || option == "--save" ? " FILE" : "") + " COMMAND ..."};
        }
    }
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    std::vector<std::vector<std::string>> groups(1);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--") {
            groups.emplace_back();
        } else {
            groups.back().push_back(arguments[i]);
        }
    }
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (groups[i].empty()) {
            throw UsageError{i == 0 ? "no command given" : "an empty command between two --"};
        }
        refuseMisplacedOptions(groups[i], i == 0);
        Parser parser(i == 0, options);
        options.invocations.push_back(parser.parse(groups[i]));
    }
    return options;
}

struct Outcome {
    CommandResult result;
    std::vector<std::wstring> log;
    bool diskpartVisible = false;
    std::vector<DiskpartRunRecord> diskpart;
};

// An argument as the echo shows it: escaped like the log lines, quoted when empty or holding blanks.
std::string echoed(const std::string& argument) {
    const std::string text = escaped(fromUtf8(argument));
    return argument.empty() || argument.find_first_of(" \t") != std::string::npos ? "\"" + text + "\"" : text;
}

void printHeader(const Invocation& invocation) {
    std::cout << "> " << invocation.command->name;
    for (const std::string& argument : invocation.arguments) {
        std::cout << " " << echoed(argument);
    }
    std::cout << std::endl;
}

void printText(const Invocation& invocation, const Outcome& outcome) {
    if (invocation.command->narrated) {
        std::cout << outcome.result.output.value_or("");
        return;
    }
    std::cout << "result: " << outcome.result.result << "\n";
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
    std::cout << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
}

std::vector<std::wstring> wideArguments(const Invocation& invocation) {
    std::vector<std::wstring> arguments;
    for (const std::string& argument : invocation.arguments) {
        arguments.push_back(fromUtf8(argument));
    }
    return arguments;
}

Outcome run(Host& host, const Invocation& invocation) {
    const std::vector<std::wstring> arguments = wideArguments(invocation);
    Outcome outcome;
    outcome.result = invocation.command->run(host, arguments);
    outcome.log = host.takeLog();
    outcome.diskpartVisible = host.takeDiskpartRuns(outcome.diskpart);
    return outcome;
}

void startTrace(Host& host, bool json) {
    const bool started = host.startTrace([json](const std::string& event) {
        std::ostream& out = json ? std::cerr : std::cout;
        std::cout.flush();
        std::string indented;
        for (char c : event) {
            indented += c;
            if (c == '\n') {
                indented += "         ";
            }
        }
        out << "  trace: " << indented << std::endl;
    });
    if (!started) {
        throw UsageError{"--trace needs the simulated machine: give --machine FILE"};
    }
}

// Runs the commands in order; `verdict` becomes 1 when a command that judges its own run (check) found
// a failure. The result is 1 when a command could not run at all.
int runCommands(Host& host, const Options& options, int& verdict) {
    for (const Invocation& invocation : options.invocations) {
        if (!options.json) {
            printHeader(invocation);
        }
        Outcome outcome;
        try {
            if (invocation.command->judged != nullptr) {
                verdict |= invocation.command->judged(host, wideArguments(invocation), options.json);
                continue;
            }
            outcome = run(host, invocation);
        } catch (const std::exception& failure) {
            std::cout.flush();
            std::cerr << "kvph: '" << invocation.command->name
                      << "' failed: " << escaped(fromUtf8(failure.what())) << "\n";
            return kRunFailure;
        }
        options.json ? printJson(invocation, outcome) : printText(invocation, outcome);
    }
    return 0;
}

int usageError(const std::string& message) {
    std::cerr << "kvph: " << escaped(fromUtf8(message)) << "\n"
              << "Run 'kvph --help', or 'kvph COMMAND --help', for the usage.\n";
    return kUsageError;
}

int runTool(const std::vector<std::string>& arguments) {
    Options options;
    try {
        options = parseOptions(arguments);
    } catch (const HelpShown&) {
        return 0;
    } catch (const UsageError& error) {
        return usageError(error.message);
    }
    std::string error;
    std::unique_ptr<Host> host = makeHost(options.machineFile, error);
    if (!host) {
        std::cerr << "kvph: " << escaped(fromUtf8(error)) << "\n";
        return kRunFailure;
    }
    try {
        if (options.trace) {
            startTrace(*host, options.json);
        }
    } catch (const UsageError& failure) {
        return usageError(failure.message);
    }
    int verdict = 0;
    const int status = runCommands(*host, options, verdict);
    std::cout.flush();
    if (status != 0) {
        return status;
    }
    if (!options.saveFile.empty() && !host->save(options.saveFile, error)) {
        std::cerr << "kvph: cannot save the machine: " << escaped(fromUtf8(error)) << "\n";
        return kRunFailure;
    }
    return verdict == 0 ? 0 : kRunFailure;
}

}  // namespace
}  // namespace kvph::tool

int main(int argc, char** argv) {
    try {
        return kvph::tool::runTool(kvph::tool::utf8Arguments(argc, argv));
    } catch (const std::exception& failure) {
        std::cerr << "kvph: " << failure.what() << "\n";
        return 1;
    }
}
